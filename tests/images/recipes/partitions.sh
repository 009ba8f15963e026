# Whole disks whose extended boot records hold more than one logical partition each, as some
# partitioning tools write them (sfdisk writes one logical per record). The tables are written
# byte for byte by Python; every file system is built by mkfs.fat, mkntfs or mkfs.exfat in a
# file of its own and copied into place. Sourced by make-image.sh. All images are sparse.
#
# disk_ebr_pairs (40 MiB): MBR. p1 FAT16 "PRIMARY16", p2 extended (type 0F) whose first record
#   holds p5 FAT12 "PAIRA12" and p6 FAT16 "PAIRB16" in slots 0 and 1 with the link in slot 2,
#   the second p7 FAT12 "PAIRC12" and p8 NTFS "PairNtfs" in slots 0 and 1 with the link in
#   slot 2, the third p9 exFAT "PAIREXFAT" alone.

# _parts_fill IMAGE START SECTORS KIND LABEL   (KIND: fat12, fat16, ntfs, exfat)
_parts_fill() {
    local img=$1 start=$2 size=$3 kind=$4 label=$5
    local part="$img.part$start"
    rm -f "$part"
    truncate -s $((size * 512)) "$part"
    case $kind in
        fat12) mkfs.fat --invariant -F 12 -h "$start" -n "$label" "$part" >/dev/null ;;
        fat16) mkfs.fat --invariant -F 16 -s 2 -h "$start" -n "$label" "$part" >/dev/null ;;
        ntfs) mkntfs -q -F -f -s 512 -p "$start" -H 255 -S 63 -L "$label" "$part" >/dev/null ;;
        exfat) mkfs.exfat -L "$label" "$part" >/dev/null ;;
        *) false ;;
    esac || { echo "cannot make $kind in $part" >&2; rm -f "$part"; return 1; }
    dd if="$part" of="$img" bs=512 seek="$start" conv=notrunc,sparse status=none
    rm -f "$part"
}

image_disk_ebr_pairs() {
    local img=$1
    truncate -s 40M "$img"
    # Each record: (sector, [(slot, type, start, count)]). Logical starts are relative to their
    # own record, links relative to the extended partition (sector 18432).
    python3 - "$img" <<'EOF'
import struct, sys
records = [
    (0, [(0, 0x06, 2048, 16384), (1, 0x0F, 18432, 63488)]),
    (18432, [(0, 0x01, 2048, 4096), (1, 0x06, 6144, 16384), (2, 0x05, 22528, 22528)]),
    (40960, [(0, 0x01, 2048, 4096), (1, 0x07, 6144, 16384), (2, 0x05, 45056, 18432)]),
    (63488, [(0, 0x07, 2048, 16384)]),
]
with open(sys.argv[1], "r+b") as f:
    for sector, slots in records:
        table = bytearray(66)
        for slot, kind, start, count in slots:
            table[slot * 16 : slot * 16 + 16] = struct.pack("<B3xB3xII", 0, kind, start, count)
        table[64:66] = b"\x55\xaa"
        f.seek(sector * 512 + 0x1BE)
        f.write(table)
EOF
    _parts_fill "$img" 2048 16384 fat16 PRIMARY16
    _parts_fill "$img" 20480 4096 fat12 PAIRA12
    _parts_fill "$img" 24576 16384 fat16 PAIRB16
    _parts_fill "$img" 43008 4096 fat12 PAIRC12
    _parts_fill "$img" 47104 16384 ntfs PairNtfs
    _parts_fill "$img" 65536 16384 exfat PAIREXFAT
}
