#!/usr/bin/env bash
# Builds the project twice (normal and with AddressSanitizer + UndefinedBehaviorSanitizer) and runs
# every test in both; then gives the archive reader's fuzzer a short run. Tests that need an X
# display start their own Xvfb; the rest run headless through EGL.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=${JOBS:-$(nproc)}

./scripts/deps.sh

section() { printf '\n==== %s ====\n' "$*"; }

section "build"
cmake -S "$ROOT" -B "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$ROOT/build" -j"$JOBS"

section "tests"
ctest --test-dir "$ROOT/build" --output-on-failure -j"$JOBS" --timeout 900

section "sanitizer build"
cmake -S "$ROOT" -B "$ROOT/build-asan" -DCMAKE_BUILD_TYPE=Debug -DVK_SANITIZE=ON -DVK_BENCH=OFF >/dev/null
cmake --build "$ROOT/build-asan" -j"$JOBS"

section "tests under sanitizers"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$ROOT/build-asan" --output-on-failure -j"$JOBS" --timeout 1800

if [ -d "$ROOT/fuzz" ]; then
  section "fuzzing the archive reader (short run)"
  CC=clang CXX=clang++ cmake -S "$ROOT" -B "$ROOT/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVK_FUZZ=ON -DVK_TESTS=OFF -DVK_BENCH=OFF >/dev/null
  cmake --build "$ROOT/build-fuzz" -j"$JOBS" --target fuzz_resource
  mkdir -p "$ROOT/build-fuzz/corpus"
  "$ROOT/build-fuzz/fuzz/fuzz_resource" -max_total_time=60 -rss_limit_mb=1024 "$ROOT/build-fuzz/corpus"
fi

section "all tests passed"
