# Warning and floating-point flags carried by every target.
# Arithmetic must round identically on every build: no fast-math, no
# contraction into fused multiply-adds, SSE2 rather than x87 on 32-bit x86.
add_library(harmidex_flags INTERFACE)
target_compile_options(harmidex_flags INTERFACE
  -Wall -Wextra -Werror
  -ffp-contract=off -fno-fast-math)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86)$" OR CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_compile_options(harmidex_flags INTERFACE -msse2 -mfpmath=sse)
endif()
target_compile_definitions(harmidex_flags INTERFACE HARMIDEX_VERSION="${PROJECT_VERSION}")

# Sanitizer build, chosen by the asan preset.
option(HARMIDEX_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(HARMIDEX_SANITIZE)
  target_compile_options(harmidex_flags INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(harmidex_flags INTERFACE -fsanitize=address,undefined)
endif()

# Fuzzing build, chosen by the fuzz preset (clang): every library is
# instrumented for libFuzzer's coverage and for the sanitizers; only the
# fuzz targets link libFuzzer's driver.
option(HARMIDEX_FUZZ "Build the libFuzzer targets (clang)" OFF)
if(HARMIDEX_FUZZ)
  target_compile_options(harmidex_flags INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
    # The FFT engine's compile-time log table needs more steps than clang's default.
    -fconstexpr-steps=100000000)
  target_link_options(harmidex_flags INTERFACE -fsanitize=address,undefined)
endif()
