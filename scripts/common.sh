# Shared by run.sh, test.sh, docs/screenshots.sh, the end-to-end harness, the
# benchmark and the Windows build's ctest: installs what a build needs, and
# starts the one private X display and Wine server that every run of
# Orlenta.exe here goes through.
#
# Run directly, it wraps a command in that display and server:
#   bash scripts/common.sh with-wine path/to/Orlenta.exe COMMAND [ARGS...]
# or keeps them for the tests of a Windows build folder (ctest's fixture wine):
#   bash scripts/common.sh wine-up BUILD          starts them for BUILD/bin/Orlenta.exe and
#                                                 leaves them running
#   bash scripts/common.sh in-wine BUILD COMMAND  runs COMMAND inside them
#   bash scripts/common.sh wine-down BUILD        ends them
# Where Wine is missing, wine-up and in-wine exit 77, which ctest counts as skipped.
# shellcheck shell=bash

# What the native build, its tests and the benchmarks need.
ORLENTA_PACKAGES=(
  cmake ninja-build g++ python3 time
  libgtest-dev libgmock-dev googletest libbenchmark-dev
)
# Added for the Windows build under Wine, the fuzz targets and the pictures.
ORLENTA_WINDOWS_PACKAGES=(
  g++-mingw-w64-x86-64-posix wine wine64 xvfb xdotool
  imagemagick fonts-ipafont-gothic clang libclang-rt-14-dev
)

# orlenta_install_packages [windows]: installs the missing packages of the
# native set, and of the Windows set too when asked (quiet, idempotent).
orlenta_install_packages() {
  local wanted=("${ORLENTA_PACKAGES[@]}")
  [ "${1:-}" != windows ] || wanted+=("${ORLENTA_WINDOWS_PACKAGES[@]}")
  local missing=() p
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq >/dev/null
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# orlenta_start_display [WIDTHxHEIGHT]: starts Xvfb on a display number it
# finds free itself (no race with others looking at the same time) and
# exports DISPLAY. Wine must see it from its first process on: the prefix's
# desktop process keeps the display it was started with.
orlenta_start_display() {
  local number_file _
  number_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 "${1:-1024x768}x24" -nolisten tcp 3>"$number_file" >/dev/null 2>&1 &
  ORLENTA_XVFB_PID=$!
  for _ in $(seq 1 150); do
    if [ -s "$number_file" ]; then
      DISPLAY=":$(cat "$number_file")"
      export DISPLAY
      rm -f "$number_file"
      return 0
    fi
    kill -0 "$ORLENTA_XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  rm -f "$number_file"
  echo "Xvfb did not start" >&2
  return 1
}

# orlenta_start_wine PREFIX: makes the Wine prefix once and starts one
# persistent wineserver for it, so each program start costs a tenth of a
# second instead of seconds.
orlenta_start_wine() {
  export WINEPREFIX=$1
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$(dirname "$WINEPREFIX")"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== creating Wine prefix $WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
  fi
  wineserver -f -p >/dev/null 2>&1 &
  ORLENTA_WINESERVER_PID=$!
}

# orlenta_wine_managed Y|N: whether a window manager handles Wine's windows.
# Xvfb has none, and Wine waits two seconds for one each time it hides a
# managed window; a desktop has one.
orlenta_wine_managed() {
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d "$1" /f >/dev/null 2>&1 || true
}

# orlenta_warm_up EXE: waits until EXE opens a window on DISPLAY. A desktop
# process left from a start without a display fails every window until it
# ends. The usage box of a run without argument is the test: its title is
# read before a key is sent (a window that reads no name does not answer
# yet), and the key is sent again until the process has gone. The key is
# Space, which the OK button acts on at its release: a Return closes the box
# on the press, its release goes nowhere, and the boxes of later runs then
# close by themselves.
orlenta_warm_up() {
  local exe=$1 deadline=$((SECONDS + 90)) pid win seen _
  while :; do
    setsid wine "$exe" </dev/null >/dev/null 2>&1 &
    pid=$!
    seen=
    for _ in $(seq 1 150); do
      for win in $(xdotool search --onlyvisible --name '^Orlenta' 2>/dev/null); do
        if [ -n "$(xdotool getwindowname "$win" 2>/dev/null)" ]; then
          seen=1
          xdotool key --window "$win" space 2>/dev/null || true
        fi
      done
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.2
    done
    # A start that hangs may have spawned more than the loader: end its group.
    ! kill -0 "$pid" 2>/dev/null || kill -KILL -- "-$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    if [ -n "$seen" ]; then
      export ORLENTA_WINE_READY=1
      return 0
    fi
    if [ "$SECONDS" -ge "$deadline" ]; then
      echo "no window could be opened under Wine on $DISPLAY within 90 s" >&2
      return 1
    fi
    sleep 1
  done
}

# orlenta_end PID NAME: ends PID, if it still runs NAME, and waits until it
# has gone, also when another shell started it (wine-up's, for wine-down).
orlenta_end() {
  local _
  case "$(cat "/proc/$1/comm" 2>/dev/null)" in "$2"*) ;; *) return 0 ;; esac
  kill "$1" 2>/dev/null || return 0
  wait "$1" 2>/dev/null
  for _ in $(seq 1 50); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
}

