#!/usr/bin/env bash
# Installs the Debian packages the build needs, when they are missing, and those named
# as arguments (a script's own tools: bash scripts/setup.sh lintian).
set -euo pipefail
pkgs=(cmake g++ ninja-build googletest libgtest-dev libgmock-dev libbenchmark-dev
      qt6-base-dev nlohmann-json3-dev fonts-thai-tlwg clang libclang-rt-14-dev ccache locales "$@")
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
# A comma-decimal locale, so the test that number texts never follow the locale also
# runs under a real one (it falls back to a custom facet without it). Cheap: one locale.
if command -v localedef >/dev/null && ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO localedef -i de_DE -f UTF-8 de_DE.UTF-8 || echo "setup: de_DE.UTF-8 not generated (the test skips that part)"
fi
