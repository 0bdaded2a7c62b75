# cpack -G DEB: a Debian package of what `cmake --install` puts in place
# (the command, its module and its man page). The library dependencies are
# read from the binaries by dpkg-shlibdeps; the font for the pictures'
# labels is named here.
set(CPACK_PACKAGE_NAME harmidex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Audio analysis module for scripting hosts, with the harmidex command")
set(CPACK_PACKAGE_CONTACT "Harmidex developers <harmidex@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Python package adds what it imports (HARMIDEX_DEB_EXTRA_DEPENDS).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core${HARMIDEX_DEB_EXTRA_DEPENDS}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
