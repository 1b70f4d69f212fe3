# Installing TARVO on Linux: the library with its SONAME links, the header,
# the tools, a pkg-config file, a CMake package config, and a Debian package
# built with CPack. Everything takes its version from project(VERSION).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS tarvo EXPORT tarvoTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES include/tarvo.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# The tools find the library beside them wherever the prefix is moved:
# RUNPATH $ORIGIN/../lib (the library directory relative to bin).
file(RELATIVE_PATH TARVO_BIN_TO_LIB "${CMAKE_INSTALL_FULL_BINDIR}" "${CMAKE_INSTALL_FULL_LIBDIR}")
foreach(tool tarvo-cli tarvo-emu)
  if(TARGET ${tool})
    set_target_properties(${tool} PROPERTIES INSTALL_RPATH "$ORIGIN/${TARVO_BIN_TO_LIB}")
    target_link_options(${tool} PRIVATE -Wl,--enable-new-dtags)
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
# Man pages made from the tools' own --help, so that they never drift.
find_program(HELP2MAN help2man)
if(HELP2MAN AND TARGET tarvo-cli AND TARGET tarvo-emu)
  set(TARVO_MAN_DIR ${CMAKE_CURRENT_BINARY_DIR}/man)
  add_custom_command(OUTPUT ${TARVO_MAN_DIR}/tarvo.1 ${TARVO_MAN_DIR}/tarvo-emu.1
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TARVO_MAN_DIR}
    COMMAND ${HELP2MAN} --no-info --version-string=${PROJECT_VERSION}
      --name "run fiscal-printer commands through the TARVO driver"
      --output ${TARVO_MAN_DIR}/tarvo.1 $<TARGET_FILE:tarvo-cli>
    COMMAND ${HELP2MAN} --no-info --version-string=${PROJECT_VERSION}
      --name "emulate a fiscal printer (ECF) on a pseudo-terminal or serial port"
      --output ${TARVO_MAN_DIR}/tarvo-emu.1 $<TARGET_FILE:tarvo-emu>
    DEPENDS tarvo-cli tarvo-emu
    COMMENT "Making the man pages" VERBATIM)
  add_custom_target(tarvo_man ALL DEPENDS ${TARVO_MAN_DIR}/tarvo.1 ${TARVO_MAN_DIR}/tarvo-emu.1)
  install(FILES ${TARVO_MAN_DIR}/tarvo.1 ${TARVO_MAN_DIR}/tarvo-emu.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  if(TARVO_TESTS)
    add_test(NAME packaging.man_pages_are_well_formed
      COMMAND ${CMAKE_COMMAND} -DMAN_DIR=${TARVO_MAN_DIR}
        -P ${PROJECT_SOURCE_DIR}/cmake/check_man_pages.cmake)
  endif()
endif()
if(EXISTS ${PROJECT_SOURCE_DIR}/bindings/pascal/tarvo.pas)
  install(FILES bindings/pascal/tarvo.pas DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvo/pascal)
endif()
if(EXISTS ${PROJECT_SOURCE_DIR}/bindings/dotnet/Tarvo.cs)
  install(FILES bindings/dotnet/Tarvo.cs bindings/dotnet/examples/Venda.cs
    DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvo/dotnet)
endif()
if(EXISTS ${PROJECT_SOURCE_DIR}/bindings/python/tarvo.py)
  install(FILES bindings/python/tarvo.py DESTINATION ${CMAKE_INSTALL_LIBDIR}/python3/dist-packages)
endif()
# The Java binding beside Debian's JNA, whose jna.jar its manifest names.
if(TARGET tarvo_java)
  get_target_property(TARVO_JAR tarvo_java JAR_FILE)
  install(FILES ${TARVO_JAR} DESTINATION ${CMAKE_INSTALL_DATADIR}/java)
  install(FILES bindings/java/examples/Venda.java DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvo/java)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libjna-java (>= 5)")
endif()
install(FILES packaging/registry.reg
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples RENAME registry.reg.example)
install(FILES README.md CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The pages the README links to, at the same relative paths.
file(GLOB TARVO_DOC_PAGES ${PROJECT_SOURCE_DIR}/docs/*.md)
install(FILES ${TARVO_DOC_PAGES} DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
install(FILES bindings/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}/bindings)

# pkg-config --cflags --libs tarvo; the file finds its prefix from where it
# lies, so that an installation can be moved.
file(RELATIVE_PATH TARVO_PC_TO_PREFIX "${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig" "${CMAKE_INSTALL_PREFIX}")
configure_file(packaging/tarvo.pc.in ${CMAKE_CURRENT_BINARY_DIR}/tarvo.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tarvo.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# find_package(tarvo) gives the imported target tarvo::tarvo.
install(EXPORT tarvoTargets NAMESPACE tarvo::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tarvo)
configure_package_config_file(packaging/tarvoConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/tarvoConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tarvo)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/tarvoConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tarvoConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/tarvoConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tarvo)

# make package -> tarvo_<version>_amd64.deb
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvo)
set(CPACK_PACKAGE_VENDOR "TARVO developers")
set(CPACK_PACKAGE_CONTACT "TARVO developers <tarvo@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Communications driver for Brazilian fiscal printers (ECF) on a serial line")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "TARVO frames a point-of-sale application's printer commands, sends them over a
 serial line or USB virtual serial port, and reads and checks the fiscal
 printer's answers. Includes a printer emulator (tarvo-emu) and a command-line
 host (tarvo). The line settings are read from /etc/tarvo/registry.reg (or the
 file named by TARVO_REGISTRY); an example is in /usr/share/doc/tarvo/examples.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
include(CPack)
