#!/usr/bin/env bash
# Builds one fuzz target with clang's libFuzzer and AddressSanitizer in its own build folder and
# runs it for a number of seconds on a copy of its seed corpus.
#   scripts/fuzz.sh TARGET SECONDS      e.g. scripts/fuzz.sh ProjectFile 120
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:?target name, e.g. ProjectFile}
seconds=${2:-60}
./scripts/install-deps.sh

BUILD=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DTARVOLIN_LIBFUZZER=ON -DTARVOLIN_SANITIZE=ON -DTARVOLIN_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="-O1 -g -fsanitize=fuzzer-no-link" -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link" \
  >/dev/null
cmake --build "$BUILD" -j "$(nproc)" --target "fuzz_$target"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -d "fuzz/corpus/$target" ]; then cp -r "fuzz/corpus/$target/." "$work/"; fi
export QT_QPA_PLATFORM=offscreen
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp"
"$BUILD/fuzz/fuzz_$target" -max_total_time="$seconds" -rss_limit_mb=4096 "$work"
