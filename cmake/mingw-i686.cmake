# Cross build for 32-bit Windows with Debian's mingw-w64, posix threads
# variant: GoogleTest needs std::mutex, which the win32 variant lacks. Every
# binary links its runtime statically, so no mingw DLL has to be shipped.
# Test programs run under Wine through cmake/wine-run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(HX_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${HX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${HX_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${HX_MINGW_TRIPLE}-objdump CACHE FILEPATH "objdump for the target")

set(CMAKE_FIND_ROOT_PATH /usr/${HX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every float and double operation must round as on the native build.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -ffp-contract=off")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -ffp-contract=off")

# Test programs run under Wine, in a throwaway prefix of this build tree.
set(HX_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/wine-run)
set(HX_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(CMAKE_CROSSCOMPILING_EMULATOR ${HX_WINE_RUN} ${HX_WINE_PREFIX})
