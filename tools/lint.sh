#!/usr/bin/env bash
# Checks the tree and fails on any finding: the layout of .clang-format over
# the C++ code and its tests, the checks of .clang-tidy over src/,
# zipengine/, fuzz/ and bench/, shellcheck (.shellcheckrc) over every shell
# script and .ci/run, and pyflakes over the Python tools and tests. Every
# check runs, so that one run lists every finding.
# The Windows files (*_win.cpp) are not given to clang-tidy: they need the
# Windows headers, and the cross build compiles them with -Werror.
source "$(dirname "$0")/script_start.sh"
bash tools/install_deps.sh

status=0
# check NAME COMMAND...: runs one check, with its time; a finding fails the run.
check() {
  local name=$1 start=$SECONDS
  shift
  step "lint: $name"
  if "$@"; then
    echo "$name: clean ($((SECONDS - start)) s)"
  else
    echo "$name: FINDINGS ($((SECONDS - start)) s)"
    status=1
  fi
}

mapfile -t cpp < <(git ls-files 'src/*.cpp' 'src/*.h' 'zipengine/*.cpp' 'zipengine/*.h' \
  'fuzz/*.cpp' 'fuzz/*.h' 'bench/*.cpp' 'tests/*.cpp' 'tests/*.h')
mapfile -t tidy < <(git ls-files 'src/*.cpp' 'zipengine/*.cpp' 'fuzz/*.cpp' 'bench/*.cpp' |
  grep -v '_win\.cpp$')
mapfile -t shell < <(git ls-files '*.sh' .ci/run)
mapfile -t python < <(git ls-files '*.py')

# clang-tidy reads how each file is compiled from a build folder; configuring
# one is enough (it also writes the generated headers). The fuzz targets
# need clang.
# shellcheck disable=SC2317  # run through check, which shellcheck does not follow
tidy_files() {
  CC=clang CXX=clang++ cmake -S . -B build-lint -DVRD_FUZZ=ON -DBUILD_TESTING=OFF \
    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null &&
    printf '%s\0' "${tidy[@]}" |
    xargs -0 -n1 -P"$jobs" clang-tidy -p build-lint --quiet --warnings-as-errors='*' 2>/dev/null
}

check clang-format clang-format --dry-run -Werror "${cpp[@]}"
check clang-tidy tidy_files
check shellcheck shellcheck -x "${shell[@]}"
check pyflakes pyflakes3 "${python[@]}"
exit $status
