# Sourced by the scripts that run vexil-sim behind something else (run.sh, package-test.sh).
# start_simulator SIM DIR ARGS...: starts SIM with ARGS in the background, its ready file and
# output (sim.log) in DIR, and waits until it serves its adapters; fails, showing its output,
# when it ends or is not ready within about ten seconds. stop_simulator, for the EXIT trap,
# ends it.
sim_pid=

start_simulator() {
  local sim=$1 dir=$2
  shift 2
  "$sim" --ready-file "$dir/ready" "$@" >"$dir/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 1 100); do
    [ -e "$dir/ready" ] && return 0
    if ! kill -0 "$sim_pid" 2>/dev/null; then
      echo "vexil-sim did not start:" >&2
      cat "$dir/sim.log" >&2
      return 1
    fi
    sleep 0.1
  done
  echo "vexil-sim did not get ready:" >&2
  cat "$dir/sim.log" >&2
  return 1
}

stop_simulator() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
}
