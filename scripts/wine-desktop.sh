# Sourced by the Windows desktop scripts: a private X server (Xvfb, 1280 × 1024, with
# openbox as the window manager), a private Wine prefix, and helpers to drive and capture
# windows by their titles. Under Wine the Thai text needs a font with Thai letters for
# "Tahoma": the prefix maps Tahoma to a TLWG font through the registry key
# HKCU\Software\Wine\Fonts\Replacements (Wine finds the TLWG fonts through fontconfig).
# Waree first: it has Tahoma's proportions, and its tone marks stand above an upper vowel
# where Wine places the marks without the font's positioning tables (Loma's then overlap).
#   KV_WINDOWS_BUILD_DIR  the Windows build directory (default build-windows)
# Defines: root, build, work, wine_run, press, wait_window, window_gone, capture, desktop_stop.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KV_WINDOWS_BUILD_DIR:-$root/build-windows}
work=$(mktemp -d)
export WINEPREFIX=${KV_WINE_PREFIX:-$build/wineprefix-desktop}
export WINEDEBUG=-all
# No installers for .NET or the HTML engine: the program needs neither.
export WINEDLLOVERRIDES="mscoree=d;mshtml=d;winemenubuilder.exe=d"

# What the desktop tests need beyond the Windows build, installed when missing (as root,
# as scripts/setup.sh installs the build's packages).
pkgs=(wine wine64 xvfb xauth xdotool openbox python3 fonts-thai-tlwg)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] && [ "$(id -u)" = 0 ]; then
  echo "wine-desktop: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q >/dev/null
  apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
fi
for tool in wine Xvfb xdotool openbox python3; do
  command -v "$tool" >/dev/null || { echo "wine-desktop: $tool is missing" >&2; exit 2; }
done

desktop_stop() {
  [ -n "${xvfb_pid:-}" ] || return 0
  wineserver -k 2>/dev/null || true
  [ -n "${wm_pid:-}" ] && kill "$wm_pid" 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
  rm -rf "$work"
}
trap desktop_stop EXIT

# The X server writes its screen to $work/fb/Xvfb_screen0 (XWD), which capture() reads.
mkdir -p "$work/fb"
exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -screen 0 1280x1024x24 -fbdir "$work/fb" -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
read -r -t 20 display_number <&"$displayfd" || { echo "wine-desktop: Xvfb did not start" >&2; exit 2; }
export DISPLAY=":$display_number"
openbox >/dev/null 2>&1 &
wm_pid=$!

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine-desktop: creating the Wine prefix $WINEPREFIX (once)"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
fi
font=""
for candidate in Waree Garuda Loma; do
  if fc-list : family 2>/dev/null | grep -i "$candidate" >/dev/null; then font=$candidate; break; fi
done
[ -n "$font" ] || { echo "wine-desktop: no Thai TLWG font (apt-get install fonts-thai-tlwg)" >&2; exit 2; }
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Tahoma /t REG_SZ /d "$font" /f >/dev/null 2>&1

# wine_run DIR EXE...: starts a Windows program in DIR in the background; sets run_pid.
wine_run() {
  local dir=$1
  shift
  (cd "$dir" && exec wine "$@" >"$work/wine.out" 2>&1) &
  run_pid=$!
}

# wait_window TITLE-REGEX [SECONDS]: the id of a visible window of that title.
wait_window() {
  local i w
  for ((i = 0; i < ${2:-30} * 5; i++)); do
    w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -1)
    if [ -n "$w" ]; then echo "$w"; return 0; fi
    sleep 0.2
  done
  return 1
}

# window_gone TITLE-REGEX [SECONDS]
window_gone() {
  local i
  for ((i = 0; i < ${2:-30} * 5; i++)); do
    xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 || return 0
    sleep 0.2
  done
  return 1
}

# press TITLE-REGEX KEY...: activates the window of that title and types the keys.
press() {
  local title=$1 i w
  shift
  for ((i = 0; i < 150; i++)); do
    w=$(xdotool search --onlyvisible --name "$title" 2>/dev/null | tail -1)
    if [ -n "$w" ] && xdotool windowactivate --sync "$w" >/dev/null 2>&1; then
      # Wine takes a key only once it has handled the focus change; a key typed too early
      # is lost, and answer() gives it again.
      sleep 0.6
      xdotool key --clearmodifiers "$@" 2>/dev/null || true
      return 0
    fi
    sleep 0.2
  done
  echo "wine-desktop: no window '$title' for the keys $*" >&2
  return 1
}

# answer TITLE-REGEX KEY [NEXT-TITLE-REGEX]: presses KEY on the window until it goes away
# (or until a window of NEXT-TITLE-REGEX shows): a key that reached the window while it
# was still taking the focus is given again.
answer() {
  local title=$1 key=$2 next=${3:-} i
  # A slow answer is not a lost one: the key is given again only after 10 s.
  for ((i = 0; i < 3; i++)); do
    press "$title" "$key" || return 1
    if [ -n "$next" ]; then
      wait_window "$next" 10 >/dev/null && return 0
    else
      window_gone "$title" 10 && return 0
    fi
  done
  echo "wine-desktop: '$title' did not take $key" >&2
  return 1
}

# capture TITLE-REGEX FILE.png: the window of that title with its frame, as PNG.
capture() {
  local w geometry
  w=$(wait_window "$1" 20) || { echo "wine-desktop: no window '$1' to capture" >&2; return 1; }
  sleep 0.8
  # The frame openbox draws around the client window: its parent's geometry.
  geometry=$(python3 "$root/scripts/xwd-crop.py" frame "$w") || return 1
  python3 "$root/scripts/xwd-crop.py" crop "$work/fb/Xvfb_screen0" "$geometry" "$2"
}
