#!/usr/bin/env bash
# Hostile inputs and faults through the native program (build/linux by
# default; ORLENTA_BIN names another build). Each case has a hard time limit;
# the last line is 'N passed, N failed'.
set -uo pipefail
cd "$(dirname "$0")/../.."
exec python3 tests/suites/hostile.py native "${ORLENTA_BIN:-build/linux/bin/orlenta}"
