#!/usr/bin/env bash
# Renders every window and dialog of the desktop program to PNG files, without a display
# (Qt's offscreen platform). Builds the renderer first when needed.
# Usage: scripts/screenshots.sh [output-dir]     (default: out/screenshots)
# The build directory is $KV_BUILD_DIR, else build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/out/screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)
dir=${KV_BUILD_DIR:-$root/build}
cd "$root"
if [ ! -f "$dir/build.ninja" ] || ! grep -q '^KV_GUI:BOOL=ON' "$dir/CMakeCache.txt" 2>/dev/null; then
  cmake -S . -B "$dir" -G Ninja -DKV_GUI=ON >/dev/null
fi
cmake --build "$dir" --target kvscreenshots
QT_QPA_PLATFORM=offscreen "$dir/src/kvscreenshots" "$out" 2> >(grep -v -e propagateSizeHints -e XDG_RUNTIME_DIR >&2)
echo "screenshots in $out"
