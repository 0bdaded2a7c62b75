#!/usr/bin/env bash
# The man page made at build time: mandoc finds nothing to say about it,
# .TH carries a date, every subcommand of `harmidex --help` has its section,
# and no line of the page as man shows it runs past 80 columns.
#   manpage_check.sh BUILD_DIR
set -euo pipefail
build=$1
page=$build/harmidex.1
fail() { echo "man page check: $*" >&2; exit 1; }
if ! command -v mandoc >/dev/null; then
  echo "(skip) mandoc is not installed"
  exit 77
fi
[[ -f $page ]] || fail "no $page"

lint=$(mandoc -Tlint -W all "$page" 2>&1) || fail "mandoc -Tlint: $lint"
[[ -z $lint ]] || fail "mandoc -Tlint: $lint"

grep -Eq '^\.TH HARMIDEX 1 [0-9]{4}-[0-9]{2}-[0-9]{2} ' "$page" || fail ".TH has no date: $(grep '^\.TH' "$page")"

subs=$("$build/harmidex" --help | sed -n '/^Subcommands:/,$p' | sed -n 's/^  \([a-z][a-z]*\) .*/\1/p')
[[ -n $subs ]] || fail "harmidex --help lists no subcommands"
subs+=" validate"  # a parser of its own: not in the main help
for sub in $subs; do
  grep -q "^\.SS $sub\$" "$page" || fail "no section for $sub"
done

# As man shows it on an 80-column terminal.
long=$(mandoc -Tascii -O width=80 "$page" | sed 's/.\x08//g' | awk 'length > 80')
[[ -z $long ]] || fail "lines past 80 columns:"$'\n'"$long"
echo "man page: lint-clean, dated, $(wc -w <<<"$subs") subcommands, no line past 80 columns"
