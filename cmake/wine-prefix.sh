#!/bin/sh
# Starts (start) or stops (stop) the private Wine prefix that the tests run in.
# One persistent wineserver serves the whole test run, so each program starts in a fraction of a second.
set -eu
export WINEPREFIX="$2" WINEDEBUG=-all
case "$1" in
  start)
    mkdir -p "$WINEPREFIX"
    wineserver -p >/dev/null 2>&1 </dev/null || true
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      wineboot -i >/dev/null 2>&1 || true
    fi
    # Proves the prefix can run a program before any test relies on it.
    wine cmd /c exit 0 >/dev/null 2>&1
    ;;
  stop)
    wineserver -k >/dev/null 2>&1 || true
    ;;
  *) echo "usage: $0 start|stop PREFIX" >&2; exit 2 ;;
esac
