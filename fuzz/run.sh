#!/usr/bin/env bash
# Builds the 'snd ' parser fuzzer with clang (libFuzzer, AddressSanitizer,
# UBSan) and runs it for a while; a crash leaves its input in build-fuzz/.
#   fuzz/run.sh [seconds]     (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
out=build-fuzz
mkdir -p "$out/corpus"
clang++ -std=c++20 -O1 -g -Wall -Wextra -Werror -ffp-contract=off \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -I. -Isrc fuzz/fuzz_snd_resource.cpp media/snd_resource.cpp media/memory_handle.cpp \
  -o "$out/fuzz_snd_resource"
cd "$out"
./fuzz_snd_resource -max_total_time="$seconds" -max_len=512 corpus
