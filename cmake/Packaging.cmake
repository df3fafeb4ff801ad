# "cpack -G DEB" in the build folder: a Debian package of what
# "cmake --install" puts under /usr, its dependencies computed from the
# programs' libraries by dpkg-shlibdeps (package dpkg-dev).

set(CPACK_PACKAGE_NAME ravelo)
set(CPACK_PACKAGE_VENDOR Korvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "editor and converter for MPEG-2 recordings of satellite receivers")
set(CPACK_PACKAGE_DESCRIPTION
    "Ravelo opens a recording of a satellite receiver with a hard disk (MPEG-2\n\
transport stream, Topfield, Humax, Micronik or @skybox variants, segment\n\
chains, byte-swapped files), shows its streams and a still picture at any\n\
position and lets the user mark cut areas. It copies the recording without\n\
them, cuts them out in place, demultiplexes it into elementary streams with\n\
audio/video sync repair, or remultiplexes it into one MPEG-2 program stream.\n\
Cut lists of MPlayer/Kodi (EDL), VDR and comskip are imported and exported.\n\
ravelo-cli does the same jobs without a window.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Korvane <ravelo@korvane.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its platform plug-ins (xcb) at run time, which dpkg-shlibdeps
# cannot see; the window does not start without them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # ravelo_<version>_<arch>.deb
# The desktop database, the MIME database and the icon cache are refreshed by
# the triggers of desktop-file-utils, shared-mime-info and the icon themes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "shared-mime-info, desktop-file-utils, qt6-wayland")

set(CPACK_GENERATOR DEB)
include(CPack)
