#!/usr/bin/env bash
# Hostile inputs and faults through Orlenta.exe under Wine, inside a private
# Xvfb (build/windows by default; ORLENTA_EXE names another build). Uses the
# Wine prefix and server of the caller when WINEPREFIX is set, as in test.sh;
# otherwise the prefix beside the executable's build (<build>/wineprefix)
# with a server of its own, stopped at the end. The last line is
# 'N passed, N failed'.
set -uo pipefail
cd "$(dirname "$0")/../.."
exe=${ORLENTA_EXE:-build/windows/bin/Orlenta.exe}
source scripts/common.sh

own_server=
if [ -z "${WINEPREFIX:-}" ]; then
  orlenta_start_wine "$(cd "$(dirname "$exe")/.." && pwd)"
  own_server=1
fi

python3 tests/suites/hostile.py wine "$exe"
rc=$?
[ -n "$own_server" ] && orlenta_stop_wine
exit $rc
