#!/usr/bin/env bash
# Long form of the stress test: several peer stations (other copies of the suite) rewrite
# and append records while kvfix207-cli repairs the company, round after round, each round
# on a fresh demo company. Fails on any lost write, changed sound byte, unsound amount
# left, unsound coordination file, lock left behind or process that did not end.
#
# Usage: scripts/stress.sh [rounds, default 10] [peers, default 6] [records, default 2000]
# Prints the figures: peers, writes logged and held, appends, lock conflicts retried,
# run time.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${KV_SCRIPT_BUILD_DIR:-build}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
[ -f "$dir/build.ninja" ] || cmake -S . -B "$dir" -G Ninja -DKV_WERROR=ON -DKV_GUI=OFF -DKV_BENCH=OFF >/dev/null
cmake --build "$dir" --target test_app peer_station kvfix207-cli -j"$(nproc)" | tail -1
export KV_BUILD_DIR=$PWD/$dir
export KV_STRESS_ROUNDS=${1:-10} KV_STRESS_PEERS=${2:-6} KV_STRESS_RECORDS=${3:-2000}
export KV_STRESS_PAUSE_US=${KV_STRESS_PAUSE_US:-300}
exec "$dir/tests/test_app" --gtest_filter='HardeningStressTest.*'
