#!/usr/bin/env bash
# Drives the Windows desktop program kvfix207.exe under Wine on a private X server
# (Xvfb with openbox) by keys, as a person would, on a demo company: the company is
# chosen by Enter, "y" answers the technical-support question, Enter on "Fix..." and on
# the question that follows, and Enter closes the result. Then the company's files are checked: a scan
# finds no unsound field left, and the repair report exists. The company list's menu
# (Shift+F10, U) then undoes the repair: the walked files are back byte for byte, and
# the menu's undo is off once nothing is left to undo; its check (Shift+F10, K) lists
# a side file cut short and writes nothing. The list's "open the last report"
# (Shift+F10, O) opens the undo's report in Notepad (the last step). A second run,
# waiting for a record another station holds, is stopped by Esc (exit status 1, damage left). Any step
# that fails stops the script with a message and a picture of the screen.
#   bash scripts/test-windows-desktop.sh      (builds kvfix207.exe first when needed)
# Needs: wine, Xvfb, openbox, xdotool, python3, fonts-thai-tlwg. Tahoma is mapped to a
# TLWG font in the test's Wine prefix (see scripts/wine-desktop.sh).
set -euo pipefail
source "$(dirname "$0")/wine-desktop.sh"
cd "$root"
if [ ! -f "$build/build.ninja" ]; then
  bash scripts/build-windows.sh >/dev/null
fi
cmake --build "$build" --target kvfix207 kvfix207-cli -j"${KV_JOBS:-2}" | tail -1
exe=$(winepath -w "$build/src/kvfix207.exe")

# A scan of the company by the Linux command line when it is built, else by the Windows one.
cli() {
  if [ -x "$root/build/src/kvfix207-cli" ]; then
    "$root/build/src/kvfix207-cli" "$@"
  else
    local args=() a
    for a in "$@"; do [ -e "$a" ] && a=$(winepath -w "$a"); args+=("$a"); done
    wine "$build/src/kvfix207-cli.exe" "${args[@]}"
  fi
}

fail() {
  echo "test-windows-desktop: FAILED: $*" >&2
  python3 "$root/scripts/xwd-crop.py" crop "$work/fb/Xvfb_screen0" "0 0 1280 1024" "$root/out/windows-desktop-failure.png" 2>/dev/null &&
    echo "test-windows-desktop: the screen is in out/windows-desktop-failure.png" >&2
  [ -s "$work/wine.out" ] && sed 's/^/  wine: /' "$work/wine.out" | tail -20 >&2
  echo "test-windows-desktop: windows on the screen:" >&2
  xdotool search --onlyvisible --name '.' 2>/dev/null | while read -r w; do echo "  $(xdotool getwindowname "$w")" >&2; done
  kill -0 "${run_pid:-0}" 2>/dev/null && echo "test-windows-desktop: kvfix207.exe still runs" >&2
  exit 1
}
mkdir -p "$root/out"

