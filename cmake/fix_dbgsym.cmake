# Run by CPack after it made the packages (CPACK_POST_BUILD_SCRIPTS): puts
# the -dbgsym package right where CMake's generator leaves it wrong. Its
# md5sums name the files by their paths in the build directory, its debug
# files are executable, and it has no documentation directory; as
# dh_strip makes it, the directory is a link to the main package's, whose
# copyright and changelog cover it (it depends on that exact version).
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "-dbgsym_[^/]*\\.ddeb$")
    continue()
  endif()
  get_filename_component(name "${package}" NAME)
  string(REGEX REPLACE "-dbgsym_.*" "" main "${name}")
  set(dir "${package}.tree")
  file(REMOVE_RECURSE "${dir}")
  execute_process(COMMAND dpkg-deb -R "${package}" "${dir}" COMMAND_ERROR_IS_FATAL ANY)
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${dir}" "${dir}/usr/*")
  set(sums "")
  foreach(f IN LISTS files)
    file(CHMOD "${dir}/${f}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    file(MD5 "${dir}/${f}" sum)
    string(APPEND sums "${sum}  ${f}\n")
  endforeach()
  file(WRITE "${dir}/DEBIAN/md5sums" "${sums}")
  file(MAKE_DIRECTORY "${dir}/usr/share/doc")
  file(CREATE_LINK "${main}" "${dir}/usr/share/doc/${main}-dbgsym" SYMBOLIC)
  execute_process(COMMAND dpkg-deb --root-owner-group -b "${dir}" "${package}"
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${dir}")
endforeach()
