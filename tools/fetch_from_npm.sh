#!/usr/bin/env bash
# Fetches one npm package at a pinned version through npm's own configured
# registry and unpacks it into a folder, without installing anything:
#   tools/fetch_from_npm.sh DEST NAME@VERSION INTEGRITY
# INTEGRITY is the package's expected Subresource Integrity hash
# ("sha512-<base64>"), pinned by the caller. It must equal the registry's
# dist.integrity for that version, and the downloaded tarball must hash to it;
# otherwise nothing is unpacked. The package's files end up directly in DEST
# (npm's leading package/ folder is left out). Like fetch_from_apt.sh, it
# keeps what an earlier call unpacked (a marker is written last, so an
# interrupted unpack is redone): build scripts call this every time.
set -euo pipefail

usage="usage: $0 DEST NAME@VERSION sha512-BASE64"
dest=${1:?$usage}
package=${2:?$usage}
want=${3:?$usage}
case "$want" in sha512-*) ;; *) echo "$usage" >&2; exit 1 ;; esac
mkdir -p "$dest"
dest=$(cd "$dest" && pwd)
marker="$dest/.unpacked-$(echo "$package" | tr '/@' '+=')"
[ -f "$marker" ] && [ "$(cat "$marker")" = "$want" ] && exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

listed=$(npm view "$package" dist.integrity)
if [ "$listed" != "$want" ]; then
  echo "$0: the registry lists $package with integrity $listed, not the pinned $want" >&2
  exit 1
fi
tgz=$(cd "$work" && npm pack --silent "$package" | tail -n 1)
got=$(python3 -c 'import base64, hashlib, sys
print("sha512-" + base64.b64encode(hashlib.sha512(open(sys.argv[1], "rb").read()).digest()).decode())' "$work/$tgz")
if [ "$got" != "$want" ]; then
  echo "$0: the downloaded $package hashes to $got, not the pinned $want" >&2
  exit 1
fi
find "$dest" -mindepth 1 -maxdepth 1 -exec rm -rf {} +
tar -xzf "$work/$tgz" -C "$dest" --strip-components=1 --no-same-owner
echo "$want" >"$marker"
