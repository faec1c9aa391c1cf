#!/usr/bin/env bash
# CI extra: every fuzz target for about 30 seconds. A crash, leak or hang fails it.
# Then one more stress round, and the permission tests as an unprivileged user.
set -euo pipefail
cd "$(dirname "$0")/.."

# The permission tests skip as root (root passes every permission check), and CI runs as
# root: run them once more as user nobody, from a copy of the test program it can reach.
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null && [ -x build/tests/test_platform ]; then
  t=$(mktemp -d)
  chmod 755 "$t"
  cp build/tests/test_platform "$t/"
  chmod 755 "$t/test_platform"
  out=$(cd "$t" && setpriv --reuid=65534 --regid=65534 --clear-groups \
          ./test_platform --gtest_filter='FileTest.PermissionDeniedIsFive:PlainFileTest.ReadOnlyFileIsNotReplaced' 2>&1) ||
    { echo "$out"; rm -rf "$t"; exit 1; }
  rm -rf "$t"
  echo "$out" | tail -3
  if ! echo "$out" | grep -q '\[  PASSED  \] 2 tests'; then
    echo "ci-extra: the permission tests did not both run and pass as an unprivileged user" >&2
    echo "$out" >&2
    exit 1
  fi
fi
bash scripts/fuzz.sh "${KV_FUZZ_SECONDS:-30}"

# Hardening: one more stress round, with six peer stations (ctest runs four).
bash scripts/stress.sh 1 6 500
