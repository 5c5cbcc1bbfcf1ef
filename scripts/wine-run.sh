#!/usr/bin/env bash
# Runs a Windows program of the windows preset under Wine, in a private prefix that is
# created on first use: quietly (WINEDEBUG=-all), without a display and without the dialogs
# that offer to install Mono or Gecko.
# Usage: wine-run.sh <prefix directory> <program.exe> [arguments...]
set -euo pipefail
prefix=${1:?prefix directory}
shift
# Wine takes only an absolute prefix.
prefix=$(realpath -m "$prefix")

wine=${WINE64:-}
if [ -z "$wine" ]; then
  for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)" "$(command -v wine || true)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then
      wine=$candidate
      break
    fi
  done
fi
if [ -z "$wine" ]; then
  echo "wine-run.sh: no wine64 found (Debian package wine64)" >&2
  exit 127
fi

export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

mkdir -p "$(dirname "$prefix")"
# Tests run in parallel: one of them creates the prefix, the others wait for it.
(
  flock 9
  if [ ! -f "$prefix/.initialised" ]; then
    "$wine" wineboot -i >/dev/null 2>&1
    touch "$prefix/.initialised"
  fi
) 9>"$prefix.lock"

# The prefix's server stays 10 s after its last program (Wine's default is 3 s): a test that
# starts while it shuts down can lose its connection, and the next test need not wait for a
# new server. Nothing happens when a server is running.
server=$(dirname "$wine")/wineserver
[ -x "$server" ] || server=$(command -v wineserver || true)
if [ -n "$server" ]; then
  "$server" -p10 </dev/null >/dev/null 2>&1 || true
fi

exec "$wine" "$@"
