# cpack -G DEB: a Debian package of what `cmake --install` puts in place
# (the command, its module, its man page, the copyright file and the
# changelog). The library dependencies are read from the binaries by
# dpkg-shlibdeps; the fonts for the pictures' labels are named here.
include(GNUInstallDirs)
include(${CMAKE_CURRENT_LIST_DIR}/DebianHardening.cmake)
set(HX_MAINTAINER "Harmidex maintainers <maintainers@users.noreply.c-seed-b7ae707c.example>")

set(CPACK_PACKAGE_NAME harmidex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${HX_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${HX_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "audio analysis module for scripting hosts, with the harmidex command")
file(READ ${CMAKE_CURRENT_LIST_DIR}/debian/description.txt hx_description)
string(STRIP "${hx_description}" hx_description)
# cpack puts the summary first and this text after it, as the extended description.
set(CPACK_PACKAGE_DESCRIPTION "${hx_description}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The module is a private plug-in under lib/harmidex/: no shlibs, no ldconfig.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core, fonts-noto-cjk | fonts-wqy-zenhei")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

# /usr/share/doc/harmidex: the copyright file and a native package's
# changelog, compressed as Debian's policy asks.
set(hx_doc ${PROJECT_BINARY_DIR}/doc)
string(TIMESTAMP HX_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${hx_doc}/changelog @ONLY)
add_custom_command(OUTPUT ${hx_doc}/changelog.gz
  COMMAND gzip -9nf -k ${hx_doc}/changelog
  DEPENDS ${hx_doc}/changelog)
add_custom_target(harmidex_changelog ALL DEPENDS ${hx_doc}/changelog.gz)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${hx_doc}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/harmidex)
include(CPack)
