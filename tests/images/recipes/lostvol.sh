# Whole disks whose volumes the partition table no longer accounts for. The table is written by
# sfdisk; each file system is built by mkfs.fat + mtools, mkntfs + ntfs-build (libntfs-3g) or
# mkfs.exfat in a file of its own and copied into place; the damage is done by dd. Sourced by
# make-image.sh. All images are sparse.
#
# lostvol_disk (80 MiB): MBR. p1 FAT32 "LOSTFAT32" (36 MiB at sector 2048) with live and
#   deleted files, p2 NTFS "LostNtfs" (16 MiB at 75776) likewise, p3 exFAT "LOSTEXFAT" (16 MiB
#   at 108544); the last 11 MiB belong to no partition.
# lostvol_nombr: lostvol_disk with its MBR (sector 0) zeroed.
# lostvol_backups: lostvol_nombr with the first sector of each volume zeroed as well; each
#   volume keeps its backup boot sector (FAT32 sector 6, exFAT region at 12, NTFS last sector).
# lostvol_partial: lostvol_disk whose table lists p1 only.
# lostvol_random: 8 MiB of pseudo-random bytes (a fixed seed), no table and no volume.

_lostvol_fat32() {
    local part=$1 start=$2 f
    mkfs.fat --invariant -F 32 -s 1 -h "$start" -n LOSTFAT32 "$part" >/dev/null
    mmd -i "$part" ::/DOCS ::/DOCS/OLD
    for f in DOCS/KEEP.TXT:3000 DOCS/GONE.TXT:9000 DOCS/OLD/OLD.TXT:1500 ROOTGONE.BIN:70000; do
        _fat_content "${f%%:*}" "${f##*:}" >"$part.file"
        mcopy -m -i "$part" "$part.file" "::/${f%%:*}"
    done
    rm -f "$part.file"
    mdel -i "$part" ::/DOCS/GONE.TXT ::/ROOTGONE.BIN
    mdeltree -i "$part" ::/DOCS/OLD
}

_lostvol_ntfs() {
    local part=$1 start=$2 fixture
    fixture=$(_ntfs_fixture "$part")
    mkntfs -q -F -f -s 512 -p "$start" -H 255 -S 63 -L LostNtfs "$part" >/dev/null
    "$fixture" "$part" <<'SCRIPT'
mkdir /papers
file 4000 /papers/kept.txt
file 12000 /papers/gone.txt
file 700 /small gone.txt
rm /papers/gone.txt
rm /small gone.txt
SCRIPT
}

# _lostvol_fill IMAGE START SECTORS KIND
_lostvol_fill() {
    local img=$1 start=$2 size=$3 kind=$4
    local part="$img.part$start"
    rm -f "$part"
    truncate -s $((size * 512)) "$part"
    case $kind in
        fat32) _lostvol_fat32 "$part" "$start" ;;
        ntfs) _lostvol_ntfs "$part" "$start" ;;
        exfat) mkfs.exfat -L LOSTEXFAT "$part" >/dev/null ;;
    esac || { echo "cannot make $kind in $part" >&2; rm -f "$part"; return 1; }
    dd if="$part" of="$img" bs=512 seek="$start" conv=notrunc,sparse status=none
    rm -f "$part"
}

# _lostvol_base IMAGE PARTITIONS: the disk with the first PARTITIONS (1 or 3) in its table.
_lostvol_base() {
    local img=$1 listed=$2
    rm -f "$img"
    truncate -s 80M "$img"
    {
        echo "label: dos"
        echo "start=2048, size=73728, type=c"
        if [ "$listed" -gt 1 ]; then
            echo "start=75776, size=32768, type=7"
            echo "start=108544, size=32768, type=7"
        fi
    } | sfdisk -q "$img" >/dev/null
    _lostvol_fill "$img" 2048 73728 fat32
    _lostvol_fill "$img" 75776 32768 ntfs
    _lostvol_fill "$img" 108544 32768 exfat
}

# _lostvol_zero IMAGE SECTOR...: zeroes the sectors given.
_lostvol_zero() {
    local img=$1 s
    shift
    for s in "$@"; do
        dd if=/dev/zero of="$img" bs=512 seek="$s" count=1 conv=notrunc status=none
    done
}

image_lostvol_disk() { _lostvol_base "$1" 3; }
image_lostvol_nombr() { _lostvol_base "$1" 3 && _lostvol_zero "$1" 0; }
image_lostvol_backups() { _lostvol_base "$1" 3 && _lostvol_zero "$1" 0 2048 75776 108544; }
image_lostvol_partial() { _lostvol_base "$1" 1; }
image_lostvol_random() {
    python3 -c 'import random, sys; random.seed(29); sys.stdout.buffer.write(random.randbytes(8 << 20))' >"$1"
}
