# Damaged sources: Expert Witness images with a chunk that fails its checksum, and volumes
# whose boot sector claims more than the source holds. Sourced by make-image.sh (after e01.sh,
# fat.sh and ntfs.sh, whose helpers it uses).
#
# src_e01_fat_folder: the fat16 volume acquired in chunks of 16 sectors, uncompressed, with the
#               chunk that holds the first cluster of DOCS damaged (one byte changed, so that
#               the chunk fails its checksum). DOCS holds deleted files.
# src_e01_fat_probe: the fat16 volume acquired the same way, with chunk 1 (sectors 16 to 31,
#               inside the first 64 KiB, its FAT) damaged; the boot sector reads.
# src_e01_ntfs_mft: the ntfs_scan volume acquired the same way, with the chunk that holds the
#               MFT record of /docs/deleted.txt damaged.
# src_e01_ntfs_boot: the ntfs_scan volume acquired the same way, with chunk 0 (the boot
#               sector) damaged: only the backup boot sector in the last sector reads.
# src_ntfs_huge_total: the ntfs_scan volume whose boot sector claims 0xFFFFFFFFFFFFFF sectors.
# src_fat_cut:  the fat16 volume cut short where the first cluster of DOCS starts.
# src_ntfs_cut: the ntfs_scan volume cut short after the MFT's first 32 records.
# src_exfat_plain: an empty exFAT volume of 16 MiB as mkfs.exfat writes it.
# src_exfat_backup: the same with its main boot region damaged (its checksum fails).

# _src_acquire OUT BUILDER: builds the volume and acquires it uncompressed in 8 KiB chunks, one
# segment.
_src_acquire() {
    _e01_acquire "$1" "$2" -c none -b 16
}

# _src_damage_chunk DIR CHUNK: changes one byte in the middle of chunk CHUNK of DIR/image.E01
# (uncompressed chunks of 8 KiB, each followed by its 4-byte checksum, in the one "sectors"
# section of the segment).
_src_damage_chunk() {
    python3 - "$1/image.E01" "$2" <<'PY'
import struct, sys
path, chunk = sys.argv[1], int(sys.argv[2])
data = bytearray(open(path, "rb").read())
at = 13  # the file header; a chain of 76-byte section descriptors follows
start = None
while at + 76 <= len(data):
    kind = bytes(data[at:at + 16]).rstrip(b"\0")
    nxt, size = struct.unpack_from("<QQ", data, at + 16)
    if kind == b"sectors":
        start = at + 76
        break
    if nxt <= at:
        break
    at = nxt
if start is None:
    sys.exit("no sectors section in " + path)
where = start + chunk * (8192 + 4) + 4096
if where >= at + size:
    sys.exit("chunk %d lies beyond the sectors section" % chunk)
data[where] ^= 0xFF
open(path, "wb").write(data)
PY
}

# _src_cluster_offset RAW NAME: the byte offset of the first cluster of the root folder entry
# NAME (8.3, padded to 11 bytes) of the FAT12/16 volume RAW.
_src_cluster_offset() {
    python3 - "$1" "$2" <<'PY'
import struct, sys
raw = open(sys.argv[1], "rb").read()
name = sys.argv[2].encode().ljust(11)
bps, spc, reserved, fats, root_entries = struct.unpack_from("<HBHBH", raw, 11)
fat_sectors = struct.unpack_from("<H", raw, 22)[0]
root = (reserved + fats * fat_sectors) * bps
data = root + root_entries * 32
for i in range(root_entries):
    entry = raw[root + 32 * i:root + 32 * i + 32]
    if entry[:11] == name:
        first = struct.unpack_from("<H", entry, 26)[0]
        print(data + (first - 2) * spc * bps)
        sys.exit(0)
sys.exit("no root entry " + sys.argv[2])
PY
}

image_src_e01_fat_folder() {
    local out=$1 dir="${IMAGE_OUTPUT:-$1}.d" chunk
    _src_acquire "$out" image_fat16
    chunk=$(($(_src_cluster_offset "$dir/volume.raw" DOCS) / 8192))
    _src_damage_chunk "$dir" "$chunk"
}

image_src_e01_fat_probe() {
    local out=$1 dir="${IMAGE_OUTPUT:-$1}.d"
    _src_acquire "$out" image_fat16
    _src_damage_chunk "$dir" 1
}

# The chunk holding the MFT record whose $FILE_NAME holds NAME (UTF-16).
_src_record_chunk() {
    python3 - "$1" "$2" <<'PY'
import sys
raw = open(sys.argv[1], "rb").read()
at = raw.find(sys.argv[2].encode("utf-16-le"))
if at < 0:
    sys.exit("no record names " + sys.argv[2])
print(at // 8192)
PY
}

image_src_e01_ntfs_mft() {
    local out=$1 dir="${IMAGE_OUTPUT:-$1}.d" chunk
    _src_acquire "$out" image_ntfs_scan
    chunk=$(_src_record_chunk "$dir/volume.raw" deleted.txt)
    _src_damage_chunk "$dir" "$chunk"
}

image_src_e01_ntfs_boot() {
    local out=$1 dir="${IMAGE_OUTPUT:-$1}.d"
    _src_acquire "$out" image_ntfs_scan
    _src_damage_chunk "$dir" 0
}

image_src_ntfs_huge_total() {
    image_ntfs_scan "$1"
    python3 - "$1" <<'PY'
import struct, sys
with open(sys.argv[1], "r+b") as f:
    f.seek(0x28)
    f.write(struct.pack("<Q", 0xFFFFFFFFFFFFFF))
PY
}

image_src_exfat_plain() {
    rm -f "$1"
    truncate -s 16M "$1"
    mkfs.exfat -L SRCX "$1" >/dev/null
}

image_src_fat_cut() {
    image_fat16 "$1"
    truncate -s "$(_src_cluster_offset "$1" DOCS)" "$1"
}

image_src_ntfs_cut() {
    image_ntfs_scan "$1"
    python3 - "$1" <<'PY'
import os, struct, sys
with open(sys.argv[1], "r+b") as f:
    boot = f.read(512)
    bps, spc = struct.unpack_from("<HB", boot, 11)
    mft = struct.unpack_from("<Q", boot, 0x30)[0]
    f.truncate(mft * bps * spc + 32 * 1024)
PY
}

# src_exfat_backup: src_exfat_plain with its main boot sector's serial number changed, so that
# the main boot region fails its checksum while the backup region is sound.
image_src_exfat_backup() {
    image_src_exfat_plain "$1"
    printf '\x5a' | dd of="$1" bs=1 seek=$((0x64)) conv=notrunc status=none
}
