#!/usr/bin/env bash
# Hostile inputs and faults through Orlenta.exe under Wine, inside a private
# Xvfb (build/windows by default; ORLENTA_EXE names another build). Uses the
# Wine prefix and server of the caller when WINEPREFIX is set, as in test.sh;
# otherwise the prefix of build/windows with a server of its own, stopped at
# the end. The last line is 'N passed, N failed'.
set -uo pipefail
cd "$(dirname "$0")/../.."
exe=${ORLENTA_EXE:-build/windows/bin/Orlenta.exe}

server_pid=
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX=$PWD/build/windows/wineprefix WINEDEBUG=-all
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  wineserver -f -p >/dev/null 2>&1 &
  server_pid=$!
fi

python3 tests/suites/hostile.py wine "$exe"
rc=$?
if [ -n "$server_pid" ]; then
  kill "$server_pid" 2>/dev/null
  wait "$server_pid" 2>/dev/null
fi
exit $rc
