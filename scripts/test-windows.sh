#!/usr/bin/env bash
# Runs every core test program of the Windows build (scripts/build-windows.sh) under
# Wine, in a private Wine prefix inside build-windows/, without a display. Fails when
# any test fails. Then the repair run beside another station, both ways between a
# Linux and a Windows station, when the Linux build (build/) is there.
#   bash scripts/test-windows.sh [gtest arguments, e.g. --gtest_filter=LockTest.*]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-windows
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
export KV_BUILD_DIR=$build
if [ ! -d "$WINEPREFIX" ]; then
  echo "test-windows: making the Wine prefix"
  wineboot --init </dev/null >/dev/null 2>&1 || true
  wineserver -w || true
fi
# One Wine server for all the programs below, so that they start fast (kept away from
# this script's output, which it would otherwise hold open).
wineserver -p 60 </dev/null >/dev/null 2>&1 || true
failed=()
for t in "$build"/tests/test_*.exe; do
  name=$(basename "$t" .exe)
  start=$(date +%s)
  if wine "$t" --gtest_brief=1 "$@" >"$build/$name.log" 2>&1; then
    echo "test-windows: $name passed ($(( $(date +%s) - start )) s)"
  else
    echo "test-windows: $name FAILED ($(( $(date +%s) - start )) s), see $build/$name.log"
    grep -E "^\[  FAILED|Failure|error" "$build/$name.log" | head -20 || true
    failed+=("$name")
  fi
  grep -E "^\[  SKIPPED \]" "$build/$name.log" | sort -u | sed 's/^/    /' || true
done

# A Windows station changing records while the Linux repair runs on the same files,
# and a Linux station beside the Windows repair: the locks exclude each other across
# the two systems and no write is lost.
if [ -x "$root/build/tests/test_app" ] && [ -z "$*" ]; then
  if KV_BUILD_DIR=$root/build KV_STATION=$build/tests/kv_station.exe KV_STATION_RUNNER=wine \
     "$root/build/tests/test_app" --gtest_brief=1 \
       --gtest_filter='RunTest.ASecondProcessChangingRecordsDuringTheRunLosesNothing' >"$build/cross.log" 2>&1; then
    echo "test-windows: Linux repair beside a Windows station passed"
  else
    echo "test-windows: Linux repair beside a Windows station FAILED, see $build/cross.log"
    failed+=("cross-linux-run")
  fi
  # The other way round: the Windows repair beside a Linux station, which Wine starts as
  # the Unix program it is.
  if [ -x "$root/build/tests/kv_station" ] && KV_STATION=$root/build/tests/kv_station wine "$build/tests/test_app.exe" --gtest_brief=1 \
       --gtest_filter='RunTest.ASecondProcessChangingRecordsDuringTheRunLosesNothing' >"$build/cross-win.log" 2>&1; then
    echo "test-windows: Windows repair beside a Linux station passed"
  else
    echo "test-windows: Windows repair beside a Linux station FAILED, see $build/cross-win.log"
    failed+=("cross-windows-run")
  fi
fi
# kvfix207-cli.exe as a support person runs it: a company under a Thai path with spaces,
# longer than MAX_PATH, written the Windows way (drive letter, backslashes). Its repair
# must write the very bytes the Linux program writes to a copy of the same company
# (the coordination files aside: each station takes a free slot of its own at random).
if [ -x "$root/build/src/kvfix207-cli" ]; then
  work=$(mktemp -d)
  deep="$work/บริษัท ทดสอบ จำกัด/$(printf 'd%.0s' {1..120})/$(printf 'e%.0s' {1..120})/ข้อมูล บัญชี"
  win="Z:$(echo "$deep" | tr / '\\')"
  cli="$build/src/kvfix207-cli.exe"
  steps=""
  "$root/build/src/kvfix207-cli" make-demo --records 2000 "$work/linux" >/dev/null
  wine "$cli" make-demo --records 2000 "$win" >/dev/null 2>&1 || steps+=" make-demo"
  rc=0; wine "$cli" scan "$win" >/dev/null 2>&1 || rc=$?
  [ "$rc" = 3 ] || steps+=" scan(3)"
  wine "$cli" repair --yes "$win" >"$work/win.out" 2>&1 || steps+=" repair"
  wine "$cli" scan "$win" >/dev/null 2>&1 || steps+=" scan(0)"
  "$root/build/src/kvfix207-cli" repair --yes "$work/linux" >/dev/null 2>&1 || steps+=" linux-repair"
  [ "$(ls "$deep"/KVFIX207-*.LOG 2>/dev/null | wc -l)" = 1 ] || steps+=" report"
  for f in "$work/linux"/*; do
    name=$(basename "$f")
    case "$name" in *.DIA|KVFIX207-*) continue ;; esac
    cmp -s "$f" "$deep/$name" || steps+=" bytes:$name"
  done
  if [ -z "$steps" ]; then
    echo "test-windows: kvfix207-cli.exe on a long Thai path wrote the bytes of the Linux program"
  else
    echo "test-windows: kvfix207-cli.exe on a long Thai path FAILED:$steps"; cat "$work/win.out"
    failed+=("cli-exe")
  fi
  rm -rf "$work"
fi
wineserver -k </dev/null >/dev/null 2>&1 || true
if [ ${#failed[@]} -gt 0 ]; then
  echo "test-windows: failed: ${failed[*]}"
  exit 1
fi
echo "test-windows: all passed"
