#!/bin/sh
# Fails unless the DLL carries the version resource that file properties and installers read:
# the project's version, a DLL file type, the product's names and the DLL's own description and file
# name.
# Usage: check_dll_version.sh WINDRES DLL VERSION (major.minor.patch) DESCRIPTION [--via-res]
# --via-res: for an image of a machine that WINDRES does not read (GNU windres reads x86 and x64
# images only), its resources go through a .res file first (pe_resources.py).
set -eu
windres="$1"
dll="$2"
version="$3"
description="$4"
file_name=$(basename "$dll")

# windres reads the resources of a built image back as a script.
if [ "${5:-}" = --via-res ]; then
    res=$(mktemp "${TMPDIR:-/tmp}/torv-version-XXXXXX.res")
    trap 'rm -f "$res"' EXIT
    python3 "$(dirname "$0")/pe_resources.py" "$dll" "$res"
    script=$("$windres" -J res -i "$res" -O rc)
else
    script=$("$windres" -J coff -i "$dll" -O rc)
fi
numbers=$(echo "$version" | sed 's/\./, /g')
status=0
for line in \
    "FILEVERSION $numbers, 0" \
    "PRODUCTVERSION $numbers, 0" \
    "FILETYPE 0x2" \
    "VALUE \"FileDescription\", \"$description\"" \
    "VALUE \"FileVersion\", \"$version\"" \
    "VALUE \"ProductName\", \"TorvView\"" \
    "VALUE \"ProductVersion\", \"$version\"" \
    "VALUE \"OriginalFilename\", \"$file_name\"" \
    "VALUE \"Translation\", 0x409, 1200"; do
    if ! printf '%s\n' "$script" | sed 's/^[[:space:]]*//' | grep -qxF "$line"; then
        echo "the version resource lacks: $line" >&2
        status=1
    fi
done
[ "$status" -eq 0 ] && echo "version resource: $version, a DLL, $description, $file_name"
exit "$status"
