#!/usr/bin/env bash
# Installs what is missing, then configures, builds and runs every test for the default
# preset (RelWithDebInfo) and the asan preset (AddressSanitizer and UBSan).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

presets=("$@")
if [ ${#presets[@]} -eq 0 ]; then
  presets=(default asan)
fi

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

for preset in "${presets[@]}"; do
  echo "=== ${preset}: configure"
  cmake --preset "$preset"
  echo "=== ${preset}: build"
  cmake --build --preset "$preset"
  echo "=== ${preset}: test"
  ctest --preset "$preset"
done
echo "All tests passed."
