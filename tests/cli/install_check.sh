#!/usr/bin/env bash
# Installs the build into a fresh prefix and runs the installed command as a
# user would: it must find its module in the library folder, and the man
# page must be there with every subcommand.
#   install_check.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
fail() { echo "install check: $*" >&2; exit 1; }

bin=$prefix/bin/harmidex
[[ -x $bin ]] || fail "no $bin"
[[ ! -e $prefix/bin/harmidex.so ]] || fail "the module went next to the command"
modules=("$prefix"/lib*/harmidex/harmidex.so "$prefix"/lib/*/harmidex/harmidex.so)
found=0
for m in "${modules[@]}"; do [[ -f $m ]] && found=1; done
[[ $found -eq 1 ]] || fail "no module under $prefix/lib*/harmidex/"

sox -n -r 22050 -b 16 -c 1 "$prefix/tone.wav" synth 0.1 sine 1000
rate=$("$bin" rate "$prefix/tone.wav") || fail "the installed command failed"
[[ $rate == 22050 ]] || fail "rate printed '$rate'"

[[ -f $prefix/share/man/man1/harmidex.1.gz ]] || fail "no compressed man page"
page=$prefix/harmidex.1
gzip -dc "$prefix/share/man/man1/harmidex.1.gz" >"$page"
for sub in fft samples amplitude rate bands call info spectrogram waveform validate; do
  grep -q "^\.SS $sub\$" "$page" || fail "man page lacks $sub"
done
grep -q -- '\\-\\-log\\-freq' "$page" || fail "man page lacks the spectrogram options"
echo "installed and ran from $prefix"
