# NTFS test volumes: mkntfs on a sparse file, then files and folders created and deleted through
# libntfs-3g by the small fixture program tests/images/ntfs-build.c (no mount needed).

_ntfs_recipe_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Builds the fixture next to the image being made (once) and prints its path.
_ntfs_fixture() {
    local dir
    dir=$(dirname "$1")
    local bin="$dir/ntfs-build"
    local src="$_ntfs_recipe_dir/../ntfs-build.c"
    if [[ ! -x "$bin" || "$src" -nt "$bin" ]]; then
        cc -O2 -Wall -o "$bin.tmp.$$" "$src" -lntfs-3g >&2
        mv "$bin.tmp.$$" "$bin"
    fi
    printf '%s\n' "$bin"
}

# _ntfs_with IMAGE FUNCTION ARGS...: mounts IMAGE through ntfs-3g, runs FUNCTION MOUNTPOINT
# ARGS... and unmounts again, also when anything fails on the way.
_ntfs_with() {
    local img=$1 fn=$2
    shift 2
    (
        set -euo pipefail
        mnt=$(mktemp -d)
        trap 'umount "$mnt" 2>/dev/null || true; rmdir "$mnt"' EXIT
        ntfs-3g "$img" "$mnt"
        "$fn" "$mnt" "$@"
    )
}

# _ntfs_format OUT SIZE_MIB [mkntfs options...]
_ntfs_format() {
    local out=$1 size=$2
    shift 2
    rm -f "$out"
    truncate -s "${size}M" "$out"
    mkntfs -F -Q -q -L orlavent "$@" "$out" >/dev/null 2>&1
}

# The scan's main volume: deleted files in live nested folders and inside deleted folders,
# resident and non-resident data, a fragmented file, three deleted files of one name in one
# folder, a deleted 5 GiB (sparse) file, and a deleted file whose parent folder's record was
# reused by a new folder.
image_ntfs_scan() {
    local out=$1 fixture
    fixture=$(_ntfs_fixture "$out")
    _ntfs_format "$out" 16 -c 4096
    "$fixture" "$out" <<'SCRIPT'
mkdir /A
file 100 /A/f.txt
mkdir /docs
file 300 /docs/live.txt
file 200 /docs/deleted.txt
file 100000 /docs/big.bin
mkdir /docs/sub
file 5000 /docs/sub/nested.txt
mkdir /old
mkdir /old/inner
file 700 /old/inner/deep.txt
file 9000 /old/gone.txt
file 8192 /frag.bin
file 8192 /filler1.bin
append 8192 /frag.bin
file 8192 /filler2.bin
append 8192 /frag.bin
file 8192 /filler3.bin
append 8192 /frag.bin
file 120 /docs/r1
file 130 /docs/r2
file 140 /docs/r3
file 50 /docs/x1
file 60 /docs/x2
file 400 /docs/Final Report 2024.txt
file 33 /docs/café ü.txt
sparse 5368709120 /docs/huge.iso
rename /docs/r1|/docs/report.doc
rm /docs/report.doc
rename /docs/r2|/docs/report.doc
rm /docs/report.doc
rename /docs/r3|/docs/report.doc
rm /docs/report.doc
rename /docs/x1|/docs/README
rm /docs/README
rename /docs/x2|/docs/README
rm /docs/README
rm /docs/Final Report 2024.txt
rm /docs/café ü.txt
rm /docs/huge.iso
rm /docs/deleted.txt
rm /docs/big.bin
rm /docs/sub/nested.txt
rm /old/inner/deep.txt
rm /old/inner
rm /old/gone.txt
rm /old
rm /frag.bin
rm /A/f.txt
rm /A
remount
mkdir /B
SCRIPT
}

# A small volume for the command-line demo: a few dozen files, some deleted, in folders, with
# readable content.
image_demo_ntfs() {
    local out=$1 fixture
    fixture=$(_ntfs_fixture "$out")
    _ntfs_format "$out" 16 -c 4096
    {
        echo "mkdir /Projects"
        echo "mkdir /Projects/Orlavent"
        echo "mkdir /Photos"
        echo "mkdir /Letters"
        for i in $(seq 1 8); do echo "file $((i * 700)) /Projects/Orlavent/notes$i.txt"; done
        for i in $(seq 1 8); do echo "file $((i * 3000)) /Photos/photo$i.jpg"; done
        for i in $(seq 1 8); do echo "file $((i * 150)) /Letters/letter$i.txt"; done
        echo "file 2000 /readme.txt"
        for i in 2 4 6 8; do echo "rm /Projects/Orlavent/notes$i.txt"; done
        for i in 1 3 5; do echo "rm /Photos/photo$i.jpg"; done
        for i in $(seq 1 8); do echo "rm /Letters/letter$i.txt"; done
        echo "rm /Letters"
        echo "rm /readme.txt"
    } | "$fixture" "$out"
}

