#!/usr/bin/env bash
# Runs the test command on a machine kept busy, as a developer's laptop or a shared CI runner is:
# two processes spin beside it for the whole time. A test that passes only on a quiet machine
# fails here.
#   scripts/stress.sh [-n RUNS] [COMMAND [ARGS...]]
# RUNS (default 3) runs in a row, stopping at the first failure; COMMAND defaults to the whole
# test command, ./run.sh test (e.g. `scripts/stress.sh -n 10 scripts/windows/test.sh` for one
# section). VK_STRESS_BUSY sets the number of busy processes (default 2). Each run's time is
# printed as it ends and again at the end; the status is the failed run's, or 0.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=3
if [ "${1:-}" = "-n" ]; then
  runs=${2:?-n needs a number of runs}
  shift 2
fi
case $runs in '' | *[!0-9]* | 0) echo "stress.sh: -n wants a positive whole number, not \"$runs\"" >&2; exit 2 ;; esac
[ $# -gt 0 ] || set -- ./run.sh test
busy_count=${VK_STRESS_BUSY:-2}

busy=()
stop_busy() {
  local pid
  for pid in "${busy[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${busy[@]}"; do wait "$pid" 2>/dev/null || true; done
  busy=()
}
trap stop_busy EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
for _ in $(seq "$busy_count"); do
  sh -c 'while :; do :; done' &
  busy+=($!)
done
echo "stress: $busy_count busy processes (${busy[*]}) beside $runs run(s) of: $*"

times=()
status=0
for i in $(seq "$runs"); do
  echo "==== stress run $i of $runs ===="
  t0=$(date +%s)
  set +e
  "$@"
  status=$?
  set -e
  took=$(($(date +%s) - t0))
  times+=("$took")
  if [ $status -eq 0 ]; then
    echo "==== stress run $i of $runs passed in $took s ===="
  else
    echo "==== stress run $i of $runs FAILED (status $status) after $took s ===="
    break
  fi
done

echo "stress: run times (s): ${times[*]}; load average now: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ $status -eq 0 ]; then
  echo "stress: $runs of $runs runs passed"
else
  echo "stress: run ${#times[@]} of $runs failed; $((${#times[@]} - 1)) passed before it"
fi
exit $status
