#!/usr/bin/env bash
# Builds the .deb of a configured and built preset (default: build/default), unpacks it into a
# scratch root without installing it (dpkg-deb -x: no root, no container) and runs the
# installed programs from there: quorvel-cli --version, init and check, and one Program cycle
# against the installed vexil-sim serving the installed demo setup.
# Usage: package-test.sh [BUILD-DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}

(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls -t "$build"/quorvel_*.deb | head -n 1)
echo "package: $deb ($(du -h "$deb" | cut -f1))"

source scripts/simulator.sh
scratch=$(mktemp -d)
cleanup() {
  stop_simulator
  rm -rf "$scratch"
}
trap cleanup EXIT

root=$scratch/root
dpkg-deb -x "$deb" "$root"
# What a user reaches: the links in /usr/bin, the manual page, the completion.
cli=$root/usr/bin/quorvel-cli
for f in usr/bin/quorvel-cli usr/bin/vexil-sim usr/lib/quorvel/lib/libbrindlex.so \
  usr/lib/quorvel/TRG/QX16A064.TRG usr/lib/quorvel/bin/Write_Verify.cd8 \
  usr/lib/quorvel/examples/demo.ini usr/share/man/man1/quorvel-cli.1 \
  usr/share/bash-completion/completions/quorvel-cli usr/share/doc/quorvel/cli.md; do
  [ -e "$root/$f" ] || { echo "package lacks /$f" >&2; exit 1; }
done
bash -n "$root/usr/share/bash-completion/completions/quorvel-cli"
dpkg-deb -f "$deb" Depends | grep -q . || { echo "package names no dependency" >&2; exit 1; }

"$cli" --version | grep -qx "quorvel-cli [0-9.]*"

# A line's settings made by the installed program, checked without adapters.
line=$scratch/line
mkdir "$line"
examples=$root/usr/lib/quorvel/examples
"$cli" init --settings "$line/Quorvel.ini" --target qx16a064 --file "$examples/demo-qx16a064.hex"
"$cli" check --settings "$line/Quorvel.ini" --expect-targets 4 2>"$scratch/check.txt" ||
  { cat "$scratch/check.txt" >&2; exit 1; }
grep -q "A Write would start" "$scratch/check.txt"

# One Program cycle against the installed simulator, in a device directory of its own.
export VEXIL_DEVICE_DIR=$scratch/devices
start_simulator "$root/usr/bin/vexil-sim" "$scratch" --dump-dir "$scratch/dump" \
  "$examples/demo.ini" || exit 1
if ! "$cli" program --settings "$line/Quorvel.ini" --expect-targets 4 --json \
  >"$scratch/run.json" 2>"$scratch/run.txt"; then
  cat "$scratch/run.txt" >&2
  exit 1
fi
grep -q '"type":"run",.*"passed":4,"failed":0,.*"exit_code":0' "$scratch/run.json"
grep -q "^Program: SUCCESS" "$scratch/run.txt"
echo "package: installed quorvel-cli --version, init, check and one Program cycle of 4 boards: OK"
