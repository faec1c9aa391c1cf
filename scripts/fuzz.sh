#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, address and undefined-behaviour sanitizers)
# in build-fuzz and runs each for the given number of seconds, one after the other.
#
# Usage: scripts/fuzz.sh [seconds per target, default 30] [target ...]
#
# A target starts from its seed corpus (fuzz/corpus/<target>, never written) and from
# what earlier runs found (build-fuzz/fuzz-work/<target>). After a crash the target
# is started again for the rest of its time, so the crashes are counted; each crashing
# input is kept as build-fuzz/fuzz-artifacts/<target>-crash-*. Prints executions and
# crashes per target; exits non-zero when any target crashed, leaked or hung.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
shift || true
dir=${KV_FUZZ_BUILD_DIR:-build-fuzz}
case "$dir" in /*) ;; *) dir="$PWD/$dir" ;; esac  # targets may change directory
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}

if [ ! -f "$dir/build.ninja" ]; then
  CXX=clang++ cmake -S . -B "$dir" -G Ninja -DKV_FUZZ=ON -DKV_GUI=OFF -DKV_BENCH=OFF \
    -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
if ! cmake --build "$dir" --target fuzz_all -j"$(nproc)" >"$dir/fuzz-build.log" 2>&1; then
  grep -E 'error|FAILED' -A4 "$dir/fuzz-build.log" | head -60
  echo "fuzz: the fuzz targets do not build (log $dir/fuzz-build.log)"
  exit 1
fi

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for t in "$dir"/fuzz/fuzz_*; do
    [ -x "$t" ] && targets+=("$(basename "$t")")
  done
fi

mkdir -p "$dir/fuzz-artifacts" "$dir/fuzz-logs"
failed=0
summary=()
for t in "${targets[@]}"; do
  bin="$dir/fuzz/$t"
  [ -x "$bin" ] || { echo "fuzz: no target $t"; failed=1; continue; }
  work="$dir/fuzz-work/$t"
  seeds="$PWD/fuzz/corpus/$t"
  mkdir -p "$work"
  [ -d "$seeds" ] || seeds=""
  execs=0
  crashes=0
  runs=0
  end=$((SECONDS + seconds))
  while :; do
    left=$((end - SECONDS))
    [ "$left" -gt 0 ] || break
    log="$dir/fuzz-logs/$t.$runs.log"
    status=0
    nice "$bin" -max_total_time="$left" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$dir/fuzz-artifacts/$t-" "$work" $seeds >"$log" 2>&1 || status=$?
    n=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || true)
    if [ -z "$n" ]; then
      n=$(grep -oE '^#[0-9]+' "$log" | tail -1 | tr -d '#' || true)
    fi
    execs=$((execs + ${n:-0}))
    runs=$((runs + 1))
    if [ "$status" -ne 0 ]; then
      crashes=$((crashes + 1))
      echo "fuzz: $t failed (exit $status), log $log"
      if [ "$crashes" -le 3 ]; then
        grep -E 'ERROR|SUMMARY|fuzz: |Test unit written|deadly signal|Timeout|leak' "$log" | head -12 || true
      fi
      # A target that cannot even start would loop: give up on it after a few tries.
      [ "$runs" -lt 20 ] || break
    fi
  done
  summary+=("$(printf '%-22s %12s executions %4s crashes' "$t" "$execs" "$crashes")")
  [ "$crashes" -eq 0 ] || failed=1
done

echo "fuzz: ${seconds} s per target"
printf '%s\n' "${summary[@]}"
exit "$failed"
