# The Debian package: `cpack -G DEB` in the build folder, after a build.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelpa)
set(CPACK_PACKAGE_VENDOR "kelpa project")
set(CPACK_PACKAGE_CONTACT "kelpa project <kelpa@kelpa.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small MP3 player with a web remote control")
# Debian shows the description as it is: lines under 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
  "kelpa plays MP3 files from a playlist filled by dropping tracks and list\n"
  "files onto it. A small settings window starts a web server, so that a\n"
  "browser on the network can log in and play, pause, stop and skip tracks.\n"
  "The user interface is in Japanese.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://kelpa.example/")
# Dependencies come from the libraries the program and the engine library link, setcap,
# which the postinst runs to let the program listen on port 80, and Qt's own texts in Japanese
# (menus, file dialog, buttons), which no library links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcap2-bin, qt6-translations-l10n")
# The captions are Japanese; without a CJK font they show as boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-motoya-l-cedar | fonts-noto-cjk")
set(KELPA_INSTALLED_PROGRAM /usr/${KELPA_PRIVATE_DIR}/kelpa)
configure_file(${CMAKE_SOURCE_DIR}/dist/postinst.in ${KELPA_DIST_DIR}/postinst @ONLY)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${KELPA_DIST_DIR}/postinst)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
