#!/bin/sh
# Fails unless the DLL imports Windows system DLLs only and exports exactly the four server entry
# points at ordinals 1 to 4: a shell extension loads into other people's processes.
set -eu
dll="$1"
headers=$(x86_64-w64-mingw32-objdump -p "$dll")

imports=$(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p')
echo "imports: $(echo $imports)"
bad=$(printf '%s\n' "$imports" | grep -viE '^(kernel32|advapi32|gdi32|user32|shell32|ole32|msvcrt)\.dll$' || true)
if [ -n "$bad" ]; then
    echo "imports a DLL outside the expected Windows system DLLs: $bad" >&2
    exit 1
fi

exports=$(printf '%s\n' "$headers" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p' | sort -u)
expected="0 DllCanUnloadNow
1 DllGetClassObject
2 DllRegisterServer
3 DllUnregisterServer"
if [ "$exports" != "$expected" ]; then
    printf 'unexpected exports:\n%s\n' "$exports" >&2
    exit 1
fi
base=$(printf '%s\n' "$headers" | sed -n 's/^Ordinal Base[[:space:]]*//p')
if [ "$base" != "1" ]; then
    echo "ordinal base is $base, not 1" >&2
    exit 1
fi
echo "exports: DllCanUnloadNow @1, DllGetClassObject @2, DllRegisterServer @3, DllUnregisterServer @4"
