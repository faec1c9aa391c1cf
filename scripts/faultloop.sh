#!/usr/bin/env bash
# Full fault loop: the whole repair run (in process) once for every N with the Nth read,
# write, flush, lock or rename failing (EIO, ENOSPC, short count; once and from then on).
# Every run must end completed or with a message, leave nothing locked and leave every
# record old or repaired. CI runs a spread of N; this runs every N.
#
# Usage: scripts/faultloop.sh
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${KV_SCRIPT_BUILD_DIR:-build}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
[ -f "$dir/build.ninja" ] || cmake -S . -B "$dir" -G Ninja -DKV_WERROR=ON -DKV_GUI=OFF -DKV_BENCH=OFF >/dev/null
cmake --build "$dir" --target test_app -j"$(nproc)" | tail -1
export KV_BUILD_DIR=$PWD/$dir KV_FAULTLOOP_FULL=1
exec "$dir/tests/test_app" --gtest_filter='HardeningFaultTest.*'