# Ends the Wine server (with the prefix's own services) and the Xvfb that
# this shell, or the wine-up whose session it read, started.
orlenta_stop() {
  if [ -n "${ORLENTA_WINESERVER_PID:-}" ]; then
    wineserver -k 2>/dev/null || true
    orlenta_end "$ORLENTA_WINESERVER_PID" wineserver
    ORLENTA_WINESERVER_PID=
  fi
  if [ -n "${ORLENTA_XVFB_PID:-}" ]; then
    orlenta_end "$ORLENTA_XVFB_PID" Xvfb
    ORLENTA_XVFB_PID=
  fi
}

# orlenta_start_test_wine EXE: display, the prefix beside EXE's build
# (<build>/wineprefix, where the test preset expects it), server, warm-up.
orlenta_start_test_wine() {
  local exe build
  exe=$(realpath "$1")
  build=$(dirname "$(dirname "$exe")")
  orlenta_start_display 1024x768 && orlenta_start_wine "$build/wineprefix" || return 1
  orlenta_wine_managed N
  orlenta_warm_up "$exe"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  case "${1:-}" in
    with-wine | in-wine) least=3 ;;
    wine-up | wine-down) least=2 ;;
    *) least=99 ;;
  esac
  if [ $# -lt $least ]; then
    echo "usage: bash scripts/common.sh with-wine path/to/Orlenta.exe COMMAND [ARGS...]" >&2
    echo "       bash scripts/common.sh wine-up|wine-down BUILD" >&2
    echo "       bash scripts/common.sh in-wine BUILD COMMAND [ARGS...]" >&2
    exit 2
  fi
  if [ "$1" = with-wine ]; then
    trap orlenta_stop EXIT
    trap 'exit 1' INT TERM
    orlenta_start_test_wine "$2" || exit 1
    shift 2
    "$@"
    exit
  fi
  command=$1 build=$2 session=$2/wine-session.env
  shift 2
  if [ "$command" = wine-down ]; then
    [ -f "$session" ] || exit 0
    source "$session"
    orlenta_stop
    rm -f "$session"
    exit 0
  fi
  for tool in wine Xvfb xdotool; do
    if ! command -v $tool >/dev/null; then
      echo "$tool is not installed: the tests under Wine are skipped"
      exit 77
    fi
  done
  if [ "$command" = wine-up ]; then
    # A session left by a cut-off run holds the prefix's server, whose desktop
    # keeps the display it was started with.
    [ ! -f "$session" ] || (source "$session" && orlenta_stop)
    rm -f "$session"
    orlenta_start_test_wine "$build/bin/Orlenta.exe" || { orlenta_stop; exit 1; }
    declare -p DISPLAY WINEPREFIX WINEDEBUG WINEDLLOVERRIDES ORLENTA_WINE_READY \
      ORLENTA_XVFB_PID ORLENTA_WINESERVER_PID >"$session"
    echo "Wine session on display $DISPLAY for $WINEPREFIX"
    exit 0
  fi
  if [ ! -f "$session" ]; then
    echo "no Wine session in $build (the test wine_up starts it)" >&2
    exit 1
  fi
  source "$session"
  # Wine's helper processes inherit the output and may outlive the program;
  # ctest would wait for them on a pipe, not on a file.
  out=$(mktemp)
  trap 'rm -f "$out"' EXIT
  "$@" >"$out" 2>&1
  status=$?
  cat "$out"
  exit $status
fi
