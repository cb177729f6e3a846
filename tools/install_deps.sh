#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, from the machine's own
# package configuration. Safe to run again: it installs only what is missing.
# Arguments name further packages a script needs beyond these.
set -euo pipefail

packages=(cmake make g++ pkg-config zlib1g-dev libargtable2-dev libgtest-dev googletest
          python3 zip unzip p7zip-full libarchive-tools clang libclang-rt-14-dev groff-base
          strace time clang-format clang-tidy shellcheck pyflakes3
          fuse3 exfat-fuse exfatprogs openssh-server openssh-client sshfs "$@")
# time: peak memory in bench/run_bench.sh; clang-format to pyflakes3: tools/lint.sh;
# fuse3 to sshfs: the end-to-end tests on mounted file systems (tests/e2e/mounts.py)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
