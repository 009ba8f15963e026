#!/usr/bin/env bash
# Times recoveries with orlavent-cli against peers, three times each from a warm page cache,
# with CPU time and peak memory:
#  1. every deleted file of the NTFS benchmark volume (100,000 small files and two large
#     ones) against TestDisk's scripted undelete of all files; both results are checked
#     (file count, checksums of a small and a large file against icat);
#  2. one deleted 300 MiB file on small FAT32 and NTFS volumes that hold nothing else (so
#     that the search in front of it costs next to nothing) against dd of the same bytes
#     (the extents istat lists), both written to the same destination file system.
#
#   bench/recovery/bench-recover.sh   (WORK, BENCH_DEST, BENCH_FILES, BENCH_DIRS: see
#                                      bench/common.sh; BENCH_DEST on a tmpfs measures the
#                                      tools rather than the file system's file creation;
#                                      BENCH_COLD=1 as root drops the page cache before each
#                                      single-file run, BENCH_ONLY=one runs only those;
#                                      BENCH_FRESH_FS=1 as root recovers every file into a
#                                      new ext4 file system each run)
set -euo pipefail
. "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/common.sh"
[[ -n ${cli:-} ]] || bench_build
command -v testdisk >/dev/null || { echo "bench-recover.sh: testdisk is not installed" >&2; exit 1; }
mkdir -p "$dest"
dest=$(cd "$dest" && pwd)

# check_tree DIR: the number of files below DIR and whether a small and a large recovered
# file hold the bytes that icat reads for them ($small_path, $small_sum, $big_sum).
check_tree()
{
    local dir=$1 count ok=yes
    count=$(find "$dir" -type f ! -name testdisk.log | wc -l)
    [[ -f "$dir/$small_path" && "$(md5sum <"$dir/$small_path")" == "$small_sum" ]] || ok=no
    [[ -f "$dir/big/large0.bin" && "$(md5sum <"$dir/big/large0.bin")" == "$big_sum" ]] || ok=no
    echo "   $dir: $count files; $small_path and big/large0.bin match icat: $ok"
}

# ntfs_record IMAGE NAME: the MFT record number of the deleted file NAME below /big.
ntfs_record()
{
    local r info
    for ((r = 64; r < 80; r++)); do
        info=$(istat "$1" "$r" 2>/dev/null || true)
        if [[ $info == *$'\nName: '"$2"$'\n'* ]]; then
            echo "$r"
            return
        fi
    done
    echo "bench-recover.sh: no record named $2 in $1" >&2
    exit 1
}

