# Deleted pictures and archives on exFAT and NTFS whose contents a validator judges. Sourced by
# make-image.sh (needs exfat.sh and ntfs.sh).
#
# content_exfat (16 MiB exFAT, 4 KiB clusters) through exfat-fuse, and content_ntfs (16 MiB
# NTFS, 4 KiB clusters) through ntfs-3g: Whole.jpg, Whole.zip, Gone.jpg and Gone.png written,
# then all four deleted; then in the image the second cluster of each Gone.* written over with
# random bytes, behind the file system's back: the metadata still says the clusters are the
# file's and free, so only the contents tell. The files as written are kept in IMAGE_OUTPUT.d/.

# _content_fs_make DIR: the files as written.
_content_fs_make()
{
    local d=$1
    mkdir -p "$d"
    convert -size 160x120 -seed 21 plasma: -strip -quality 92 "$d/Whole.jpg"
    convert -size 160x120 -seed 22 plasma: -strip -quality 92 "$d/Gone.jpg"
    convert -size 64x64 -seed 23 plasma: -strip "$d/Gone.png"
    python3 - "$d" <<'PY'
import random, sys, zipfile
rnd = random.Random(24)
with zipfile.ZipFile(sys.argv[1] + "/Whole.zip", "w", zipfile.ZIP_DEFLATED) as z:
    info = zipfile.ZipInfo("notes.txt", (2021, 5, 1, 10, 0, 0))
    info.compress_type = zipfile.ZIP_DEFLATED
    z.writestr(info, "".join("line %04d %d\n" % (i, rnd.randrange(10**9)) for i in range(3000)))
PY
}

# _content_fs_ops MNT DIR: writes the four files, then deletes them.
_content_fs_ops()
{
    local m=$1 d=$2 name
    for name in Whole.jpg Whole.zip Gone.jpg Gone.png; do
        cp "$d/$name" "$m/$name"
    done
    sync
    rm "$m/Whole.jpg" "$m/Whole.zip" "$m/Gone.jpg" "$m/Gone.png"
}

# _content_fs_spoil IMAGE DIR: the second cluster (4 KiB) of each Gone.* written over with
# random bytes where the image holds it.
_content_fs_spoil()
{
    python3 - "$@" <<'PY'
import random, sys
img, d = sys.argv[1:3]
rng = random.Random(25)
with open(img, "r+b") as f:
    volume = f.read()
    for name in ("Gone.jpg", "Gone.png"):
        data = open(d + "/" + name, "rb").read()
        if len(data) < 3 * 4096:
            sys.exit(name + " is too small to spoil its second cluster")
        at = volume.find(data[4096:8192])
        if at < 0 or at % 4096 != 0:
            sys.exit(name + "'s second cluster is not on the volume")
        f.seek(at)
        f.write(bytes(rng.randrange(256) for _ in range(4096)))
PY
}

image_content_exfat()
{
    local img=$1 d="$IMAGE_OUTPUT.d"
    rm -rf "$d"
    _content_fs_make "$d"
    _exfat_new "$img" 16M 4K
    _exfat_with "$img" _content_fs_ops "$d"
    _content_fs_spoil "$img" "$d"
}

image_content_ntfs()
{
    local img=$1 d="$IMAGE_OUTPUT.d"
    rm -rf "$d"
    _content_fs_make "$d"
    _ntfs_format "$img" 16 -c 4096
    _ntfs_with "$img" _content_fs_ops "$d"
    _content_fs_spoil "$img" "$d"
}
