#!/usr/bin/env bash
# Installs what is missing, builds the default preset and starts Quorvel.
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
exec "$bin/Quorvel"
