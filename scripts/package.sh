#!/usr/bin/env bash
# Makes a release into dist/:
#   kvfix207-<version>-windows-x64.zip   kvfix207.exe, kvfix207-cli.exe, อ่านก่อน.txt, README.txt
#   kvfix207_<version>_amd64.deb         /usr/bin/kvfix207, /usr/bin/kvfix207-cli, manual pages,
#                                        desktop entry and icon, the guides
#   SHA256SUMS                           of both
# and runs lintian on the package (its report: build/lintian.txt; an error fails).
#   bash scripts/package.sh
# Reuses the build trees build/ (Linux) and build-windows/ where they exist, as CI leaves
# them, and builds only the programs there; on a fresh clone it configures both first.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# The build's packages and the packaging's tools (dpkg-shlibdeps, lintian, the zip's writer).
bash scripts/setup.sh dpkg-dev lintian python3 file

# The Linux programs and the package's generated files (manual pages, changelog).
if [ ! -f build/build.ninja ]; then
  cmake -S . -B build -G Ninja -DKV_WERROR=ON
fi
cmake --build build -j"$(nproc)" --target kvfix207-cli kvfix207 kv_package_files
# The Windows programs only (the tests are CI's business).
KV_WINDOWS_TARGETS="kvfix207 kvfix207-cli" bash scripts/build-windows.sh

version_line=$(build/src/kvfix207-cli --version)  # "kvfix207-cli 1.0.0 (6f3b8ce)"
version=$(echo "$version_line" | awk '{print $2}')
case "$version_line" in
  *-dirty*) echo "package: warning: built from a work tree with uncommitted changes ($version_line)" >&2 ;;
esac

mkdir -p dist
rm -f dist/kvfix207-*-windows-x64.zip dist/kvfix207_*_amd64.deb dist/SHA256SUMS
zip_name="kvfix207-$version-windows-x64.zip"
deb_name="kvfix207_${version}_amd64.deb"

# The zip. The guides as Notepad shows them on any Windows: UTF-8 with a byte-order mark,
# lines ending in CR LF. Names are stored as UTF-8 and marked so (the Thai guide's name).
# The programs without their symbol tables (half the size; the release build has no
# debugging information to lose).
stage=build-windows/release
rm -rf "$stage" && mkdir -p "$stage"
for exe in kvfix207.exe kvfix207-cli.exe; do
  x86_64-w64-mingw32-strip --strip-unneeded -o "$stage/$exe" "build-windows/src/$exe"
done
python3 - "$root" "dist/$zip_name" "$stage" <<'EOF'
import sys, time, zipfile
root, out, stage = sys.argv[1], sys.argv[2], sys.argv[3]
def guide(name):
    text = open(f"{root}/docs/{name}", encoding="utf-8").read()
    return "\ufeff" + text.replace("\r\n", "\n").replace("\n", "\r\n")
stamp = time.localtime()[:6]
def entry(name):
    # A plain file (mode 644, the archive attribute). The Thai name is stored as UTF-8
    # and flagged so, which Windows' own unpacking and unzip both read; an entry marked as
    # made on Windows would have unzip take the name for the OEM code page instead.
    info = zipfile.ZipInfo(name, stamp)
    info.compress_type = zipfile.ZIP_DEFLATED
    info.external_attr = (0o100644 << 16) | 0x20
    return info
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
    for exe in ("kvfix207.exe", "kvfix207-cli.exe"):
        z.writestr(entry(exe), open(f"{root}/{stage}/{exe}", "rb").read())
    for name, source in (("อ่านก่อน.txt", "guide-th.txt"), ("README.txt", "guide-en.txt")):
        z.writestr(entry(name), guide(source).encode("utf-8"))
EOF

# The Debian package.
(cd build && cpack -G DEB -B "$root/build/cpack" >/dev/null)
cp "build/cpack/$deb_name" dist/
rm -rf build/cpack/_CPack_Packages

lintian_status=0
lintian --tag-display-limit 0 --info "dist/$deb_name" >build/lintian.raw 2>&1 || lintian_status=$?
grep -v "^running with root privileges" build/lintian.raw >build/lintian.txt || true
echo "package: lintian on $deb_name:"
if [ -s build/lintian.txt ]; then sed 's/^/  /' build/lintian.txt; else echo "  (nothing)"; fi
if grep -q '^E: ' build/lintian.txt; then
  echo "package: lintian reports errors" >&2
  exit 1
fi
[ "$lintian_status" -le 1 ] || { echo "package: lintian failed to run ($lintian_status)" >&2; exit 1; }

(cd dist && sha256sum "$zip_name" "$deb_name" >SHA256SUMS)
echo "package: $version_line"
ls -l dist/"$zip_name" dist/"$deb_name" dist/SHA256SUMS
