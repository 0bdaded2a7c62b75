#!/usr/bin/env bash
# Checks a Windows library's tables: it exports exactly the given names,
# undecorated, and imports no mingw runtime library (libgcc, libstdc++,
# libwinpthread: the runtime is linked in statically).
#   check_exports.sh OBJDUMP LIBRARY NAME...
set -euo pipefail
objdump=$1
library=$2
shift 2
tables=$("$objdump" -p "$library")
actual=$(awk '/^\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
              on && /^[[:space:]]*\[/ {print $NF; next}
              on {on = 0}' <<<"$tables" | sort)
expected=$(printf '%s\n' "$@" | sort)
status=0
if [[ "$actual" != "$expected" ]]; then
  printf 'exports of %s:\n%s\nexpected:\n%s\n' "$library" "$actual" "$expected"
  status=1
fi
imports=$(awk '/DLL Name:/ {print $3}' <<<"$tables")
if grep -qi '^lib' <<<"$imports"; then
  printf '%s needs runtime libraries:\n%s\n' "$library" "$(grep -i '^lib' <<<"$imports")"
  status=1
fi
[[ $status -eq 0 ]] && echo "$library exports exactly: $(echo $actual); imports: $(echo $imports)"
exit $status
