#!/usr/bin/env bash
# Builds the release packages of the current commit into dist/, <version>
# being <build>.<release> from BUILD_NUMBER and RELEASE_NUMBER:
#   vrdskincfg-<version>-src.tar.gz            the complete source (git archive of the commit)
#   vrdskincfg-<version>-linux-x86_64.tar.gz   static Linux program, manual page, completions,
#                                              guide, notices of what the program contains
#   vrdskincfg-<version>-linux-aarch64.tar.gz  the same for ARM64 (cross-built)
#   vrdskincfg_<version>-1_amd64.deb           Debian package (CPack; linked with the system's libraries)
#   vrdskincfg_<version>-1_arm64.deb           the same for ARM64
#   vrdskincfgw-<version>-win64.zip            the folder vrdskincfgw-<version>-win64/: the
#                                              Windows program, README.txt, notices, completer
#   vrdskincfgm-<version>-macos-universal.tar.gz  the folder vrdskincfgm-<version>/: the
#                                              macOS program (tools/build_macos.sh), README.txt,
#                                              NEWS.txt, notices
#   SHA256SUMS
# The notices (NOTICE, LICENSE.*) are made by tools/release_texts.py from
# each program's link map and the Debian packages the linked files come from.
#   tools/release.sh --program   builds only the x86_64 static program, as the
#                                tarball has it, into build-release/vrdskincfg
#                                (the release check builds the source archive so)
# The tarballs' programs are linked statically (glibc, libstdc++, zlib,
# argtable2) so that they run on any Linux of their architecture; the
# packages' programs use the system's libraries, as Debian wants, so that
# security updates of those reach them. Each architecture is compiled once
# and linked both ways (cmake/static_program.cmake); the three builds run side
# by side.
# Everything is built afresh in build-release/ (the fetched library sources
# and arm64 libraries are kept in build-sources/); VRD_RELEASE_BUILD and
# VRD_RELEASE_DIST name other folders for a second build beside the first. Two runs from one commit
# give byte-identical files: all times are the last commit's
# (SOURCE_DATE_EPOCH), archives have a fixed order, owner and mode, and the
# source path is mapped out of the programs. Debian 12, as root or with sudo
# (installs what is missing).
source "$(dirname "$0")/script_start.sh"
out=${VRD_RELEASE_BUILD:-build-release}
dist=${VRD_RELEASE_DIST:-dist}
program_only=false
[ "${1-}" != --program ] || program_only=true

version=$(release_version)
# The newest release of NEWS.md is this one. (sed reads to the end: head
# could close the pipe before the lister has written, which fails it.)
newest=$(python3 tools/release_texts.py releases NEWS.md | sed -n 1p)
[ "${newest%% *}" = "$version" ] ||
  { echo "$0: NEWS.md's newest release is ${newest%% *}, not $version (BUILD_NUMBER, RELEASE_NUMBER)" >&2; exit 1; }
# Times from the last commit; in an unpacked source archive, which has no
# git, from its files, which all carry that time.
if git rev-parse --git-dir >/dev/null 2>&1; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
  if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    echo "note: the tree has uncommitted changes; they are built in, not in the source archive"
  fi
else
  SOURCE_DATE_EPOCH=$(stat -c %Y CMakeLists.txt)
fi
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
umask 022

# Hardening as Debian's dpkg-buildflags gives it with hardening=+all (PIE is
# the compilers' default); -ffile-prefix-map keeps the source path out.
map="-ffile-prefix-map=$root=."
cflags="$map -fstack-protector-strong -D_FORTIFY_SOURCE=2 -Wformat -Werror=format-security"
ldflags="-Wl,-z,relro -Wl,-z,now"
configure() {  # NAME CMAKE-ARGS...: configures build-release/NAME for a Release build
  local name=$1
  shift
  cmake -S . -B "$out/$name" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DVRD_LINK_MAP=ON "$@"
}
linux() {  # NAME ARGTABLE2-LIBRARY CMAKE-ARGS...: both Linux programs
  local name=$1 argtable2=$2
  shift 2
  configure "$name" -DVRD_STATIC_PROGRAM=ON -DARGTABLE2_LIBRARY="$argtable2" \
    -DCMAKE_C_FLAGS="$cflags" -DCMAKE_CXX_FLAGS="$cflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" "$@" &&
    cmake --build "$out/$name" -j"$jobs" ${targets:+--target $targets}
}
strip_static() {  # ARCH STRIP-PROGRAM OUTPUT: the static program as the tarball has it
  "$2" --remove-section=.comment --remove-section=.note -o "$3" "$out/$1/static/vrdskincfg"
}

