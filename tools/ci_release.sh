#!/usr/bin/env bash
# CI for the release: builds it twice and compares the checksums, then tries
# each artifact in a scratch folder the way a player or an install script
# would: the tarball's program, the installed and removed Debian package, and
# the Windows program from the zip under Wine in a folder named in Cyrillic.
# Debian 12, as root (the package is installed for a moment).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

step() { echo; echo "=== $*"; }
fail() { echo "FAILED: $*" >&2; exit 1; }

bash tools/install_deps.sh dpkg-dev man-db wine wine64
scratch=$(mktemp -d /tmp/vrd-release.XXXXXX)
export WINEPREFIX="$scratch/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
cleanup() {
  if [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT

step "release, twice"
bash tools/release.sh
cp dist/SHA256SUMS "$scratch/SHA256SUMS.first"
bash tools/release.sh >/dev/null
cmp -s "$scratch/SHA256SUMS.first" dist/SHA256SUMS ||
  fail "two builds of one commit differ: $(diff "$scratch/SHA256SUMS.first" dist/SHA256SUMS)"
echo "the second build is byte-identical"
build=$(cat BUILD_NUMBER)

# run DIR EXPECTED-STATUS PROGRAM ARGS...: runs in DIR with no input, keeps the output.
run() {
  local dir=$1 want=$2 status=0
  shift 2
  (cd "$dir" && "$@" </dev/null >"$scratch/out" 2>&1) || status=$?
  [ "$status" -eq "$want" ] || { cat "$scratch/out"; fail "$* exited with $status, not $want"; }
}
expect() { grep -q -F -- "$1" "$scratch/out" || { cat "$scratch/out"; fail "no \"$1\" in the output"; }; }

step "tarball"
mkdir "$scratch/tar" && tar -xzf "dist/vrdskincfg-$build-linux-x86_64.tar.gz" -C "$scratch/tar"
prog="$scratch/tar/vrdskincfg-$build/bin/vrdskincfg"
for f in bin/vrdskincfg share/man/man1/vrdskincfg.1.gz share/doc/vrdskincfg/README.md \
         share/doc/vrdskincfg/LICENSE share/doc/vrdskincfg/LICENSE.zlib \
         share/doc/vrdskincfg/LICENSE.argtable2 share/doc/vrdskincfg/LICENSE.LGPL-2; do
  [ -f "$scratch/tar/vrdskincfg-$build/$f" ] || fail "the tarball lacks $f"
done
run "$scratch" 0 "$prog" --help
expect "Usage: vrdskincfg [--skin=<file>] [--ie=<file>] [--import] [--nowait] [--help]"
# A setup exported from one skin (yellow arrow, horizontal chat buttons) and
# imported unattended into a fresh one must export the same again.
mkdir "$scratch/a" "$scratch/b"
python3 tools/make_skin.py "$scratch/a/vrd.zip" --live 18=3 --live 1=1
python3 tools/make_skin.py "$scratch/b/vrd.zip"
(cd "$scratch/a" && printf '5\ny\n' | "$prog" --nowait >/dev/null) || fail "export from the tarball's program"
cp "$scratch/a/vrd.cfg" "$scratch/wanted.cfg" && mv "$scratch/a/vrd.cfg" "$scratch/b/vrd.cfg"
run "$scratch/b" 0 "$prog" --import --nowait
expect "Mouse cursor:                      Yellow arrow"
expect "Successfully applied."
(cd "$scratch/b" && printf '5\ny\ny\n' | "$prog" --nowait >/dev/null) || fail "export after the import"
cmp "$scratch/wanted.cfg" "$scratch/b/vrd.cfg" || fail "the import did not apply the whole setup"

step "Debian package"
if dpkg-query -W vrdskincfg >/dev/null 2>&1; then
  fail "a vrdskincfg package is installed already; this check would replace it"
fi
dpkg -i "dist/vrdskincfg_${build}-1_amd64.deb"
run "$scratch" 0 vrdskincfg --help
expect "Usage: vrdskincfg"
man -w vrdskincfg >/dev/null || fail "man -w vrdskincfg finds no manual page"
[ -f /usr/share/doc/vrdskincfg/copyright ] || fail "the package has no copyright file"
dpkg -r vrdskincfg
[ ! -e /usr/bin/vrdskincfg ] && [ ! -e /usr/share/doc/vrdskincfg ] || fail "dpkg -r left files behind"

step "Windows zip under Wine"
mkdir "$scratch/zip" && (cd "$scratch/zip" && unzip -q "$root/dist/vrdskincfgw-$build-win64.zip")
grep -q $'\r$' "$scratch/zip/README.txt" || fail "README.txt has no CR LF line ends"
wineboot -i >/dev/null 2>&1
folder="$scratch/Юрий"
mkdir "$folder" && python3 tools/make_skin.py "$folder/vrd.zip" && cp "$scratch/wanted.cfg" "$folder/vrd.cfg"
run "$scratch" 0 wine "$scratch/zip/vrdskincfgw.exe" --skin=Юрий/vrd.zip --import --nowait
expect "Skin file: Юрий/vrd.zip"
expect "Successfully applied."
rm "$folder/vrd.cfg"
(cd "$folder" && printf '5\ny\n' | "$prog" --nowait >/dev/null) || fail "export after the Windows import"
cmp "$scratch/wanted.cfg" "$folder/vrd.cfg" || fail "the Windows import did not apply the whole setup"
echo
echo "Release checks passed."