company="$work/DEMOCO"
start="$work/start"
mkdir -p "$start" "$work/appdata" "$work/temp"
cli make-demo --records "${KV_DEMO_RECORDS:-2000}" "$company" >/dev/null 2>&1 || fail "no demo company"
before=$( (cli scan "$company" 2>/dev/null || true) | wc -l)
[ "$before" -gt 0 ] || fail "the demo company has no damaged amounts to repair"
printf 'Demo;%s\r\n' "$(winepath -w "$company")" >"$start/USERDRV.INI"
# The walked data and index files as made, for the undo.
mkdir -p "$work/before"
cp "$company"/*FILE*.DAT "$company"/*FILE*.IX "$work/before/"

t0=$(date +%s)
APPDATA=$(winepath -w "$work/appdata") TEMP=$(winepath -w "$work/temp") wine_run "$start" "$exe"
answer '^Select Directory$' Return '^Caution!$' || fail "the company list did not take Enter"
answer '^Caution!$' y 'DEMOCO$' || fail "the technical-support question did not take Y"
answer 'DEMOCO$' Return '^Confirm$' || fail "Enter on Fix... did not ask"
answer '^Confirm$' Return || fail "the question for Fix... did not take Enter"
result=$(wait_window '^(Information|Warning)$' 120) || fail "no result of the run"
capture '^(Information|Warning)$' "$root/out/windows-desktop-result.png" || true
answer '^(Information|Warning)$' Return || fail "the result did not take Enter"
for _ in $(seq 1 100); do kill -0 "$run_pid" 2>/dev/null || break; sleep 0.2; done
kill -0 "$run_pid" 2>/dev/null && fail "kvfix207.exe is still running after the result"
rc=0
wait "$run_pid" || rc=$?
t1=$(date +%s)
[ "$rc" = 0 ] || fail "kvfix207.exe ended with $rc"
: "$result"

after=$( (cli scan "$company" 2>/dev/null || true) | wc -l)
[ "$after" = 0 ] || fail "$after unsound fields left after the repair"
ls "$company"/KVFIX207-*.LOG >/dev/null 2>&1 || fail "no repair report in the company directory"
echo "test-windows-desktop: kvfix207.exe repaired $before unsound fields by keys under Wine in $((t1 - t0)) s; a scan finds none left; report $(basename "$(ls "$company"/KVFIX207-*.LOG | head -1)")"

# menu_key LETTER WHAT: Shift+F10 on the company list, then the menu's LETTER.
menu_key() {
  press '^Select Directory$' shift+F10 || fail "$2: the company list did not take Shift+F10"
  sleep 0.5
  xdotool key "$1"
}

# The undo from the company list by keys: Shift+F10, U, Enter on the question (which
# names the repair's date and fields), Enter on the outcome, Esc on the list that shows
# again.
t0=$(date +%s)
APPDATA=$(winepath -w "$work/appdata") TEMP=$(winepath -w "$work/temp") wine_run "$start" "$exe"
menu_key u undo
wait_window '^Confirm$' 20 >/dev/null || fail "undo: U in the list's menu did not ask"
capture '^Confirm$' "$root/out/windows-desktop-undo-question.png" || true
answer '^Confirm$' Return '^(Information|Warning)$' || fail "undo: the question did not take Enter"
capture '^(Information|Warning)$' "$root/out/windows-desktop-undo-outcome.png" || true
answer '^(Information|Warning)$' Return '^Select Directory$' || fail "undo: no company list after the outcome"
# Nothing is left to undo: U in the menu does nothing, Esc closes the menu and the list.
menu_key u "undo again"
sleep 1
xdotool search --onlyvisible --name '^Confirm$' >/dev/null 2>&1 && fail "undo: the menu offered an undo with nothing left to undo"
# Esc closes the menu (if the U left it open) and then the list.
for _ in 1 2 3; do
  xdotool search --onlyvisible --name '^Select Directory$' >/dev/null 2>&1 || break
  xdotool key Escape
  sleep 1
done
window_gone '^Select Directory$' 10 || fail "undo: the list did not take Esc"
for _ in $(seq 1 100); do kill -0 "$run_pid" 2>/dev/null || break; sleep 0.2; done
rc=0
wait "$run_pid" || rc=$?
t1=$(date +%s)
[ "$rc" = 0 ] || fail "undo: kvfix207.exe ended with $rc"
for f in "$work/before"/*; do
  cmp -s "$f" "$company/$(basename "$f")" || fail "undo: $(basename "$f") differs from before the repair"
done
ls "$company"/KVFIX207-UNDO-*.LOG >/dev/null 2>&1 || fail "undo: no undo report"
echo "test-windows-desktop: the undo from the company list by keys gave $(ls "$work/before" | wc -l) walked files back byte for byte in $((t1 - t0)) s; the menu's undo is off afterwards"

# The check from the company list by keys: Shift+F10, K on the company with a side file
# cut to a partial record; the findings window lists it, Esc closes it and the list
# shows again; Esc ends the program. No file of the directory changed or appeared.
cp "$company/GLTBUF.DAT" "$work/GLTBUF.DAT.kept"
head -c 221 /dev/zero >"$company/GLTBUF.DAT"
rm -rf "$work/before-check" && cp -a "$company" "$work/before-check"
APPDATA=$(winepath -w "$work/appdata") TEMP=$(winepath -w "$work/temp") wine_run "$start" "$exe"
menu_key k check
wait_window 'ตรวจสอบโครงสร้างแฟ้ม' 60 >/dev/null || fail "check: K in the list's menu showed no findings window"
capture 'ตรวจสอบโครงสร้างแฟ้ม' "$root/out/windows-desktop-check.png" || true
answer 'ตรวจสอบโครงสร้างแฟ้ม' Escape '^Select Directory$' || fail "check: no company list after Esc on the findings"
answer '^Select Directory$' Escape || fail "check: the list did not take Esc"
for _ in $(seq 1 100); do kill -0 "$run_pid" 2>/dev/null || break; sleep 0.2; done
rc=0
wait "$run_pid" || rc=$?
[ "$rc" = 0 ] || fail "check: kvfix207.exe ended with $rc"
diff -r "$work/before-check" "$company" >/dev/null || fail "check: the check changed the company directory"
cp "$work/GLTBUF.DAT.kept" "$company/GLTBUF.DAT"
echo "test-windows-desktop: the check from the company list by keys showed its findings and changed no file"

# The stop: Esc on the main window mid-run. Another station holds the lock of the first
# damaged record, so the run waits there (up to its 30 s held-record wait) however fast
# the machine is; Esc ends it. The program ends with status 1 after a result that says it
# stopped, and what it did not reach is left for the next run, its files consistent (the
# scan reads them all).
big="$work/BIGCO"
cli make-demo --records "${KV_DEMO_STOP_RECORDS:-4000}" "$big" >/dev/null 2>&1 || fail "no demo company for the stop"
first=$( (cli scan "$big" 2>/dev/null || true) | head -1)
held_file=$(cut -f1 <<<"$first")
held_record=$(cut -f2 <<<"$first")
[ -n "$held_record" ] || fail "stop: no damaged record to hold"
rm -f "$work/held" "$work/let-go"
if [ -x "$root/build/tests/kv_station" ]; then
  "$root/build/tests/kv_station" --hold "$big/$held_file" "$held_record" "$work/held" "$work/let-go" &
else
  cmake --build "$build" --target kv_station -j"${KV_JOBS:-2}" >/dev/null
  wine "$build/tests/kv_station.exe" --hold "$(winepath -w "$big/$held_file")" "$held_record" \
    "$(winepath -w "$work/held")" "$(winepath -w "$work/let-go")" &
fi
holder=$!
let_go() { touch "$work/let-go"; wait "$holder" 2>/dev/null || true; }
for _ in $(seq 1 150); do [ -f "$work/held" ] && break; sleep 0.2; done
[ -f "$work/held" ] || { let_go; fail "stop: the other station did not take the record"; }
printf 'Big;%s\r\n' "$(winepath -w "$big")" >"$start/USERDRV.INI"
rm -f "$work/appdata"/*/KORVA.CFG 2>/dev/null || true
APPDATA=$(winepath -w "$work/appdata") TEMP=$(winepath -w "$work/temp") wine_run "$start" "$exe"
stop_fail() { let_go; fail "$@"; }
answer '^Select Directory$' Return '^Caution!$' || stop_fail "stop: the company list did not take Enter"
answer '^Caution!$' y 'BIGCO$' || stop_fail "stop: the technical-support question did not take Y"
answer 'BIGCO$' Return '^Confirm$' || stop_fail "stop: Enter on Fix... did not ask"
answer '^Confirm$' Return || stop_fail "stop: the question for Fix... did not take Enter"
press 'BIGCO$' Escape || stop_fail "stop: no main window for Esc"
wait_window '^(Information|Warning)$' 60 >/dev/null || stop_fail "stop: no result after Esc"
let_go
capture '^(Information|Warning)$' "$root/out/windows-desktop-stopped.png" || true
answer '^(Information|Warning)$' Return || fail "stop: the result did not take Enter"
for _ in $(seq 1 100); do kill -0 "$run_pid" 2>/dev/null || break; sleep 0.2; done
rc=0
wait "$run_pid" || rc=$?
[ "$rc" = 1 ] || fail "stop: kvfix207.exe ended with $rc, not 1"
left=$( (cli scan "$big" 2>/dev/null || true) | wc -l)
[ "$left" -gt 0 ] || fail "stop: nothing left for the next run"
echo "test-windows-desktop: Esc stopped a run waiting for $held_file record $held_record (held by another station): exit 1, $left unsound fields left for the next run"

# "เปิดรายงานล่าสุด... (O)" from the company list's menu opens the company's newest report
# (the undo's) in the viewer, Notepad under Wine. Last, as the viewer keeps the focus;
# the prefix's processes end with the script.
printf 'Demo;%s\r\n' "$(winepath -w "$company")" >"$start/USERDRV.INI"
APPDATA=$(winepath -w "$work/appdata") TEMP=$(winepath -w "$work/temp") wine_run "$start" "$exe"
menu_key o "open report"
wait_window 'KVFIX207-UNDO-.*LOG' 30 >/dev/null || fail "open report: O in the list's menu opened no viewer on the newest report"
echo "test-windows-desktop: the list's menu opened the newest report ($(basename "$(ls -t "$company"/KVFIX207-UNDO-*.LOG | head -1)")) in Notepad"
