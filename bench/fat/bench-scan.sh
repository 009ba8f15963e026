#!/usr/bin/env bash
# Times the FAT32 deleted-file search of orlavent-cli against fls -r -d -p on one generated
# volume (200,000 files with long names in 200 folders, every second one deleted, and three
# large files), each three times from a warm page cache, with CPU time and peak memory.
#
#   bench/fat/bench-scan.sh       (BENCH_FILES, BENCH_DIRS and WORK change the volume's shape
#                                  and the work folder; see bench/common.sh)
set -euo pipefail
. "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/common.sh"
[[ -n ${cli:-} ]] || bench_build
img=$(fat_image)
cat "$img" >/dev/null

echo "== FAT32 scan: $img"
table_head
timed "orlavent-cli scan" "$cli" scan "$img"
ours=$last_cpu
found=$(grep -c ' deleted  file ' "$work/out-orlavent_cli_scan.txt" || true)
timed "fls -r -d -p" fls -r -d -p "$img"
peer=$last_cpu
listed=$(grep -c '^r/r \*' "$work/out-fls__r__d__p.txt" || true)
echo
echo "deleted files listed: orlavent-cli $found, fls $listed"
awk -v a="$ours" -v b="$peer" 'BEGIN {
    if (a < 0.01) a = 0.01
    printf "goal (CPU at most half of fls): %.2f s vs %.2f s, fls/orlavent-cli = %.1fx: %s\n",
           a, b, b / a, (2 * a <= b) ? "met" : "NOT met" }'
