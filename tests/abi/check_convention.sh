#!/usr/bin/env bash
# Checks the calling convention and argument sizes of the five entry points
# as compiled for a Windows target, from the symbol names in the object
# code, before the linker's .def file strips any decoration:
#   32-bit: __stdcall, so "_Name@B" with B the bytes of arguments the callee
#           pops (4 per pointer);
#   64-bit: one convention, plain "Name".
#   check_convention.sh NM ARCHIVE win32|win64
set -euo pipefail
nm=$1
archive=$2
arch=$3
# Entry point and its number of pointer-sized arguments.
entries=(DllGetClassInfo:2 DllGetClassForm:4 DllGetInterface:4 DllCanUnloadNow:0 DllGetClassObject:3)
symbols=$("$nm" "$archive" | awk '$2 == "T" {print $3}')
status=0
for entry in "${entries[@]}"; do
  name=${entry%%:*}
  args=${entry##*:}
  case $arch in
    win32) want="_$name@$((args * 4))" ;;
    win64) want=$name ;;
    *) echo "unknown architecture $arch" >&2; exit 2 ;;
  esac
  if grep -qxF -- "$want" <<<"$symbols"; then
    echo "$want"
  else
    echo "missing $want; entry symbols: $(grep -F "$name" <<<"$symbols" | tr '\n' ' ')"
    status=1
  fi
done
exit $status
