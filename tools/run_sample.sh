#!/usr/bin/env bash
# Builds the program, writes the sample skin into a scratch folder and starts
# the program there, as a player would run it. Extra arguments go to the program.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$root/build" -j2 --target vrdskincfg >/dev/null
scratch="$(mktemp -d "${TMPDIR:-/tmp}/vrdskin.XXXXXX")"
python3 "$root/tools/make_skin.py" "$scratch/vrd.zip"
echo "Sample skin: $scratch/vrd.zip"
cd "$scratch"
exec "$root/build/vrdskincfg" "$@"
