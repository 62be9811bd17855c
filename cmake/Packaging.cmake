# A Debian package of the installed files: `cpack -G DEB` in the build folder.
set(CPACK_PACKAGE_NAME "tivolux-recorder")
set(CPACK_PACKAGE_VENDOR "Tivolux")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Home recording server for the Tivolux TV app")
# The extended description: CPack puts the summary above it and indents
# each line by one space; an empty line separates paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Records IPTV programmes that are scheduled from the Tivolux TV app. At
each programme's start it waits for a free provider connection, captures
the live stream (raw MPEG-TS or HLS) into one file per programme and
serves the recordings back over HTTP on port 8642, also while they are
still being recorded.

It runs as a desktop application with a tray icon and a window, or
headless as a systemd user service. An optional helper lets the computer
sleep between recordings and wakes it before each one.")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_GENERATOR "DEB")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tivolux Recorder developers <dev@tivolux.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION "video")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "systemd, polkitd")
# Maintainer scripts: the wake helper's units follow installs, upgrades and
# removals; user data is never touched.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${PROJECT_SOURCE_DIR}/data/debian/postinst;${PROJECT_SOURCE_DIR}/data/debian/prerm;${PROJECT_SOURCE_DIR}/data/debian/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
