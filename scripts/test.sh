#!/usr/bin/env bash
# Installs what is missing, then configures, builds and runs every test for the default
# preset (RelWithDebInfo) and the asan preset (AddressSanitizer and UBSan), and finally runs
# every fuzz target of the fuzz preset for FUZZ_SECONDS (default 20) on its corpus, so that an
# input that once failed fails again. Presets can be named: scripts/test.sh default fuzz.
# The windows preset cross-builds with mingw-w64 and runs the Windows tests under Wine, in a
# prefix inside build/windows.
set -euo pipefail
cd "$(dirname "$0")/.."

presets=("$@")
if [ ${#presets[@]} -eq 0 ]; then
  presets=(default asan windows fuzz)
fi

extras=()
for preset in "${presets[@]}"; do
  if [ "$preset" = windows ]; then
    extras+=(windows)
  fi
done
scripts/install-deps.sh "${extras[@]}"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

for preset in "${presets[@]}"; do
  if [ "$preset" = fuzz ]; then
    echo "=== fuzz: configure"
    cmake --preset fuzz
    echo "=== fuzz: build"
    cmake --build --preset fuzz
    echo "=== fuzz: run"
    scripts/fuzz.sh --no-build -t "${FUZZ_SECONDS:-20}"
    continue
  fi
  if [ "$preset" = windows ]; then
    echo "=== windows: configure"
    cmake --preset windows
    echo "=== windows: build"
    cmake --build --preset windows
    echo "=== windows: test (Wine)"
    ctest --preset windows
    continue
  fi
  echo "=== ${preset}: configure"
  cmake --preset "$preset"
  echo "=== ${preset}: build"
  cmake --build --preset "$preset"
  echo "=== ${preset}: test"
  rm -f build/"$preset"/tests/fault-matrix-*.txt
  ctest --preset "$preset"
  # The Debian package, unpacked into a scratch root, its programs run from there.
  if [ "$preset" = default ]; then
    echo "=== ${preset}: package"
    scripts/package-test.sh build/default
  fi
  # The fault matrix's cells, one line each (ctest shows test output only on failure).
  if compgen -G "build/$preset/tests/fault-matrix-*.txt" >/dev/null; then
    echo "=== ${preset}: fault matrix"
    cat build/"$preset"/tests/fault-matrix-*.txt
  fi
done
echo "All tests passed."
