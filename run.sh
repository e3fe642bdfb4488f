#!/usr/bin/env bash
# Installs what is missing, builds the program and runs it.
#
#   ./run.sh                      the bundled example (examples/), in a scratch copy
#   ./run.sh list.csv             a CSV of yours (it is rewritten in place)
#   ./run.sh --windows [list.csv] the same with Orlenta.exe under Wine, on your display
#
# Image paths in a CSV that are relative are resolved against the current
# folder, as the program does on Windows: the example runs inside its copy.
set -euo pipefail
start_dir=$PWD
cd "$(dirname "$0")"
root=$PWD
source scripts/common.sh

usage() {
  echo "usage: ./run.sh [--windows] [CSV file]" >&2
  exit 2
}

windows=0
if [ "${1:-}" = "--windows" ]; then
  windows=1
  shift
fi
[ $# -le 1 ] || usage
case "${1:-}" in -*) usage ;; esac

if [ "$windows" -eq 1 ] && [ -z "${DISPLAY:-}" ]; then
  echo "run.sh --windows shows the program's windows and needs an X display, but DISPLAY is not set." >&2
  echo "Start it from a desktop session (or set DISPLAY), or run ./run.sh without --windows." >&2
  exit 2
fi

if [ $# -eq 1 ]; then
  case "$1" in
    /*) csv=$1 ;;
    *) csv=$start_dir/$1 ;;
  esac
  work_dir=$start_dir
else
  work_dir=$(mktemp -d "${TMPDIR:-/tmp}/orlenta-example.XXXXXX")
  cp -R examples/. "$work_dir/"
  csv=$work_dir/list.csv
  echo "== example copied to $work_dir"
fi

if [ "$windows" -eq 1 ]; then
  orlenta_install_packages windows
else
  orlenta_install_packages
fi

status=0
if [ "$windows" -eq 0 ]; then
  echo "== building (linux)"
  cmake --preset linux >/dev/null
  cmake --build --preset linux --target orlenta
  echo "== running orlenta $csv"
  (cd "$work_dir" && "$root/build/linux/bin/orlenta" "$csv") || status=$?
else
  echo "== building (windows)"
  cmake --preset windows >/dev/null
  cmake --build --preset windows --target orlenta
  trap orlenta_stop EXIT
  orlenta_start_wine "$root/build/windows/wineprefix"
  orlenta_wine_managed Y  # the tests turn it off for their display
  win_csv=$(winepath -w "$csv" 2>/dev/null)
  echo "== running Orlenta.exe $win_csv (close the message box to finish)"
  (cd "$work_dir" && wine "$root/build/windows/bin/Orlenta.exe" "$win_csv") || status=$?
fi
echo "== exit code $status"

csv_dir=$(dirname "$csv")
if [ -f "$csv" ]; then
  echo "== $csv"
  cat "$csv"
fi
log=$csv_dir/Orlenta_Error.log
if [ -f "$log" ]; then
  echo "== $log"
  cat "$log"
fi
for folder in Fore Back; do
  if [ -d "$csv_dir/$folder" ]; then
    echo "== $csv_dir/$folder"
    ls -l "$csv_dir/$folder"
  fi
done
exit "$status"
