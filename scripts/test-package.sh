#!/usr/bin/env bash
# The release as a newcomer gets it. Makes it (scripts/package.sh, reusing build/ and
# build-windows/), then:
#   - the checksums hold;
#   - the .deb is installed with dpkg -i, and from /usr/bin: --version of both programs,
#     man -w for both pages, make-demo, scan, repair, scan, undo, scan on a company under
#     a Thai path with spaces; the package is removed again at the end;
#   - the zip is unpacked into a fresh directory: the four files, the guides in UTF-8
#     with a byte-order mark and CR LF; under Wine in a fresh prefix, from that
#     directory: --version of both .exe files, make-demo, scan, repair, scan;
#   - the version is the same everywhere: both programs on both systems, the Windows
#     version resources, the first line of the reports, the package and zip names.
# Root is needed for dpkg -i (as in CI); elsewhere sudo is used.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
start=$SECONDS
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

bash scripts/setup.sh unzip man-db
bash scripts/package.sh
echo "test-package: package.sh took $((SECONDS - start)) s"
checks=$SECONDS

version_line=$(build/src/kvfix207-cli --version)  # "kvfix207-cli 1.0.0 (6f3b8ce)"
version_text=${version_line#kvfix207-cli }           # "1.0.0 (6f3b8ce)"
version=${version_text%% *}                          # "1.0.0"
zip="dist/kvfix207-$version-windows-x64.zip"
deb="dist/kvfix207_${version}_amd64.deb"
failed=()
fail() { echo "test-package: FAILED: $*"; failed+=("$1"); }
expect_status() {  # expected-status what command...
  local want=$1 what=$2 rc=0
  shift 2
  "$@" >"$work/out.txt" 2>&1 || rc=$?
  [ "$rc" = "$want" ] || { fail "$what" "(exit $rc, not $want)"; sed 's/^/    /' "$work/out.txt" | tail -15; }
}

work=$(mktemp -d /tmp/kvfix207-release.XXXXXX)
installed=0
cleanup() {
  [ "$installed" = 1 ] && $SUDO dpkg -r kvfix207 >/dev/null 2>&1
  [ -n "${WINEPREFIX:-}" ] && wineserver -k </dev/null >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

(cd dist && sha256sum --quiet -c SHA256SUMS) || fail sha256sums
[ "$(wc -l <dist/SHA256SUMS)" = 2 ] || fail "sha256sums-lines"

# --- The Debian package, installed and used as a Linux file server's administrator would.
if dpkg-query -W -f='${Status}' kvfix207 2>/dev/null | grep -q "install ok installed"; then
  echo "test-package: kvfix207 is installed already; it is replaced and removed at the end"
fi
if $SUDO dpkg -i "$deb" >"$work/dpkg.txt" 2>&1; then
  installed=1
else
  fail dpkg-i; cat "$work/dpkg.txt"
fi
if [ "$installed" = 1 ]; then
  [ "$(/usr/bin/kvfix207-cli --version)" = "$version_line" ] || fail "deb-cli-version"
  [ "$(/usr/bin/kvfix207 --version)" = "kvfix207 $version_text" ] || fail "deb-desktop-version"
  [ "$(man -w kvfix207-cli)" = /usr/share/man/man1/kvfix207-cli.1.gz ] || fail "man-w-kvfix207-cli"
  man -w kvfix207 >/dev/null || fail "man-w-kvfix207"
  [ -f /usr/share/applications/kvfix207.desktop ] && [ -f /usr/share/icons/hicolor/256x256/apps/kvfix207.png ] ||
    fail "desktop-entry"
  mkdir -p "$work/start"
  company="$work/บริษัท ทดสอบ/CO 1"
  cd "$work/start"
  expect_status 0 deb-make-demo /usr/bin/kvfix207-cli make-demo "$company"
  expect_status 3 deb-scan-finds /usr/bin/kvfix207-cli scan "$company"
  expect_status 0 deb-repair /usr/bin/kvfix207-cli repair --yes "$company"
  expect_status 0 deb-scan-clean /usr/bin/kvfix207-cli scan "$company"
  report=$(ls "$company"/KVFIX207-2*.LOG || true)
  head -1 "$report" | grep -qF " version $version_text " || fail "deb-report-version" "$(head -1 "$report")"
  expect_status 0 deb-undo /usr/bin/kvfix207-cli undo --yes "$report"
  expect_status 3 deb-scan-after-undo /usr/bin/kvfix207-cli scan "$company"
  head -1 "$company"/KVFIX207-UNDO-*.LOG | grep -qF " version $version_text " || fail "deb-undo-report-version"
  cd "$root"
  $SUDO dpkg -r kvfix207 >/dev/null && installed=0
  [ ! -e /usr/bin/kvfix207-cli ] || fail "dpkg-r"
fi

# --- The zip, unpacked as a support person would, and run under Wine in a new prefix.
mkdir "$work/zip"
(cd "$work/zip" && unzip -q "$root/$zip") || fail unzip
listing=$(cd "$work/zip" && find . -type f | sort | tr '\n' ' ')
[ "$listing" = "./README.txt ./kvfix207-cli.exe ./kvfix207.exe ./อ่านก่อน.txt " ] || fail "zip-contents" "$listing"
for pair in "อ่านก่อน.txt:guide-th.txt" "README.txt:guide-en.txt"; do
  guide=${pair%%:*}
  [ "$(head -c3 "$work/zip/$guide" | od -An -tx1 | tr -d ' ')" = efbbbf ] || fail "bom:$guide"
  [ "$(grep -c $'\r$' "$work/zip/$guide")" = "$(wc -l <"$work/zip/$guide")" ] || fail "crlf:$guide"
  # The text of docs/, which CliTest holds to --help.
  tail -c +4 "$work/zip/$guide" | tr -d '\r' | cmp -s - "docs/${pair#*:}" || fail "text:$guide"
done
# The version resources of both .exe files name the same version.
python3 - "$work/zip" "$version_text" <<'EOF' || fail "exe-version-resource"
import sys
folder, want = sys.argv[1], sys.argv[2]
ok = True
for exe in ("kvfix207.exe", "kvfix207-cli.exe"):
    data = open(f"{folder}/{exe}", "rb").read()
    for key in ("FileVersion", "ProductVersion"):
        at = data.find((key + "\0").encode("utf-16-le"))
        if at < 0:
            print(f"{exe}: no {key}"); ok = False; continue
        at += len(key) * 2 + 2
        at += (-at) % 4  # the value starts on a 32-bit boundary
        end = at
        while data[end:end + 2] != b"\0\0": end += 2
        value = data[at:end].decode("utf-16-le")
        if value != want:
            print(f"{exe}: {key} is {value!r}, not {want!r}"); ok = False
sys.exit(0 if ok else 1)
EOF

export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
wine_start=$SECONDS
wineboot --init </dev/null >/dev/null 2>&1 || true
wineserver -w || true
echo "test-package: the fresh Wine prefix took $((SECONDS - wine_start)) s"
wineserver -p 30 </dev/null >/dev/null 2>&1 || true
cd "$work/zip"
[ "$(wine ./kvfix207-cli.exe --version | tr -d '\r')" = "$version_line" ] || fail "exe-cli-version"
[ "$(wine ./kvfix207.exe --version | tr -d '\r')" = "kvfix207 $version_text" ] || fail "exe-desktop-version"
wcompany="Z:$(echo "$work/ข้อมูล บริษัท/CO 1" | tr / '\\')"
expect_status 0 exe-make-demo wine ./kvfix207-cli.exe make-demo "$wcompany"
expect_status 3 exe-scan-finds wine ./kvfix207-cli.exe scan "$wcompany"
expect_status 0 exe-repair wine ./kvfix207-cli.exe repair --yes "$wcompany"
expect_status 0 exe-scan-clean wine ./kvfix207-cli.exe scan "$wcompany"
head -1 "$work/ข้อมูล บริษัท/CO 1"/KVFIX207-2*.LOG | grep -qF " version $version_text " || fail "exe-report-version"
cd "$root"

echo "test-package: the checks took $((SECONDS - checks)) s, $((SECONDS - start)) s in all"
if [ ${#failed[@]} -gt 0 ]; then
  echo "test-package: failed: ${failed[*]}"
  exit 1
fi
echo "test-package: $version_line: the package and the zip work as a newcomer gets them"
