#!/usr/bin/env bash
# Installs what is missing, builds the default preset, starts the adapter simulator with the
# demo setup (four good adapters; SETUP=examples/sim/faults.ini starts the fault showcase
# instead) and then Quorvel; the simulator stops when Quorvel exits.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset default
cmake --build --preset default

bin=build/default/bin
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display is available. Run Quorvel under a virtual display, for example:" >&2
  echo "  xvfb-run -a -s '-screen 0 1280x1024x24' scripts/run.sh" >&2
  exit 1
fi

# The simulator and Quorvel must agree on the device directory; this is also the default
# both would choose on their own.
if [ -z "${VEXIL_DEVICE_DIR:-}" ]; then
  if [ -n "${XDG_RUNTIME_DIR:-}" ]; then
    VEXIL_DEVICE_DIR="$XDG_RUNTIME_DIR/vexil"
  else
    VEXIL_DEVICE_DIR="/tmp/vexil-$(id -u)"
  fi
fi
export VEXIL_DEVICE_DIR

source scripts/simulator.sh
state=$(mktemp -d)
cleanup() {
  stop_simulator
  rm -rf "$state"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

start_simulator "$bin/vexil-sim" "$state" "${SETUP:-examples/sim/demo.ini}" || exit 1
echo "Simulated adapters in $VEXIL_DEVICE_DIR: $(ls "$VEXIL_DEVICE_DIR" | tr '\n' ' ')"

# A first run starts ready for the demo: the demo's target type selected, a sample program
# registered and simple mode, so one press of Program plugs, writes, verifies once (the command
# file's VERIFY; detail mode's Write would verify by itself as well) and unplugs. A settings
# file that exists is never touched.
if [ ! -e "$bin/Quorvel.ini" ]; then
  "$bin/quorvel-cli" init --settings "$bin/Quorvel.ini" --target QX16A064 \
    --file "$PWD/examples/programs/demo-qx16a064.hex"
fi

"$bin/Quorvel"
