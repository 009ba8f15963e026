#!/usr/bin/env bash
# Times the deep search's read of a whole volume against the least any such search costs (dd of
# the whole image) and against the carving tool of Debian's testdisk package, side by side in
# one run, on a FAT32 image of 1 GiB filled with files in folders and then quick-formatted with
# the same geometry (what a card formatted by mistake looks like).
#
#   bench/deep/bench-deep.sh        (WORK as for the other scripts; BENCH_DEEP_MIB: the image's
#                                    size, default 1024)
#
# Rows, each the median of three runs (bench/common.sh: timed), peak RSS from /usr/bin/time -v:
#   dd warm          dd of the whole image, bs=8M, the image in the page cache
#   dd cold          the same after the page cache is dropped before every run
#   deep-pass-bench  the pass alone (bench/deep/DeepPassBench.cpp), warm and cold
#   orlavent-cli     scan --deep, warm and cold
#   photorec         the whole image carved with every file type, warm
#
# Cold runs: as root the script writes 3 to /proc/sys/vm/drop_caches before each run (every
# cached page of the machine is dropped, not only the image's); without root it asks the kernel
# to drop the image's own pages (dd iflag=nocache count=0, posix_fadvise DONTNEED), which
# leaves the rest of the cache alone.
set -euo pipefail
# shellcheck source=bench/common.sh
. "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/common.sh"
mib=${BENCH_DEEP_MIB:-1024}

if [[ -z ${cli:-} ]]; then
    bench_build
fi
build=$(dirname "$cli")
cmake --build "$build" --target deep-pass-bench -j2 >/dev/null
pass=$build/bench/deep-pass-bench
command -v photorec >/dev/null || {
    echo "bench-deep.sh: photorec is missing (Debian package testdisk:" \
        "scripts/deps.sh, group bench)" >&2
    exit 1
}

# Prints (and builds on first use) the formatted FAT32 image: 4 KiB clusters, 32 folders of
# JPEG pictures, PDF-like documents, texts and random data filling about 85 % of the volume.
formatted_image()
{
    local img=$work/fat32-formatted-$mib.img
    if [[ ! -f $img ]]; then
        local tree=$work/deep-tree start d f kind size
        start=$(date +%s)
        echo "== building $img: filled, then quick-formatted" >&2
        rm -rf "$tree" "$img.tmp"
        mkdir -p "$tree"
        for f in 0 1 2 3; do
            convert -size $((800 + f * 160))x$((600 + f * 120)) "plasma:fractal" \
                -quality 92 "$tree/pic$f.jpg"
        done
        local per=30 fill=$((mib * 85 / 100 / 32)) # MiB per folder
        for ((d = 0; d < 32; d++)); do
            mkdir -p "$tree/DCIM$d"
            for ((f = 0; f < per; f++)); do
                kind=$(((d + f) % 4))
                size=$(((fill << 20) / per))
                case $kind in
                    0) cp "$tree/pic$((f % 4)).jpg" "$tree/DCIM$d/IMG_$f.JPG" ;;
                    1) head -c "$size" /dev/urandom >"$tree/DCIM$d/clip$f.bin" ;;
                    2)
                        {
                            printf '%%PDF-1.4\n'
                            head -c $((size / 2)) /dev/urandom | base64
                            printf '%%%%EOF\n'
                        } >"$tree/DCIM$d/doc$f.pdf"
                        ;;
                    3) # yes ends on a broken pipe once head has enough
                        { yes "DCIM$d/note$f.txt: a line of readable text" || true; } |
                            head -c $((size / 4)) >"$tree/DCIM$d/note$f.txt"
                        ;;
                esac
            done
        done
        rm -f "$tree"/pic?.jpg
        mkfs.fat -C -F 32 -s 8 -n DEEPBENCH "$img.tmp" $((mib << 10)) >/dev/null
        for ((d = 0; d < 32; d++)); do
            mcopy -s -i "$img.tmp" "$tree/DCIM$d" ::/
        done
        rm -rf "$tree"
        # The quick format: a new FAT and root folder, the data area left as it was.
        mkfs.fat -F 32 -s 8 -n DEEPBENCH "$img.tmp" >/dev/null
        mv "$img.tmp" "$img"
        echo "   built in $(($(date +%s) - start)) s" >&2
    fi
    printf '%s\n' "$img"
}

img=$(formatted_image)
if [[ -w /proc/sys/vm/drop_caches ]]; then
    cold='sync; echo 3 >/proc/sys/vm/drop_caches'
    cold_note="page cache dropped (drop_caches) before each run"
else
    cold="dd if='$img' iflag=nocache count=0 status=none"
    cold_note="the image's pages dropped (posix_fadvise) before each run"
fi
warm="cat '$img' >/dev/null"
carved=$work/photorec-out
cd "$work" # photorec writes photorec.log here

echo "== deep search: $img ($mib MiB), $(date -u '+%Y-%m-%d %H:%M UTC'), load average:" \
    "$(cut -d' ' -f1-3 /proc/loadavg)"
echo "   cold: $cold_note"
echo
echo "| tool | wall | CPU (user+sys) | peak RSS | output lines |"
echo "|---|---:|---:|---:|---:|"
BENCH_BEFORE=$warm timed "dd bs=8M (warm)" dd if="$img" of=/dev/null bs=8M status=none
dd_warm=$last_wall
BENCH_BEFORE=$cold timed "dd bs=8M (cold)" dd if="$img" of=/dev/null bs=8M status=none
dd_cold=$last_wall
BENCH_BEFORE=$warm timed "deep-pass-bench (warm)" "$pass" "$img"
pass_warm=$last_wall
BENCH_BEFORE=$cold timed "deep-pass-bench (cold)" "$pass" "$img"
pass_cold=$last_wall
BENCH_BEFORE=$warm timed "orlavent-cli scan --deep --json (warm)" "$cli" scan --deep --json "$img"
BENCH_BEFORE=$cold timed "orlavent-cli scan --deep --json (cold)" "$cli" scan --deep --json "$img"
BENCH_BEFORE="$warm; rm -rf '$carved'; mkdir -p '$carved'" \
    timed "photorec, every file type (warm)" photorec /log /d "$carved/recup" /cmd "$img" \
    partition_none,fileopt,everything,enable,wholespace,search
echo
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo "   pass / dd: warm $(ratio "$pass_warm" "$dd_warm")×, cold $(ratio "$pass_cold" "$dd_cold")×"
echo "   photorec carved $(find "$carved" -type f ! -name report.xml | wc -l) files"
rm -f photorec.log
