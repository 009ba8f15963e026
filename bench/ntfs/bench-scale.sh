#!/usr/bin/env bash
# Times the NTFS search of orlavent-cli (scan --json) against ntfsundelete and against reading
# the MFT's extents with dd, side by side in one hyperfine run, on volumes written by
# ntfs-volume-gen (bench/ntfs/NtfsVolumeGen.cpp: every second file deleted, every 50th
# deleted file named like the one before it); then the peak RSS of each with /usr/bin/time -v.
#
#   bench/ntfs/bench-scale.sh [FILES...]      (default: 200000 1000000 2000000)
#
# The memory goal is read off the last lines: orlavent-cli's peak RSS less the UTF-8 bytes of
# the names it listed, per MFT record.
#
# ORL_CLI_BEFORE names another orlavent-cli (an earlier build) to time in the same run.
# The generator and orlavent-cli are built in $WORK/build (Release) unless $ORL_BUILD names a
# build directory that has them; volumes are kept in $WORK (default: build-bench-scale).
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=${WORK:-$repo/build-bench-scale}
runs=${BENCH_RUNS:-5}
mkdir -p "$work"
build=${ORL_BUILD:-}
if [[ -z $build ]]; then
    build=$work/build
    cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORL_BUILD_TESTS=OFF \
          -DORL_BUILD_GUI=OFF >/dev/null
    cmake --build "$build" --target orlavent-cli ntfs-volume-gen -j2 >/dev/null
fi
gen=$build/bench/ntfs-volume-gen
cli=$build/orlavent-cli
(($# > 0)) || set -- 200000 1000000 2000000

for files in "$@"; do
    img=$work/ntfs-gen-$files.img
    if [[ ! -f $img ]]; then
        start=$(date +%s.%N)
        "$gen" "$img.tmp" "$files" --clash-every 50
        mv "$img.tmp" "$img"
        echo "   built in $(echo "$(date +%s.%N) - $start" | bc) s"
    fi
    # dd of every MFT extent, as one shell command.
    dd_cmd=$("$gen" --mft-extents "$img" | while read -r offset length; do
        printf 'dd if=%q bs=1M skip=%s count=%s iflag=skip_bytes,count_bytes status=none; ' \
            "$img" "$offset" "$length"
    done)
    cat "$img" >/dev/null
    echo "== $img"
    before=()
    [[ -z ${ORL_CLI_BEFORE:-} ]] ||
        before=(-n "orlavent-cli scan --json (before)" "$ORL_CLI_BEFORE scan --json $img")
    hyperfine -N -w 1 -r "$runs" --export-markdown "$work/hyperfine-$files.md" \
        -n "dd of the MFT extents" "sh -c '$dd_cmd'" \
        -n "ntfsundelete" "ntfsundelete $img" \
        "${before[@]}" \
        -n "orlavent-cli scan --json" "$cli scan --json $img" 2>&1 | grep -v '^ *$' || true
    cat "$work/hyperfine-$files.md"
    for cmd in "$dd_cmd" "ntfsundelete $img" ${ORL_CLI_BEFORE:+"$ORL_CLI_BEFORE scan --json $img"} \
               "$cli scan --json $img"; do
        /usr/bin/time -f "%M" bash -c "$cmd" >/dev/null 2>"$work/time.log" || true
        echo "peak RSS $(($(tail -1 "$work/time.log") / 1024)) MiB: ${cmd:0:50}"
    done
    echo "lines: ntfsundelete $(ntfsundelete "$img" 2>/dev/null | grep -c ' FR\| DR' || true)," \
         "orlavent-cli $("$cli" scan --json "$img" | wc -l)"
    # Peak RSS per MFT record, less the names' UTF-8 bytes.
    /usr/bin/time -f "%M" "$cli" scan --json "$img" 2>"$work/time.log" >"$work/listing.json"
    records=$("$gen" --mft-extents "$img" | awk '{ bytes += $2 } END { print bytes / 1024 }')
    python3 - "$work/listing.json" "$(tail -1 "$work/time.log")" "$records" <<'PY'
import json, sys
names = sum(len(json.loads(line)["name"].encode()) for line in open(sys.argv[1]))
rss = int(sys.argv[2]) * 1024
records = float(sys.argv[3])
print(f"peak RSS {rss / 2**20:.1f} MiB, names {names / 2**20:.1f} MiB, records {records:.0f}: "
      f"{(rss - names) / records:.0f} bytes per record beyond the names")
PY
done
