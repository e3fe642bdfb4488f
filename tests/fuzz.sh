#!/usr/bin/env bash
# The libFuzzer runs of the native build's ctest (label fuzz):
#   tests/fuzz.sh build DIR TARGET...   builds the targets with Clang into DIR
#   tests/fuzz.sh run DIR TARGET        runs one for ORLENTA_FUZZ_SECONDS on its corpus,
#                                       which it only reads; a crash's input goes to DIR/crashes/
# Both are skipped (exit 77) without Clang, and without ORLENTA_FUZZ_SECONDS,
# which the linux test preset sets to 20, so that a plain ctest in the build
# folder stays deterministic. A longer run:
#   ORLENTA_FUZZ_SECONDS=600 ctest --test-dir build/linux -L fuzz
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${ORLENTA_FUZZ_SECONDS:-}
if [ -z "$seconds" ]; then
  echo "ORLENTA_FUZZ_SECONDS is not set (ctest --preset linux sets it): no fuzzing"
  exit 77
fi
if ! command -v clang++ >/dev/null; then
  echo "clang++ is not installed: no fuzzing"
  exit 77
fi
mode=$1 build=$2
shift 2

if [ "$mode" = build ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DORLENTA_FUZZ=ON -DORLENTA_BUILD_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null && cmake --build "$build" --target "$@"
  exit
fi

# libFuzzer adds what it finds to the first folder; the corpus stays as it is.
found=$(mktemp -d)
trap 'rm -rf "$found"' EXIT
mkdir -p "$build/crashes"
# libFuzzer stops itself; the hard limit catches a hang outside its own timeout.
timeout -k 10 $((seconds + 120)) "$build/bin/$1" -max_total_time="$seconds" -timeout=10 \
  -print_final_stats=1 -artifact_prefix="$build/crashes/$1-" "$found" "fuzz/corpus/$1"
