#!/usr/bin/env bash
# Fetches what the cross builds need from the machine's own Debian mirrors,
# without touching the system's package configuration: the package lists live
# in a private apt state folder that is removed on exit, and nothing is
# installed. Two uses:
#   tools/fetch_from_apt.sh source DEST PACKAGE[=VERSION]
#       unpacks the source of PACKAGE into DEST (the Windows and macOS builds'
#       argtable2, the macOS build's zlib); =VERSION pins the source version,
#       for a package whose newest source is incomplete on a mirror (e.g. an
#       update suite that lacks the upstream tarball)
#   tools/fetch_from_apt.sh ARCH DEST PACKAGE...
#       unpacks the binary packages of architecture ARCH into the folder DEST
#       (the aarch64 build's zlib and argtable2: DEST/usr/include, DEST/usr/lib/...);
#       DEST/.packages/PACKAGE.control holds each package's Package, Version and
#       Source fields, DEST/.packages/PACKAGE.list its files (as usr/lib/...),
#       for the release's notices
# Both keep what an earlier call unpacked (a marker is written last, so an
# interrupted unpack is redone): build scripts call this every time.
set -euo pipefail

kind=${1:?usage: $0 source|ARCH DEST PACKAGE...}
dest=${2:?usage: $0 source|ARCH DEST PACKAGE...}
shift 2
[ $# -gt 0 ] || { echo "usage: $0 source|ARCH DEST PACKAGE..." >&2; exit 1; }
mkdir -p "$dest"
dest=$(cd "$dest" && pwd)
marker="$dest/.unpacked2-$kind-$(echo "$@" | tr ' :' '+_')"
[ -f "$marker" ] && exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/parts" "$work/get"

# Same mirrors and suites as the machine's binary packages; source entries,
# or binary entries of the one architecture asked for.
apt_opts=(
  -o "Dir::Etc::SourceList=/dev/null"
  -o "Dir::Etc::SourceParts=$work/parts"
  -o "Dir::State::Lists=$work/lists"
  -o "Dir::State::Status=/dev/null"
  -o "Dir::Cache=$work/cache"
  -o "APT::Sandbox::User=root"
  -o "Debug::NoLocking=1"
)
list="$work/parts/fetch"
if [ "$kind" = source ]; then
  deb822_type="Types: deb-src"
  one_line_type="deb-src "
else
  deb822_type="Types: deb\nArchitectures: $kind"
  one_line_type="deb [arch=$kind] "
  apt_opts+=(-o "APT::Architecture=$kind" -o "APT::Architectures::=$kind")
fi
if [ -f /etc/apt/sources.list.d/debian.sources ]; then
  sed -E "/^Architectures:/d; s/^Types:.*/$deb822_type/" /etc/apt/sources.list.d/debian.sources \
    >"$list.sources"
elif [ -f /etc/apt/sources.list ]; then
  sed -n -E "s/^[[:space:]]*deb[[:space:]]+(\[[^]]*\][[:space:]]+)?/$one_line_type/p" \
    /etc/apt/sources.list >"$list.list"
else
  echo "$0: no Debian source list found" >&2
  exit 1
fi
apt-get "${apt_opts[@]}" -qq update >&2

if [ "$kind" = source ]; then
  (cd "$work/get" && apt-get "${apt_opts[@]}" -qq source --download-only --tar-only "$1" >&2)
  tarball=$(find "$work/get" -maxdepth 1 -name "${1%%=*}_*.orig.tar.*" | head -n 1)
  [ -n "$tarball" ] || { echo "$0: the source of $1 was not downloaded" >&2; exit 1; }
  tar -xf "$tarball" -C "$dest" --strip-components=1
else
  (cd "$work/get" && apt-get "${apt_opts[@]}" -qq download "${@/%/:$kind}" >&2)
  mkdir -p "$dest/.packages"
  for deb in "$work"/get/*.deb; do
    dpkg-deb -x "$deb" "$dest"
    package=$(dpkg-deb -f "$deb" Package)
    dpkg-deb -f "$deb" Package Version Source >"$dest/.packages/$package.control"
    dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -n 's|^\./\(.*[^/]\)$|\1|p' >"$dest/.packages/$package.list"
  done
  # Links such as usr/lib/.../libz.so -> /lib/.../libz.so.1 point into DEST.
  find "$dest" -type l -lname '/*' | while read -r link; do
    ln -sfn "$dest$(readlink "$link")" "$link"
  done
fi
touch "$marker"
