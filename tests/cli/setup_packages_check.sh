#!/usr/bin/env bash
# Runs scripts/setup-packages against stand-ins for dpkg and apt-get that
# talk as much as the real ones: the terminal gets one line per group, the
# log gets apt's output, and a failed install shows the log's tail.
#   setup_packages_check.sh SOURCE_DIR
set -euo pipefail
script=$1/scripts/setup-packages
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "setup-packages check: $*" >&2; exit 1; }

mkdir "$tmp/bin"
cat >"$tmp/bin/dpkg-query" <<'STUB'
#!/bin/sh
[ -n "${STUB_INSTALLED:-}" ] && echo "install ok installed"
exit 0
STUB
cat >"$tmp/bin/dpkg" <<'STUB'
#!/bin/sh
[ "$1" = --print-foreign-architectures ] && echo i386
exit 0
STUB
cat >"$tmp/bin/apt-get" <<'STUB'
#!/bin/sh
i=0
while [ $i -lt 200 ]; do echo "Reading database ... $i%"; i=$((i + 1)); done
for a in "$@"; do
  if [ "$a" = "${STUB_FAIL_ON:-none}" ]; then
    echo "E: Unable to locate package $a"
    exit 100
  fi
done
exit 0
STUB
printf '#!/bin/sh\nexec "$@"\n' >"$tmp/bin/sudo"
chmod +x "$tmp/bin"/*

run() {
  PATH=$tmp/bin:$PATH HARMIDEX_SETUP_LOG=$tmp/log "$@" "$script" --test >"$tmp/out" 2>"$tmp/err"
}

# Nothing installed: one line per group, apt's chatter only in the log.
run env || fail "exit $? with every install succeeding: $(cat "$tmp/err")"
groups=(build fonts packaging checking windows windows_i386)
[[ $(wc -l <"$tmp/out") -eq ${#groups[@]} ]] || fail "printed $(wc -l <"$tmp/out") lines: $(cat "$tmp/out")"
for g in "${groups[@]}"; do
  grep -q "^setup-packages: installing $g: " "$tmp/out" || fail "no line for $g"
done
[[ ! -s $tmp/err ]] || fail "wrote to standard error: $(cat "$tmp/err")"
[[ $(grep -c 'Reading database' "$tmp/log") -ge 1000 ]] || fail "apt's output is not in the log"

# A failing install: exit 1 and the log's tail, with apt's own reason.
rm -f "$tmp/log"
status=0
run env STUB_FAIL_ON=lintian || status=$?
[[ $status -eq 1 ]] || fail "exit $status when apt-get fails"
grep -q 'E: Unable to locate package lintian' "$tmp/err" || fail "no reason shown: $(cat "$tmp/err")"
[[ $(wc -l <"$tmp/err") -le 30 ]] || fail "showed $(wc -l <"$tmp/err") lines, not the tail"
! grep -q 'installing checking' "$tmp/out" || fail "went on after a failed group"

# Everything installed: silence.
run env STUB_INSTALLED=1 || fail "exit $? with everything installed"
[[ ! -s $tmp/out && ! -s $tmp/err ]] || fail "printed something with everything installed"
echo "setup-packages: one line per group, the log's tail on failure"
