#!/usr/bin/env bash
# Times the FAT32 search against the least it has to do: reading the FAT (one copy) and the
# folder clusters it visits, and nothing else. One hyperfine run, warm page cache: the read
# (bench/fat/read-extents.c, one pread per extent in blocks of up to 1 MiB), orlavent-cli scan,
# scan --json and fls -r -d -p; then the peak RSS of each with /usr/bin/time.
#
#   bench/fat/bench-read.sh       (BENCH_FILES, BENCH_DIRS and WORK as for bench-scan.sh;
#                                  BENCH_RUNS runs per command, default 10)
#
# ORL_CLI_BEFORE names another orlavent-cli (an earlier build) to time in the same run.
#
# The extents read: the first FAT from fsstat's layout, and the clusters of the root folder
# and of every folder fls -r -D -p lists, live or deleted (a deleted folder as TSK reads it:
# from its first cluster on), contiguous clusters merged (data_extents in bench/common.sh).
# They are worked out once per volume (istat takes a few seconds per folder) and kept in
# $WORK beside the volume.
set -euo pipefail
. "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/common.sh"
[[ -n ${cli:-} ]] || bench_build
runs=${BENCH_RUNS:-10}
img=$(fat_image)

reader=$work/read-extents
if [[ ! -x $reader || $bench_dir/fat/read-extents.c -nt $reader ]]; then
    cc -O2 -o "$reader" "$bench_dir/fat/read-extents.c"
fi

extents=$img.extents
if [[ ! -s $extents ]]; then
    echo "== working out the FAT and folder extents of $img" >&2
    {
        # "* FAT 0: FIRST - LAST" in sectors.
        sector=$(fsstat "$img" | sed -n 's/^Sector Size: //p')
        fsstat "$img" | sed -n 's/^\* FAT 0: \([0-9]*\) - \([0-9]*\)$/\1 \2/p' |
            awk -v s="$sector" '{ printf "%d %d\n", $1 * s, ($2 - $1 + 1) * s }'
        # The root folder (inode 2) and every folder below it; $OrphanFiles is TSK's own.
        for inode in 2 $(fls -r -D -p "$img" | grep -v '\$OrphanFiles' |
                         sed -n 's/^[^ ]* \**\s*\([0-9]*\):.*/\1/p'); do
            data_extents "$img" "$inode"
        done
    } >"$extents.tmp"
    mv "$extents.tmp" "$extents"
fi
cat "$img" >/dev/null

echo "== FAT32: $img"
echo "   $("$reader" "$img" "$extents")"
before=()
[[ -z ${ORL_CLI_BEFORE:-} ]] ||
    before=(-n "orlavent-cli scan --json (before)" "$ORL_CLI_BEFORE scan --json $img")
hyperfine -N -w 2 -r "$runs" --export-markdown "$work/hyperfine-read.md" \
    -n "read FAT + folders" "$reader $img $extents" \
    -n "orlavent-cli scan" "$cli scan $img" \
    "${before[@]}" \
    -n "orlavent-cli scan --json" "$cli scan --json $img" \
    -n "fls -r -d -p" "fls -r -d -p $img" 2>&1 | grep -v '^ *$' || true
cat "$work/hyperfine-read.md"
for cmd in "$reader $img $extents" "$cli scan $img" \
           ${ORL_CLI_BEFORE:+"$ORL_CLI_BEFORE scan --json $img"} "$cli scan --json $img" \
           "fls -r -d -p $img"; do
    # shellcheck disable=SC2086
    /usr/bin/time -f "%M %U %S" $cmd >/dev/null 2>"$work/time.log" || true
    read -r rss user sys < <(tail -1 "$work/time.log")
    echo "peak RSS $((rss / 1024)) MiB, user+sys $(awk -v u="$user" -v s="$sys" \
        'BEGIN { printf "%.2f", u + s }') s: ${cmd//$work\//}"
done
