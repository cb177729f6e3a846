#!/usr/bin/env bash
# Cross-builds the Windows program (vrdskincfgw.exe) with mingw-w64 into
# build-win/ and runs the end-to-end suite against it under Wine, from a
# private Wine prefix that is removed afterwards. Debian 12, as root or with
# sudo. Exits non-zero when the build or any test fails.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
jobs=2

step() { echo; echo "=== $*"; }

step "packages"
packages=(cmake make g++ python3 g++-mingw-w64-x86-64-win32 libz-mingw-w64-dev wine wine64
          zlib1g-dev libargtable2-dev libgtest-dev zip unzip)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

step "argtable2 source"
bash tools/fetch_argtable2_source.sh build-win/argtable2

step "cross build"
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DVRD_PLATFORM=windows -DARGTABLE2_SOURCE_DIR="$root/build-win/argtable2" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-win --target vrdskincfgw -j$jobs
exe="$root/build-win/vrdskincfgw.exe"

# Only Windows' own DLLs may be needed: the program is copied around alone.
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
echo "imports: $(echo $dlls)"
foreign=$(echo "$dlls" | grep -v -i -x -E 'kernel32\.dll|msvcrt\.dll|user32\.dll|advapi32\.dll' || true)
if [ -n "$foreign" ]; then
  echo "vrdskincfgw.exe needs DLLs that Windows does not ship: $(echo $foreign)" >&2
  exit 1
fi

step "Wine prefix"
WINEPREFIX="$(mktemp -d /tmp/vrd-wine.XXXXXX)"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
# One persistent server for the whole suite instead of one start per run.
wineserver -p
wineboot -i >/dev/null 2>&1

step "end-to-end suite against vrdskincfgw.exe"
cmake -S . -B build-win-e2e -DVRD_E2E_EXE="$exe" -DVRD_E2E_RUNNER=wine \
  -DVRD_E2E_PROGNAME=vrdskincfgw >/dev/null
ctest --test-dir build-win-e2e -R '^e2e_' -j$jobs --output-on-failure
