#!/usr/bin/env bash
# Builds the native, sanitizer and Windows presets and runs every test:
# unit tests natively, under the sanitizers and under Wine, then the
# end-to-end suites and the short fuzz runs.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh

orlenta_install_packages

summaries=()
failed=0

run_ctest() {  # preset [ctest options]
  local log preset=$1
  shift
  log=$(mktemp)
  if ctest --preset "$preset" -j"$(nproc)" "$@" 2>&1 | tee "$log"; then :; else failed=1; fi
  summaries+=("$preset: $(grep -E 'tests passed|tests failed' "$log" | tail -n 1)")
  rm -f "$log"
}

for preset in linux linux-asan windows; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

echo "== linux: tests"
run_ctest linux
echo "== linux-asan: tests"
run_ctest linux-asan

echo "== windows: tests under Wine"
trap orlenta_stop_wine EXIT
orlenta_start_wine "$PWD/build/windows"
# The first programs of a fresh prefix can stall while Wine finishes its own
# start: a stalled test is ended early and run again.
run_ctest windows --timeout 120 --repeat after-timeout:3

# Further suites run with the Wine server still up; each prints one line
# 'N passed, N failed' last.
suites=(
  tests/suites/e2e_native.sh
  tests/suites/e2e_wine.sh
  tests/suites/hostile_native.sh
  tests/suites/hostile_wine.sh
  tests/suites/fuzz.sh
)
for suite in "${suites[@]}"; do
  echo "== suite $(basename "$suite" .sh)"
  log=$(mktemp)
  if bash "$suite" 2>&1 | tee "$log"; then :; else failed=1; fi
  summaries+=("$(basename "$suite" .sh): $(tail -n 1 "$log")")
  rm -f "$log"
done
orlenta_stop_wine

# Totals over every ctest run and suite, as one plain closing line.
total_passed=0
total_failed=0
for line in "${summaries[@]}"; do
  if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    total_failed=$((total_failed + BASH_REMATCH[1]))
    total_passed=$((total_passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
  elif [[ $line =~ ([0-9]+)\ passed,\ ([0-9]+)\ failed ]]; then
    total_passed=$((total_passed + BASH_REMATCH[1]))
    total_failed=$((total_failed + BASH_REMATCH[2]))
  else
    failed=1  # a run that printed no summary did not finish
  fi
done
[ "$total_failed" -eq 0 ] || failed=1

echo
echo "== summary"
printf '%s\n' "${summaries[@]}"
echo "$total_passed passed, $total_failed failed"
exit "$failed"
