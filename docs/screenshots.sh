#!/usr/bin/env bash
# Takes docs/processing.png and docs/completion.png: Orlenta.exe under Wine
# in a 640x360 Wine desktop on a private Xvfb display, with a Japanese font
# for the dialog fonts. Uses a Wine prefix of its own beside the program's
# bin folder (screenshots-wineprefix), so the test prefix keeps its fonts.
#   docs/screenshots.sh [path/to/Orlenta.exe]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exe=$(realpath "${1:-$root/build/windows/bin/Orlenta.exe}")
[ -f "$exe" ] || { echo "not built: $exe" >&2; exit 1; }

export WINEPREFIX=$(dirname "$(dirname "$exe")")/screenshots-wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$WINEPREFIX")"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
  for font in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "System" "MS Sans Serif" "MS UI Gothic"; do
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$font" /t REG_SZ /d IPAGothic /f >/dev/null 2>&1
  done
  wineserver -k || true
  wineserver -w
fi

display=
for n in $(seq 120 160); do
  if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then display=:$n; break; fi
done
[ -n "$display" ] || { echo "no free X display number" >&2; exit 1; }
work=$(mktemp -d)
xvfb_pid=
server_pid=
cleanup() {
  [ -z "$server_pid" ] || { wineserver -k 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; }
  [ -z "$xvfb_pid" ] || { kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT
trap "exit 1" INT TERM
Xvfb "$display" -screen 0 640x360x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
export DISPLAY=$display
wineserver -f -p >/dev/null 2>&1 &
server_pid=$!

# Enough rows that the processing window stays up for a while.
mkdir -p "$work/images"
convert -size 32x32 xc:'#3080c0' "$work/images/front.jpg"
cp "$work/images/front.jpg" "$work/images/back.jpg"
win_images=$(winepath -w "$work/images")
python3 - "$work/list.csv" "$win_images" <<'PY'
import sys
csv, images = sys.argv[1], sys.argv[2]
rows = ["ID,画像（表）,画像（裏）"]
rows += ["%d,%s\\front.jpg,%s\\back.jpg" % (i, images, images) for i in range(1, 20001)]
rows += ["20001,%s\\missing.jpg," % images]
with open(csv, "wb") as f:
    f.write(b"\xef\xbb\xbf" + "".join(r + "\r\n" for r in rows).encode("utf-8"))
PY

(cd "$work" && wine explorer /desktop=shot,640x360 "$exe" "$(winepath -w "$work/list.csv")" >/dev/null 2>&1) &
run_pid=$!
sleep 3
import -window root "$root/docs/processing.png"
# The job is done when the CSV has been rewritten: every field quoted.
for _ in $(seq 1 600); do
  [ "$(head -c 4 "$work/list.csv" | tail -c 1)" = '"' ] && break
  sleep 0.2
done
sleep 2
import -window root "$root/docs/completion.png"
xdotool key Return >/dev/null 2>&1 || true
for _ in $(seq 1 50); do kill -0 "$run_pid" 2>/dev/null || break; sleep 0.2; done
echo "wrote docs/processing.png and docs/completion.png"
