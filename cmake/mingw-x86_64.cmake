# 64-bit Windows DLL, for 64-bit hosts. One calling convention on x64, so
# its exports carry no decoration to remove.
set(HX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(HX_WINDOWS_ARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
