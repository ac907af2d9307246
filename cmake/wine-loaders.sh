# Sourced by the scripts that start Wine: the loader of each bitness. Debian's "wine" wrapper is
# never used: it picks the 32-bit loader whenever 32-bit Wine is installed, and the built-in
# programs (reg, regsvr32, wineboot) run with the loader's bitness.
#
# TORV_WINE32 names the 32-bit loader (default Debian's); a developer may point it at another, such
# as one that runs under emulation where the kernel runs no 32-bit code. The 64-bit loader is the
# same name with "64": Wine starts a 64-bit program's 32-bit children with its own loader's name
# without the "64", and a 32-bit program's 64-bit children with it, so that both bitnesses in one
# prefix come from the same pair.
wine32=${TORV_WINE32:-/usr/lib/wine/wine}
wine64=${wine32}64

# The ARM64 tree's Wine (the caller sets wine_arch=arm64) is Debian's arm64 Wine under user-mode
# emulation, in the folder that TORV_WINE_ARM64 names (cmake/can-run-arm64.sh sets it): its loader
# and its server run under qemu.
wineserver=wineserver
if [ "${wine_arch:-}" = arm64 ]; then
    wine64=$TORV_WINE_ARM64/bin/wine64
    wineserver=$TORV_WINE_ARM64/bin/wineserver
fi
