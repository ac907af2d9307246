#!/bin/sh
# Installs fonts into a Wine prefix as a user installs them on Windows 10 and later, or removes them:
#
#   wine-font.sh install|remove PREFIX user|machine FILE "NAME" [FILE "NAME"]...
#
# user: the file goes to %LOCALAPPDATA%\Microsoft\Windows\Fonts and HKCU\Software\Microsoft\Windows NT\
# CurrentVersion\Fonts gets "NAME (TrueType)" with its full path (a per-user installation, no administrator
# rights); machine: the file goes to %WINDIR%\Fonts and the same key of HKLM gets its file name. NAME is what
# Windows writes there: the full names of the file's faces, joined by " & " for a collection. One registry
# import for all the fonts given; removing deletes the values and the files.
set -eu
[ "$#" -ge 5 ] && [ $(( ($# - 3) % 2 )) -eq 0 ] || {
    echo "usage: $0 install|remove PREFIX user|machine FILE NAME [FILE NAME]..." >&2; exit 2; }
action=$1 scope=$3
export WINEPREFIX="$2" WINEDEBUG=-all
FONTCONFIG_FILE="$(cd "$(dirname "$0")" && pwd)/wine-fonts.conf"
export FONTCONFIG_FILE
. "$(dirname "$0")/wine-loaders.sh"
shift 3

user=$(id -un)
key='Software\Microsoft\Windows NT\CurrentVersion\Fonts'
case "$scope" in
    user) root=HKEY_CURRENT_USER
          folder="$WINEPREFIX/drive_c/users/$user/AppData/Local/Microsoft/Windows/Fonts"
          windows_folder="C:\\\\users\\\\$user\\\\AppData\\\\Local\\\\Microsoft\\\\Windows\\\\Fonts\\\\" ;;
    machine) root=HKEY_LOCAL_MACHINE
          folder="$WINEPREFIX/drive_c/windows/Fonts"
          windows_folder="" ;;
    *) echo "$0: scope is user or machine, not $scope" >&2; exit 2 ;;
esac

reg_file=$(mktemp "${TMPDIR:-/tmp}/wine-font-XXXXXX.reg")
trap 'rm -f "$reg_file"' EXIT
printf 'REGEDIT4\n\n[%s\\%s]\n' "$root" "$key" >"$reg_file"
mkdir -p "$folder"
while [ "$#" -gt 0 ]; do
    file=$1 name=$2
    shift 2
    base=$(basename "$file")
    if [ "$action" = install ]; then
        cp "$file" "$folder/$base"
        printf '"%s (TrueType)"="%s%s"\n' "$name" "$windows_folder" "$base" >>"$reg_file"
    else
        rm -f "$folder/$base"
        printf '"%s (TrueType)"=-\n' "$name" >>"$reg_file"
    fi
done
# Drive Z: is the Unix root.
"$wine64" reg import "Z:$(printf '%s' "$reg_file" | tr / '\\')" >/dev/null 2>&1
