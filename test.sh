#!/usr/bin/env bash
# Installs what is missing, then runs the workflow (configure, build, every
# test) of each preset in turn: native, sanitizers, ThreadSanitizer, Windows
# under Wine. Stops at the first that fails, with its status; each ends with
# ctest's summary.
set -uo pipefail
cd "$(dirname "$0")"
source scripts/common.sh

orlenta_install_packages windows || exit
for preset in linux linux-asan linux-tsan windows; do
  echo "== $preset"
  cmake --workflow --preset "$preset" || exit
done
