# exFAT test volumes, made by mkfs.exfat (exfatprogs) and written through mount.exfat-fuse
# (exfat-fuse) on a loop device: as root it mounts through fuseblk, which needs a block
# device. Sourced by make-image.sh; needs root and /dev/fuse.
#
# exfat_4k (64 MiB, 4 KiB clusters), exfat_32k (64 MiB, 32 KiB clusters), exfat_128k
# (128 MiB, 128 KiB clusters) hold the same tree (see _exfat_common_ops):
#
#   live:    Docs/keep.txt, Docs/Sub/, "Ünïcode Ordner ✓"/stay.txt, pad.bin
#   deleted: Docs/gone.txt (5000 bytes);
#            "Docs/Sub/Ein sehr langer Dateiname mit Umlauten äöü – und noch mehr.txt"
#            (20000 bytes; the name takes five File Name entries);
#            "Ünïcode Ordner ✓/Größe.bin" (7000 bytes);
#            big.bin (1500000 bytes, contiguous);
#            frag.bin (six clusters and a bit: it took the clusters of fraga.bin, deleted
#            before it, and continues behind pad.bin, so its clusters are in two pieces);
#            OldDir/ (rm -r) which held old.txt, Inner/ and Inner/inner.txt.
#
# exfat_huge (5 GiB sparse image, 128 KiB clusters): huge.bin, deleted, 4 GiB + 4 MiB long:
# zeros with the marks "huge start" at 0, "huge middle" at 2 GiB and "huge end" in its last
# bytes. exfat-fuse writes the zeros; they are dug out of the image again afterwards.
#
# File content is _fat_content TAG SIZE (fat.sh): the TAG is the file's path as written.

# _exfat_with IMAGE FUNCTION ARGS...: mounts IMAGE through a loop device and exfat-fuse, runs
# FUNCTION MOUNTPOINT ARGS... and unmounts again, also when anything fails on the way.
_exfat_with()
{
    local img=$1 fn=$2
    shift 2
    (
        set -euo pipefail
        mnt=$(mktemp -d)
        dev=
        _exfat_cleanup()
        {
            if mountpoint -q "$mnt"; then
                umount "$mnt" || umount -l "$mnt" || true
            fi
            # exfat-fuse ends after the unmount; the loop device is released once it has.
            if [ -n "$dev" ]; then
                for _ in 1 2 3 4 5 6 7 8 9 10; do
                    losetup -d "$dev" 2>/dev/null && break
                    sleep 0.5
                done
            fi
            rmdir "$mnt" 2>/dev/null || true
        }
        trap _exfat_cleanup EXIT
        dev=$(losetup -f --show "$img")
        mount.exfat-fuse "$dev" "$mnt" >/dev/null
        "$fn" "$mnt" "$@"
        sync
    )
}

# _exfat_put MNT PATH SIZE: writes PATH with its deterministic content.
_exfat_put()
{
    _fat_content "$2" "$3" >"$1/$2"
}

# _exfat_common_ops MNT CLUSTER_BYTES
_exfat_common_ops()
{
    local m=$1 cs=$2
    mkdir -p "$m/Docs/Sub" "$m/Ünïcode Ordner ✓" "$m/OldDir/Inner"
    _exfat_put "$m" Docs/keep.txt 1000
    _exfat_put "$m" Docs/gone.txt 5000
    _exfat_put "$m" "Docs/Sub/Ein sehr langer Dateiname mit Umlauten äöü – und noch mehr.txt" 20000
    _exfat_put "$m" "Ünïcode Ordner ✓/stay.txt" 300
    _exfat_put "$m" "Ünïcode Ordner ✓/Größe.bin" 7000
    _exfat_put "$m" OldDir/old.txt 2500
    _exfat_put "$m" OldDir/Inner/inner.txt 900
    _exfat_put "$m" big.bin 1500000
    # frag.bin: the three clusters of fraga.bin, then clusters behind pad.bin.
    _exfat_put "$m" fraga.bin $((3 * cs))
    _exfat_put "$m" pad.bin $((2 * cs))
    rm "$m/fraga.bin"
    _exfat_put "$m" frag.bin $((6 * cs + 100))
    rm "$m/Docs/gone.txt" "$m/Docs/Sub/Ein sehr langer Dateiname mit Umlauten äöü – und noch mehr.txt"
    rm "$m/Ünïcode Ordner ✓/Größe.bin" "$m/big.bin" "$m/frag.bin"
    rm -r "$m/OldDir"
}

# _exfat_new IMAGE SIZE CLUSTER_SIZE
_exfat_new()
{
    rm -f "$1"
    truncate -s "$2" "$1"
    mkfs.exfat -c "$3" -L ORLAVENT "$1" >/dev/null
}

image_exfat_4k()
{
    _exfat_new "$1" 64M 4K
    _exfat_with "$1" _exfat_common_ops 4096
}

image_exfat_32k()
{
    _exfat_new "$1" 64M 32K
    _exfat_with "$1" _exfat_common_ops 32768
}

image_exfat_128k()
{
    _exfat_new "$1" 128M 128K
    _exfat_with "$1" _exfat_common_ops 131072
}

_exfat_huge_ops()
{
    local m=$1 size=$(((4096 + 4) * 1024 * 1024))
    printf 'huge start' | dd of="$m/huge.bin" bs=1M conv=notrunc status=none
    printf 'huge middle' | dd of="$m/huge.bin" bs=1M seek=2048 conv=notrunc status=none
    printf 'huge end' | dd of="$m/huge.bin" bs=1 seek=$((size - 8)) conv=notrunc status=none
    rm "$m/huge.bin"
}

image_exfat_huge()
{
    _exfat_new "$1" 5G 128K
    _exfat_with "$1" _exfat_huge_ops
    # Give the zeros back to the host: the image stays sparse.
    fallocate --dig-holes "$1"
}

# exfat_mbr (40 MiB disk): an MBR with one partition of type 07 at 1 MiB holding a fresh
# exFAT volume labelled INSIDE.
image_exfat_mbr()
{
    local vol="$1.vol"
    _exfat_new "$vol" 32M 4K
    exfatlabel "$vol" INSIDE >/dev/null
    rm -f "$1"
    truncate -s 40M "$1"
    printf 'start=2048, size=65536, type=7\n' | sfdisk -q "$1"
    dd if="$vol" of="$1" bs=1M seek=1 conv=notrunc status=none
    rm -f "$vol"
}
