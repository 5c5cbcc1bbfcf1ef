#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzz target (or the ones named) for a given time on
# its corpus tests/fuzz/corpus/<target>, with a 256 MB memory limit so that an allocation
# grown from an address or count in the input fails the run.
#
#   scripts/fuzz.sh [-t SECONDS] [--no-build] [TARGET...]
#
# -t SECONDS  time per target (default 60); every corpus input is run first in any case
# --no-build  use the binaries of build/fuzz as they are
#
# New inputs found go to build/fuzz/corpus/<target>, never into the source tree. An input that
# fails is written to build/fuzz/artifacts/; once its cause is fixed, copy it into
# tests/fuzz/corpus/<target>/ so that every later run replays it.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60
build=1
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    -t) seconds="$2"; shift 2 ;;
    --no-build) build=0; shift ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) targets+=("$1"); shift ;;
  esac
done

if [ "$build" -eq 1 ]; then
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz
fi

if [ ${#targets[@]} -eq 0 ]; then
  for d in tests/fuzz/corpus/*/; do
    targets+=("$(basename "$d")")
  done
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p build/fuzz/artifacts build/fuzz/logs

passed=0
failed=0
for t in "${targets[@]}"; do
  bin="build/fuzz/fuzz/$t"
  seeds="tests/fuzz/corpus/$t"
  if [ ! -x "$bin" ] || [ ! -d "$seeds" ]; then
    echo "fuzz $t: no such target (binary $bin, corpus $seeds)" >&2
    failed=$((failed + 1))
    continue
  fi
  work="build/fuzz/corpus/$t"
  log="build/fuzz/logs/$t.log"
  mkdir -p "$work"
  if "$bin" -max_total_time="$seconds" -rss_limit_mb=256 -timeout=10 -print_final_stats=1 \
      -artifact_prefix="build/fuzz/artifacts/$t-" "$work" "$seeds" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    cov=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1)
    echo "fuzz $t: ${runs:-?} runs in ${seconds} s, ${speed:-?} exec/s, $cov"
    passed=$((passed + 1))
  else
    echo "fuzz $t: FAILED (log $log)" >&2
    grep -E 'ERROR|fuzz check failed|SUMMARY|Test unit written' "$log" >&2 || tail -20 "$log" >&2
    failed=$((failed + 1))
  fi
done

echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
