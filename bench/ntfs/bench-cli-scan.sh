#!/usr/bin/env bash
# Times the NTFS deleted-file search of orlavent-cli against ntfsundelete's flat listing and
# fls -r -d -p on one generated volume (200,000 files in 200 folders, every second one
# deleted, and three large files), each three times from a warm page cache, with CPU time and
# peak memory. bench-scan.sh next to this script times the scan engine alone.
#
#   bench/ntfs/bench-cli-scan.sh  (BENCH_FILES, BENCH_DIRS and WORK: see bench/common.sh)
set -euo pipefail
. "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/common.sh"
[[ -n ${cli:-} ]] || bench_build
img=$(ntfs_image)
cat "$img" >/dev/null

echo "== NTFS scan: $img"
table_head
timed "orlavent-cli scan" "$cli" scan "$img"
ours=$last_cpu
ours_wall=$last_wall
found=$(grep -c ' deleted  file ' "$work/out-orlavent_cli_scan.txt" || true)
timed "ntfsundelete -f -s" ntfsundelete -f -s "$img"
peer=$last_cpu
peer_wall=$last_wall
timed "fls -r -d -p" fls -r -d -p "$img"
listed=$(grep -c '^-/r \*' "$work/out-fls__r__d__p.txt" || true)
echo
echo "deleted files listed: orlavent-cli $found, fls $listed"
awk -v a="$ours" -v b="$peer" -v aw="$ours_wall" -v bw="$peer_wall" 'BEGIN {
    printf "goal (at least as fast as ntfsundelete): CPU %.2f s vs %.2f s, wall %.2f s vs %.2f s: %s\n",
           a, b, aw, bw, (a <= b) ? "met" : "NOT met" }'
