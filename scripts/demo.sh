#!/usr/bin/env bash
# Builds the command-line program, makes a demo company with damaged money amounts in a
# scratch directory, lists them with the read-only scan, repairs them, and scans again.
# Usage: scripts/demo.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
dir=${1:-build}
cmake -S . -B "$dir" -G Ninja -DKV_WERROR=ON >/dev/null
cmake --build "$dir" --target kvfix207-cli -j"$(nproc)"
cli="$PWD/$dir/src/kvfix207-cli"

scratch=$(mktemp -d /tmp/kvfix207-demo.XXXXXX)
company="$scratch/company"
mkdir -p "$scratch/start"
cd "$scratch/start"   # the start directory: settings files would be looked up here
export APPDATA="$scratch/appdata" TEMP="$scratch/temp"
mkdir -p "$APPDATA" "$TEMP"

echo "== make-demo: $company"
"$cli" make-demo "$company"
echo "== scan (before)"
"$cli" scan "$company" || [ $? -eq 3 ]
echo "== repair --yes"
"$cli" repair --yes "$company"
echo "== scan (after)"
"$cli" scan "$company"
echo "== report"
cat "$company"/KVFIX207-*.LOG | head -20
echo "demo company left in $company"
