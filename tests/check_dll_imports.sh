#!/bin/sh
# Fails unless the DLL is built for the expected machine, imports Windows system DLLs only and
# exports exactly the four server entry points, under their plain names, at ordinals 1 to 4: a
# shell extension loads into other people's processes.
# Usage: check_dll_imports.sh OBJDUMP DLL FORMAT (GNU objdump: pei-x86-64 or pei-i386; llvm-objdump:
# coff-arm64)
set -eu
objdump="$1"
dll="$2"
format="$3"

actual_format=$("$objdump" -f "$dll" | sed -n 's/.*file format //p')
if [ "$actual_format" != "$format" ]; then
    echo "the DLL is $actual_format, not $format" >&2
    exit 1
fi
echo "format: $actual_format"
headers=$("$objdump" -p "$dll")

imports=$(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p')
echo "imports: $(echo $imports)"
bad=$(printf '%s\n' "$imports" | grep -viE '^(kernel32|advapi32|gdi32|user32|shell32|ole32|msvcrt)\.dll$' || true)
if [ -n "$bad" ]; then
    echo "imports a DLL outside the expected Windows system DLLs: $bad" >&2
    exit 1
fi

# Names only: a 32-bit __stdcall export left decorated (DllGetClassObject@12) is not found by COM.
# "ordinal name" lines, from GNU objdump's ordinal base and its [Ordinal/Name Pointer] table (whose
# ordinals are unbiased), or from llvm-objdump's export table (whose ordinals are not).
base=$(printf '%s\n' "$headers" | sed -n 's/^Ordinal Base[[:space:]]*//p')
if [ -n "$base" ]; then
    exports=$(printf '%s\n' "$headers" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' \
        | sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p' \
        | while read -r ordinal name; do echo "$((ordinal + base)) $name"; done | sort -u)
else
    exports=$(printf '%s\n' "$headers" | sed -n '/^Export Table:/,/^$/p' \
        | sed -n 's/^[[:space:]]*\([0-9][0-9]*\)[[:space:]]*0x[0-9a-f]*[[:space:]]*\(.*\)$/\1 \2/p' | sort -u)
fi
expected="1 DllCanUnloadNow
2 DllGetClassObject
3 DllRegisterServer
4 DllUnregisterServer"
if [ "$exports" != "$expected" ]; then
    printf 'unexpected exports:\n%s\n' "$exports" >&2
    exit 1
fi
echo "exports: DllCanUnloadNow @1, DllGetClassObject @2, DllRegisterServer @3, DllUnregisterServer @4"
