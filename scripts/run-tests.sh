#!/usr/bin/env bash
# Installs what the project needs, builds everything (Release, warnings as errors) and runs
# every test with CTest. Exits non-zero when the build or any test fails.
#   bash scripts/run-tests.sh            build folder: build
#   BUILD_DIR=other bash scripts/run-tests.sh
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=scripts/deps.sh
. "$root/scripts/deps.sh"
install_deps build images test gui package

build=${BUILD_DIR:-$root/build}
jobs=${ORL_JOBS:-2}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORL_WERROR=ON \
    ${ORL_CMAKE_ARGS:-}
cmake --build "$build" -j "$jobs"
cd "$build"
ctest --output-on-failure --no-tests=error --timeout 900 -j "$jobs"
