#!/bin/sh
# Whether this machine can run 32-bit programs, which 32-bit Wine needs: some kernels run 64-bit
# code only, and there every i386 program fails with "Exec format error". Where TORV_WINE32 names a
# 32-bit Wine loader of the developer's choosing (cmake/wine-loaders.sh), the answer is that loader
# instead: one that runs under emulation needs no help from the kernel.
#
#   can-run-32bit.sh            exit 0 if it can; otherwise say why on standard output and exit 1
#   can-run-32bit.sh COMMAND... run COMMAND if it can; otherwise say why and exit 77, which the
#                               tests that need 32-bit Wine declare as their skip code
set -eu

cannot() {
    [ "$#" -eq 1 ] && { echo "$1"; exit 1; }
    echo "skipped: $1"
    exit 77
}

if [ -n "${TORV_WINE32:-}" ]; then
    [ -x "$TORV_WINE32" ] || cannot "TORV_WINE32 names no program that can be run ($TORV_WINE32)" "$@"
    [ "$#" -eq 0 ] && exit 0
    exec "$@"
fi

# A 96-byte i386 Linux program that only exits with code 42 (int 0x80, exit): a shell that runs a
# file the kernel refused as a script gets another code, so 42 proves that the kernel ran it.
probe=$(mktemp "${TMPDIR:-/tmp}/torv-i386-probe.XXXXXX")
trap 'rm -f "$probe"' EXIT
printf '\177\105\114\106\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\273\052\000\000\000\315\200' >"$probe"
chmod +x "$probe"
status=0
"$probe" >/dev/null 2>&1 || status=$?
rm -f "$probe"
trap - EXIT

if [ "$status" -ne 42 ]; then
    cannot "this machine cannot run 32-bit programs (its kernel refuses i386 executables), so 32-bit Wine cannot run here; TORV_WINE32 may name a 32-bit Wine loader that runs otherwise" "$@"
fi
[ "$#" -eq 0 ] && exit 0
exec "$@"
