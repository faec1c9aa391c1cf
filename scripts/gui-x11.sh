#!/usr/bin/env bash
# Runs the desktop program's tests on a real X server (Xvfb, Qt's xcb platform) instead
# of the offscreen platform the test command uses, then starts the program itself for a
# few seconds to see that it comes up and stays up. Installs Xvfb when it is missing
# (as root). The build directory is $KV_BUILD_DIR, else build.
# Known: Xvfb runs no window manager, and about one run in twenty-five the list window of
# CompanyDialogsTest does not become active again in time after a nested dialog closed
# (QTest::qWaitForWindowActive gives up), and that test fails with it.
# Usage: scripts/gui-x11.sh [runs]     (default: 3 runs of the tests)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-3}
dir=${KV_BUILD_DIR:-$root/build}
cd "$root"
if ! command -v xvfb-run >/dev/null; then
  [ "$(id -u)" = 0 ] || { echo "gui-x11.sh: xvfb-run is missing (apt-get install xvfb xauth)" >&2; exit 2; }
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends xvfb xauth >/dev/null ||
    { apt-get update -q >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends xvfb xauth >/dev/null; }
fi
if [ ! -f "$dir/build.ninja" ] || ! grep -q '^KV_GUI:BOOL=ON' "$dir/CMakeCache.txt" 2>/dev/null; then
  cmake -S . -B "$dir" -G Ninja -DKV_GUI=ON >/dev/null
fi
cmake --build "$dir" --target test_gui kvfix207 | tail -1
x11() { xvfb-run -a -s "-screen 0 1280x1024x24" env QT_QPA_PLATFORM=xcb "$@"; }

failed=0
for ((i = 1; i <= runs; i++)); do
  if out=$(x11 "$dir/tests/test_gui" 2>&1); then
    echo "run $i: $(echo "$out" | grep -E '^\[  PASSED  \]' | tail -1)"
  else
    failed=$((failed + 1))
    echo "run $i failed:"
    echo "$out" | grep -E 'Failure|Expected|Which is|FAILED|\.cpp:[0-9]+' | head -20  || true
  fi
done

# The program itself: it must still be running when it is stopped after 8 seconds.
work=$(mktemp -d)
set +e
(cd "$work" && timeout 8 xvfb-run -a -s "-screen 0 1280x1024x24" env QT_QPA_PLATFORM=xcb "$dir/src/kvfix207" >"$work/out.txt" 2>&1)
rc=$?
set -e
if [ "$rc" = 124 ]; then
  echo "kvfix207 came up on the X server and was still running after 8 s"
else
  echo "kvfix207 ended with $rc on the X server:"; cat "$work/out.txt"; failed=$((failed + 1))
fi
rm -rf "$work"

# The stop by keys under a window manager (openbox, when installed): a demo company is
# chosen by Enter, Y to the first question, Enter on "Fix..." and on the second question,
# Esc on the main window while it walks, and the result closed by Enter. Another station
# holds the first damaged record, so the run waits there (its 30 s held-record wait)
# however fast the machine is. The program must end with
# status 1 and its result must say it stopped, with damage left for the next run.
if command -v openbox >/dev/null && command -v xdotool >/dev/null; then
  cmake --build "$dir" --target kvfix207-cli kv_station | tail -1
  flow=$(mktemp -d)
  mkdir -p "$flow/start" "$flow/appdata" "$flow/temp"
  "$dir/src/kvfix207-cli" make-demo --records 4000 "$flow/company" >/dev/null
  first=$( ("$dir/src/kvfix207-cli" scan "$flow/company" 2>/dev/null || true) | head -1)
  "$dir/tests/kv_station" --hold "$flow/company/$(cut -f1 <<<"$first")" "$(cut -f2 <<<"$first")" \
    "$flow/held" "$flow/let-go" &
  holder=$!
  for _ in $(seq 1 100); do [ -f "$flow/held" ] && break; sleep 0.1; done
  printf 'Demo;%s\r\n' "$flow/company" >"$flow/start/USERDRV.INI"
  cat >"$flow/keys.sh" <<KEYS
#!/usr/bin/env bash
openbox >/dev/null 2>&1 &
sleep 1
cd "$flow/start"
APPDATA="$flow/appdata" TEMP="$flow/temp" QT_QPA_PLATFORM=xcb "$dir/src/kvfix207" >"$flow/out.txt" 2>&1 &
pid=\$!
# A window can show and go again between the search and the key (a dialog being placed):
# try again until the key reached a visible window of that name.
press() {
  for _ in \$(seq 1 100); do
    w=\$(xdotool search --onlyvisible --name "\$1" 2>/dev/null | tail -1)
    if [ -n "\$w" ] && xdotool windowactivate --sync "\$w" key --clearmodifiers "\$2" 2>/dev/null; then return 0; fi
    sleep 0.2
  done
  echo "no window \$1" >&2
}
press '^Select Directory\$' Return
press '^Caution!\$' y
press "^$flow/company\$" Return
press '^Confirm\$' Return
sleep 0.1
press "^$flow/company\$" Escape
press '^Warning\$' Return
wait \$pid
echo \$? >"$flow/rc"
KEYS
  chmod +x "$flow/keys.sh"
  timeout 120 xvfb-run -a -s "-screen 0 1280x1024x24" "$flow/keys.sh" || true
  touch "$flow/let-go"
  wait "$holder" || true
  rc=$(cat "$flow/rc" 2>/dev/null || echo none)
  left=$( ("$dir/src/kvfix207-cli" scan "$flow/company" 2>/dev/null || true) | wc -l)
  if [ "$rc" = 1 ] && [ "$left" -gt 0 ]; then
    echo "kvfix207 stopped by Esc under openbox: exit 1, $left unsound fields left for the next run"
  else
    echo "kvfix207 stop by keys under openbox: exit $rc, $left unsound fields left:"; cat "$flow/out.txt"
    failed=$((failed + 1))
  fi
  rm -rf "$flow"
fi
[ "$failed" = 0 ]
