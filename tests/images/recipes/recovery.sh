# Volumes for the recovery tests. Sourced by make-image.sh; uses _fat_new and _fat_apply from
# fat.sh.
#
# recovery_hostile (FAT12, 1 MiB, 512-byte clusters): live folder HOST holding deleted entries
# whose long names were patched after mtools wrote them, so that a scan yields names no file
# system would accept:
#   "ab/cd long.txt"     (was "ab-cd long.txt", 300 bytes, content tag "HOST/ab-cd long.txt")
#   "ct<0x01>l long.txt" (was "ct-l long.txt", 310 bytes, tag "HOST/ct-l long.txt")
#   ".."            (file, was Zq, 320 bytes, tag HOST/Zq)
#   "../..r long"   folder (was "Yw dir long") holding deleted "Inner File.txt" (330 bytes,
#                   tag "HOST/Yw dir long/Inner File.txt")
#   "Plain Name.txt" (340 bytes, unpatched)
# A patched name keeps its length; where its first character changes, the long-name checksum is
# recomputed over the short name with the first byte a deleted entry gets back from the long name.

# _recovery_pattern TEXT: grep -P pattern of TEXT in UTF-16LE.
_recovery_pattern()
{
    local text=$1 i out=""
    for ((i = 0; i < ${#text}; i++)); do
        out+=$(printf '\\x%02x\\x00' "'${text:i:1}")
    done
    printf '%s' "$out"
}

# _recovery_patch IMAGE OLD NEW: replaces the first characters OLD of a long name (at most the
# five that the long-name entry's first field holds; OLD must occur once in the image) by NEW,
# given as a printf format of the same length.
_recovery_patch()
{
    local img=$1 old=$2 new=$3 offsets at entry bytes i first sum b
    offsets=$(LC_ALL=C grep -obUaP "$(_recovery_pattern "$old")" "$img" | cut -d: -f1)
    [ "$(printf '%s\n' "$offsets" | wc -l)" -eq 1 ] && [ -n "$offsets" ] ||
        { echo "recovery.sh: long name '$old' not found once" >&2; return 1; }
    at=$offsets
    entry=$((at - 1))
    # Long-name characters of NEW, each followed by a zero byte.
    bytes=$(printf "$new" | od -An -tu1 -v)
    i=0
    for b in $bytes; do
        printf "\\$(printf '%03o' "$b")\\000" |
            dd of="$img" bs=1 seek=$((at + 2 * i)) conv=notrunc status=none
        if [ $i -eq 0 ]; then first=$b; fi
        i=$((i + 1))
    done
    # Checksum of the short entry after the long-name entry, with the first byte restored the
    # way a deleted entry's is: the long name's first character, upper-cased.
    if [ "$first" -ge 97 ] && [ "$first" -le 122 ]; then first=$((first - 32)); fi
    sum=0
    i=0
    for b in $(od -An -tu1 -v -j $((entry + 32)) -N 11 "$img"); do
        [ $i -eq 0 ] && [ "$b" -eq 229 ] && b=$first
        sum=$(((((sum & 1) << 7) | (sum >> 1)) + b & 255))
        i=$((i + 1))
    done
    printf "\\$(printf '%03o' "$sum")" | dd of="$img" bs=1 seek=$((entry + 13)) conv=notrunc status=none
}

image_recovery_hostile()
{
    _fat_new "$1" 12 1024 1 ORLHOSTILE
    _fat_apply "$1" <<'EOF2'
md|HOST
put|HOST/ab-cd long.txt|300
put|HOST/ct-l long.txt|310
put|HOST/Zq|320
md|HOST/Yw dir long
put|HOST/Yw dir long/Inner File.txt|330
put|HOST/Plain Name.txt|340
del|HOST/ab-cd long.txt
del|HOST/ct-l long.txt
del|HOST/Zq
deltree|HOST/Yw dir long
del|HOST/Plain Name.txt
EOF2
    _recovery_patch "$1" "ab-cd" "ab/cd"
    _recovery_patch "$1" "ct-l " 'ct\001l '
    _recovery_patch "$1" "Zq" ".."
    _recovery_patch "$1" "Yw di" "../.."
}
