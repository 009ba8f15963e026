#!/usr/bin/env bash
# Static checks of the sources: every tracked C and C++ file formatted as .clang-format says,
# and clang-tidy's checks (.clang-tidy) clean on every source of src/, using the compilation
# database of a configured build. Exits non-zero on the first kind of finding.
#   bash scripts/check-code.sh [BUILD_DIR]     (default: build)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
cd "$root"

mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.c')
echo "== clang-format: ${#files[@]} files"
clang-format --dry-run --Werror "${files[@]}"

[[ -f "$build/compile_commands.json" ]] || {
    echo "check-code.sh: no compile_commands.json in $build; configure a build first" >&2
    exit 2
}
mapfile -t sources < <(git ls-files 'src/*.cpp')
echo "== clang-tidy: ${#sources[@]} sources"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
printf '%s\n' "${sources[@]}" |
    xargs -P "${ORL_JOBS:-2}" -n 4 clang-tidy -p "$build" --quiet --extra-arg=-Wno-unknown-warning-option >"$log" 2>/dev/null || true
if grep -q -E '(warning|error):' "$log"; then
    grep -E -A3 '(warning|error):' "$log"
    echo "check-code.sh: clang-tidy reported the findings above" >&2
    exit 1
fi
echo "clang-format and clang-tidy: clean"
