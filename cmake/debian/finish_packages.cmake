# Run by cpack after the packages are made (CPACK_POST_BUILD_SCRIPTS), to
# write in each package's control file what CPack cannot:
#  - Installed-Size the way dpkg-gencontrol counts it (every regular file and
#    symlink rounded up to 1 KiB, 1 KiB for every other entry). CPack follows
#    the symbolic links, so the library package counted each library twice
#    (once for its SONAME link);
#  - Multi-Arch, from CPACK_FAZOLT_MULTIARCH ("package=value;...");
#  - the API reference's jquery.js, a link to Debian's (libjs-jquery), as
#    Debian wants no embedded copy of a library it packages;
#  - no maintainer scripts: CPack's only call ldconfig, which the library
#    package's trigger (cmake/debian/triggers) does.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  set(root "${deb}.tree")
  file(REMOVE_RECURSE "${root}")
  execute_process(COMMAND dpkg-deb -R "${deb}" "${root}" COMMAND_ERROR_IS_FATAL ANY)
  file(GLOB_RECURSE copies "${root}/usr/share/doc/*/jquery.js")
  foreach(copy IN LISTS copies)
    get_filename_component(folder "${copy}" DIRECTORY)
    file(RELATIVE_PATH target "${folder}" "${root}/usr/share/javascript/jquery/jquery.js")
    file(REMOVE "${copy}")
    file(CREATE_LINK "${target}" "${copy}" SYMBOLIC)
    file(RELATIVE_PATH listed "${root}" "${copy}")
    file(READ "${root}/DEBIAN/md5sums" sums)
    string(REGEX REPLACE "[0-9a-f]+  ${listed}\n" "" sums "${sums}")  # a link has no sum
    file(WRITE "${root}/DEBIAN/md5sums" "${sums}")
  endforeach()
  file(REMOVE "${root}/DEBIAN/postinst" "${root}/DEBIAN/postrm")
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
  string(REGEX MATCH "Package: ([^\n]+)" _ "${control}")
  set(package "${CMAKE_MATCH_1}")
  foreach(rule IN LISTS CPACK_FAZOLT_MULTIARCH)
    if(rule MATCHES "^${package}=(.+)$")
      string(STRIP "${control}" control)  # CPack ends it with a blank line, which would end the paragraph
      string(APPEND control "\nMulti-Arch: ${CMAKE_MATCH_1}\n")
    endif()
  endforeach()
  file(WRITE "${root}/DEBIAN/control" "${control}")
  execute_process(COMMAND dpkg-deb --root-owner-group --build "${root}" "${deb}" OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${root}")
endforeach()
