#!/usr/bin/env bash
# Runs the end-to-end benchmarks side by side in one run: the FAT32 and NTFS searches of
# orlavent-cli against fls and ntfsundelete, and its recoveries against TestDisk and dd.
# Volumes are built on first use and kept in $WORK (see bench/common.sh).
#
#   bench/run-all.sh
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/common.sh"
[[ -n $cli ]] || bench_build
export cli
echo "== $(date -u '+%Y-%m-%d %H:%M UTC'), load average: $(cut -d' ' -f1-3 /proc/loadavg)"
"$here/fat/bench-scan.sh"
echo
"$here/ntfs/bench-cli-scan.sh"
echo
"$here/recovery/bench-recover.sh"
