# Shared part of the two Windows cross builds (Debian's mingw-w64, posix
# threads variant: GoogleTest needs std::mutex, which the win32 variant
# lacks). The per-architecture toolchain files set HX_MINGW_TRIPLE,
# CMAKE_SYSTEM_PROCESSOR and HX_WINDOWS_ARCH, then include this file.
# Every binary links its runtime statically, so no mingw DLL has to be
# shipped. The floating-point flags come from the harmidex_flags target.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${HX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${HX_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${HX_MINGW_TRIPLE}-objdump CACHE FILEPATH "objdump for the target")

set(CMAKE_FIND_ROOT_PATH /usr/${HX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine, in a throwaway prefix of this build tree.
# wine-run exits with HX_WINE_SKIP when this machine cannot start Wine's
# loader for the architecture; tests mark that code as a skip.
set(HX_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/wine-run)
set(HX_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(HX_WINE_SKIP 77)
set(CMAKE_CROSSCOMPILING_EMULATOR ${HX_WINE_RUN} ${HX_WINDOWS_ARCH} ${HX_WINE_PREFIX})
