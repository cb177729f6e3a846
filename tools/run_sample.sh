#!/usr/bin/env bash
# Builds the program in build-sample/, writes the sample skin into a scratch
# folder and starts the program there, as a player would run it. Extra
# arguments go to the program. The folder is kept, so running this again
# continues with the same skin and settings file; delete the folder (or set
# VRD_SAMPLE_DIR) to start afresh.
source "$(dirname "$0")/script_start.sh"
sample="${VRD_SAMPLE_DIR:-${TMPDIR:-/tmp}/vrdskincfg-sample}"
build="$root/build-sample"

echo "Building vrdskincfg in $build (the first build takes a minute) ..."
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target vrdskincfg >/dev/null

mkdir -p "$sample"
if [ ! -f "$sample/vrd.zip" ]; then
  python3 "$root/tools/make_skin.py" "$sample/vrd.zip"
  echo "Made the sample skin $sample/vrd.zip"
fi
# The skin the program will open: the last --skin given (as --skin=FILE or
# --skin FILE), relative to the sample folder, else vrd.zip there.
skin=vrd.zip
args=("$@")
for i in "${!args[@]}"; do
  case ${args[$i]} in
    --skin=*) skin=${args[$i]#--skin=} ;;
    --skin) skin=${args[$((i + 1))]:-} ;;
  esac
done
case $skin in /*) ;; *) skin="$sample/$skin" ;; esac
echo "Using the skin $skin"
echo "Starting: cd $sample && $build/vrdskincfg $*"
echo
cd "$sample"
exec "$build/vrdskincfg" "$@"