# Deleted files with the longest names NTFS holds (its name length is one byte): 255 UTF-16
# units of ASCII ending in ".txt", 255 CJK characters (765 bytes of UTF-8), 128 CJK characters,
# and characters outside the Basic Multilingual Plane (surrogate pairs) up to 254 units.
image_ntfs_long_names() {
    local out=$1 fixture name
    fixture=$(_ntfs_fixture "$out")
    _ntfs_format "$out" 16 -c 4096
    local cjk8='文件名称测试漢字'
    local cjk128
    cjk128=$(printf "$cjk8%.0s" $(seq 16))
    local -a names=(
        "$(printf 'n%.0s' $(seq 251)).txt"
        "$cjk128$cjk128"
        "$cjk128"
        "$(printf '𠀋%.0s' $(seq 125)).txt"
    )
    # The second name: 256 characters less one.
    names[1]=${names[1]%字}
    {
        for name in "${names[@]}"; do echo "file 100 /$name"; done
        for name in "${names[@]}"; do echo "rm /$name"; done
    } | LC_ALL=C.UTF-8 "$fixture" "$out"
}

# _ntfs_le FILE OFFSET BYTES: the unsigned little-endian number stored there.
_ntfs_le() {
    od -An -v -t "u$3" -j "$2" -N "$3" --endian=little "$1" | tr -d ' '
}

# _ntfs_claim_mft_clusters IMAGE COUNT: rewrites the run list of the MFT's $DATA, in record 0
# and in its copy in $MFTMirr, as one run of COUNT clusters from the MFT's first cluster on. The
# attribute's sizes are left as they are.
_ntfs_claim_mft_clusters() {
    local img=$1 count=$2 bps spc mft cluster rec at type length runs bytes
    bps=$(_ntfs_le "$img" 11 2)
    spc=$(_ntfs_le "$img" 13 1)
    mft=$(_ntfs_le "$img" 48 8)
    if ((mft >= 128)); then
        echo "_ntfs_claim_mft_clusters: the MFT's cluster $mft needs more than one byte" >&2
        return 1
    fi
    # Header 0x14: a 4-byte cluster count and a 1-byte first cluster; then the end of the list.
    bytes=$(printf '\\x%02x' 0x14 $((count & 255)) $((count >> 8 & 255)) $((count >> 16 & 255)) \
        $((count >> 24 & 255)) "$mft" 0)
    for cluster in "$mft" "$(_ntfs_le "$img" 56 8)"; do
        rec=$((cluster * spc * bps))
        at=$((rec + $(_ntfs_le "$img" $((rec + 20)) 2)))
        while type=$(_ntfs_le "$img" "$at" 4) && ((type != 0x80)); do
            length=$(_ntfs_le "$img" $((at + 4)) 4)
            if ((type == 0xFFFFFFFF || length == 0 || at + length > rec + 1024)); then
                echo "_ntfs_claim_mft_clusters: no \$DATA in the MFT record at $rec" >&2
                return 1
            fi
            at=$((at + length))
        done
        runs=$((at + $(_ntfs_le "$img" $((at + 32)) 2)))
        # The new pairs must stay inside the attribute and the record's first stride.
        if ((runs + 7 > at + $(_ntfs_le "$img" $((at + 4)) 4) || runs + 7 > rec + 510)); then
            echo "_ntfs_claim_mft_clusters: no room for the run list at $runs" >&2
            return 1
        fi
        printf "$bytes" | dd of="$img" bs=1 seek="$runs" conv=notrunc status=none
    done
}

# A 2 TiB sparse volume whose MFT run list claims 0x1FF00000 clusters (about 2^31 records)
# while the $DATA sizes of its record 0 still tell the MFT's real size.
image_ntfs_overstated_mft() {
    local out=$1 fixture
    fixture=$(_ntfs_fixture "$out")
    _ntfs_format "$out" $((2 * 1024 * 1024)) -c 4096
    "$fixture" "$out" <<'SCRIPT'
mkdir /kept
file 300 /kept/gone.txt
file 5000 /old.txt
rm /kept/gone.txt
rm /old.txt
SCRIPT
    _ntfs_claim_mft_clusters "$out" $((0x1FF00000))
}