if $program_only; then
  rm -rf "$out" && mkdir -p "$out"
  targets=vrd_static_program linux x86_64 "$(gcc -print-file-name=libargtable2.a)" >"$out/x86_64.log" 2>&1 ||
    { cat "$out/x86_64.log"; exit 1; }
  strip_static x86_64 strip "$out/vrdskincfg"
  echo "built $out/vrdskincfg"
  exit 0
fi

step "packages"
bash tools/install_deps.sh dpkg-dev g++-mingw-w64-x86-64-win32 libz-mingw-w64-dev \
  g++-aarch64-linux-gnu
rm -rf "$out" "$dist"
mkdir -p "$out" "$dist"

step "source archive"
# The committed tree; git archive gives every file the commit's time, owner
# and group root, in a fixed order; gzip -n leaves out name and time.
source_archive="$dist/vrdskincfg-$version-src.tar.gz"
git archive --format=tar --prefix="vrdskincfg-$version/" HEAD | gzip -n -9 >"$source_archive"

step "library sources (kept in build-sources/)"
bash tools/fetch_from_apt.sh source build-sources/argtable2 argtable2
bash tools/fetch_from_apt.sh arm64 build-sources/arm64 zlib1g zlib1g-dev libargtable2-dev
arm64_lib="$root/build-sources/arm64/usr/lib/aarch64-linux-gnu"

step "programs: Linux x86_64 and aarch64, Windows (side by side)"
windows() {
  configure win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DVRD_PLATFORM=windows \
    -DARGTABLE2_SOURCE_DIR="$root/build-sources/argtable2" \
    -DCMAKE_C_FLAGS="$map" -DCMAKE_CXX_FLAGS="$map" &&
    cmake --build "$out/win" -j"$jobs" --target vrdskincfgw
}
pids=()
linux x86_64 "$(gcc -print-file-name=libargtable2.a)" >"$out/x86_64.log" 2>&1 & pids+=($!)
linux aarch64 "$arm64_lib/libargtable2.a" -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
  >"$out/aarch64.log" 2>&1 & pids+=($!)
windows >"$out/win.log" 2>&1 & pids+=($!)
for i in 0 1 2; do
  log=("$out/x86_64.log" "$out/aarch64.log" "$out/win.log")
  wait "${pids[$i]}" || { cat "${log[$i]}"; echo "$0: the build in ${log[$i]%.log} failed" >&2; exit 1; }
done
echo "built"

