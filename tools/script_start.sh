# Sourced first by the build and test scripts: strict mode, the repository's
# folder as the working folder ($root), the build job count ($jobs, one per
# processor), and step headings.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
# shellcheck disable=SC2034  # read by the scripts that source this one
jobs=$(nproc)

step() { echo; echo "=== $*"; }
# The release's version, <build>.<release>: 10.2 is build 10's second release.
release_version() { echo "$(cat "$root/BUILD_NUMBER").$(cat "$root/RELEASE_NUMBER")"; }
