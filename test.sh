#!/usr/bin/env bash
# Builds the native, sanitizer and Windows presets and runs every test: unit
# tests natively, under the sanitizers and under Wine, the end-to-end cases
# natively and under Wine, then the short fuzz runs. Ends with every run's
# counts and one line 'N passed, N failed, N skipped'.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh

orlenta_install_packages windows

summaries=()
failed=0

# Runs a command, shows its output and keeps it in $log for the summary.
log=$(mktemp)
trap 'orlenta_stop; rm -f "$log"' EXIT
run_logged() {
  if "$@" 2>&1 | tee "$log"; then :; else failed=1; fi
}

# ctest's count line, with the tests it skipped taken out of the passed ones.
run_ctest() {  # preset [ctest options]
  local preset=$1 line total bad skipped
  shift
  run_logged ctest --preset "$preset" -j"$(nproc)" "$@"
  line=$(grep -E '[0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1) || true
  if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    bad=${BASH_REMATCH[1]} total=${BASH_REMATCH[2]}
    skipped=$(grep -cE '^\s*[0-9]+ - .* \(Skipped\)$' "$log") || true
    summaries+=("ctest $preset: $((total - bad - skipped)) passed, $bad failed, $skipped skipped")
  else
    summaries+=("ctest $preset: no summary")
  fi
}

# A suite prints 'N passed, N failed' last, and 'N skipped' before it if it skips.
run_suite() {  # name command...
  local name=$1 last skipped
  shift
  echo "== $name"
  if [ ! -f "$2" ]; then
    summaries+=("$name: missing ($2)")
    return
  fi
  run_logged "$@"
  last=$(tail -n 1 "$log")
  skipped=$(tail -n 2 "$log" | sed -n 's/^\([0-9]\+\) skipped$/\1/p')
  if [[ $last =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
    summaries+=("$name: $last, ${skipped:-0} skipped")
  else
    summaries+=("$name: no summary")
  fi
}

for preset in linux linux-asan windows; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
cmake --build --preset windows --target package

echo "== linux: tests"
run_ctest linux
echo "== linux-asan: tests"
run_ctest linux-asan

echo "== windows: tests under Wine"
orlenta_start_test_wine build/windows/bin/Orlenta.exe || summaries+=("wine: did not start")
# A test that stalls while Wine starts a service of its own is run again.
run_ctest windows --timeout 120 --repeat after-timeout:3

run_suite "e2e native" python3 tests/e2e/e2e.py native build/linux/bin/orlenta
run_suite "e2e wine" python3 tests/e2e/e2e.py wine build/windows/bin/Orlenta.exe
orlenta_stop
run_suite fuzz bash tests/fuzz.sh

# Totals; a run that is missing or printed no counts did not finish.
total_passed=0 total_failed=0 total_skipped=0
for line in "${summaries[@]}"; do
  if [[ $line =~ ([0-9]+)\ passed,\ ([0-9]+)\ failed,\ ([0-9]+)\ skipped$ ]]; then
    total_passed=$((total_passed + BASH_REMATCH[1]))
    total_failed=$((total_failed + BASH_REMATCH[2]))
    total_skipped=$((total_skipped + BASH_REMATCH[3]))
  else
    failed=1
  fi
done
[ "$total_failed" -eq 0 ] || failed=1

echo
echo "== summary"
printf '%s\n' "${summaries[@]}"
echo "$total_passed passed, $total_failed failed, $total_skipped skipped"
exit "$failed"
