# Whole-disk test images: partition tables written by sfdisk, each file system built by
# mkfs.fat or mkntfs in a file of its own and copied into place at its partition's offset.
# Sourced by make-image.sh. All images are sparse.
#
# disk_mbr:   MBR. p1 FAT16 "PRIMFAT16" (8 MiB), p2 extended holding p5 FAT32 "LOGFAT32"
#             (36 MiB) and p6 NTFS "LogicalNtfs" (8 MiB).
# disk_gpt:   GPT. p1 FAT32 "GPTFAT32" (36 MiB), p2 NTFS "GptNtfs" (8 MiB).
# disk_loop:  MBR. p1 extended holding p5 FAT16 "LOOPFAT16" and p6 FAT12 "LOOPFAT12"; the EBR of
#             p6 links back to itself, so the chain never ends.
# disk_nofs:  MBR with one Linux partition that holds no file system.
# disk_plain: a FAT12 volume "PLAINFAT" with no partition table (a floppy-style image).

# Start and size in sectors of partition N of an image, from sfdisk's dump (which names it
# IMAGE then N, with a "p" between when IMAGE ends in a digit).
_disk_part() {
    local img=$1 n=$2
    sfdisk -d "$img" | awk -v a="${img}${n} :" -v b="${img}p${n} :" '
        index($0, a) == 1 || index($0, b) == 1 {
        s = $0; sub(/.*start= */, "", s); sub(/,.*/, "", s)
        z = $0; sub(/.*size= */, "", z); sub(/,.*/, "", z)
        print s, z }'
}

# Builds a file system in a file of the partition's size and copies it into place.
# _disk_fill IMAGE N KIND LABEL   (KIND: fat12, fat16, fat32, ntfs)
_disk_fill() {
    local img=$1 n=$2 kind=$3 label=$4
    local start size part
    read -r start size < <(_disk_part "$img" "$n")
    [ -n "$start" ] && [ -n "$size" ] || { echo "no partition $n in $img" >&2; return 1; }
    part="$img.part$n"
    rm -f "$part"
    truncate -s $((size * 512)) "$part"
    case $kind in
        fat12) mkfs.fat --invariant -F 12 -h "$start" -n "$label" "$part" >/dev/null ;;
        fat16) mkfs.fat --invariant -F 16 -s 2 -h "$start" -n "$label" "$part" >/dev/null ;;
        fat32) mkfs.fat --invariant -F 32 -s 1 -h "$start" -n "$label" "$part" >/dev/null ;;
        ntfs) mkntfs -q -F -f -s 512 -p "$start" -H 255 -S 63 -L "$label" "$part" >/dev/null ;;
        *) echo "unknown kind $kind" >&2; return 1 ;;
    esac
    dd if="$part" of="$img" bs=512 seek="$start" conv=notrunc,sparse status=none
    rm -f "$part"
}

# Writes a little-endian 32-bit value as raw bytes.
_disk_le32() {
    local v=$1
    printf "\\$(printf '%03o' $((v & 255)))\\$(printf '%03o' $(((v >> 8) & 255)))"
    printf "\\$(printf '%03o' $(((v >> 16) & 255)))\\$(printf '%03o' $(((v >> 24) & 255)))"
}

image_disk_mbr() {
    local img=$1
    truncate -s 64M "$img"
    sfdisk -q "$img" >/dev/null <<'EOF'
label: dos
,8MiB,6
,,E
,36MiB,c
,8MiB,7
EOF
    _disk_fill "$img" 1 fat16 PRIMFAT16
    _disk_fill "$img" 5 fat32 LOGFAT32
    _disk_fill "$img" 6 ntfs LogicalNtfs
}

image_disk_gpt() {
    local img=$1
    truncate -s 48M "$img"
    sfdisk -q "$img" >/dev/null <<'EOF'
label: gpt
,36MiB,EBD0A0A2-B9E5-4433-87C0-68B6B72699C7
,8MiB,EBD0A0A2-B9E5-4433-87C0-68B6B72699C7
EOF
    _disk_fill "$img" 1 fat32 GPTFAT32
    _disk_fill "$img" 2 ntfs GptNtfs
}

