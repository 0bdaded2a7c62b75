#!/usr/bin/env bash
# One library-search scenario of the QuickTime runtime binding: places
# runtimes and registry values, runs binding_probe in a fresh Wine process
# and cleans up again.
#   search_scenario.sh NAME
# From the environment (set by CTest): HX_WINE_RUN, HX_WINE_ARCH, HX_WINE_PREFIX,
# HX_PROBE, HX_RUNTIME, HX_RUNTIME_MISSING_EXPORT, HX_SCENARIO_DIR.
set -euo pipefail
scenario=$1
work=$HX_SCENARIO_DIR/$scenario
bin=$work/bin  # the probe's own folder
system_dir=$HX_WINE_PREFIX/drive_c/windows/system32
key='Software\Apple Computer, Inc.\QuickTime'
value='QuickTime.qts folder'

wine() { "$HX_WINE_RUN" "$HX_WINE_ARCH" "$HX_WINE_PREFIX" "$@"; }
# The Windows path of a Unix path (drive Z: is the Unix root).
winpath() { printf 'Z:%s' "${1//\//\\}"; }
# folder_value HKLM|HKCU TEXT
folder_value() { wine reg add "$1\\$key" /v "$value" /t REG_SZ /d "$2" /f >/dev/null; }
runtime_in() { mkdir -p "$1" && cp "$HX_RUNTIME" "$1/QuickTime.qts"; }
clear_places() {
  local root
  for root in HKLM HKCU; do wine reg delete "$root\\$key" /v "$value" /f >/dev/null 2>&1 || true; done
  rm -f "$system_dir/QuickTime.qts"
}
probe() {
  echo "binding_probe $*"
  wine "$bin/binding_probe.exe" "$@"
}

wine  # makes the prefix on first use; exits 77 where Wine cannot run
clear_places
trap clear_places EXIT
rm -rf "$work"
mkdir -p "$bin"
cp "$HX_PROBE" "$bin/"

case $scenario in
  NoRuntimeRetriesEveryOperation)
    # Nothing anywhere: -2095 every time; a runtime placed later is found.
    probe --expect none --install "$(winpath "$HX_RUNTIME")" "$(winpath "$bin/QuickTime.qts")"
    ;;
  ExecutableFolderBeforeRegistry)
    runtime_in "$bin"
    runtime_in "$work/machine"
    folder_value HKLM "$(winpath "$work/machine")"
    probe --expect "$(winpath "$bin/QuickTime.qts")"
    ;;
  MachineRegistryWithoutSeparator)
    runtime_in "$work/machine"
    runtime_in "$work/user"
    folder_value HKLM "$(winpath "$work/machine")"
    folder_value HKCU "$(winpath "$work/user")"
    probe --expect "$(winpath "$work/machine")\\QuickTime.qts"
    ;;
  MachineRegistryWithBackslash)
    runtime_in "$work/machine"
    folder_value HKLM "$(winpath "$work/machine")\\"
    probe --expect "$(winpath "$work/machine")\\QuickTime.qts"
    ;;
  MachineRegistryWithSlash)
    runtime_in "$work/machine"
    folder_value HKLM "$(winpath "$work/machine")/"
    probe --expect "$(winpath "$work/machine")/QuickTime.qts"
    ;;
  UserRegistry)
    runtime_in "$work/user"
    folder_value HKCU "$(winpath "$work/user")"
    probe --expect "$(winpath "$work/user")\\QuickTime.qts"
    ;;
  MachineRegistryFolderEmptyFallsToUser)
    mkdir -p "$work/machine"
    runtime_in "$work/user"
    folder_value HKLM "$(winpath "$work/machine")"
    folder_value HKCU "$(winpath "$work/user")"
    probe --expect "$(winpath "$work/user")\\QuickTime.qts"
    ;;
  OverlongRegistryValueSkipped)
    # The folder fits in a path but folder + "\QuickTime.qts" does not. A
    # binding that cut the path to fit would load the runtime planted under
    # the cut name; it must skip the value and go on to HKCU.
    cut=QuickTime.q  # has an extension, so no ".dll" would be added to it
    base="$work/m"
    room=$((259 - ${#base} - 2 - 1 - ${#cut}))  # 259 = "Z:" + folder + "\" + cut
    long="$base$(printf 'x%.0s' $(seq 1 "$room"))"
    mkdir -p "$long"
    cp "$HX_RUNTIME" "$long/$cut"
    runtime_in "$work/user"
    folder_value HKLM "$(winpath "$long")"
    folder_value HKCU "$(winpath "$work/user")"
    probe --expect "$(winpath "$work/user")\\QuickTime.qts"
    ;;
  SystemDirectoryLast)
    mkdir -p "$work/machine" "$work/user"
    folder_value HKLM "$(winpath "$work/machine")"
    folder_value HKCU "$(winpath "$work/user")"
    cp "$HX_RUNTIME" "$system_dir/QuickTime.qts"
    probe --expect 'C:\windows\system32\QuickTime.qts'
    ;;
  LoadedRuntimeWinsOverRegistry)
    # The host loaded its runtime first: used whatever lies elsewhere.
    runtime_in "$work/host"
    runtime_in "$bin"
    runtime_in "$work/machine"
    folder_value HKLM "$(winpath "$work/machine")"
    probe --preload "$(winpath "$work/host/QuickTime.qts")" \
          --expect "$(winpath "$work/host/QuickTime.qts")"
    ;;
  MissingExportStaysUnresolved)
    # The first library that loads lacks an export: -2095, and the search
    # does not go on to the complete runtime in the registry folder.
    cp "$HX_RUNTIME_MISSING_EXPORT" "$bin/QuickTime.qts"
    runtime_in "$work/machine"
    folder_value HKLM "$(winpath "$work/machine")"
    probe --expect none
    ;;
  *)
    echo "unknown scenario $scenario" >&2
    exit 2
    ;;
esac
