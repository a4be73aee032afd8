# Run by cpack after the packages are made (CPACK_POST_BUILD_SCRIPTS): sets
# each package's Installed-Size the way dpkg-gencontrol counts it (every
# regular file and symlink rounded up to 1 KiB, 1 KiB for every other
# entry). CPack follows the symbolic links, so the library package counted
# each library twice (once for its SONAME link).
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  set(root "${deb}.tree")
  file(REMOVE_RECURSE "${root}")
  execute_process(COMMAND dpkg-deb -R "${deb}" "${root}" COMMAND_ERROR_IS_FATAL ANY)
  file(GLOB_RECURSE entries LIST_DIRECTORIES true "${root}/*")
  set(kib 0)
  foreach(entry IN LISTS entries)
    if(entry MATCHES "/DEBIAN(/|$)")
      continue()
    endif()
    if(IS_SYMLINK "${entry}" OR IS_DIRECTORY "${entry}")
      math(EXPR kib "${kib} + 1")
    else()
      file(SIZE "${entry}" bytes)
      math(EXPR kib "${kib} + (${bytes} + 1023) / 1024")
    endif()
  endforeach()
  file(READ "${root}/DEBIAN/control" control)
  string(REGEX REPLACE "Installed-Size: [0-9]+" "Installed-Size: ${kib}" control "${control}")
  file(WRITE "${root}/DEBIAN/control" "${control}")
  execute_process(COMMAND dpkg-deb --root-owner-group --build "${root}" "${deb}" OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${root}")
endforeach()
