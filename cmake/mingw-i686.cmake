# 32-bit Windows DLL: the module as hosts of that platform load it.
# Its exports are stdcall, undecorated by the .def file and --kill-at.
set(HX_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(HX_WINDOWS_ARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
