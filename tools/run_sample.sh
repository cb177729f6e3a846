#!/usr/bin/env bash
# Builds the program, writes the sample skin into a scratch folder and starts
# the program there, as a player would run it. Extra arguments go to the
# program. The folder is kept, so running this again continues with the same
# skin and settings file; delete the folder (or set VRD_SAMPLE_DIR) to start afresh.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
sample="${VRD_SAMPLE_DIR:-${TMPDIR:-/tmp}/vrdskincfg-sample}"

echo "Building vrdskincfg in $root/build (the first build takes a minute) ..."
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target vrdskincfg >/dev/null

mkdir -p "$sample"
if [ ! -f "$sample/vrd.zip" ]; then
  python3 "$root/tools/make_skin.py" "$sample/vrd.zip"
  echo "Made the sample skin $sample/vrd.zip"
else
  echo "Using the sample skin $sample/vrd.zip"
fi
echo "Starting: cd $sample && $root/build/vrdskincfg $*"
echo
cd "$sample"
exec "$root/build/vrdskincfg" "$@"
