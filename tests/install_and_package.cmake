# Installs a built tree under a prefix of its own and builds the Debian
# package from it, as scripts/package.sh does,
# with only what the set-up script installed: a tool the packaging needs
# (the file utility, dpkg-shlibdeps) that a fresh machine lacks fails here.
# Usage: cmake -DBUILD_DIR=... -P install_and_package.cmake
# An installation under a prefix chosen after configuring: its desktop
# entry starts that prefix's launcher.
set(prefix "${BUILD_DIR}/install-check")
file(REMOVE_RECURSE ${prefix})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${result}):\n${err}")
endif()
file(READ "${prefix}/share/applications/vektra.desktop" entry)
file(REMOVE_RECURSE ${prefix})
if(NOT entry MATCHES "\nExec=${prefix}/bin/Player %f\n")
  message(FATAL_ERROR "the desktop entry does not start the installed launcher:\n${entry}")
endif()

file(GLOB old "${BUILD_DIR}/vektra_*.deb")
if(old)
  file(REMOVE ${old})
endif()
execute_process(COMMAND cpack -G DEB --config ${BUILD_DIR}/CPackConfig.cmake
                WORKING_DIRECTORY ${BUILD_DIR}
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cpack failed (${result}):\n${out}\n${err}")
endif()
file(GLOB debs "${BUILD_DIR}/vektra_*.deb")
if(NOT debs)
  message(FATAL_ERROR "cpack made no package:\n${out}\n${err}")
endif()
list(GET debs 0 deb)
execute_process(COMMAND dpkg-deb --field ${deb} Depends OUTPUT_VARIABLE depends RESULT_VARIABLE result)
file(REMOVE ${debs})
file(REMOVE_RECURSE ${BUILD_DIR}/_CPack_Packages)
if(NOT result EQUAL 0 OR NOT depends MATCHES "libqt6widgets6" OR NOT depends MATCHES "libxml2")
  message(FATAL_ERROR "the package's dependencies were not computed: '${depends}'")
endif()
message(STATUS "package built; depends on ${depends}")
