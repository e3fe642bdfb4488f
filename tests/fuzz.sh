#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build/fuzz and runs each for a
# short while (two at a time) on a copy of its corpus, so the tree stays
# clean. A crash's input is kept under build/fuzz/crashes/.
#   ORLENTA_FUZZ_SECONDS=600 tests/fuzz.sh    # a longer run
set -uo pipefail
cd "$(dirname "$0")/.."

targets=(csv_fuzz text_fuzz relpath_fuzz probe_fuzz)
seconds=${ORLENTA_FUZZ_SECONDS:-20}
build=build/fuzz
passed=0
failed=0

if CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DORLENTA_FUZZ=ON \
     -DORLENTA_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null &&
   cmake --build "$build" --target "${targets[@]}" -j2; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$build/crashes"
  run() {  # libFuzzer stops itself; the hard limit catches a hang outside its own timeout
    cp -r "fuzz/corpus/$1" "$work/$1"
    timeout -k 10 $((seconds + 120)) "$build/bin/$1" -max_total_time="$seconds" -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$build/crashes/$1-" "$work/$1" >"$work/$1.log" 2>&1
    echo $? >"$work/$1.rc"
  }
  for ((i = 0; i < ${#targets[@]}; i += 2)); do
    run "${targets[i]}" & run "${targets[i + 1]}" & wait
  done
  for target in "${targets[@]}"; do
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target.log")
    if [ "$(cat "$work/$target.rc")" -eq 0 ] && [ -n "$execs" ]; then
      echo "ok    $target: $execs executions in $seconds s"
      passed=$((passed + 1))
    else
      echo "FAIL  $target:"
      grep -E 'check failed|ERROR|SUMMARY|deadly signal|Test unit written' "$work/$target.log" | head -n 20
      failed=$((failed + 1))
    fi
  done
else
  echo "fuzz: the targets did not build"
  failed=${#targets[@]}
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
