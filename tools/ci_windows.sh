#!/usr/bin/env bash
# Cross-builds the Windows program (vrdskincfgw.exe) with mingw-w64 into
# build-win/ and runs the Windows unit tests and the end-to-end suite against
# it under Wine, in a private Wine prefix that is removed afterwards.
# Debian 12, as root or with sudo. Exits non-zero when anything fails.
source "$(dirname "$0")/script_start.sh"

step "packages"
bash tools/install_deps.sh g++-mingw-w64-x86-64-win32 libz-mingw-w64-dev wine wine64

step "argtable2 source (kept in build-sources/, shared with tools/release.sh)"
bash tools/fetch_from_apt.sh source build-sources/argtable2 argtable2

step "cross build"
# The same tree's ctest then runs the end-to-end suite through Wine (the test
# runner is a host Python) and the Windows unit tests through the emulator.
cmake --preset windows-cross >/dev/null
cmake --build --preset windows-cross -j"$jobs"
exe="$root/build-win/vrdskincfgw.exe"

bash tools/check_windows_imports.sh "$exe"

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

step "Windows unit tests and end-to-end suite under Wine"
ctest --test-dir build-win -j"$jobs" --output-on-failure

step "console code page, on a terminal"
# Wine gives a program a console only on a terminal; under ctest the console
# test is skipped, so it runs here once more under script(1). Its report is
# read from the XML file: the terminal output is full of cursor movements.
report=build-win/consolecp.xml
rm -f "$report"
script -qec "wine build-win/tests/win_unit_tests.exe --gtest_filter='ConsoleCodePage.*' --gtest_output=xml:$report" \
  /dev/null </dev/null >/dev/null || { cat "$report" 2>/dev/null; exit 1; }
grep -q 'name="RestoredOnEveryWayOut".*result="completed"' "$report" ||
  { cat "$report"; echo "the console code page test did not run" >&2; exit 1; }
echo "restored on every way out"
