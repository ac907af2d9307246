#!/bin/sh
# Starts (start) or stops (stop) the private Wine prefix that the tests run in.
# One persistent wineserver serves the whole test run, so each program starts in a fraction of a second.
set -eu
export WINEPREFIX="$2" WINEDEBUG=-all

# The imaging library's class: present only once the prefix's machine registry is complete. A
# prefix whose first set-up was cut short has a system.reg without it, and is set up again.
wic_class='HKLM\Software\Classes\CLSID\{cacaf262-9370-4615-a13b-9f5539da4c0a}'

case "$1" in
  start)
    mkdir -p "$WINEPREFIX"
    wineserver -p >/dev/null 2>&1 </dev/null || true
    if [ ! -f "$WINEPREFIX/system.reg" ] || ! wine reg query "$wic_class" >/dev/null 2>&1; then
      wineboot -u >/dev/null 2>&1 || true
    fi
    # Proves the prefix can run a program before any test relies on it.
    wine reg query "$wic_class" >/dev/null 2>&1 || { echo "the Wine prefix $WINEPREFIX is incomplete" >&2; exit 1; }
    ;;
  stop)
    # The server saves the registry when it is asked to stop.
    wineserver -k >/dev/null 2>&1 || true
    ;;
  *) echo "usage: $0 start|stop PREFIX" >&2; exit 2 ;;
esac
