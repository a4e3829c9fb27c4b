#!/usr/bin/env bash
# Builds the project twice (normal and with AddressSanitizer + UndefinedBehaviorSanitizer) and runs
# every test in both; builds the browser version and runs it in headless Chromium (its libraries
# are built once into a cache folder, see scripts/web/libs.sh); cross-builds the Windows version
# and runs it and its test programs under Wine (scripts/windows/test.sh); then gives each fuzz target
# (archive, pictures, effects and shaders, music) a short run. Tests that need an X
# display start their own Xvfb; the rest run headless through EGL.
#
# Every section runs even when an earlier one failed, so one failure never hides the others; a
# section that needs what an earlier one makes (the tests need their build) is reported as not run
# when that one failed. The end gives each section's result and time, and the status is non-zero
# when any section failed or did not run.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=${JOBS:-$(nproc)}

./scripts/deps.sh

START=$(date +%s)
NAMES=()
RESULTS=()
SECONDS_TAKEN=()
declare -A RESULT_OF

# section NAME NEEDS FUNCTION: runs FUNCTION in a subshell of its own with `set -e`, unless a
# section named in NEEDS (comma-separated, may be empty) did not pass. Each says how long it took,
# so a run that creeps towards CI's time limit shows where.
section() {
  local name=$1 needs=$2 fn=$3 need needed result status t0 took
  printf '\n==== %s ====\n' "$name"
  result=""
  IFS=, read -ra needed <<<"$needs"
  for need in "${needed[@]}"; do
    if [ "${RESULT_OF[$need]:-}" != passed ]; then
      result="not run"
      echo "not run: it needs \"$need\", which did not pass"
      break
    fi
  done
  t0=$(date +%s)
  if [ -z "$result" ]; then
    # A subshell tested by `if` or `||` would run with `set -e` switched off, so the status is
    # taken afterwards with errexit off here.
    set +e
    ( set -euo pipefail; "$fn" )
    status=$?
    set -e
    if [ $status -eq 0 ]; then result=passed; else result=failed; fi
  fi
  took=$(($(date +%s) - t0))
  [ "$result" = "not run" ] || printf -- '---- %s %s, took %d s\n' "$name" "$result" "$took"
  NAMES+=("$name")
  RESULTS+=("$result")
  SECONDS_TAKEN+=("$took")
  RESULT_OF[$name]=$result
}
# A stop request ends the whole run, not just the section that was running.
trap 'echo; echo "stopped"; exit 130' INT TERM

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

build() {
  cmake -S "$ROOT" -B "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$ROOT/build" -j"$JOBS"
}
tests() { run_tests "$ROOT/build" 900; }
browser() { ./scripts/web/test.sh "$ROOT/build"; }
windows() { ./scripts/windows/test.sh "$ROOT/build"; }

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
sanitized_env() {
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:intercept_tls_get_addr=0
  export LSAN_OPTIONS=suppressions=$ROOT/scripts/lsan.supp:print_suppressions=0
  export UBSAN_OPTIONS=print_stacktrace=1
}
sanitizer_build() {
  sanitized_env
  cmake -S "$ROOT" -B "$ROOT/build-asan" -DCMAKE_BUILD_TYPE=Debug -DVK_SANITIZE=ON -DVK_BENCH=OFF >/dev/null
  cmake --build "$ROOT/build-asan" -j"$JOBS"
}
sanitized_tests() {
  sanitized_env
  run_tests "$ROOT/build-asan" 1800
}

fuzzing() {
  sanitized_env
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
}

section "build" "" build
section "tests" "build" tests
section "browser build and test" "build" browser
section "Windows build and test under Wine" "build" windows
section "sanitizer build" "" sanitizer_build
section "tests under sanitizers" "sanitizer build" sanitized_tests
# The fuzz targets start from the first build's archive, pictures and music.
if [ -d "$ROOT/fuzz" ]; then section "fuzzing the parsers of outside bytes (short runs)" "build" fuzzing; fi

printf '\n==== summary ====\n'
passed=0 failed=0 not_run=0
for i in "${!NAMES[@]}"; do
  case ${RESULTS[$i]} in
    passed) passed=$((passed + 1)); printf '%-8s %-52s %6d s\n' passed "${NAMES[$i]}" "${SECONDS_TAKEN[$i]}" ;;
    failed) failed=$((failed + 1)); printf '%-8s %-52s %6d s\n' FAILED "${NAMES[$i]}" "${SECONDS_TAKEN[$i]}" ;;
    *) not_run=$((not_run + 1)); printf '%-8s %s\n' "not run" "${NAMES[$i]}" ;;
  esac
done
printf '%d sections passed, %d failed, %d not run\n' $passed $failed $not_run
if [ $failed -eq 0 ] && [ $not_run -eq 0 ]; then
  printf '\n==== all tests passed ====\n'
else
  printf '\n==== some tests failed ====\n'
fi
printf 'total %d s\n' $(($(date +%s) - START))
[ $failed -eq 0 ] && [ $not_run -eq 0 ]
