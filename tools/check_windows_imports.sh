#!/usr/bin/env bash
# Fails unless the Windows program EXE imports only DLLs that every Windows
# ships: players copy the program around alone.
# Usage: tools/check_windows_imports.sh EXE
set -euo pipefail
exe=${1:?usage: $0 EXE}
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
echo "imports: ${dlls//$'\n'/ }"
system_dlls='kernel32\.dll|msvcrt\.dll|user32\.dll|advapi32\.dll'
foreign=$(echo "$dlls" | grep -v -i -x -E "$system_dlls" || true)
if [ -n "$foreign" ]; then
  echo "$exe needs DLLs that Windows does not ship: ${foreign//$'\n'/ }" >&2
  exit 1
fi
