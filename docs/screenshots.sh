#!/usr/bin/env bash
# Takes docs/processing.png and docs/completion.png: Orlenta.exe under Wine
# in a 640x360 Wine desktop on a private Xvfb display, with a Japanese font
# for the dialog fonts. Uses a Wine prefix of its own beside the program's
# bin folder (screenshots-wineprefix), so the test prefix keeps its fonts.
# Then docs/reading.png and docs/saving.png: a real CSV is read and saved too
# fast to be caught, so these show the same host and window run by
# hung_window_check.exe (beside Orlenta.exe) on its slowed file system, in
# its 8-second read and its 8-second sync.
#   docs/screenshots.sh [path/to/Orlenta.exe]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exe=$(realpath "${1:-$root/build/windows/bin/Orlenta.exe}")
[ -f "$exe" ] || { echo "not built: $exe" >&2; exit 1; }

source "$root/scripts/common.sh"
work=$(mktemp -d)
trap 'orlenta_stop; rm -rf "$work"' EXIT
trap "exit 1" INT TERM

prefix=$(dirname "$(dirname "$exe")")/screenshots-wineprefix
if [ ! -f "$prefix/system.reg" ]; then
  orlenta_start_wine "$prefix"
  for font in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "System" "MS Sans Serif" "MS UI Gothic"; do
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$font" /t REG_SZ /d IPAGothic /f >/dev/null 2>&1
  done
  orlenta_stop  # the replacements take effect from the next start of the server
fi
orlenta_start_display 640x360
orlenta_start_wine "$prefix"
orlenta_warm_up "$exe"

# Enough rows that the processing window stays up for a while.
mkdir -p "$work/images"
convert -size 32x32 xc:'#3080c0' "$work/images/front.jpg"
cp "$work/images/front.jpg" "$work/images/back.jpg"
win_images=$(winepath -w "$work/images")
{
  printf '\xef\xbb\xbfID,画像（表）,画像（裏）\r\n'
  seq 1 20000 | D=$win_images awk '{ printf "%d,%s\\front.jpg,%s\\back.jpg\r\n", $1, ENVIRON["D"], ENVIRON["D"] }'
  printf '20001,%s\\missing.jpg,\r\n' "$win_images"
} >"$work/list.csv"

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

# The slowed run: its bar while the CSV is read (the job makes its folders
# just before), its marquee while the temporary file, complete by then, is
# synced.
mkdir "$work/slow"
{
  printf 'ID,画像（表）,画像（裏）\r\n'
  seq 1 4 | D=$win_images awk '{ printf "%d,%s\\front.jpg,\r\n", $1, ENVIRON["D"] }'
} >"$work/slow/list.csv"
(cd "$work" && wine explorer /desktop=shot,640x360 "$(dirname "$exe")/hung_window_check.exe" worker \
  "$(winepath -w "$work/slow/list.csv")" >/dev/null 2>&1) &
run_pid=$!
for _ in $(seq 1 300); do [ -d "$work/slow/Back" ] && break; sleep 0.1; done
sleep 2
import -window root "$root/docs/reading.png"
for _ in $(seq 1 300); do [ -e "$work/slow/list.csv.tmp" ] && break; sleep 0.1; done
sleep 2
import -window root "$root/docs/saving.png"
for _ in $(seq 1 100); do kill -0 "$run_pid" 2>/dev/null || break; sleep 0.2; done
echo "wrote docs/processing.png, docs/completion.png, docs/reading.png and docs/saving.png"
