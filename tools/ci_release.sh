#!/usr/bin/env bash
# CI for the release: builds it twice, in two folders, and compares the
# checksums; meanwhile tries each artifact of the first build the way a
# player or an install script would: the static programs of both tarballs
# (the aarch64 one under qemu, also against the whole end-to-end suite),
# both Debian packages under lintian, the amd64 one installed and removed,
# and the Windows program from the zip under Wine in a folder named in
# Cyrillic. Debian 12, as root (the package is installed for a moment).
source "$(dirname "$0")/script_start.sh"

fail() { echo "FAILED: $*" >&2; exit 1; }

bash tools/install_deps.sh dpkg-dev man-db wine wine64 lintian qemu-user-static bash-completion
scratch=$(mktemp -d /tmp/vrd-release.XXXXXX)
export WINEPREFIX="$scratch/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
second=""
cleanup() {
  [ -z "$second" ] || kill "$second" 2>/dev/null || true
  if [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT

step "release"
# The first release packs the macOS program of the test run (brought up to
# date here); the second builds its own, and the two must be the same bytes.
bash tools/build_macos.sh build-macos-cross
VRD_MACOS_PROGRAM=build-macos-cross/vrdskincfgm bash tools/release.sh
# The second build runs beside the checks below, in other folders, so it
# also shows that the folder a release is built in leaves no trace.
VRD_RELEASE_BUILD=build-release2 VRD_RELEASE_DIST="$scratch/dist2" bash tools/release.sh \
  >"$scratch/second.log" 2>&1 &
second=$!
build=$(cat BUILD_NUMBER)

# run DIR EXPECTED-STATUS PROGRAM ARGS...: runs in DIR with no input, keeps the output.
run() {
  local dir=$1 want=$2 status=0
  shift 2
  (cd "$dir" && "$@" </dev/null >"$scratch/out" 2>&1) || status=$?
  [ "$status" -eq "$want" ] || { cat "$scratch/out"; fail "$* exited with $status, not $want"; }
}
expect() { grep -q -F -- "$1" "$scratch/out" || { cat "$scratch/out"; fail "no \"$1\" in the output"; }; }
# export DIR PROGRAM...: menu command 5 into DIR/vrd.cfg, overwriting.
export_setup() {
  local dir=$1
  shift
  (cd "$dir" && printf '5\ny\ny\n' | "$@" --nowait >/dev/null) || fail "export by $*"
}
# roundtrip NAME PROGRAM...: the setup exported from one skin (yellow arrow,
# horizontal chat buttons) and imported unattended into a fresh skin by
# PROGRAM must export the same again.
roundtrip() {
  local dir="$scratch/$1"
  shift
  mkdir "$dir" "$dir/a" "$dir/b"
  python3 tools/make_skin.py "$dir/a/vrd.zip" --live 18=3 --live 1=1
  python3 tools/make_skin.py "$dir/b/vrd.zip"
  export_setup "$dir/a" "$@"
  cp "$dir/a/vrd.cfg" "$dir/b/vrd.cfg"
  run "$dir/b" 0 "$@" --import --nowait
  expect "Mouse cursor:                      Yellow arrow"
  expect "Successfully applied."
  export_setup "$dir/b" "$@"
  cmp "$dir/a/vrd.cfg" "$dir/b/vrd.cfg" || fail "$* did not import the whole setup"
}

step "tarballs: static programs"
for arch in x86_64 aarch64; do
  mkdir "$scratch/tar-$arch"
  tar -xzf "dist/vrdskincfg-$build-linux-$arch.tar.gz" -C "$scratch/tar-$arch"
  top="$scratch/tar-$arch/vrdskincfg-$build"
  for f in README bin/vrdskincfg share/man/man1/vrdskincfg.1.gz \
           share/bash-completion/completions/vrdskincfg share/doc/vrdskincfg/README \
           share/doc/vrdskincfg/NEWS.md share/doc/vrdskincfg/copyright share/doc/vrdskincfg/LICENSE \
           share/doc/vrdskincfg/LICENSE.zlib share/doc/vrdskincfg/LICENSE.argtable2 \
           share/doc/vrdskincfg/LICENSE.LGPL-2; do
    [ -f "$top/$f" ] || fail "the $arch tarball lacks $f"
  done
  ! objdump -p "$top/bin/vrdskincfg" | grep -q NEEDED || fail "the $arch program needs shared libraries"
done
x86="$scratch/tar-x86_64/vrdskincfg-$build/bin/vrdskincfg"
arm="$scratch/tar-aarch64/vrdskincfg-$build/bin/vrdskincfg"
roundtrip x86_64 "$x86"
roundtrip aarch64 qemu-aarch64-static "$arm"
echo "both import a setup into a generated skin"

step "end-to-end suite against the aarch64 program under qemu"
start=$SECONDS
VRD_EXE="$arm" VRD_RUNNER=qemu-aarch64-static VRD_PROGNAME=vrdskincfg VRD_SOURCE_DIR="$root" \
  xargs -P "$jobs" -n 1 python3 < <(printf '%s\n' tests/e2e/test_*.py) >"$scratch/e2e.log" 2>&1 ||
  { cat "$scratch/e2e.log"; fail "the end-to-end suite failed against the aarch64 program"; }
echo "passed: $(grep -c '^Ran ' "$scratch/e2e.log") files, $((SECONDS - start)) s"

step "Debian packages"
lintian --fail-on error,warning "dist/vrdskincfg_${build}-1_amd64.deb" \
  "dist/vrdskincfg_${build}-1_arm64.deb" || fail "lintian found errors or warnings"
echo "lintian: no errors or warnings"
# The arm64 package's program, with its libraries: the cross compiler's C and
# C++ libraries and the arm64 zlib the release build linked with.
dpkg-deb -x "dist/vrdskincfg_${build}-1_arm64.deb" "$scratch/arm64-package"
roundtrip arm64-deb qemu-aarch64-static -L "/usr/aarch64-linux-gnu" \
  -E LD_LIBRARY_PATH="$root/build-sources/arm64/lib/aarch64-linux-gnu" "$scratch/arm64-package/usr/bin/vrdskincfg"
if dpkg-query -W vrdskincfg >/dev/null 2>&1; then
  fail "a vrdskincfg package is installed already; this check would replace it"
fi
dpkg -i "dist/vrdskincfg_${build}-1_amd64.deb"
roundtrip amd64-deb vrdskincfg
man -w vrdskincfg >/dev/null || fail "man -w vrdskincfg finds no manual page"
# The completion offers .zip files after --skin= and every file after --ie=.
mkdir "$scratch/complete" && touch "$scratch/complete/"{a.zip,b.cfg}
(cd "$scratch/complete" && bash -c '
  source /usr/share/bash-completion/bash_completion
  source /usr/share/bash-completion/completions/vrdskincfg
  offers() { COMP_WORDS=(vrdskincfg "$@"); COMP_CWORD=$#; COMP_LINE="vrdskincfg $*"
             COMP_POINT=${#COMP_LINE}; COMPREPLY=(); _vrdskincfg vrdskincfg "${@: -1}" "${@: -2:1}" 2>/dev/null
             echo "${COMPREPLY[*]}"; }
  [ "$(offers --skin "")" = a.zip ] && [[ $(offers --ie "") == *b.cfg* ]] &&
    [ "$(offers --import --n)" = --nowait ]') || fail "the bash completion"
dpkg -r vrdskincfg
if [ -e /usr/bin/vrdskincfg ] || [ -e /usr/share/doc/vrdskincfg ]; then
  fail "dpkg -r left files behind"
fi

step "Windows zip under Wine"
mkdir "$scratch/zip" && (cd "$scratch/zip" && unzip -q "$root/dist/vrdskincfgw-$build-win64.zip")
grep -q $'\r$' "$scratch/zip/README.txt" || fail "README.txt has no CR LF line ends"
# Every licence, notice or guide file the zip's Windows texts name is in the zip.
while read -r name; do
  [ -f "$scratch/zip/$name" ] || fail "the zip's texts name $name, which the zip lacks"
done < <(grep -h -o -E '\b(LICENSE|NOTICE|NEWS|README)([A-Za-z0-9.-]*[A-Za-z0-9])?' \
           "$scratch/zip/"{README,NOTICE}.txt | sort -u)
wineboot -i >/dev/null 2>&1
folder="$scratch/Юрий"
mkdir "$folder" && python3 tools/make_skin.py "$folder/vrd.zip" && cp "$scratch/x86_64/a/vrd.cfg" "$folder/vrd.cfg"
run "$scratch" 0 wine "$scratch/zip/vrdskincfgw.exe" --skin=Юрий/vrd.zip --import --nowait
expect "Skin file: Юрий/vrd.zip"
expect "Successfully applied."
export_setup "$folder" "$x86"
cmp "$scratch/x86_64/a/vrd.cfg" "$folder/vrd.cfg" || fail "the Windows import did not apply the whole setup"

step "macOS tarball"
bash tools/ci_release_macos.sh "dist/vrdskincfgm-$build-macos-universal.tar.gz" "$scratch/macos"

step "the second build"
wait "$second" || { cat "$scratch/second.log"; fail "the second release build"; }
second=""
cmp -s dist/SHA256SUMS "$scratch/dist2/SHA256SUMS" ||
  fail "two builds of one commit differ: $(diff dist/SHA256SUMS "$scratch/dist2/SHA256SUMS")"
echo "byte-identical to the first"
rm -rf build-release2
echo
echo "Release checks passed."