image_disk_loop() {
    local img=$1
    truncate -s 16M "$img"
    sfdisk -q "$img" >/dev/null <<'EOF'
label: dos
,,E
,6MiB,6
,3MiB,1
EOF
    _disk_fill "$img" 5 fat16 LOOPFAT16
    _disk_fill "$img" 6 fat12 LOOPFAT12
    # The EBR of p6 sits 2048 sectors before it (sfdisk's alignment); its link entry (second
    # slot, byte 0x1CE) gets type 0x05 and a start relative to the extended partition that
    # names that same EBR.
    local extStart p6Start ebr
    read -r extStart _ < <(_disk_part "$img" 1)
    read -r p6Start _ < <(_disk_part "$img" 6)
    ebr=$((p6Start - 2048))
    { printf '\000\000\000\000\005\000\000\000'; _disk_le32 $((ebr - extStart)); _disk_le32 1; } |
        dd of="$img" bs=1 seek=$((ebr * 512 + 0x1CE)) conv=notrunc status=none
}

image_disk_nofs() {
    local img=$1
    truncate -s 8M "$img"
    sfdisk -q "$img" >/dev/null <<'EOF'
label: dos
,4MiB,83
EOF
}

image_disk_plain() {
    local img=$1
    mkfs.fat -C --invariant -F 12 -n PLAINFAT "$img" 2048 >/dev/null
}

# The fat32 and ntfs-scan volumes with a stray swap signature in the boot region they do not
# use (a version word at 1 KiB, "SWAPSPACE2" at the end of the first 4 KiB): libblkid then sees
# two file systems and names neither, while sector 0 still says FAT or NTFS.
_stray_swap_signature()
{
    printf '\001\000\000\000\010\000\000\000' | dd of="$1" bs=1 seek=1024 conv=notrunc status=none
    printf 'SWAPSPACE2' | dd of="$1" bs=1 seek=4086 conv=notrunc status=none
}

image_fat32_ambiguous()
{
    image_fat32 "$1"
    _stray_swap_signature "$1"
}

image_ntfs_scan_ambiguous()
{
    image_ntfs_scan "$1"
    _stray_swap_signature "$1"
}

# Volumes for the probe's shortcuts past two probers: FAT32 "ZFSPROBE" of 73,800 KiB (over
# libblkid's 64 MiB least ZFS size, and not a whole number of 256 KiB, so the end labels sit on
# an earlier boundary). Each zfs_ volume has the uberblock magic at four uberblock places of
# one label.
# zfs_none: no magic. zfs_head: little-endian magic in label 1 (at 256 KiB).
# zfs_tail: little-endian magic in label 3 (the last whole 256 KiB on a 256 KiB boundary).
# zfs_swapped: big-endian magic in label 2 (the 256 KiB before label 3).
# zfs_middle: the magic 32 MiB in, where no label is.
_zfs_fat() {
    mkfs.fat -C --invariant -F 32 -n ZFSPROBE "$1" 73800 >/dev/null
}

# _zfs_magic IMAGE LABEL_OFFSET BYTES: BYTES (printf escapes) at the label's first four
# uberblocks, 128 KiB into it and 1 KiB apart.
_zfs_magic() {
    local i
    for i in 0 1 2 3; do
        # shellcheck disable=SC2059
        printf "$3" | dd of="$1" bs=1 seek=$(($2 + 131072 + i * 1024)) conv=notrunc status=none
    done
}

_zfs_le='\014\261\272\000\000\000\000\000'
_zfs_be='\000\000\000\000\000\272\261\014'

# The offset of label 2 (END=2) or 3 (END=1): END labels before the last 256 KiB boundary.
_zfs_end_label() {
    local size
    size=$(stat -c %s "$1")
    echo $((size / 262144 * 262144 - $2 * 262144))
}

image_zfs_none() { _zfs_fat "$1"; }
image_zfs_head() { _zfs_fat "$1" && _zfs_magic "$1" 262144 "$_zfs_le"; }
image_zfs_tail() { _zfs_fat "$1" && _zfs_magic "$1" "$(_zfs_end_label "$1" 1)" "$_zfs_le"; }
image_zfs_swapped() { _zfs_fat "$1" && _zfs_magic "$1" "$(_zfs_end_label "$1" 2)" "$_zfs_be"; }
image_zfs_middle() { _zfs_fat "$1" && _zfs_magic "$1" $((32 * 1048576)) "$_zfs_le"; }

# xfs_log: an XFS log record header (magic, version 2, length 512, format 1) in sector 100.
# xfs_log_odd: the same header 4 bytes into sector 100, where no log looks for one.
_xfs_log_header() {
    printf '\376\355\272\276\000\000\000\001\000\000\000\002\000\000\002\000' |
        dd of="$1" bs=1 seek="$2" conv=notrunc status=none
    printf '\000\000\000\001' | dd of="$1" bs=1 seek=$(($2 + 300)) conv=notrunc status=none
}
image_xfs_log() { _zfs_fat "$1" && _xfs_log_header "$1" 51200; }
image_xfs_log_odd() { _zfs_fat "$1" && _xfs_log_header "$1" 51204; }
