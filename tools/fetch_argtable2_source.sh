#!/usr/bin/env bash
# Fetches Debian's argtable2 source package and unpacks it into DEST, for
# builds (the Windows cross build) that have no argtable2 package to link.
# The deb-src entry it needs is derived from the machine's own Debian source
# list and lives only in a private apt state folder that is removed on exit,
# so the system's package lists are never touched.
# Usage: tools/fetch_argtable2_source.sh DEST   (DEST/src/argtable2.h afterwards)
set -euo pipefail

dest=${1:?usage: $0 DEST}
mkdir -p "$dest"
dest=$(cd "$dest" && pwd)

# The marker is written last, so an interrupted unpack is redone.
[ -f "$dest/.unpacked" ] && exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/parts"

# Same mirrors and suites as the binary packages, but as source entries.
src_list="$work/parts/argtable2-src"
if [ -f /etc/apt/sources.list.d/debian.sources ]; then
  sed -E 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
    >"$src_list.sources"
elif [ -f /etc/apt/sources.list ]; then
  sed -n -E 's/^[[:space:]]*deb[[:space:]]/deb-src /p' /etc/apt/sources.list >"$src_list.list"
else
  echo "$0: no Debian source list found" >&2
  exit 1
fi

apt_opts=(
  -o "Dir::Etc::SourceList=/dev/null"
  -o "Dir::Etc::SourceParts=$work/parts"
  -o "Dir::State::Lists=$work/lists"
  -o "Dir::Cache=$work/cache"
  -o "APT::Sandbox::User=root"
  -o "Debug::NoLocking=1"
)
apt-get "${apt_opts[@]}" -qq update >&2
(cd "$work" && apt-get "${apt_opts[@]}" -qq source --download-only --tar-only argtable2 >&2)

tarball=$(find "$work" -maxdepth 1 -name 'argtable2_*.orig.tar.*' | head -n 1)
if [ -z "$tarball" ]; then
  echo "$0: argtable2 source was not downloaded" >&2
  exit 1
fi
tar -xf "$tarball" -C "$dest" --strip-components=1
[ -f "$dest/src/argtable2.h" ] || { echo "$0: unexpected source layout" >&2; exit 1; }
touch "$dest/.unpacked"
