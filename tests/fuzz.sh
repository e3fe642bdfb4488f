#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build/fuzz and runs each for a
# short while (two at a time) on a copy of its corpus, so the tree stays
# clean. A crash's input is kept under build/fuzz/crashes/.
#   ORLENTA_FUZZ_SECONDS=600 tests/fuzz.sh    # a longer run
set -uo pipefail
cd "$(dirname "$0")/.."
targets=(csv_fuzz text_fuzz relpath_fuzz probe_fuzz)
seconds=${ORLENTA_FUZZ_SECONDS:-20} build=build/fuzz work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Each run leaves its verdict in a file, shown in order once both of a pair end.
run() {  # libFuzzer stops itself; the hard limit catches a hang outside its own timeout
  cp -r "fuzz/corpus/$1" "$work/$1"
  timeout -k 10 $((seconds + 120)) "$build/bin/$1" -max_total_time="$seconds" -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$build/crashes/$1-" "$work/$1" >"$work/$1.log" 2>&1
  local rc=$? execs
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$1.log")
  if [ "$rc" -eq 0 ] && [ -n "$execs" ]; then
    echo "ok    $1: $execs executions in $seconds s"
  else
    echo "FAIL  $1:"
    grep -E 'check failed|ERROR|SUMMARY|deadly signal|Test unit written' "$work/$1.log" | head -n 20
  fi >"$work/$1.verdict"
}

if CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DORLENTA_FUZZ=ON -DORLENTA_BUILD_TESTS=OFF \
     -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null && cmake --build "$build" --target "${targets[@]}" -j2; then
  mkdir -p "$build/crashes"
  for ((i = 0; i < ${#targets[@]}; i += 2)); do run "${targets[i]}" & run "${targets[i + 1]}" & wait; done
  for target in "${targets[@]}"; do cat "$work/$target.verdict"; done
else
  echo "fuzz: the targets did not build"
fi
passed=$(cat "$work"/*.verdict 2>/dev/null | grep -c '^ok')  # a run without a verdict failed
echo "$passed passed, $((${#targets[@]} - passed)) failed"
[ "$passed" -eq ${#targets[@]} ]
