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
