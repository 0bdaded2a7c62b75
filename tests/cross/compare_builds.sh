#!/usr/bin/env bash
# compare_builds.sh NATIVE_HARMIDEX WINDOWS_HARMIDEX WORKDIR
# Runs both builds on the same generated files and fails on any difference
# in what they print: spectra at every size, timesmooth 1 to 4, normalized
# and equalized, samples and amplitudes. The Windows build runs under Wine.
# From the environment (set by CTest): HX_WINE_RUN, HX_WINE_ARCH, HX_WINE_PREFIX.
set -euo pipefail
native=$1
windows=$2
work=$3
if [[ ! -x $native ]]; then
  echo "no native build at $native (build the default preset first): skipped"
  exit 77
fi
if [[ "$("$native" bands 8 2>&1)" != 4 ]]; then
  echo "the native build at $native does not answer 'bands 8' with 4: rebuild the default preset"
  exit 1
fi
rm -rf "$work"
mkdir -p "$work"
cd "$work"

win() { "$HX_WINE_RUN" "$HX_WINE_ARCH" "$HX_WINE_PREFIX" "$windows" "$@"; }
# Makes the prefix; exits 77 (a skip) where this machine cannot run Wine.
"$HX_WINE_RUN" "$HX_WINE_ARCH" "$HX_WINE_PREFIX"

# Whole-number rates below 65536, the formats both media layers read.
sox -R -n -r 44100 -b 16 -c 1 mono16.wav synth 1.2 sine 440 vol 0.7 : synth 0.3 whitenoise vol 0.5
sox -R -n -r 22050 -b 16 -c 2 stereo16.wav synth 1 sine 1000 sine 1500 vol 0.9
sox -R -n -r 8000 -b 8 -e unsigned-integer -c 1 mono8.wav synth 1 square 300 vol 0.8
sox -R -n -r 48000 -b 16 -c 2 stereo16.aiff synth 0.5 sine 200-4000 pinknoise vol 0.6

script() {
  local file=$1
  echo "openQuicktimeFile(\"$file\")"
  echo "getSampleRate(1)"
  for bins in 1 64 256 1024 8192; do
    for ts in 1 2 3 4; do
      for start in 0 1000 -100; do
        for flags in "0, 0" "1, 0" "0, 1" "1, 1"; do
          echo "getFFT(1, $start, $bins, $ts, 1.0, $flags)"
        done
      done
    done
  done
  echo "getFFT(1, 0, 512, 2, 0.37)"
  for start in 0 777 -50; do
    echo "getSamples(1, $start, 300)"
    echo "getSamples(1, $start, 300, 128.0)"
    echo "getAmplitude(1, $start, 5000)"
  done
}

status=0
compare() {
  local label=$1
  shift
  # Only the native build probes a file for its length, so only it notes
  # reads past the end; everything else must be the same.
  { "$native" "$@" 2>&1 || true; } | grep -v '^harmidex: note: ' > native.out || true
  { win "$@" 2>&1 || true; } | grep -v '^harmidex: note: ' > windows.out || true
  if ! cmp -s native.out windows.out; then
    echo "DIFFERENT: $label"
    diff native.out windows.out | head -5 | cut -c1-300
    status=1
  else
    echo "same: $label ($(wc -l < native.out) lines)"
  fi
}

for file in mono16.wav stereo16.wav mono8.wav stereo16.aiff; do
  script "$file" > "$file.calls"
  compare "call session on $file" call "$file.calls"
done
compare "fft" fft mono16.wav --bins 1024 --timesmooth 3 --normalized
compare "fft equalized" fft stereo16.wav --start 500 --bins 4096 --timesmooth 4 --equalized --normalized
compare "samples" samples stereo16.aiff --start 100 --count 2000 --ampl-max 3.5
compare "amplitude" amplitude mono8.wav --start 0 --count 8000
exit $status
