# Volumes for the tests of what the recovery says of the files it writes. Sourced by
# make-image.sh; uses _ntfs_fixture and _ntfs_format from ntfs.sh.
#
# ntfs_recovery2 (NTFS, 16 MiB, 4 KiB clusters), every file deleted:
#   /sparse/hole.vhd   1 TiB that holds no cluster: one hole
#   /sparse/after.txt  9,000 bytes of text, after it in its folder
#   /packed/text.txt   200,000 bytes of text in a compressed folder (units of 16 clusters, the
#                      text units stored compressed); tests patch its compression unit field
image_ntfs_recovery2() {
    local out=$1 fixture
    fixture=$(_ntfs_fixture "$out")
    _ntfs_format "$out" 16 -c 4096
    "$fixture" "$out" <<'SCRIPT'
mkdir /sparse
sparse 1099511627776 /sparse/hole.vhd
file 9000 /sparse/after.txt
mkdir /packed
compressed /packed
file 200000 /packed/text.txt
rm /sparse/hole.vhd
rm /sparse/after.txt
rm /packed/text.txt
SCRIPT
}
