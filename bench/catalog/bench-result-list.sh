#!/usr/bin/env bash
# Times the result list's open, filter and sort of a folder of 100,000 finds: a volume of
# 200,000 files in one folder, every second one deleted, written by ntfs-volume-gen
# (bench/ntfs/NtfsVolumeGen.cpp), searched by result-list-bench (ResultListBench.cpp), which
# prints the median of five runs of each step as a Markdown table.
#
#   bench/catalog/bench-result-list.sh [FILES]      (default: 200000)
#
# Both programs are built in $WORK/build (Release) unless $ORL_BUILD names a build directory
# that has them; the volume is kept in $WORK (default: build-bench-result-list).
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=${WORK:-$repo/build-bench-result-list}
files=${1:-200000}
mkdir -p "$work"
build=${ORL_BUILD:-}
if [[ -z $build ]]; then
    build=$work/build
    cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORL_BUILD_TESTS=OFF \
          -DORL_BUILD_GUI=OFF >/dev/null
    cmake --build "$build" --target result-list-bench ntfs-volume-gen -j2 >/dev/null
fi
img=$work/ntfs-one-folder-$files.img
if [[ ! -f $img ]]; then
    "$build/bench/ntfs-volume-gen" "$img.tmp" "$files" --folders 1
    mv "$img.tmp" "$img"
fi
"$build/bench/result-list-bench" "$img"
