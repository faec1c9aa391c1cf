#!/usr/bin/env bash
# Renders every window of the Windows desktop program kvfix207.exe to PNG files: each
# window is shown under Wine on a private X server (Xvfb with openbox) by the tool
# kvscreenshots.exe and captured with its frame. A second pass shows a few windows at
# 150 % (144 pixels per inch) to see the layouts scale. Tahoma is mapped to a TLWG font
# in the Wine prefix (see scripts/wine-desktop.sh).
# Usage: scripts/screenshots-windows.sh [output-dir]   (default: out/screenshots-windows)
set -euo pipefail
source "$(dirname "$0")/wine-desktop.sh"
out=${1:-$root/out/screenshots-windows}
mkdir -p "$out"
out=$(cd "$out" && pwd)
cd "$root"
if [ ! -f "$build/build.ninja" ]; then
  bash scripts/build-windows.sh >/dev/null
fi
cmake --build "$build" --target kvscreenshots -j"${KV_JOBS:-2}" | tail -1
tool=$(winepath -w "$build/src/kvscreenshots.exe")

declare -A titles=(
  [main-window]='KORVA.*จำกัด$' [main-window-running]='KORVA.*จำกัด$'
  [message-information]='^Information$' [message-information-left]='^Warning$' [message-short]='^Information$'
  [message-error]='^Error$' [message-fatal-error-help]='^Error$' [message-wider-than-screen]='^Error$'
  [message-warning]='^Warning$' [message-result-report]='^Information$' [question-undo]='^Confirm$'
  [message-undo-outcome]='^Warning$' [check-findings]='ตรวจสอบโครงสร้างแฟ้ม' [question-confirm]='^Confirm$' [question-lock-conflict]='^Confirm$'
  [question-technical-support]='^Caution!$' [recovery]='^Attention!$' [recovery-index]='^Attention!$'
  [company-selection]='^Select Directory$' [company-menu]='^Select Directory$'
  [company-edit]='^Edit Company$' [company-report-template]='^Report Template$'
)

# shoot NAME FILE: shows the window NAME, captures it into FILE, ends the tool.
shoot() {
  local scratch="$work/scratch-$1"
  mkdir -p "$scratch/appdata" "$scratch/temp"
  APPDATA=$(winepath -w "$scratch/appdata") TEMP=$(winepath -w "$scratch/temp") wine_run "$scratch" "$tool" "$1"
  [ "$1" = company-menu ] && sleep 1.5
  [ "$1" = main-window-running ] && sleep 1
  if capture "${titles[$1]}" "$2"; then echo "$2"; else failed=$((failed + 1)); fi
  kill "$run_pid" 2>/dev/null || true
  wait "$run_pid" 2>/dev/null || true
  window_gone "${titles[$1]}" 10 || true
}

set_dpi() {
  wineserver -k 2>/dev/null || true
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wine reg add 'HKCC\Software\Fonts' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wineserver -k 2>/dev/null || true
}

failed=0
set_dpi 96
for name in "${!titles[@]}"; do shoot "$name" "$out/$name.png"; done
set_dpi 144
for name in main-window company-selection question-technical-support; do shoot "$name" "$out/$name-150.png"; done
set_dpi 96
echo "screenshots in $out ($failed failed)"
[ "$failed" = 0 ]
