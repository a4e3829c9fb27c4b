#!/usr/bin/env bash
# Builds the project twice (normal and with AddressSanitizer + UndefinedBehaviorSanitizer) and runs
# every test in both; builds the browser version and runs it in headless Chromium (its libraries
# are built once into a cache folder, see scripts/web/libs.sh); cross-builds the Windows version
# and runs it and its test programs under Wine (scripts/windows/test.sh); then gives each fuzz target
# (archive, pictures, effects and shaders, music) a short run. Tests that need an X
# display start their own Xvfb; the rest run headless through EGL.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=${JOBS:-$(nproc)}

./scripts/deps.sh

# Each section says how long it took, so a run that creeps towards CI's time limit shows where.
START=$(date +%s)
SECTION_START=$START
SECTION=""
section() {
  local now
  now=$(date +%s)
  if [ -n "$SECTION" ]; then printf -- '---- %s took %d s\n' "$SECTION" $((now - SECTION_START)); fi
  SECTION=$*
  SECTION_START=$now
  printf '\n==== %s ====\n' "$*"
}

# Runs one build's tests. A test skips only when a tool it needs is missing, which on CI means
# scripts/deps.sh missed a package: that fails the run instead of passing with less tested.
run_tests() {  # run_tests BUILD_DIR TIMEOUT_SECONDS
  local log=$1/ctest.log
  ctest --test-dir "$1" --output-on-failure --no-tests=error -j"$JOBS" --timeout "$2" | tee "$log"
  if grep -q '\*\*\*Skipped' "$log"; then
    echo "Skipped tests (a tool they need is missing; see scripts/deps.sh):"
    grep '\*\*\*Skipped' "$log"
    exit 1
  fi
}

section "build"
cmake -S "$ROOT" -B "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$ROOT/build" -j"$JOBS"

section "tests"
run_tests "$ROOT/build" 900

section "browser build and test"
./scripts/web/test.sh "$ROOT/build"

section "Windows build and test under Wine"
./scripts/windows/test.sh "$ROOT/build"

# Every sanitized program shares these: the tests, the generators the build runs and the programs
# the tests start. The suppressions cover only leaks that lie wholly inside system libraries
# (font caches, the GL driver, the X and D-Bus clients); a leak of ours still fails its test.
#
# intercept_tls_get_addr=0: the sanitizer runtimes of GCC 12 and Clang 14 take a thread's dynamic
# TLS block (the GL driver's, here) for a glibc 2.19 one whenever its address happens to end in
# 0x010 within its page, then read a made-up range from the two words before it. The leak checker
# run at exit dies on that ("Tracer caught signal 11") after the test itself has passed, once in a
# few hundred GL test programs. Without the interceptor the checker does not scan dynamic TLS,
# which holds no pointer of ours: every thread of ours keeps its objects in static TLS or on the heap.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:intercept_tls_get_addr=0
export LSAN_OPTIONS=suppressions=$ROOT/scripts/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1

section "sanitizer build"
cmake -S "$ROOT" -B "$ROOT/build-asan" -DCMAKE_BUILD_TYPE=Debug -DVK_SANITIZE=ON -DVK_BENCH=OFF >/dev/null
cmake --build "$ROOT/build-asan" -j"$JOBS"

section "tests under sanitizers"
run_tests "$ROOT/build-asan" 1800

if [ -d "$ROOT/fuzz" ]; then
  section "fuzzing the parsers of outside bytes (short runs)"
  CC=clang CXX=clang++ cmake -S "$ROOT" -B "$ROOT/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVK_FUZZ=ON -DVK_TESTS=OFF -DVK_BENCH=OFF >/dev/null
  cmake --build "$ROOT/build-fuzz" -j"$JOBS" --target fuzz_resource fuzz_image fuzz_effect fuzz_audio
  # Each target starts from the show's own assets (made by the first build) and the inputs kept
  # in fuzz/seeds/; what it finds on the way stays in build-fuzz/corpus/ for the next run.
  # A fixed random seed and a fixed number of inputs, not a time limit: a fresh clone fuzzes the
  # same inputs on a quiet machine and a loaded one, so the test command gives the same answer
  # every time. About two minutes in all on a quiet machine; docs/fuzzing.md has the longer runs.
  fuzz() {  # fuzz NAME RUNS [FLAG|SEED_FOLDER|SEED_FILE...]
    local name=$1 runs=$2
    shift 2
    local corpus=$ROOT/build-fuzz/corpus/$name files=$ROOT/build-fuzz/seed-files/$name
    mkdir -p "$corpus" "$files"
    local args=()
    [ -d "$ROOT/fuzz/seeds/$name" ] && args+=("$ROOT/fuzz/seeds/$name")
    for a in "$@"; do
      # libFuzzer reads seeds from folders only: single files go into one of their own.
      if [ -f "$a" ]; then cp "$a" "$files/"; else args+=("$a"); fi
    done
    "$ROOT/build-fuzz/fuzz/fuzz_$name" -seed=1 -runs="$runs" -rss_limit_mb=1024 "$corpus" "$files" "${args[@]}"
  }
  fuzz resource 100000 "$ROOT/build/run/Quorvanteplidusk.vkr"
  fuzz image 200000 "$ROOT/build/assets/pictures"
  fuzz effect 100000 "$ROOT/assets/shaders" "$ROOT/assets/effects"
  fuzz audio 8000 -max_len=65536 "$ROOT/build/run/Quorvanteplidusk.ogg"
fi

section "all tests passed"
printf 'total %d s\n' $(($(date +%s) - START))
