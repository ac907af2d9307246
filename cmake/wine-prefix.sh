#!/bin/sh
# Starts (start) or stops (stop) the private Wine prefix that the tests run in; "start PREFIX 32"
# also proves that 32-bit programs run in it, and "start|stop PREFIX arm64" starts or stops the
# ARM64 tree's prefix in the emulated ARM64 Wine (cmake/arm64-wine.sh). "fresh" makes the prefix
# anew before starting it, for tests that must begin from a profile that no earlier run has touched.
# "report" prints the imaging library's registration as the prefix last saved it, without starting
# Wine.
# One persistent wineserver serves the whole test run, so each program starts in a fraction of a second.
set -eu
export WINEPREFIX="$2" WINEDEBUG=-all
# Wine's own fonts only, as in wine-run: the fonts the Linux machine has are not the prefix's.
FONTCONFIG_FILE="$(cd "$(dirname "$0")" && pwd)/wine-fonts.conf"
export FONTCONFIG_FILE

arch=${3:-64}
if [ "$arch" = arm64 ] && [ -z "${TORV_WINE_ARM64:-}" ]; then
    TORV_WINE_ARM64=$("$(dirname "$0")/arm64-wine.sh" path)
fi
wine_arch=$arch
. "$(dirname "$0")/wine-loaders.sh"

# The imaging library's class with its server: present only once the prefix's machine registry is
# complete. A prefix whose first set-up was cut short has a system.reg without it, and is set up again.
wic_clsid='{cacaf262-9370-4615-a13b-9f5539da4c0a}'
wic_class="HKLM\\Software\\Classes\\CLSID\\$wic_clsid\\InprocServer32"

# Where 64-bit Windows keeps the 32-bit view of the user's classes. Wine gives 32-bit processes a
# view of their own only below a key that has a Wow6432Node subkey, and makes this one only for the
# machine's classes: without it both bitnesses would share one CLSID key, as on no 64-bit Windows.
user_wow64_classes='HKCU\Software\Classes\Wow6432Node'
display_driver_key='HKCU\Software\Wine\Drivers'

wine32_runs() {
    [ -x "$wine32" ] && "$(dirname "$0")/can-run-32bit.sh" >/dev/null
}

# Wine lists every font that fontconfig shows it in the prefix's machine-wide font list, with Z:\
# paths, and never takes one off again. A prefix made before wine-fonts.conf hid the machine's
# fonts lists them, so a test without a font would still find one there.
lists_machine_fonts() {
    grep -i '="Z:\\\\.*\.\(ttf\|ttc\|otf\|otc\)"$' "$WINEPREFIX/system.reg" 2>/dev/null \
        | grep -qvF 'Z:\\usr\\share\\wine\\fonts\\'
}

# Wine's desktop process (explorer.exe /desktop) ends a few seconds after the last program on the
# desktop, and the next program that needs it starts it again as its own child, holding that
# program's standard error open: whoever reads the program's output to its end (ctest, the reference
# test) then waits for as long as later tests keep the desktop busy. So one idle program stays on the
# desktop until the server is stopped (a command interpreter waiting for input from a pipe that
# nothing writes to), and the desktop is started here, by a program without output that returns once
# the desktop is up.
keep_desktop() {
    keeper="$WINEPREFIX/desktop-keeper.fifo"
    [ -p "$keeper" ] || { rm -f "$keeper"; mkfifo "$keeper"; }
    "$wine64" cmd.exe /q <>"$keeper" >/dev/null 2>&1 &
    "$wine64" rundll32.exe user32.dll,GetDesktopWindow </dev/null >/dev/null 2>&1 || true
}

# The emulated ARM64 Wine sees its own system's files where Z:\ (the Unix root) would show this
# machine's: qemu shows an emulated program the sysroot's "/". Its prefix reaches the build tree as
# D:\ and the source tree as E:\ instead, through links of its own; a path in both is the build
# tree's, as Wine names a path by the drive whose root is nearest.
map_arm64_drives() {
    ln -sfn "$(cd "$WINEPREFIX/.." && pwd)" "$WINEPREFIX/dosdevices/d:"
    ln -sfn "$(cd "$(dirname "$0")/.." && pwd)" "$WINEPREFIX/dosdevices/e:"
}

