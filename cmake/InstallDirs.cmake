# Where an install puts the module: a private plug-in folder, Debian's
# multiarch one where the compiler names it, so that packaging tools see no
# library for ldconfig. The command and the Python package find it there.
include(GNUInstallDirs)
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(HARMIDEX_MODULE_INSTALL_DIR lib/${CMAKE_LIBRARY_ARCHITECTURE}/harmidex)
else()
  set(HARMIDEX_MODULE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/harmidex)
endif()
