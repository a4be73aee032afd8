# Writes fazolt.pc for the prefix being installed to (run by `cmake --install`
# and by cpack). Under /usr the paths are plain (-I/usr/include, which
# pkg-config then leaves out as a system directory); under any other prefix
# they are relative to the file, so that the prefix may be moved, and Libs
# carries an rpath to the libraries, so that a program built with
# `pkg-config --libs fazolt` runs without LD_LIBRARY_PATH.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(FAZOLT_PC_PREFIX "/usr")
  set(FAZOLT_PC_RPATH "")
else()
  file(RELATIVE_PATH toPrefix "${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "${CMAKE_INSTALL_PREFIX}")
  string(REGEX REPLACE "/$" "" toPrefix "${toPrefix}")
  set(FAZOLT_PC_PREFIX "\${pcfiledir}/${toPrefix}")
  set(FAZOLT_PC_RPATH " -Wl,-rpath,\${libdir}")
endif()
configure_file("${FAZOLT_PC_TEMPLATE}" "${FAZOLT_PC_STAGE}/fazolt.pc" @ONLY)
file(INSTALL "${FAZOLT_PC_STAGE}/fazolt.pc" DESTINATION "${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig")
