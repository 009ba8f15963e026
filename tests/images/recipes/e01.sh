# Expert Witness (.E01) images of test volumes, written by ewfacquire (ewf-tools) in unattended
# mode. Sourced by make-image.sh.
#
# Each image lives in a folder beside the output, IMAGE_OUTPUT.d/, holding the raw bytes that
# were acquired (volume.raw, for comparisons) and the segment files image.E01, image.E02, ...;
# the output itself is a relative link to image.E01, so that the segments lie beside the file
# the link resolves to.
#
# e01_fat12:    fat12 (2 MiB) in 1 MiB segments (image.E01 to image.E03), chunks of 16
#               sectors, uncompressed: many chunk and segment boundaries.
# e01_ntfs:     ntfs_scan in one segment, deflate-compressed chunks.
# e01_disk_mbr: disk_mbr (MBR with FAT16, FAT32 and NTFS partitions), empty chunks compressed.
# e01_disk_finds: an MBR disk whose p1 holds the fat12 volume and p2 the ntfs_scan volume
#               (both with deleted files), empty chunks compressed.
# e01_pattern:  2 MiB + 1536 bytes in 1 MiB segments, chunks of 16 sectors, for reads at any
#               offset; every 16 bytes hold their own offset ("%015d\n"), so a byte read from
#               the wrong place shows. Its media size is no multiple of a chunk.

# _e01_acquire OUT BUILDER EWFACQUIRE-OPTION...: builds the volume with the function BUILDER
# and acquires it.
_e01_acquire() {
    local out=$1 recipe=$2
    shift 2
    local dir="${IMAGE_OUTPUT:-$out}.d"
    rm -rf "$dir"
    mkdir -p "$dir"
    "$recipe" "$dir/volume.raw"
    _e01_write "$out" "$dir" "$@"
}

# _e01_write OUT DIR EWFACQUIRE-OPTION...: acquires DIR/volume.raw into DIR/image.E01...
_e01_write() {
    local out=$1 dir=$2
    shift 2
    ewfacquire -u -q -t "$dir/image" -f encase6 "$@" "$dir/volume.raw" >"$dir/ewfacquire.log" 2>&1 ||
        { cat "$dir/ewfacquire.log" >&2; return 1; }
    [ -f "$dir/image.E01" ] || { echo "ewfacquire wrote no $dir/image.E01" >&2; return 1; }
    rm -f "$out"
    ln -s "$(basename "$dir")/image.E01" "$out"
}

image_e01_fat12() {
    _e01_acquire "$1" image_fat12 -c none -b 16 -S 1048576
}

image_e01_ntfs() {
    _e01_acquire "$1" image_ntfs_scan -c deflate:fast
}

image_e01_disk_mbr() {
    _e01_acquire "$1" image_disk_mbr -c empty-block
}

# An MBR disk with the fat12 volume in p1 (at 1 MiB) and the ntfs_scan volume in p2 (at 4 MiB).
_e01_disk_finds() {
    local img=$1
    image_fat12 "$img.fat"
    image_ntfs_scan "$img.ntfs"
    truncate -s 24M "$img"
    sfdisk -q "$img" >/dev/null <<'EOF'
label: dos
start=2048,size=4096,type=1
start=8192,size=32768,type=7
EOF
    dd if="$img.fat" of="$img" bs=512 seek=2048 conv=notrunc,sparse status=none
    dd if="$img.ntfs" of="$img" bs=512 seek=8192 conv=notrunc,sparse status=none
    rm -f "$img.fat" "$img.ntfs"
}

image_e01_disk_finds() {
    _e01_acquire "$1" _e01_disk_finds -c empty-block
}

image_e01_pattern() {
    local out=$1
    local dir="${IMAGE_OUTPUT:-$out}.d"
    rm -rf "$dir"
    mkdir -p "$dir"
    awk 'BEGIN { for (i = 0; i < (2 * 1024 * 1024 + 1536) / 16; ++i) printf "%015d\n", i * 16 }' \
        >"$dir/volume.raw"
    _e01_write "$out" "$dir" -c none -b 16 -S 1048576
}
