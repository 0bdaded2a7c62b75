#!/usr/bin/env bash
# Builds the fuzz preset and runs one fuzzer on a working copy of its
# corpus (build/fuzz/work/NAME, grown across runs); a crash leaves its
# input in build/fuzz/artifacts/.
#   fuzz/run.sh [TARGET] [seconds]   TARGET: snd_resource (default), open, script
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:-snd_resource}
seconds=${2:-60}
case $target in
  snd_resource) corpus=snd; max_len=512 ;;
  open) corpus=open; max_len=16384 ;;
  script) corpus=script; max_len=2048 ;;
  *) echo "fuzz/run.sh: unknown target $target (snd_resource, open or script)" >&2; exit 2 ;;
esac
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2
[[ -d build/fuzz/corpus ]] || fuzz/make-corpus
work=build/fuzz/work/$corpus
if [[ ! -d $work ]]; then mkdir -p "$(dirname "$work")"; cp -r "build/fuzz/corpus/$corpus" "$work"; fi
mkdir -p build/fuzz/artifacts
exec build/fuzz/fuzz/fuzz_"$target" -max_total_time="$seconds" -max_len="$max_len" -timeout=20 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/"$target"- "$work"
