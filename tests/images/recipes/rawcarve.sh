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
