# Installation and the Debian package.
#
# The program tree goes to PREFIX/bin (the launcher finds its Plugins,
# schemes, data and help beside itself). Beside it: a `vektra` command that
# links to the launcher, the desktop entry, the icon and the scheme file type.
# With VK_SYSTEM_INTEGRATION (the package's build, prefix /opt/vektra) those
# go to /usr/bin and /usr/share, where the desktop and the shell look.
option(VK_SYSTEM_INTEGRATION "Put the command, desktop entry and icon in /usr (the Debian package)" OFF)

if(VK_SYSTEM_INTEGRATION)
  set(vk_cmd_dir /usr/bin)
  set(vk_share_dir /usr/share)
  set(VK_DESKTOP_EXEC vektra)
else()
  set(vk_cmd_dir bin)
  set(vk_share_dir share)
endif()

file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install)
if(VK_SYSTEM_INTEGRATION)
  configure_file(${PROJECT_SOURCE_DIR}/player/resources/vektra.desktop.in
                 ${CMAKE_BINARY_DIR}/install/vektra.desktop @ONLY)
else()
  # The entry starts the launcher of the prefix installed to, which
  # `cmake --install --prefix DIR` may choose after configuring: it is made
  # when the installation runs.
  install(CODE "
    set(VK_DESKTOP_EXEC \"\${CMAKE_INSTALL_PREFIX}/bin/Player\")
    configure_file(\"${PROJECT_SOURCE_DIR}/player/resources/vektra.desktop.in\"
                   \"${CMAKE_BINARY_DIR}/install/vektra.desktop\" @ONLY)")
endif()
install(FILES ${CMAKE_BINARY_DIR}/install/vektra.desktop DESTINATION ${vk_share_dir}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/player/resources/vektra.svg
        DESTINATION ${vk_share_dir}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/player/resources/vektra-scheme.xml
        DESTINATION ${vk_share_dir}/mime/packages)
# The command is a relative link where it sits beside the launcher, an
# absolute one into the program tree otherwise.
if(VK_SYSTEM_INTEGRATION)
  file(CREATE_LINK ${CMAKE_INSTALL_PREFIX}/bin/Player ${CMAKE_BINARY_DIR}/install/vektra SYMBOLIC)
else()
  file(CREATE_LINK Player ${CMAKE_BINARY_DIR}/install/vektra SYMBOLIC)
endif()
install(FILES ${CMAKE_BINARY_DIR}/install/vektra DESTINATION ${vk_cmd_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vektra)
set(CPACK_PACKAGE_VENDOR "Korvan")
set(CPACK_PACKAGE_CONTACT "Vektra developers <vektra@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Measurement schemes for a measuring instrument")
set(CPACK_PACKAGE_DESCRIPTION
  "Vektra runs measurement schemes: XML files that name plug-in modules and the wires between them. The launcher hosts the connection dialog, parameter panels, the run wizard, the matrix editor, charts and diagrams with markers and reports. A simulated instrument is built in.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The program's own libraries sit in its tree; the plug-ins find them there.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${CMAKE_BINARY_DIR}/_CPack_Packages/Linux/DEB/${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-Linux${CMAKE_INSTALL_PREFIX}/bin)
# What the libraries do not name: the toolkit's picture plug-in for the
# icons, the database driver of the help index and of the bench's results,
# its Russian texts, and the fonts the windows are laid out with; the
# PostgreSQL driver for a line's shared results database.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, libqt6sql6-sqlite, qt6-translations-l10n, fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, hicolor-icon-theme, libqt6sql6-psql")
include(CPack)
