#!/usr/bin/env bash
# Static checks of the sources: every tracked C and C++ file formatted as .clang-format says,
# and clang-tidy's checks (.clang-tidy) clean on every source of src/, using the compilation
# database of a configured build. Exits non-zero on the first kind of finding, and when
# clang-tidy cannot run or cannot check a source (CLANG_TIDY names another binary).
#   bash scripts/check-code.sh [BUILD_DIR]     (default: build)
# ORL_SKIP_FORMAT=1 leaves out clang-format.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
cd "$root"

if [[ -z "${ORL_SKIP_FORMAT:-}" ]]; then
    mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.c')
    echo "== clang-format: ${#files[@]} files"
    clang-format --dry-run --Werror "${files[@]}"
fi

[[ -f "$build/compile_commands.json" ]] || {
    echo "check-code.sh: no compile_commands.json in $build; configure a build first" >&2
    exit 2
}
tidy=${CLANG_TIDY:-clang-tidy}
command -v "$tidy" >/dev/null || {
    echo "check-code.sh: $tidy is not installed (Debian package clang-tidy); nothing was checked" >&2
    exit 2
}
mapfile -t sources < <(git ls-files 'src/*.cpp')
echo "== clang-tidy: ${#sources[@]} sources"
log=$(mktemp)
errlog=$(mktemp)
trap 'rm -f "$log" "$errlog"' EXIT
# clang-tidy ends non-zero when it cannot check a source (a compile error, a crash); findings
# alone leave its status at zero and are found in its output.
status=0
printf '%s\n' "${sources[@]}" |
    xargs -P "${ORL_JOBS:-2}" -n 4 "$tidy" -p "$build" --quiet --extra-arg=-Wno-unknown-warning-option >"$log" 2>"$errlog" || status=$?
if grep -q -E '(warning|error):' "$log"; then
    grep -E -A3 '(warning|error):' "$log"
    echo "check-code.sh: clang-tidy reported the findings above" >&2
    exit 1
fi
if ((status != 0)); then
    grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$|^Suppressed [0-9]+ warnings|^Use -header-filter|^Use -system-headers' "$errlog" >&2 || true
    echo "check-code.sh: clang-tidy could not check every source (status $status); see above" >&2
    exit 2
fi
echo "clang-format and clang-tidy: clean"