remove_prefix() {
    "$wineserver" -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
}

case "$1" in
  start|fresh)
    if [ "$1" = fresh ]; then
      remove_prefix
    # A prefix made while 32-bit Wine could not run has no 32-bit side (no DLLs in syswow64).
    # Once it can, the prefix is made anew, so that the build tree keeps working after the upgrade.
    elif [ -f "$WINEPREFIX/system.reg" ] && [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ] \
        && wine32_runs; then
      echo "making the Wine prefix $WINEPREFIX anew, with 32-bit support"
      remove_prefix
    elif lists_machine_fonts; then
      echo "making the Wine prefix $WINEPREFIX anew, without the machine's fonts"
      remove_prefix
    fi
    mkdir -p "$WINEPREFIX"
    "$wineserver" -p >/dev/null 2>&1 </dev/null || true
    # Neither the server nor the services that wineboot leaves running may hold on to the caller's
    # output, or ctest would wait for them.
    if [ ! -f "$WINEPREFIX/system.reg" ] || ! "$wine64" reg query "$wic_class" >/dev/null 2>&1; then
      "$wine64" wineboot.exe -u >/dev/null 2>&1 </dev/null || true
    fi
    [ "$arch" = arm64 ] && map_arm64_drives
    # Proves the prefix can run a program before any test relies on it.
    "$wine64" reg query "$wic_class" >/dev/null 2>&1 || { echo "the Wine prefix $WINEPREFIX is incomplete" >&2; exit 1; }
    # Made once in every prefix, also in one made before this step existed. Wine's "reg add" gives
    # the key an empty default value, which Windows' key has not.
    if ! "$wine64" reg query "$user_wow64_classes" >/dev/null 2>&1; then
      "$wine64" reg add "$user_wow64_classes" /f >/dev/null 2>&1 </dev/null \
        && "$wine64" reg delete "$user_wow64_classes" /ve /f >/dev/null 2>&1 </dev/null \
        || { echo "cannot create $user_wow64_classes in the Wine prefix $WINEPREFIX" >&2; exit 1; }
    fi
    # Wine's null display driver, so that windows can be made and painted on a machine without a
    # display (the preview pane's tests and pictures): without a display and this setting, Wine
    # refuses every window. The desktop takes the driver it finds when it starts, and the programs
    # above may have started it already, so the server starts again once the setting is made.
    if ! "$wine64" reg query "$display_driver_key" /v Graphics 2>/dev/null | tr -d '\r' \
        | grep -q 'REG_SZ[[:space:]]*null$'; then
      "$wine64" reg add "$display_driver_key" /v Graphics /d null /f >/dev/null 2>&1 </dev/null \
        || { echo "cannot choose Wine's null display driver in the Wine prefix $WINEPREFIX" >&2; exit 1; }
      "$wineserver" -k >/dev/null 2>&1 || true
      "$wineserver" -w >/dev/null 2>&1 || true
      "$wineserver" -p >/dev/null 2>&1 </dev/null || true
    fi
    keep_desktop
    if [ "$arch" = 32 ]; then
      "$wine32" cmd.exe /c exit 0 >/dev/null 2>&1 \
        || { echo "32-bit programs do not run in the Wine prefix $WINEPREFIX" >&2; exit 1; }
    fi
    ;;
  report)
    # system.reg doubles each backslash of a key name.
    grep -i -A2 -F "[Software\\\\Classes\\\\CLSID\\\\$wic_clsid" "$WINEPREFIX/system.reg" 2>/dev/null \
        || echo "  (not in $WINEPREFIX/system.reg)"
    ;;
  stop)
    # The server saves the registry when it is asked to stop.
    "$wineserver" -k >/dev/null 2>&1 || true
    ;;
  *) echo "usage: $0 start|fresh|stop|report PREFIX [32|arm64]" >&2; exit 2 ;;
esac
