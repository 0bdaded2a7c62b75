#!/usr/bin/env bash
# Times `harmidex spectrogram` at its default settings (the open, that is the
# whole decode, included) beside `sox FILE -n spectrogram` on the same
# 10-minute 44.1 kHz stereo MP3, runs interleaved, and prints the median of
# each and their ratio. The target: harmidex below sox (ratio < 1).
#   bench/sonogram_vs_sox.sh [path/to/harmidex] [runs]
# HX_BENCH_DIR keeps the generated MP3 between runs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-packages --bench  # sox reads MP3 with libsox-fmt-mp3
bin=${1:-build/default/harmidex}
runs=${2:-3}
if [[ ! -x $bin ]]; then
  echo "no $bin: build the default preset first (cmake --build --preset default --target harmidex_cli)" >&2
  exit 2
fi
if ! sox -h 2>/dev/null | grep -q 'FILE FORMATS:.* mp3'; then
  echo "this sox cannot read MP3: apt-get install libsox-fmt-mp3" >&2
  exit 2
fi
dir=${HX_BENCH_DIR:-$(mktemp -d)}
[[ -n ${HX_BENCH_DIR:-} ]] || trap 'rm -rf "$dir"' EXIT
mkdir -p "$dir"
mp3=$dir/ten-minutes.mp3
if [[ ! -f $mp3 ]]; then
  # A tone on the left, pink noise on the right: real work for the encoder.
  ffmpeg -nostdin -y -loglevel error \
    -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=600" \
    -f lavfi -i "anoisesrc=color=pink:sample_rate=44100:duration=600:amplitude=0.2" \
    -filter_complex "[0][1]amerge=inputs=2[a]" -map "[a]" -ac 2 -c:a libmp3lame -b:a 192k "$mp3"
fi

seconds() {  # runs a command quietly, prints its wall time in seconds
  local t0=$EPOCHREALTIME
  "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
  awk -v a="$t0" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.3f", b - a }'
}
ours=() theirs=()
for ((i = 0; i < runs; ++i)); do
  ours+=("$(seconds "$bin" spectrogram "$mp3" -o "$dir/harmidex.png")")
  theirs+=("$(seconds sox "$mp3" -n spectrogram -o "$dir/sox.png")")
done
python3 - "${ours[*]}" "${theirs[*]}" <<'PY'
import statistics, sys
ours = [float(x) for x in sys.argv[1].split()]
theirs = [float(x) for x in sys.argv[2].split()]
a, b = statistics.median(ours), statistics.median(theirs)
print(f"10-minute 44.1 kHz stereo MP3, median of {len(ours)} runs")
print(f"harmidex spectrogram (defaults, open included): {a:6.2f} s   runs: " + " ".join(f"{x:.2f}" for x in ours))
print(f"sox -n spectrogram:                             {b:6.2f} s   runs: " + " ".join(f"{x:.2f}" for x in theirs))
print(f"ratio harmidex / sox: {a / b:.2f}" + ("  (faster than sox)" if a < b else "  (SLOWER than sox)"))
PY
