# Installing TARVO on Linux: the library with its SONAME links, the header,
# the tools, a pkg-config file, a CMake package config, and a Debian package
# built with CPack. Everything takes its version from project(VERSION).
# The library goes where Debian's multiarch layout puts it (lib/x86_64-linux-gnu),
# whatever the prefix: GNUInstallDirs would choose it only for /usr, and the
# package is installed from a build configured for /usr/local.
if(NOT DEFINED CMAKE_INSTALL_LIBDIR AND CMAKE_LIBRARY_ARCHITECTURE AND EXISTS /etc/debian_version)
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH "Object code libraries (lib)")
endif()
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
find_program(TARVO_GZIP gzip REQUIRED)

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
# The man pages, written by hand (packaging/man), take the version here and
# are installed gzipped. Their test renders them with every warning on and
# checks them against the tools' --help, so an option added without its
# entry shows at once.
if(TARGET tarvo-cli AND TARGET tarvo-emu)
  set(TARVO_MAN_DIR ${CMAKE_CURRENT_BINARY_DIR}/man)
  set(man_gz)
  foreach(page tarvo tarvo-emu)
    configure_file(packaging/man/${page}.1.in ${TARVO_MAN_DIR}/${page}.1 @ONLY)
    add_custom_command(OUTPUT ${TARVO_MAN_DIR}/${page}.1.gz
      COMMAND ${TARVO_GZIP} -9nc ${TARVO_MAN_DIR}/${page}.1 > ${TARVO_MAN_DIR}/${page}.1.gz
      DEPENDS ${TARVO_MAN_DIR}/${page}.1 VERBATIM)
    list(APPEND man_gz ${TARVO_MAN_DIR}/${page}.1.gz)
  endforeach()
  add_custom_target(tarvo_man ALL DEPENDS ${man_gz})
  install(FILES ${man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  if(TARVO_TESTS)
    add_test(NAME packaging.man_pages_are_well_formed
      COMMAND ${CMAKE_COMMAND} -DMAN_DIR=${TARVO_MAN_DIR}
        -P ${PROJECT_SOURCE_DIR}/cmake/check_man_pages.cmake)
    add_test(NAME packaging.man_pages_render_and_cover_every_option
      COMMAND python3 ${PROJECT_SOURCE_DIR}/tests/packaging/check_man_pages.py
        ${TARVO_MAN_DIR} $<TARGET_FILE:tarvo-cli> $<TARGET_FILE:tarvo-emu>)
  endif()
endif()
if(TARVO_TESTS)
  add_test(NAME packaging.ctest_runs_refuse_zero_tests
    COMMAND ${PROJECT_SOURCE_DIR}/tests/packaging/no_silent_skips.sh ${PROJECT_SOURCE_DIR})
endif()
# The Debian package, made by CPack into a scratch directory and unpacked
# there: its files checked, and the host lines of the docs run against it as
# it installs them and from this build tree. (Not in the sanitizer build:
# the package is made from a plain one.)
if(TARVO_TESTS AND NOT TARVO_SANITIZE AND TARGET tarvo-cli AND TARGET tarvo-emu)
  set(deb_dir ${CMAKE_CURRENT_BINARY_DIR}/deb-test)
  add_test(NAME packaging.deb_made_and_unpacked
    COMMAND ${PROJECT_SOURCE_DIR}/tests/packaging/deb_test.sh unpack ${PROJECT_BINARY_DIR} ${deb_dir})
  add_test(NAME packaging.deb_stripped_with_dbgsym_pages_and_debian_docs
    COMMAND ${PROJECT_SOURCE_DIR}/tests/packaging/deb_test.sh check ${deb_dir} ${PROJECT_VERSION})
  add_test(NAME packaging.deb_is_lintian_clean
    COMMAND ${PROJECT_SOURCE_DIR}/tests/packaging/deb_test.sh lintian ${deb_dir})
  add_test(NAME packaging.host_doc_lines_run_as_written
    COMMAND python3 ${PROJECT_SOURCE_DIR}/tests/packaging/host_doc_lines_test.py
      ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR} ${deb_dir}/root)
  set_tests_properties(packaging.deb_made_and_unpacked PROPERTIES
    FIXTURES_SETUP tarvo_deb TIMEOUT 300 LABELS packaging)
  set_tests_properties(packaging.deb_stripped_with_dbgsym_pages_and_debian_docs
    packaging.deb_is_lintian_clean packaging.host_doc_lines_run_as_written PROPERTIES
    FIXTURES_REQUIRED tarvo_deb TIMEOUT 600 LABELS "packaging;bindings"
    ENVIRONMENT PYTHONDONTWRITEBYTECODE=1)
endif()
if(EXISTS ${PROJECT_SOURCE_DIR}/bindings/pascal/tarvo.pas)
  install(FILES bindings/pascal/tarvo.pas DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvo/pascal)
endif()
# The hosts' examples, where bindings/README.md says they are.
foreach(example bindings/pascal/examples/venda.pas bindings/python/examples/venda.py)
  if(EXISTS ${PROJECT_SOURCE_DIR}/${example})
    install(FILES ${example} DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
  endif()
endforeach()
if(EXISTS ${PROJECT_SOURCE_DIR}/bindings/dotnet/Tarvo.cs)
  install(FILES bindings/dotnet/Tarvo.cs bindings/dotnet/examples/Venda.cs
    DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvo/dotnet)
endif()
if(EXISTS ${PROJECT_SOURCE_DIR}/bindings/python/tarvo.py)
  install(FILES bindings/python/tarvo.py DESTINATION lib/python3/dist-packages)
endif()
# The Java binding beside Debian's JNA, whose jna.jar its manifest names.
if(TARGET tarvo_java)
  get_target_property(TARVO_JAR tarvo_java JAR_FILE)
  # Debian's Java policy: the jar carries its version, tarvo.jar links to it.
  install(FILES ${TARVO_JAR} DESTINATION ${CMAKE_INSTALL_DATADIR}/java
    RENAME tarvo-${PROJECT_VERSION}.jar)
  install(CODE "file(CREATE_LINK tarvo-${PROJECT_VERSION}.jar
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/java/tarvo.jar\" SYMBOLIC)")
  install(FILES bindings/java/examples/Venda.java DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvo/java)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libjna-java (>= 5)")
endif()
install(FILES packaging/registry.reg
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples RENAME registry.reg.example)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The pages the README links to, at the same relative paths.
file(GLOB TARVO_DOC_PAGES ${PROJECT_SOURCE_DIR}/docs/*.md)
install(FILES ${TARVO_DOC_PAGES} DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
install(FILES bindings/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}/bindings)

# pkg-config --cflags --libs tarvo. The prefix is the one installed to, known
# only when installing (the Debian package installs to /usr, cmake --install
# to --prefix), so that the flags are plain paths: -I/usr/include, not a path
# through the pkgconfig directory. (An installation moved later needs its
# prefix= line changed.)
# Written straight into the installed tree: two installations at once (a
# package being made while a test installs elsewhere) share no file.
install(CODE "
  set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
  set(CMAKE_INSTALL_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(CMAKE_INSTALL_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  set(pc \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/tarvo.pc\")
  message(STATUS \"Installing: \${pc}\")
  configure_file(\"${PROJECT_SOURCE_DIR}/packaging/tarvo.pc.in\" \"\${pc}\" @ONLY)")

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

# make package -> tarvo_<version>-1_amd64.deb and, with the tools' and the
# library's debug symbols (the installed files are stripped),
# tarvo-dbgsym_<version>-1_amd64.ddeb. The package's own files: the
# machine-readable copyright and the Debian changelog, gzipped as the
# policy asks (-9n: no name or time stamp inside, so the bytes repeat).
set(TARVO_DEB_REVISION 1)
set(TARVO_DEB_VERSION ${PROJECT_VERSION}-${TARVO_DEB_REVISION})
string(TIMESTAMP TARVO_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(TARVO_DEB_MAINTAINER "TARVO developers <tarvo@tarvo.example>" CACHE STRING
  "The Debian package's maintainer: a name and a mail address that reaches them")
set(CPACK_PACKAGE_CONTACT "${TARVO_DEB_MAINTAINER}")
configure_file(packaging/debian/changelog.Debian.in
  ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.Debian @ONLY)
set(debian_doc ${CMAKE_CURRENT_BINARY_DIR}/debian)
add_custom_command(OUTPUT ${debian_doc}/changelog.Debian.gz ${debian_doc}/changelog.gz
  COMMAND ${TARVO_GZIP} -9nc ${debian_doc}/changelog.Debian > ${debian_doc}/changelog.Debian.gz
  COMMAND ${TARVO_GZIP} -9nc ${PROJECT_SOURCE_DIR}/CHANGELOG.md > ${debian_doc}/changelog.gz
  DEPENDS ${debian_doc}/changelog.Debian ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  COMMENT "Compressing the changelogs" VERBATIM)
add_custom_target(tarvo_debian_doc ALL
  DEPENDS ${debian_doc}/changelog.Debian.gz ${debian_doc}/changelog.gz)
install(FILES ${debian_doc}/changelog.Debian.gz ${debian_doc}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES packaging/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The loader's cache is refreshed by dpkg's ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)
install(FILES packaging/debian/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME tarvo)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvo)
set(CPACK_PACKAGE_VENDOR "TARVO developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "communications driver for Brazilian fiscal printers (ECF)")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "TARVO frames a point-of-sale application's printer commands, sends them over a
 serial line or USB virtual serial port, and reads and checks the fiscal
 printer's answers. Includes a printer emulator (tarvo-emu) and a command-line
 host (tarvo). The line settings are read from /etc/tarvo/registry.reg (or the
 file named by TARVO_REGISTRY); an example is in /usr/share/doc/tarvo/examples.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TARVO_DEB_REVISION})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The shlibs file and the ldconfig trigger of a package with a shared library.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
# The bindings' languages: each host needs only its own.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3, mono-runtime, fp-compiler")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/fix_dbgsym.cmake)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
include(CPack)
