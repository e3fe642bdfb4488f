#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one briefly on a copy
# of its committed seeds (the tree stays clean). A crash fails the suite; its
# input is kept under build/fuzz/crashes/ to be added to the seeds.
#
#   ORLENTA_FUZZ_SECONDS=600 tests/suites/fuzz.sh    # a longer run
set -uo pipefail
cd "$(dirname "$0")/../.."

targets=(csv_fuzz text_fuzz relpath_fuzz probe_fuzz)
seconds=${ORLENTA_FUZZ_SECONDS:-20}
build=build/fuzz
crashes=$build/crashes
passed=0
failed=0

finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
}

if ! CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DORLENTA_FUZZ=ON \
       -DORLENTA_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null ||
   ! cmake --build "$build" --target "${targets[@]}" -j2; then
  echo "fuzz: the targets did not build"
  failed=${#targets[@]}
  finish
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$crashes"

# Runs one target for the time given on a copy of its seeds; the log holds
# libFuzzer's final statistics.
run_target() {
  local target=$1
  cp -r "fuzz/corpus/$target" "$work/$target"
  mkdir -p "$work/$target.artifacts"
  # libFuzzer stops itself after max_total_time; the hard limit only
  # catches a target that hangs outside its own timeout.
  timeout -k 10 $((seconds + 120)) "$build/bin/$target" -max_total_time="$seconds" \
    -timeout=10 -print_final_stats=1 -artifact_prefix="$work/$target.artifacts/" \
    "$work/$target" >"$work/$target.log" 2>&1
  echo $? >"$work/$target.rc"
}

# Two at a time: the machine has two cores, and this halves the suite's time.
for ((i = 0; i < ${#targets[@]}; i += 2)); do
  run_target "${targets[i]}" &
  [ $((i + 1)) -lt ${#targets[@]} ] && run_target "${targets[i + 1]}" &
  wait
done

for target in "${targets[@]}"; do
  rc=$(cat "$work/$target.rc")
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target.log" | tail -n 1)
  corpus=$(find "$work/$target" -type f | wc -l)
  artifacts=$(find "$work/$target.artifacts" -type f | wc -l)
  if [ "$rc" -eq 0 ] && [ "$artifacts" -eq 0 ] && [ -n "$execs" ]; then
    echo "ok    $target: ${execs} executions in ${seconds} s, corpus ${corpus} inputs"
    passed=$((passed + 1))
  else
    echo "FAIL  $target: exit code $rc after ${execs:-?} executions"
    grep -E 'ERROR|SUMMARY|check failed|threw|deadly signal|Test unit written' "$work/$target.log" | head -n 20
    for artifact in "$work/$target.artifacts"/*; do
      [ -e "$artifact" ] || continue
      cp "$artifact" "$crashes/$target-$(basename "$artifact")"
      echo "      input kept as $crashes/$target-$(basename "$artifact")"
    done
    failed=$((failed + 1))
  fi
done
finish
