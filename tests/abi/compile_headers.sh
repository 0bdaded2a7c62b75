#!/usr/bin/env bash
# Every abi/ header compiled alone, as C11 and as C++11, 17 and 20, with
# -pedantic -Werror, by one compiler family (C and C++ driver):
#   compile_headers.sh SOURCE_DIR CC CXX
# Exits 77 (a skip) when either driver is not installed.
#   compile_headers.sh SOURCE_DIR --reserved-names
# fails on any reserved identifier in the headers' code (comments aside)
# beyond those the standards and the Windows calling convention define:
# compilers accept their own extensions (__alignof__, __builtin_offsetof,
# __attribute__) even with -pedantic, and other compilers do not.
set -euo pipefail

src=$1
headers=("$src"/abi/*.h)
[[ -e ${headers[0]} ]] || { echo "FAIL: no header found in $src/abi"; exit 1; }

if [[ $2 == --reserved-names ]]; then
  allowed='^(__cplusplus|_Static_assert|_Alignof|_WIN32|_WIN64|__stdcall)$'
  failed=0
  for header in "${headers[@]}"; do
    # gcc -fpreprocessed drops the comments and expands nothing.
    names=$(gcc -x c -fpreprocessed -dD -E -P "$header" 2>/dev/null |
            grep -oE '\b(_[A-Z_][A-Za-z0-9_]*|typeof|asm)\b' | sort -u | grep -vE "$allowed" || true)
    if [[ -n $names ]]; then
      echo "FAIL: $(basename "$header") uses" $names
      failed=1
    fi
  done
  [[ $failed -eq 0 ]] || exit 1
  echo "${headers[*]##*/}: no compiler's own names"
  exit 0
fi

cc=$2 cxx=$3
for c in "$cc" "$cxx"; do
  if ! command -v "$c" >/dev/null; then
    echo "skipped: $c is not installed"
    exit 77
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failed=0
compile() {  # driver language standard file
  local out
  if ! out=$("$1" -x "$2" -std="$3" -pedantic -Werror -Wall -Wextra -fsyntax-only \
             -I "$src" "$4" 2>&1); then
    echo "FAIL: $1 -std=$3 $(basename "$4"): $(head -c 2000 <<<"$out")"
    failed=1
  fi
}

for header in "${headers[@]}"; do
  file="$work/alone_$(basename "$header")"
  printf '#include "abi/%s"\n' "$(basename "$header")" >"$file"
  compile "$cc" c c11 "$file"
  for std in c++11 c++17 c++20; do compile "$cxx" c++ "$std" "$file"; done
done
[[ $failed -eq 0 ]] || exit 1
echo "${headers[*]##*/}: clean under $cc and $cxx"
