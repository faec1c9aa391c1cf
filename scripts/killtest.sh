#!/usr/bin/env bash
# Long form of the kill test: kvfix207-cli repair is killed with SIGKILL at random
# moments on a large demo company; after each kill every record must be old or repaired,
# every side file and information record old or new, every file must open again with
# nothing locked, and a second run must finish with nothing left to repair.
#
# Usage: scripts/killtest.sh [kills, default 40] [records per file, default 20000] [seed]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${KV_SCRIPT_BUILD_DIR:-build}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
[ -f "$dir/build.ninja" ] || cmake -S . -B "$dir" -G Ninja -DKV_WERROR=ON -DKV_GUI=OFF -DKV_BENCH=OFF >/dev/null
cmake --build "$dir" --target test_app kvfix207-cli -j"$(nproc)" | tail -1
export KV_BUILD_DIR=$PWD/$dir
export KV_KILL_RUNS=${1:-40} KV_KILL_RECORDS=${2:-20000} KV_KILL_SEED=${3:-$RANDOM}
echo "kill test: $KV_KILL_RUNS kills, $KV_KILL_RECORDS records per file, seed $KV_KILL_SEED"
exec "$dir/tests/test_app" --gtest_filter='HardeningKillTest.*'
