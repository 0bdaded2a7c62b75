#!/usr/bin/env bash
# Builds the .deb from the build tree and runs lintian on it: no error and no
# warning may remain. Exits with 77 (CTest's skip) where lintian or cpack's
# Debian tools are missing.
#   package_check.sh BUILD_DIR
set -euo pipefail
build=$1
for tool in lintian dpkg-deb dpkg-shlibdeps; do
  if ! command -v "$tool" >/dev/null; then
    echo "(skip) $tool is not installed"
    exit 77
  fi
done
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1; then
  cat "$out/cpack.log" >&2
  echo "package check: cpack failed" >&2
  exit 1
fi
deb=$(ls "$out"/harmidex_*.deb)
echo "lintian on $(basename "$deb"):"
# --fail-on covers what lintian shows at its default level: errors and warnings.
status=0
lintian --fail-on error,warning --info "$deb" >"$out/lintian.txt" 2>&1 || status=$?
cat "$out/lintian.txt"
if grep -q '^[EW]: ' "$out/lintian.txt" || [[ $status -ne 0 ]]; then
  echo "package check: lintian found errors or warnings" >&2
  exit 1
fi
echo "lintian: no errors, no warnings"
