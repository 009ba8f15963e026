#!/usr/bin/env bash
# Times the NTFS deleted-file scan against peer tools on one generated volume, side by side:
# ntfs-scan-bench (ScanNtfsVolume, full paths), fls -r -d -p, ntfsundelete (flat listing) and
# a plain read of the MFT's bytes, each from a warm page cache, with CPU time and peak memory.
#
#   bench/ntfs/bench-scan.sh [FILES] [DIRS]     (defaults 200000 files in 200 folders)
#
# Every second file is deleted. Work files go to $WORK (default: build-bench-ntfs in the
# repository); the image is kept and reused while FILES and DIRS stay the same.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
files=${1:-200000}
dirs=${2:-200}
per=$((files / dirs))
work=${WORK:-$repo/build-bench-ntfs}
mkdir -p "$work"

echo "== building (Release)"
cmake -S "$repo" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORL_BUILD_TESTS=OFF \
      -DORL_BUILD_GUI=OFF >/dev/null
cmake --build "$work/build" --target orl_scan -j2 >/dev/null
mapfile -t libs < <(find "$work/build/src" -name 'liborl_*.a')
c++ -std=c++20 -O2 -I "$repo/src" "$here/NtfsScanBench.cpp" -o "$work/ntfs-scan-bench" \
    -Wl,--start-group "${libs[@]}" -Wl,--end-group -lpthread
cc -O2 -o "$work/ntfs-build" "$repo/tests/images/ntfs-build.c" -lntfs-3g

img="$work/bench-$files-$dirs.img"
if [[ ! -f "$img" ]]; then
    echo "== building the volume: $files files in $dirs folders, every second one deleted"
    rm -f "$img.tmp"
    truncate -s 2G "$img.tmp"
    mkntfs -F -Q -q -c 4096 -L bench "$img.tmp" >/dev/null 2>&1
    start=$(date +%s)
    {
        for ((d = 0; d < dirs; d++)); do
            printf 'mkdir /dir%04d\nmkfiles %d 200 /dir%04d\n' "$d" "$per" "$d"
        done
        for ((d = 0; d < dirs; d++)); do
            printf 'rmfiles %d 2 /dir%04d\n' "$per" "$d"
        done
    } | "$work/ntfs-build" "$img.tmp"
    mv "$img.tmp" "$img"
    echo "   built in $(( $(date +%s) - start )) s"
fi

# Warm the page cache so that every tool reads from memory.
cat "$img" >/dev/null

run() {
    local label=$1
    shift
    local log="$work/time-$label.log"
    /usr/bin/time -v "$@" >"$work/out-$label.txt" 2>"$log" || true
    local wall rss cpu
    wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$log")
    rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$log")
    # CPU time (user + system) is the fairer figure on a machine shared with other work.
    cpu=$(awk -F': ' '/User time|System time/ {s += $2} END {printf "%.2f", s}' "$log")
    printf '%-30s %10s %9s s %7s MiB %8s lines\n' "$label" "$wall" "$cpu" "$((rss / 1024))" \
        "$(wc -l <"$work/out-$label.txt")"
}

mft_cat() {
    "$work/ntfs-scan-bench" "$img" --mft-extent | while read -r offset length; do
        dd if="$img" bs=1M iflag=skip_bytes,count_bytes skip="$offset" count="$length" \
           status=none
    done
}
export -f mft_cat
export img work

echo "== MFT: $("$work/ntfs-scan-bench" "$img" --mft-extent | awk '{s += $2} END {print s / 1048576 " MiB"}')"
printf '%-30s %10s %11s %11s %14s\n' tool "wall" "CPU" "peak RSS" "output"
run "read MFT bytes (dd)" bash -c 'mft_cat | wc -c'
run "ntfs-scan-bench (count)" "$work/ntfs-scan-bench" "$img"
run "ntfs-scan-bench (paths)" "$work/ntfs-scan-bench" "$img" --paths
run "ntfsundelete (listing)" ntfsundelete -f -s "$img"
run "fls -r -d -p" fls -r -d -p "$img"
grep -h '^scan' "$work/time-ntfs-scan-bench (count).log" || true
