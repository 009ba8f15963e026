#!/usr/bin/env bash
# Times the index-record reader alone (IndexRecordBench.cpp) on the index records of the test
# volume "ntfs-index" (tests/images/recipes/ntfsindx.sh: a folder of 400 names, every seventh
# removed), as on disk and with noise in their slack. The deep search calls the reader only for
# clusters that start "INDX", a small share of a volume; records/s times the record size is the
# rate of index records it keeps up with.
#
#   bench/ntfs/bench-index-records.sh [SECONDS_PER_SET]     (default 3)
#
# Work files go to $WORK (default: build-bench-ntfs in the repository).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
seconds=${1:-3}
work=${WORK:-$repo/build-bench-ntfs}
mkdir -p "$work"

echo "== building (Release)"
cmake -S "$repo" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORL_BUILD_TESTS=OFF \
      -DORL_BUILD_GUI=OFF >/dev/null
cmake --build "$work/build" --target orl_ntfs -j2 >/dev/null
mapfile -t libs < <(find "$work/build/src" -name 'liborl_*.a')
c++ -std=c++20 -O2 -I "$repo/src" "$here/IndexRecordBench.cpp" -o "$work/index-record-bench" \
    -Wl,--start-group "${libs[@]}" -Wl,--end-group

img="$work/ntfs-index.img"
[[ -f "$img" ]] || bash "$repo/tests/images/make-image.sh" ntfs-index "$img"

echo "== index-record-bench ($seconds s a set)"
"$work/index-record-bench" "$img" 4096 "$seconds"
