#!/usr/bin/env bash
# Builds the Windows programs (the core, kvfix207.exe, kvfix207-cli.exe and the core tests)
# with mingw-w64 into build-windows/. Installs the Debian packages it needs when they
# are missing, as scripts/setup.sh does.
#   bash scripts/build-windows.sh [extra cmake arguments]
#   KV_WINDOWS_TARGETS="kvfix207 kvfix207-cli" bash scripts/build-windows.sh   (those only)
set -euo pipefail
cd "$(dirname "$0")/.."
pkgs=(cmake ninja-build g++-mingw-w64-x86-64-posix wine wine64 googletest nlohmann-json3-dev ccache)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "build-windows: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
build=build-windows
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DKV_WERROR=ON "$@"
# KV_WINDOWS_TARGETS names the targets to build (the packaging builds only the programs).
cmake --build "$build" -j"${KV_JOBS:-2}" ${KV_WINDOWS_TARGETS:+--target $KV_WINDOWS_TARGETS}
echo "build-windows: $build/src/kvfix207.exe and $build/src/kvfix207-cli.exe (static, no DLLs needed)"
