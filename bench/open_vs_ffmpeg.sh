#!/usr/bin/env bash
# Prints the reader's open of a 10-minute 44.1 kHz stereo WAV and MP3 beside
# ffmpeg's decode of the same file to /dev/null, with the peak memory of
# each, and checks the targets: open within 1.2x of ffmpeg's time, peak
# memory of the open at most 1.3x the decoded PCM plus 50 MB.
#   bench/open_vs_ffmpeg.sh [path/to/bench_open]
# HX_BENCH_OPEN_DIR keeps the generated files between runs.
set -euo pipefail
cd "$(dirname "$0")/.."
bench=${1:-build/default/bench/bench_open}
if [[ ! -x $bench ]]; then
  echo "no $bench: build the default preset first (cmake --build --preset default --target bench_open)" >&2
  exit 2
fi
json=$(mktemp)
trap 'rm -f "$json"' EXIT
# The open as a user gets it: on two threads (WAV read directly).
"$bench" --benchmark_filter='BM_ReaderOpen/(wav|mp3)/2/|BM_FfmpegDecode/(wav|mp3)/' \
  --benchmark_format=json --benchmark_out="$json" --benchmark_out_format=json >/dev/null
python3 - "$json" <<'PY'
import json, sys
runs = {b["name"].split("/")[0] + "/" + b["name"].split("/")[1]: b
        for b in json.load(open(sys.argv[1]))["benchmarks"]}
ok = True
print(f"{'file':5} {'open ms':>9} {'ffmpeg ms':>10} {'ratio':>6}   {'open peak MB*':>13} {'ffmpeg peak MB':>14} {'PCM MB':>7} {'limit MB':>9}")
for kind in ("wav", "mp3"):
    ours, theirs = runs[f"BM_ReaderOpen/{kind}"], runs[f"BM_FfmpegDecode/{kind}"]
    ratio = ours["real_time"] / theirs["real_time"]
    pcm = ours["pcm_MB"]
    limit = 1.3 * pcm + 50
    peak = ours["peak_MB"]
    print(f"{kind:5} {ours['real_time']:9.0f} {theirs['real_time']:10.0f} {ratio:6.2f}   "
          f"{peak:13.1f} {theirs['peak_MB']:14.1f} {pcm:7.1f} {limit:9.1f}")
    ok &= ratio <= 1.2 and 0 <= peak <= limit
print("* growth of the resident set during the open; ffmpeg's is its whole process peak")
print("targets met" if ok else "TARGETS MISSED")
sys.exit(0 if ok else 1)
PY
