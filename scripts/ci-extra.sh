#!/usr/bin/env bash
# CI extra: every fuzz target for about 30 seconds. A crash, leak or hang fails it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/fuzz.sh "${KV_FUZZ_SECONDS:-30}"

# Hardening: one more stress round, with six peer stations (ctest runs four).
bash scripts/stress.sh 1 6 500
