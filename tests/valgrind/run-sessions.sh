#!/usr/bin/env bash
# valgrind memcheck over the end-to-end script sessions: the script and
# analysis test programs (with the module linked in and loaded from its
# file), the entry-point tests, a `harmidex call` session and a short
# validator run. Any memcheck error or leak fails the step; only the
# start-up allocations of system libraries named in startup.supp are
# suppressed.
#   tests/valgrind/run-sessions.sh [BUILD_DIR]     (default build/default)
set -euo pipefail
cd "$(dirname "$0")/../.."
src=$PWD
build=$(cd "${1:-build/default}" && pwd)
export HX_BUILD_DIR=$build HX_SOURCE_DIR=$src
stub=$build/tests/valgrind/hx_hwy_timer_stub.so
[[ -f $stub ]] || { echo "missing $stub: build the default preset first" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

vg() {
  LD_PRELOAD=$stub valgrind --tool=memcheck --error-exitcode=99 -q --keep-debuginfo=yes \
    --suppressions="$src/tests/valgrind/startup.supp" --leak-check=full \
    --show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect,possible \
    --num-callers=40 "$@"
}

failed=0
run() {
  local name=$1
  shift
  printf '%-34s' "$name"
  if vg "$@" >"$tmp/out" 2>&1; then
    echo "0 errors"
  else
    echo "FAILED (status $?)"
    tail -n 60 "$tmp/out"
    failed=1
  fi
}

module=$build/harmidex.so
# Long-double reference tests are left out: valgrind computes x87 long
# doubles in double precision.
sessions='Spectrum.*:Samples.*'
run "test_script" "$build/tests/script/test_script"
run "test_script (module loaded)" env HX_LOADED_MODULE="$module" "$build/tests/script/test_script"
run "test_analysis sessions" "$build/tests/analysis/test_analysis" --gtest_filter="$sessions"
run "test_analysis (module loaded)" env HX_LOADED_MODULE="$module" \
  "$build/tests/analysis/test_analysis" --gtest_filter="$sessions"
run "test_shell" "$build/tests/shell/test_shell"
run "test_shell (module loaded)" env HX_LOADED_MODULE="$module" \
  "$build/tests/shell/test_shell" --gtest_filter='EntryPoints.*'

sox -n -r 22050 -b 16 -c 2 "$tmp/tone.wav" synth 0.5 sine 440
cat >"$tmp/session" <<EOS
openQuicktimeFile("$tmp/tone.wav")
getSampleRate(1)
getSamples(1, 100, 64, 2.0)
getAmplitude(1, 0, 11025)
getFFT(1, 0, 512, 4, 1.0, 1, 1)
getFFT(1, 0, 8192, 1048576)
closeFile(1)
getError()
EOS
run "harmidex call session" "$build/harmidex" --module "$module" call "$tmp/session" --check-leaks
run "harmidex validate (short)" "$build/harmidex" --module "$module" validate --seed 3 \
  --calls 400 --cycles 3 --objects 30
exit $failed
