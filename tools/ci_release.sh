#!/usr/bin/env bash
# CI for the release: builds it twice, in two folders, and compares the
# checksums, and builds the program from the source archive alone and
# compares it with the tarball's; meanwhile tries each artifact of the first
# build the way a player or an install script would: the static programs of
# both tarballs (the aarch64 one under qemu, also against the whole
# end-to-end suite), the commands of the players' guide as it shows them,
# both Debian packages under lintian, the amd64 one installed (its bash, zsh
# and fish completions tried) and removed, and the Windows program from the
# zip under Wine in a folder named in Cyrillic, and the macOS tarball's
# folder, notices and universal program (tools/ci_release_macos.sh). Every
# download's notices must name every library its program's link map (the
# macOS program's link line) shows, and NEWS.md, the
# packages' changelog, the file names and the Windows version information
# must name one version. Debian 12, as root (the package is installed for a
# moment).
source "$(dirname "$0")/script_start.sh"

fail() { echo "FAILED: $*" >&2; exit 1; }

bash tools/install_deps.sh dpkg-dev man-db wine wine64 lintian qemu-user-static bash-completion \
  zsh fish
scratch=$(mktemp -d /tmp/vrd-release.XXXXXX)
export WINEPREFIX="$scratch/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
second="" from_source=""
cleanup() {
  [ -z "$second" ] || kill "$second" 2>/dev/null || true
  [ -z "$from_source" ] || kill "$from_source" 2>/dev/null || true
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
version=$(release_version)
# The source archive alone builds the tarball's program, byte for byte.
mkdir "$scratch/src"
tar -xzf "dist/vrdskincfg-$version-src.tar.gz" -C "$scratch/src"
(cd "$scratch/src/vrdskincfg-$version" && bash tools/release.sh --program) >"$scratch/from-source.log" 2>&1 &
from_source=$!
start_checks=$SECONDS

step "versions"
# NEWS.md's releases, newest first, are the changelog's entries of both
# packages; each version sorts after the one before; every file is named by
# this release's version.
news_versions=$(python3 tools/release_texts.py releases NEWS.md | cut -d ' ' -f 1 | sed 's/$/-1/')
[ "$(echo "$news_versions" | head -n 1)" = "$version-1" ] || fail "NEWS.md's newest release is not $version"
older=""
for v in $news_versions; do
  [ -z "$older" ] || dpkg --compare-versions "$older" gt "$v" || fail "NEWS.md: $older does not sort after $v"
  older=$v
done
for arch in amd64 arm64; do
  deb="dist/vrdskincfg_${version}-1_$arch.deb"
  [ "$(dpkg-deb -f "$deb" Version)" = "$version-1" ] || fail "$deb has version $(dpkg-deb -f "$deb" Version)"
  dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/vrdskincfg/changelog.Debian.gz | gunzip \
    >"$scratch/changelog"
  [ "$(sed -n 's/^vrdskincfg (\(.*\)) .*/\1/p' "$scratch/changelog")" = "$news_versions" ] ||
    fail "the changelog of $deb has not one entry per release of NEWS.md"
done
while read -r _ name; do
  [[ $name == *"$version"[-_]* ]] || fail "SHA256SUMS names $name, which is not named by version $version"
done <dist/SHA256SUMS
[ "$(find dist -type f ! -name SHA256SUMS | wc -l)" -eq "$(wc -l <dist/SHA256SUMS)" ] ||
  fail "dist/ holds files SHA256SUMS does not name"
(cd dist && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match dist/"
echo "NEWS.md, both changelogs and every file name: $version"

# notices DOWNLOAD NOTICE MAP CHECK-ARGS...: NOTICE names every library of MAP.
notices() {
  python3 tools/release_texts.py check-notice "$2" "$3" --ours "$root" --fetched build-sources/arm64 \
    "${@:4}" || fail "the notices of $1"
}

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

step "tarballs: static programs, notices"
for arch in x86_64 aarch64; do
  mkdir "$scratch/tar-$arch"
  tar -xzf "dist/vrdskincfg-$version-linux-$arch.tar.gz" -C "$scratch/tar-$arch"
  [ "$(ls "$scratch/tar-$arch")" = "vrdskincfg-$version" ] || fail "the $arch tarball's folder"
  top="$scratch/tar-$arch/vrdskincfg-$version"
  doc="$top/share/doc/vrdskincfg"
  for f in README bin/vrdskincfg share/man/man1/vrdskincfg.1.gz \
           share/bash-completion/completions/vrdskincfg share/zsh/vendor-completions/_vrdskincfg \
           share/fish/vendor_completions.d/vrdskincfg.fish share/doc/vrdskincfg/README \
           share/doc/vrdskincfg/NEWS.md share/doc/vrdskincfg/NOTICE share/doc/vrdskincfg/LICENSE; do
    [ -f "$top/$f" ] || fail "the $arch tarball lacks $f"
  done
  ! objdump -p "$top/bin/vrdskincfg" | grep -q NEEDED || fail "the $arch program needs shared libraries"
  notices "the $arch tarball" "$doc/NOTICE" "build-release/$arch/static/vrdskincfg.map"
  grep -q -F "vrdskincfg-$version-src.tar.gz" "$doc/NOTICE" || fail "the $arch NOTICE names no source archive"
  for licence in LGPL-2.1 GPL-3 LGPL-2; do
    [ -f "$doc/LICENSE.$licence" ] || fail "the $arch tarball lacks the licence text $licence"
  done
done
x86="$scratch/tar-x86_64/vrdskincfg-$version/bin/vrdskincfg"
arm="$scratch/tar-aarch64/vrdskincfg-$version/bin/vrdskincfg"
roundtrip x86_64 "$x86"
roundtrip aarch64 qemu-aarch64-static "$arm"
echo "both import a setup into a generated skin"

step "end-to-end suite against the aarch64 program under qemu"
start=$SECONDS
VRD_EXE="$arm" VRD_RUNNER=qemu-aarch64-static VRD_PROGNAME=vrdskincfg VRD_SOURCE_DIR="$root" \
  xargs -P "$jobs" -n 1 python3 < <(printf '%s\n' tests/e2e/test_*.py) >"$scratch/e2e.log" 2>&1 ||
  { cat "$scratch/e2e.log"; fail "the end-to-end suite failed against the aarch64 program"; }
echo "passed: $(grep -c '^Ran ' "$scratch/e2e.log") files, $((SECONDS - start)) s"

step "the players' guide's commands, as it shows them"
start=$SECONDS
guide=doc/README-linux.txt
home="$scratch/home"
mkdir -p "$home/Downloads" "$home/game" "$scratch/downloads"
cp dist/vrdskincfg* "$scratch/downloads/"
# player DIR COMMAND... [-- CHECK...]: each COMMAND as the guide shows it (a
# line of its own, indented), then each CHECK, run in DIR one after the
# other by a player whose home is $home and whose PATH is the system's.
player() {
  local dir=$1 c guide_part=true
  shift
  for c; do
    [ "$c" != -- ] || guide_part=false
    ! $guide_part || grep -q -x -F "  $c" "$guide" || fail "the guide does not show: $c"
  done
  (cd "$dir" && HOME="$home" PATH=/usr/local/bin:/usr/bin:/bin \
     bash -e -c "$(printf '%s\n' "$@" | grep -v -x -e --)") || fail "the guide's commands failed: $*"
}
# shellcheck disable=SC2016  # the commands are expanded by the player's shell
player "$scratch/downloads" 'tar -xzf vrdskincfg-*-linux-$(uname -m).tar.gz' 'cd vrdskincfg-*/' \
  'mkdir -p ~/.local/bin && cp bin/vrdskincfg ~/.local/bin/' \
  'mkdir -p ~/.local/share/bash-completion/completions' \
  'cp share/bash-completion/completions/vrdskincfg ~/.local/share/bash-completion/completions/' \
  'mkdir -p ~/.config/fish/completions' \
  'cp share/fish/vendor_completions.d/vrdskincfg.fish ~/.config/fish/completions/'
(cd "$scratch/downloads"/vrdskincfg-*/ && man -P cat -l share/man/man1/vrdskincfg.1.gz | grep -q TROUBLESHOOTING) ||
  fail "man -l share/man/man1/vrdskincfg.1.gz"
! HOME="$home" PATH=/usr/bin:/bin bash -c 'command -v vrdskincfg' >/dev/null || fail "vrdskincfg found before the PATH note"
# shellcheck disable=SC2016
player "$home" 'export PATH="$HOME/.local/bin:$PATH"' -- 'vrdskincfg --help >/dev/null'
HOME="$home" bash -c 'source /usr/share/bash-completion/bash_completion; _completion_loader vrdskincfg;
  complete -p vrdskincfg' >/dev/null 2>&1 || fail "bash-completion does not find the completion the guide copies"
# fish loads the completion of a command it finds in PATH.
[ "$(HOME="$home" PATH="$home/.local/bin:/usr/bin:/bin" fish -c 'complete -C"vrdskincfg --sk"' | cut -f 1)" = --skin= ] ||
  fail "fish does not find the completion the guide copies"
# The update script, with a skin set up in the game's folder and a new one downloaded.
python3 tools/make_skin.py "$home/game/vrd.zip" --live 18=3 --live 1=1
python3 tools/make_skin.py "$home/Downloads/vrd.zip"
(cd "$home/game" && printf '5\ny\n' | "$x86" --nowait >/dev/null) ||
  fail "exporting the game's setup"
cp "$home/game/vrd.cfg" "$scratch/game.cfg"
# shellcheck disable=SC2016
player "$home" 'export PATH="$HOME/.local/bin:$PATH"' 'cd ~/game || exit 1' \
  "printf '5\\ny\\ny\\n' | vrdskincfg --nowait || exit 1   # export: 5, yes, overwrite" \
  'cp ~/Downloads/vrd.zip vrd.zip' \
  'vrdskincfg --import --nowait </dev/null || echo "The setup could not be applied."' \
  'vrdskincfg --import --nowait </dev/null'
export_setup "$home/game" "$x86"
cmp "$scratch/game.cfg" "$home/game/vrd.cfg" || fail "the guide's update script lost the setup"
echo "passed, $((SECONDS - start)) s"

step "Debian packages"
lintian -I --fail-on error,warning "dist/vrdskincfg_${version}-1_amd64.deb" \
  "dist/vrdskincfg_${version}-1_arm64.deb" >"$scratch/lintian" || { cat "$scratch/lintian"; fail "lintian found errors or warnings"; }
! grep -q extra-license-file "$scratch/lintian" || fail "lintian: $(grep extra-license-file "$scratch/lintian")"
echo "lintian: no errors or warnings, no extra licence file"
for arch in x86_64 aarch64; do
  deb="dist/vrdskincfg_${version}-1_$( [ $arch = x86_64 ] && echo amd64 || echo arm64).deb"
  dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/vrdskincfg/copyright >"$scratch/copyright"
  notices "$deb" "$scratch/copyright" "build-release/$arch/vrdskincfg.map" --copyright
  grep -q -F "vrdskincfg-$version-src.tar.gz" "$scratch/copyright" || fail "$deb names no source archive"
done
# The arm64 package's program, with its libraries: the cross compiler's C and
# C++ libraries and the arm64 zlib the release build linked with.
dpkg-deb -x "dist/vrdskincfg_${version}-1_arm64.deb" "$scratch/arm64-package"
roundtrip arm64-deb qemu-aarch64-static -L "/usr/aarch64-linux-gnu" \
  -E LD_LIBRARY_PATH="$root/build-sources/arm64/lib/aarch64-linux-gnu" "$scratch/arm64-package/usr/bin/vrdskincfg"
if dpkg-query -W vrdskincfg >/dev/null 2>&1; then
  fail "a vrdskincfg package is installed already; this check would replace it"
fi
# The guide's line, which picks the package of this machine's architecture
# (as root, without sudo).
# shellcheck disable=SC2016
line='sudo dpkg -i ./vrdskincfg_*_$(dpkg --print-architecture).deb'
grep -q -x -F "  $line" "$guide" || fail "the guide does not show: $line"
(cd dist && bash -e -c "${line#sudo }") || fail "the guide's line: $line"
dpkg-query -W vrdskincfg >/dev/null || fail "the guide's dpkg -i line installed nothing"
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
# zsh (in an interactive zsh on a pseudo-terminal, where TAB completes) and
# fish complete "--sk" to "--skin=".
zsh -fc '
  zmodload zsh/zpty
  zpty z zsh -f -i
  zpty -w z "autoload -Uz compinit; compinit -u -D"
  zpty -w z "dump() { print -r -- \$BUFFER >$1; }; zle -N dump; bindkey \"^X\" dump"
  zpty -n -w z "vrdskincfg --sk"$'"'"'\t\C-x'"'"'
  for i in {1..100}; do [[ -s $1 ]] && break; sleep 0.1; done
  zpty -d z' zsh "$scratch/zsh-line"
[ "$(cat "$scratch/zsh-line" 2>/dev/null)" = "vrdskincfg --skin=" ] || fail "zsh completes --sk to: $(cat "$scratch/zsh-line")"
[ "$(fish -c 'complete -C"vrdskincfg --sk"' | cut -f 1)" = --skin= ] || fail "the fish completion"
python3 tools/completions.py --check || fail "the completions"
echo "bash, zsh and fish complete the options"
dpkg -r vrdskincfg
if [ -e /usr/bin/vrdskincfg ] || [ -e /usr/share/doc/vrdskincfg ]; then
  fail "dpkg -r left files behind"
fi

step "Windows zip under Wine"
mkdir "$scratch/unzip" && (cd "$scratch/unzip" && unzip -q "$root/dist/vrdskincfgw-$version-win64.zip")
[ "$(ls "$scratch/unzip")" = "vrdskincfgw-$version-win64" ] || fail "the zip does not unpack into one folder"
mv "$scratch/unzip/vrdskincfgw-$version-win64" "$scratch/zip"
for f in README NEWS NOTICE; do
  grep -q $'\r$' "$scratch/zip/$f.txt" || fail "$f.txt has no CR LF line ends"
done
! grep -q -E '^#|`' "$scratch/zip/NEWS.txt" || fail "NEWS.txt is Markdown"
notices "the Windows zip" "$scratch/zip/NOTICE.txt" build-release/win/vrdskincfgw.map \
  --from-source libargtable2.a=libargtable2-dev
strings -e l "$scratch/zip/vrdskincfgw.exe" | grep -q -x -F "$version" ||
  fail "the Windows program's version information does not say $version"
# Every licence, notice or guide file the zip's Windows texts name is in the
# zip (the notices of the libraries, from "=== " on, are Debian's texts;
# README.md is the source archive's).
while read -r name; do
  [ -f "$scratch/zip/$name" ] || fail "the zip's texts name $name, which the zip lacks"
done < <(sed '/^=== /q' "$scratch/zip/NOTICE.txt" | cat "$scratch/zip/README.txt" - |
           grep -o -E '\b(LICENSE|NOTICE|NEWS|README)([A-Za-z0-9.-]*[A-Za-z0-9])?' | grep -v -x README.md |
           sort -u)
wineboot -i >/dev/null 2>&1
folder="$scratch/Юрий"
mkdir "$folder" && python3 tools/make_skin.py "$folder/vrd.zip" && cp "$scratch/x86_64/a/vrd.cfg" "$folder/vrd.cfg"
run "$scratch" 0 wine "$scratch/zip/vrdskincfgw.exe" --skin=Юрий/vrd.zip --import --nowait
expect "Skin file: Юрий/vrd.zip"
expect "Successfully applied."
export_setup "$folder" "$x86"
cmp "$scratch/x86_64/a/vrd.cfg" "$folder/vrd.cfg" || fail "the Windows import did not apply the whole setup"

echo "the checks took $((SECONDS - start_checks)) s"

step "the program from the source archive"
wait "$from_source" || { cat "$scratch/from-source.log"; fail "building the source archive"; }
from_source=""
cmp "$scratch/src/vrdskincfg-$version/build-release/vrdskincfg" "$x86" ||
  fail "the source archive does not build the tarball's program"
echo "byte-identical to the tarball's"

step "macOS tarball"
bash tools/ci_release_macos.sh dist "$scratch/macos"

step "the second build"
wait "$second" || { cat "$scratch/second.log"; fail "the second release build"; }
second=""
cmp -s dist/SHA256SUMS "$scratch/dist2/SHA256SUMS" ||
  fail "two builds of one commit differ: $(diff dist/SHA256SUMS "$scratch/dist2/SHA256SUMS")"
echo "byte-identical to the first"
rm -rf build-release2
echo
echo "Release checks passed."
