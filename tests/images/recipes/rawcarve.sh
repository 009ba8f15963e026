# Sources that hold no file system the program reads, carved sector by sector under the deep
# search. Sourced by make-image.sh (needs carve.sh and fat.sh). Each recipe keeps the files as
# written in IMAGE_OUTPUT.d/ for the test to compare (the files of carve_fat32, see carve.sh).
#
#   rawcarve_wiped: the 36 MiB FAT32 card of carve_fat32 whose boot sector, FSInfo, backup boot
#   sector and both FATs (everything before the data region) were then zeroed: no file system is
#   left to recognise, the files' bytes all are;
#   rawcarve_ext4: the same card reformatted as ext4 (mkfs.ext4, no discard, no journal): what its
#   metadata overwrote is gone, the rest is carved.

image_rawcarve_wiped()
{
    local img=$1
    image_carve_fat32 "$img"
    python3 - "$img" <<'PY'
import struct, sys
with open(sys.argv[1], "r+b") as f:
    boot = f.read(512)
    bps, spc, reserved, fats = struct.unpack_from("<HBHB", boot, 11)
    fatsz = struct.unpack_from("<I", boot, 36)[0]
    f.seek(0)
    f.write(bytes((reserved + fats * fatsz) * bps))
PY
}

image_rawcarve_ext4()
{
    local img=$1
    image_carve_fat32 "$img"
    mkfs.ext4 -F -q -E nodiscard,lazy_itable_init=1 -O ^has_journal -L ORLEXT4 "$img" >/dev/null
}

# rawcarve_parts: MBR. p1 ext4 "ORLEXT4" (4 MiB), p2 FAT16 "PARTFAT16" (8 MiB), p3 holding no
# file system (2 MiB); the last MiB no partition covers.
image_rawcarve_parts()
{
    local img=$1 start size part
    truncate -s 16M "$img"
    sfdisk -q "$img" >/dev/null <<'SFDISK'
label: dos
,4MiB,83
,8MiB,6
,2MiB,83
SFDISK
    read -r start size < <(_disk_part "$img" 1)
    part="$img.part1"
    truncate -s $((size * 512)) "$part"
    mkfs.ext4 -F -q -E nodiscard -O ^has_journal -L ORLEXT4 "$part" >/dev/null
    dd if="$part" of="$img" bs=512 seek="$start" conv=notrunc,sparse status=none
    rm -f "$part"
    _disk_fill "$img" 2 fat16 PARTFAT16
}
