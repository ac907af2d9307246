#!/bin/sh
# Makes the installer tests' own Wine prefix afresh (start), so that every run installs into a
# profile that no earlier run has touched, or stops its server (stop). The 64-bit loader throughout.
set -eu
export WINEPREFIX="$2" WINEDEBUG=-all
wine64=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64

case "$1" in
  start)
    "$wineserver" -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    # One persistent server for the whole run, so that each program starts quickly. Neither it nor
    # the services that wineboot leaves running may hold on to the caller's output.
    "$wineserver" -p >/dev/null 2>&1 </dev/null
    "$wine64" wineboot -u >/dev/null 2>&1 </dev/null || true
    "$wine64" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion' >/dev/null 2>&1 \
      || { echo "the Wine prefix $WINEPREFIX could not be made" >&2; exit 1; }
    ;;
  stop)
    "$wineserver" -k >/dev/null 2>&1 || true
    ;;
  *) echo "usage: $0 start|stop PREFIX" >&2; exit 2 ;;
esac
