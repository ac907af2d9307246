#!/bin/sh
# Whether this machine can run the ARM64 tree's programs: under Debian's arm64 Wine, which
# qemu-aarch64-static emulates (cmake/arm64-wine.sh sets it up; scripts/setup runs that). Where
# TORV_ARM64_WINE is "off", the answer is no, whatever is set up: a developer's way to leave the
# slow emulated tests out.
#
#   can-run-arm64.sh            exit 0 if it can; otherwise say why on standard output and exit 1
#   can-run-arm64.sh COMMAND... run COMMAND with TORV_WINE_ARM64 naming the emulated Wine's folder
#                               (cmake/wine-loaders.sh takes its loader and server from there) if it
#                               can; otherwise say why and exit 77, which the tests that need it
#                               declare as their skip code
set -eu

cannot() {
    [ "$#" -eq 1 ] && { echo "$1"; exit 1; }
    echo "skipped: $1"
    exit 77
}

if [ "${TORV_ARM64_WINE:-}" = off ]; then
    cannot "TORV_ARM64_WINE=off leaves the emulated ARM64 Wine out" "$@"
fi
if [ ! -x /usr/bin/qemu-aarch64-static ]; then
    cannot "qemu-aarch64-static is not installed (scripts/setup installs it), so ARM64 programs cannot run here" "$@"
fi
if ! TORV_WINE_ARM64=$("$(dirname "$0")/arm64-wine.sh" path 2>/dev/null); then
    cannot "the emulated ARM64 Wine is not set up (scripts/setup sets it up, or cmake/arm64-wine.sh setup)" "$@"
fi
[ "$#" -eq 0 ] && exit 0
export TORV_WINE_ARM64
exec "$@"