# A static program has no NEEDED entry; a packaged one needs only what every
# Debian or Ubuntu system has.
check_needed() {  # PROGRAM ALLOWED-REGEX
  local needed foreign
  needed=$(readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
  foreign=$(echo "$needed" | grep -v -x -E "$2" || true)
  [ -z "$foreign" ] || { echo "$0: $1 needs ${foreign//$'\n'/ }" >&2; exit 1; }
}
packaged='libc\.so\.6|libm\.so\.6|libstdc\+\+\.so\.6|libgcc_s\.so\.1|libz\.so\.1|ld-linux-aarch64\.so\.1'

# notices TITLE PROGRAM OUT-DIR NOTICE-ARGS...: OUT-DIR/NOTICE and the licence
# texts it names, for the program of one download (tools/release_texts.py).
notices() {
  local title=$1 program=$2 dir=$3
  shift 3
  python3 tools/release_texts.py notice --title "$title" --program "$program" \
    --source-archive "$source_archive" --ours "$root" --fetched build-sources/arm64 "$@" "$dir"
  cp LICENSE "$dir/"
}

# pack STAGE FOLDER TARBALL: STAGE/FOLDER as a reproducible tar.gz (times
# from SOURCE_DATE_EPOCH, names sorted, owners 0).
pack() {
  tar --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner \
    --mode='u+rw,go+rX,go-w' --format=gnu -C "$1" -cf - "$2" | gzip -n -9 >"$3"
}

folder="vrdskincfg-$version"
tarball() {  # ARCH STRIP-PROGRAM: $dist/vrdskincfg-<version>-linux-ARCH.tar.gz
  local arch=$1 strip=$2 stage="$root/$out/stage-$1"
  check_needed "$out/$arch/static/vrdskincfg" ''
  cmake --install "$out/$arch" --prefix "$stage/$folder" --component Unspecified >/dev/null
  strip_static "$arch" "$strip" "$stage/$folder/bin/vrdskincfg"
  notices "vrdskincfg $version for Linux $arch: notices" bin/vrdskincfg \
    "$stage/$folder/share/doc/vrdskincfg" --static --map "$out/$arch/static/vrdskincfg.map"
  # The players' guide also at the top, where they look first.
  cp "$stage/$folder/share/doc/vrdskincfg/README" "$stage/$folder/README"
  pack "$stage" "$folder" "$dist/vrdskincfg-$version-linux-$arch.tar.gz"
}
deb() {  # ARCH DEB-ARCH: $dist/vrdskincfg_<version>-1_DEB-ARCH.deb
  check_needed "$out/$1/vrdskincfg" "$packaged"
  (cd "$out/$1" && cpack -G DEB >/dev/null)
  cp "$out/$1/packages/vrdskincfg_${version}-1_$2.deb" "$dist/"
}

step "tarballs (static programs)"
tarball x86_64 strip
tarball aarch64 aarch64-linux-gnu-strip

step "Debian packages"
deb x86_64 amd64
# dpkg-shlibdeps cannot see arm64 libraries on this machine; the arm64
# program is built by the same compiler and C library versions from the
# same source, so it needs what the amd64 one needs.
depends=$(dpkg-deb -f "$dist/vrdskincfg_${version}-1_amd64.deb" Depends)
echo "Depends: $depends"
cmake "$out/aarch64" -DVRD_DEB_DEPENDS="$depends" >/dev/null
deb aarch64 arm64
[ "$(dpkg-deb -f "$dist/vrdskincfg_${version}-1_arm64.deb" Depends)" = "$depends" ] ||
  { echo "$0: the arm64 package does not declare the Depends above" >&2; exit 1; }

step "Windows zip"
exe="$out/vrdskincfgw.exe"
x86_64-w64-mingw32-strip -o "$exe" "$out/win/vrdskincfgw.exe"
bash tools/check_windows_imports.sh "$exe"
wintexts="$out/win-texts"
notices "vrdskincfgw $version for Windows x64: notices" vrdskincfgw.exe "$wintexts" --static \
  --map "$out/win/vrdskincfgw.map" --from-source libargtable2.a=libargtable2-dev --suffix .txt
python3 tools/release_texts.py news-text NEWS.md "$wintexts/NEWS"
cp doc/README-windows.txt "$wintexts/README"
cp doc/completions/vrdskincfgw.ps1 "$wintexts/"
# All in one folder; text files get CR LF line ends and .txt, for Notepad
# and its kin.
python3 - "$dist/vrdskincfgw-$version-win64.zip" "vrdskincfgw-$version-win64" "$exe" "$wintexts" <<EOF
import os, sys, time, zipfile
zipname, top, exe, texts = sys.argv[1:]
files = [("vrdskincfgw.exe", exe, False)] + [  # name in the zip, source, text
    (n if n.endswith(".ps1") else n + ".txt", os.path.join(texts, n), True)
    for n in sorted(os.listdir(texts))]
stamp = time.gmtime(int(os.environ["SOURCE_DATE_EPOCH"]))[:6]
with zipfile.ZipFile(zipname, "w") as zf:
    for name, source, text in files:
        with open(source, "rb") as f:
            data = f.read()
        if text:
            data = data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
        info = zipfile.ZipInfo(top + "/" + name, date_time=stamp)
        info.create_system = 0  # MS-DOS attributes, whoever makes the zip
        info.external_attr = 0x20  # archive bit
        info.compress_type = zipfile.ZIP_DEFLATED
        zf.writestr(info, data, compresslevel=9)
EOF

step "macOS tarball (universal program, cross-built with Zig)"
# VRD_MACOS_PROGRAM names a universal program built from this tree by
# tools/build_macos.sh before, to be packed instead of building another
# (tools/ci_release.sh: its first release takes the test run's, the second
# builds afresh, and the two must give the same bytes).
macos=${VRD_MACOS_PROGRAM:-$out/macos/vrdskincfgm}
[ -n "${VRD_MACOS_PROGRAM:-}" ] || bash tools/build_macos.sh "$out/macos"
# What Zig's linker put in beside our code and the libraries built from
# Debian's sources; its link has no map, so they are named here.
zig=build-sources/zig
zig_version=$("$zig/zig" version)
debian() {  # PACKAGE NAME LICENCE: the --component of a library built from PACKAGE's source
  echo "$2|$(dpkg-query -W -f '${Version}' "$1") (built here from Debian's source package)|$3|/usr/share/doc/$1/copyright"
}
mactexts="$out/macos-texts"
notices "vrdskincfgm $version for macOS (universal: arm64, x86_64): notices" vrdskincfgm \
  "$mactexts" --static --suffix .txt \
  --component "libc++|of Zig $zig_version|Apache License 2.0 with LLVM Exceptions (Apache-2.0 WITH LLVM-exception)|$zig/lib/libcxx/LICENSE.TXT" \
  --component "libc++abi|of Zig $zig_version|Apache License 2.0 with LLVM Exceptions (Apache-2.0 WITH LLVM-exception)|$zig/lib/libcxxabi/LICENSE.TXT" \
  --component "compiler_rt|of Zig $zig_version|Zig's MIT licence (Expat); the parts ported from LLVM's compiler-rt also under Apache-2.0 WITH LLVM-exception, whose text is libc++'s below|$zig/LICENSE" \
  --component "$(debian zlib1g-dev zlib "the zlib licence")" \
  --component "$(debian libargtable2-dev argtable2 "GNU Library General Public License 2 or later (LGPL-2+)")"
python3 tools/release_texts.py news-text NEWS.md "$mactexts/NEWS"
cp doc/README-macos.txt "$mactexts/README"
# One folder; the texts named .txt, which Finder opens in TextEdit.
macfolder="vrdskincfgm-$version"
rm -rf "$out/macos-stage" && mkdir -p "$out/macos-stage/$macfolder"
install -m 755 "$macos" "$out/macos-stage/$macfolder/vrdskincfgm"
for f in "$mactexts"/*; do
  install -m 644 "$f" "$out/macos-stage/$macfolder/$(basename "$f").txt"
done
pack "$out/macos-stage" "$macfolder" "$dist/$macfolder-macos-universal.tar.gz"

step "checksums"
(cd "$dist" && sha256sum "vrdskincfg-$version-src.tar.gz" \
   "vrdskincfg-$version-linux-x86_64.tar.gz" "vrdskincfg-$version-linux-aarch64.tar.gz" \
   "vrdskincfg_${version}-1_amd64.deb" "vrdskincfg_${version}-1_arm64.deb" \
   "vrdskincfgw-$version-win64.zip" "vrdskincfgm-$version-macos-universal.tar.gz" >SHA256SUMS)
echo "built from commit $(git rev-parse --short HEAD) (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH):"
(cd "$dist" && for f in *; do printf '%10d  %s\n' "$(stat -c %s "$f")" "$f"; done && cat SHA256SUMS)
