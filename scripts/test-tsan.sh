#!/usr/bin/env bash
# The threaded paths under the thread sanitizer: the scan's reader thread, the walk's
# judging of read-ahead runs on a second thread and the background job that carries it,
# and whole repair runs that use them. Any data race fails the run.
#   bash scripts/test-tsan.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
dir=${1:-build-tsan}
cmake -S . -B "$dir" -G Ninja -DKV_WERROR=ON -DKV_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKV_GUI=OFF -DKV_BENCH=OFF -DKV_FUZZ=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)" --target test_modules test_app kvfix207-cli
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
# The sanitizer needs the address layout it expects; some kernels randomise more than it
# allows, so the programs run without address randomisation where setarch can do that.
run() {
  if setarch "$(uname -m)" -R true 2>/dev/null; then setarch "$(uname -m)" -R "$@"; else "$@"; fi
}
run "$dir/tests/test_modules" --gtest_brief=1 \
  --gtest_filter='BackgroundJob*:JudgeRun*:ReadAhead*:WalkBatch*:Walk*:Modules*'
run "$dir/tests/test_app" --gtest_brief=1 --gtest_filter='Scan*:Run*'
echo "test-tsan: no data race in the scan, the walk's judging or whole runs"
