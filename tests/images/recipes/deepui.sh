# A card formatted by mistake, for the wizard's deep search. Sourced by make-image.sh; uses
# _fat_new and _fat_apply (fat.sh).
#
# deepui_formatted (FAT16, 16 MiB, 2 KiB clusters, label ORLFORMAT): DCIM/100CAM01 with two
# texts and Notes.txt at the root, written by mtools, then the volume quick-formatted by
# mkfs.fat with the same geometry: the folders and files are on the medium, the new FAT and root
# folder do not name them, so a normal search finds nothing.
image_deepui_formatted()
{
    local img=$1
    _fat_new "$img" 16 16384 4 ORLFORMAT
    _fat_apply "$img" <<'EOF2'
md|DCIM
md|DCIM/100CAM01
put|DCIM/100CAM01/IMG_0001.txt|5000
put|DCIM/100CAM01/IMG_0002.txt|9000
put|Notes.txt|3000
EOF2
    mkfs.fat --invariant -F 16 -s 4 -n ORLFORMAT "$img" >/dev/null
}
