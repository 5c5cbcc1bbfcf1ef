#!/usr/bin/env bash
# Runs a Windows program of the windows preset under Wine, in a private prefix that is
# created on first use: quietly (WINEDEBUG=-all), without a display and without the dialogs
# that offer to install Mono or Gecko.
# Usage: wine-run.sh <prefix directory> <program.exe> [arguments...]
# A window needs an X display: WINE_RUN_DISPLAY names the one to use (the caller's DISPLAY is
# never taken, so that no test draws on the desktop of whoever runs it).
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
# Set before the prefix's server starts: its desktop draws where its first program does.
if [ -n "${WINE_RUN_DISPLAY:-}" ]; then
  export DISPLAY=$WINE_RUN_DISPLAY
fi

mkdir -p "$(dirname "$prefix")"
server=$(dirname "$wine")/wineserver
[ -x "$server" ] || server=$(command -v wineserver)
# Tests run in parallel: one of them creates the prefix, the others wait for it.
(
  flock 9
  if [ ! -f "$prefix/.initialised" ]; then
    "$wine" wineboot -i 9>&- </dev/null >/dev/null 2>&1
    touch "$prefix/.initialised"
  fi
  # A new server for the prefix stays 10 s after its last program (Wine's default is 3 s), so
  # that the next test neither meets it shutting down nor waits for a new one. Its services
  # start with the first program and live as long as it: a trivial program starts them here,
  # away from the test's output, which they would otherwise hold open after the test ended.
  if "$server" -p10 9>&- </dev/null >/dev/null 2>&1; then
    "$wine" cmd.exe /c exit 9>&- </dev/null >/dev/null 2>&1 || true
  fi
) 9>"$prefix.lock"

exec "$wine" "$@"
