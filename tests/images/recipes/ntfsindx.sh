# NTFS volume for the index-record reader: one folder of 400 small files, names of varied
# lengths (a few not ASCII), every seventh removed so that its name stays behind in the slack
# of the folder's index records. 400 names need index records below the root that point to
# further records (sub-node entries) as well as leaves. Uses the fixture of recipes/ntfs.sh.

# image_ntfs_index OUT
image_ntfs_index() {
    local out=$1 fixture i
    fixture=$(_ntfs_fixture "$out")
    _ntfs_format "$out" 8 -c 4096
    {
        echo "mkdir /dir"
        for i in $(seq 1 400); do echo "file 10 /dir/$(_ntfsindx_name "$i")"; done
        for i in $(seq 3 7 400); do echo "rm /dir/$(_ntfsindx_name "$i")"; done
    } | "$fixture" "$out"
}

# The name of file I: "docI" padded with 0 to 8 x's, ".txt"; every tenth one is not ASCII.
_ntfsindx_name() {
    local i=$1 pad
    pad=$(printf '%*s' $((i % 9)) '' | tr ' ' x)
    if ((i % 10 == 0)); then
        printf 'Résumé %s ✓%s.txt\n' "$i" "$pad"
    else
        printf 'doc%s%s.txt\n' "$i" "$pad"
    fi
}