# Every deleted file of the NTFS volume: orlavent-cli against TestDisk.
recover_all()
{
    img=$(ntfs_image)
    abs_img=$(cd "$(dirname "$img")" && pwd)/$(basename "$img")
    cat "$img" >/dev/null
    expected=$((files / 2 + ${#big_mib[@]} - 1))
    fls -r -d -p "$img" >"$work/fls-ntfs.txt"
    small=$(awk -F'\t' '$2 ~ /^dir0001\// { print; exit }' "$work/fls-ntfs.txt")
    small_path=${small#*$'\t'}
    small_inode=${small#* \* }
    small_inode=${small_inode%%[-:]*}
    small_sum=$(icat "$img" "$small_inode" | md5sum)
    big_sum=$(icat "$img" "$(ntfs_record "$img" large0.bin)" | md5sum)

    local into=$dest
    if [[ ${BENCH_FRESH_FS:-} == 1 ]]; then
        # Every run writes into a new, empty ext4 file system (a loop-mounted sparse image).
        fresh_img=$work/fresh-ext4.img
        into=$work/fresh-ext4
        mkdir -p "$into"
        truncate -s 8G "$fresh_img"
        trap 'umount -q "$into" 2>/dev/null || true' EXIT
        export fresh_img into
        export BENCH_BEFORE='umount -q "$into" 2>/dev/null || true
            mkfs.ext4 -q -F "$fresh_img" && mount -o loop "$fresh_img" "$into"
            mkdir -p "$into/td"; sync'
        echo "== NTFS: recover every deleted file ($expected expected) into a new ext4 file system each run"
    elif [[ $(stat -f -c %T "$dest") == tmpfs ]]; then
        # On a tmpfs, results left in place hold memory (about 900 MiB a run) and slow down the
        # runs that follow: each run starts from an empty folder.
        echo "== NTFS: recover every deleted file ($expected expected) into $dest"
        export BENCH_BEFORE='rm -rf "$dest/orl" "$dest/td"; mkdir -p "$dest/td"; sync'
    else
        echo "== NTFS: recover every deleted file ($expected expected) into $dest"
        # Each run writes into a fresh folder: earlier results are moved aside, not deleted,
        # until the end (on ext4, creating files right after 100,000 were deleted costs several
        # times more).
        mkdir -p "$dest/old"
        export BENCH_BEFORE='for d in orl td; do [[ -e "$dest/$d" ]] && mv "$dest/$d" "$(mktemp -d "$dest/old/XXXXXX")/"; done
            mkdir -p "$dest/td"; sync'
    fi
    table_head
    timed "orlavent-cli recover (all)" "$cli" recover --to "$into/orl" "$img"
    ours=$last_cpu
    ours_wall=$last_wall
    check_orl=$(check_tree "$into/orl")
    timed "testdisk undelete, allundelete" bash -c 'cd "$1" && exec testdisk /cmd "$2" \
        partition_none,advanced,undelete,allundelete </dev/null' _ "$into/td" "$abs_img"
    peer=$last_cpu
    peer_wall=$last_wall
    check_td=$(check_tree "$into/td")
    unset BENCH_BEFORE
    if [[ ${BENCH_FRESH_FS:-} == 1 ]]; then
        umount -q "$into" || true
        rm -f "$fresh_img"
        trap - EXIT
    else
        rm -rf "$dest/orl" "$dest/td" "$dest/old"
    fi
    echo
    echo "$check_orl"
    echo "$check_td"
    awk -v a="$ours" -v b="$peer" -v aw="$ours_wall" -v bw="$peer_wall" 'BEGIN {
        printf "goal (faster than TestDisk): wall %.2f s vs %.2f s, CPU %.2f s vs %.2f s: %s\n",
               aw, bw, a, b, (aw < bw && a < b) ? "met" : "NOT met" }'
}

[[ ${BENCH_ONLY:-} == one ]] || recover_all

for kind in fat32 ntfs; do
    img=$(large_image "$kind")
    cat "$img" >/dev/null
    if [[ $kind == ntfs ]]; then
        inode=$(ntfs_record "$img" large0.bin)
        item='C:\big\large0.bin'
    else
        # mtools stored the name in 8.3 form only; deletion overwrote its first character.
        inode=$(fls -r -d -p "$img" | awk -F'\t' '/arge0.bin$/ { sub(/.* \* /, "", $1);
                                                                 sub(/:.*/, "", $1); print $1 }')
        item='C:\BIG\_ARGE0.BIN'
    fi
    data_extents "$img" "$inode" >"$work/extents-$kind.txt"
    bytes=$(awk '{ s += $2 } END { print s }' "$work/extents-$kind.txt")
    echo
    echo "== $kind: recover one deleted file of $bytes bytes ($(wc -l <"$work/extents-$kind.txt") extent(s)) into $dest"
    table_head
    export BENCH_BEFORE='rm -rf "$dest/one"; mkdir -p "$dest/one"; sync'
    # BENCH_COLD=1 (as root): every run starts with an empty page cache.
    [[ ${BENCH_COLD:-} == 1 ]] && BENCH_BEFORE+='; echo 3 >/proc/sys/vm/drop_caches'
    timed "orlavent-cli recover --item" "$cli" recover --to "$dest/one" --item "$item" "$img"
    ours_wall=$last_wall
    got=$(find "$dest/one" -type f -exec md5sum {} + | awk '{ print $1 }')
    timed "dd bs=1M of the same bytes" bash -c '. "$1"; copy_extents "$2" "$3/one/copy" <"$4"' \
        _ "$bench_dir/common.sh" "$img" "$dest" "$work/extents-$kind.txt"
    peer_wall=$last_wall
    want=$(md5sum <"$dest/one/copy" | awk '{ print $1 }')
    unset BENCH_BEFORE
    rm -rf "$dest/one"
    echo
    echo "recovered file matches dd's copy: $([[ $got == "$want" ]] && echo yes || echo NO)"
    awk -v a="$ours_wall" -v b="$peer_wall" -v n="$bytes" 'BEGIN {
        printf "throughput: orlavent-cli %.0f MiB/s, dd %.0f MiB/s (%.0f%% of dd; goal 80%%): %s\n",
               n / a / 1048576, n / b / 1048576, 100 * b / a, (b / a >= 0.8) ? "met" : "NOT met" }'
done
