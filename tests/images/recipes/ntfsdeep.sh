# NTFS volumes for the deep search: a volume filled with a folder tree through libntfs-3g, then
# formatted again with mkntfs -f and the same geometry (size, cluster size), so that the old
# MFT's records outside the new MFT and the old files' clusters are all that is left of them.

# The formatted volume: camera folders, nested documents, a resident file, a fragmented file.
image_ntfs_formatted() {
    local out=$1 fixture
    fixture=$(_ntfs_fixture "$out")
    _ntfs_format "$out" 24 -c 4096
    "$fixture" "$out" <<'SCRIPT'
mkdir /DCIM
mkdir /DCIM/100CAM01
file 70000 /DCIM/100CAM01/IMG_0001.JPG
file 91000 /DCIM/100CAM01/IMG_0002.JPG
file 123456 /DCIM/100CAM01/IMG_0003.JPG
mkdir /Documents
mkdir /Documents/Sub
file 5000 /Documents/letter.txt
file 20000 /Documents/Sub/notes.txt
file 300 /small.txt
file 8192 /frag.bin
file 8192 /filler1.bin
append 8192 /frag.bin
file 8192 /filler2.bin
append 8192 /frag.bin
rm /filler1.bin
rm /filler2.bin
SCRIPT
    mkntfs -F -f -q -L orlavent -c 4096 "$out" >/dev/null 2>&1
}
