# FAT test volumes, built with mkfs.fat and mtools. Sourced by make-image.sh.
#
# fat12 (2 MiB, 1 KiB clusters), fat16 (16 MiB, 2 KiB clusters), fat32 (36 MiB, 512-byte
# clusters, root directory in a cluster chain) all hold the same tree (see _fat_common_ops):
#
#   live:    FILE.TXT, README.TXT, "Final Report.txt", "notes about things.txt",
#            "A Rather Long File Name For Testing.txt", BIG.BIN (20000 bytes: many clusters),
#            FRAG.BIN (6000 bytes; on fat12/fat16 fragmented: it took the clusters and the
#            directory slot of FRAGA.BIN, created and deleted before it, and continues after
#            FRAGB.BIN; mtools allocates FAT32 clusters after the last one given, so on fat32
#            it is contiguous), FRAGB.BIN,
#            DOCS/PLAN.TXT, "DOCS/Meeting Minutes.txt", DOCS/SUB/DEEP.TXT,
#            "DOCS/SUB/Deep Long Name.txt",
#            MANY/F01.TXT .. MANY/F70.TXT (the folder spans several clusters) except the deleted,
#            DOCS spans two clusters on fat32 (fragmented chain),
#            "System Volume Information"/ and RECYCLER/ (both live folders).
#   deleted: DELROOT.TXT, "Deleted Long Name.txt" (root);
#            DOCS/GONE.TXT; "DOCS/SUB/Old Draft Notes.txt" (3000 bytes, several clusters);
#            OLDDIR/ (mdeltree) which held KEEP1.TXT, "Old Long Name.txt" and INNER/INNER.TXT;
#            "DOCS/Same Name Thrice.txt" three times: three intact deleted entries of one name,
#            contents "Same Name Thrice version 1/2/3 ..." (version 3 first in the folder);
#            "System Volume Information"/TRACKING.LOG;
#            RECYCLER/DC1.TXT and "RECYCLER/Recycled Long Name.txt";
#            MANY/F05.TXT, MANY/F17.TXT, MANY/F60.TXT, MANY/F65.TXT.
#
# demo_fat32 (36 MiB FAT32): a small "user disk" with readable text in Documents/, Photos/,
# Music/, Projects/Orchard/ and a few dozen files, some deleted (see _fat_demo_ops).
#
# File content is deterministic: lines "<path> line NNNNN" cut to the given size, so a file's
# bytes follow from its path (and its optional tag). File times are fixed (mcopy -m from a
# source file with a fixed date, TZ=UTC); folder times are the time of the build.
#
# Extending: write an operation list (one per line, fields separated by '|') and apply it with
# _fat_apply IMAGE <<'EOF' ... EOF. Operations:
#   md|PATH                  make a folder
#   put|PATH|SIZE[|TAG]      write a file of SIZE bytes; content from TAG (default: PATH)
#   del|PATH                 delete a file (mdel)
#   deltree|PATH             delete a folder and all it holds (mdeltree)
# PATHs are relative to the root and may contain spaces.

export MTOOLS_SKIP_CHECK=1

# _fat_new IMAGE FATBITS SIZE_KIB SECTORS_PER_CLUSTER LABEL
_fat_new()
{
    local img=$1 bits=$2 kib=$3 spc=$4 label=$5
    rm -f "$img"
    mkfs.fat -C --invariant -F "$bits" -s "$spc" -n "$label" "$img" "$kib" >/dev/null
}

# _fat_content TAG SIZE: deterministic text of exactly SIZE bytes.
_fat_content()
{
    LC_ALL=C awk -v t="$1" -v n="$2" 'BEGIN {
        for (out = 0; out < n; ) {
            s = sprintf("%s line %05d\n", t, ++i)
            if (out + length(s) > n)
                s = substr(s, 1, n - out)
            out += length(s)
            printf "%s", s
        }
    }'
}

# _fat_apply IMAGE: runs the operation list on standard input against IMAGE.
_fat_apply()
{
    local img=$1 op a b c src
    src=$(mktemp)
    while IFS='|' read -r op a b c; do
        case "$op" in
            '' | '#'*) ;;
            md) mmd -i "$img@@0" "::/$a" ;;
            put)
                _fat_content "${c:-$a}" "$b" >"$src"
                TZ=UTC touch -d '2021-03-04 05:06:08' "$src"
                TZ=UTC mcopy -m -i "$img@@0" "$src" "::/$a"
                ;;
            del) mdel -i "$img@@0" "::/$a" ;;
            deltree) mdeltree -i "$img@@0" "::/$a" ;;
            *)
                echo "fat.sh: unknown operation '$op'" >&2
                rm -f "$src"
                return 2
                ;;
        esac
    done
    rm -f "$src"
}

# The tree shared by fat12, fat16 and fat32.
_fat_common_ops()
{
    # mtools puts a new entry into the first run of free directory slots, deleted ones
    # included, so every folder gets all its entries first and loses some of them at the end.
    cat <<'EOF'
# a fragmented file: FRAG.BIN takes the clusters (and the directory slot) of FRAGA.BIN
put|FRAGA.BIN|2000
put|FRAGB.BIN|2000
del|FRAGA.BIN
put|FRAG.BIN|6000
md|DOCS
md|DOCS/SUB
put|FILE.TXT|300
put|README.TXT|100
put|Final Report.txt|1500
put|notes about things.txt|700
put|A Rather Long File Name For Testing.txt|200
put|BIG.BIN|20000
put|DELROOT.TXT|333
put|Deleted Long Name.txt|1200
put|DOCS/PLAN.TXT|400
put|DOCS/Meeting Minutes.txt|900
put|DOCS/GONE.TXT|444
put|DOCS/SUB/DEEP.TXT|250
put|DOCS/SUB/Deep Long Name.txt|260
put|DOCS/SUB/Old Draft Notes.txt|3000
md|OLDDIR
put|OLDDIR/KEEP1.TXT|500
put|OLDDIR/Old Long Name.txt|600
md|OLDDIR/INNER
put|OLDDIR/INNER/INNER.TXT|700
md|System Volume Information
put|System Volume Information/TRACKING.LOG|120
md|RECYCLER
put|RECYCLER/DC1.TXT|130
put|RECYCLER/Recycled Long Name.txt|140
EOF
    # a folder spanning several clusters, with deleted entries in its later clusters
    echo "md|MANY"
    local i
    for i in $(seq -w 1 70); do
        echo "put|MANY/F$i.TXT|$((100 + 10#$i))"
    done
    for i in 05 17 60 65; do
        echo "del|MANY/F$i.TXT"
    done
    cat <<'EOF'
# One name deleted three times, after all other entries of DOCS. Two placeholders with the
# same slot count sit in front and are given up one by one, so each new version lands in
# front of the deleted one and every deleted entry stays intact.
put|DOCS/Placeholder Three.txt|10
put|DOCS/Placeholder Twoo.txt|10
put|DOCS/Same Name Thrice.txt|150|Same Name Thrice version 1
del|DOCS/Same Name Thrice.txt
del|DOCS/Placeholder Twoo.txt
put|DOCS/Same Name Thrice.txt|250|Same Name Thrice version 2
del|DOCS/Same Name Thrice.txt
del|DOCS/Placeholder Three.txt
put|DOCS/Same Name Thrice.txt|350|Same Name Thrice version 3
del|DOCS/Same Name Thrice.txt
# deletions last
del|DELROOT.TXT
del|Deleted Long Name.txt
del|DOCS/GONE.TXT
del|DOCS/SUB/Old Draft Notes.txt
deltree|OLDDIR
del|System Volume Information/TRACKING.LOG
del|RECYCLER/DC1.TXT
del|RECYCLER/Recycled Long Name.txt
EOF
}

image_fat12()
{
    _fat_new "$1" 12 2048 2 ORLFAT12
    _fat_common_ops | _fat_apply "$1"
}

image_fat16()
{
    _fat_new "$1" 16 16384 4 ORLFAT16
    _fat_common_ops | _fat_apply "$1"
}

image_fat32()
{
    _fat_new "$1" 32 36864 1 ORLFAT32
    _fat_common_ops | _fat_apply "$1"
}

_fat_demo_ops()
{
    cat <<'EOF'
md|Documents
md|Documents/Letters
md|Photos
md|Music
md|Projects
md|Projects/Orchard
put|Documents/Shopping List.txt|180
put|Documents/Budget 2021.csv|900
put|Documents/Letters/To Grandma.txt|1400
put|Documents/Letters/Complaint to Landlord.txt|2100
put|Documents/Letters/Thank You Note.txt|600
put|Documents/Recipe Apple Pie.txt|1100
put|Documents/Old Resume.txt|2500
put|Documents/Travel Plans.txt|800
put|Photos/Beach Day 01.txt|5000
put|Photos/Beach Day 02.txt|5200
put|Photos/Birthday Party.txt|7000
put|Photos/Garden In Spring.txt|4100
put|Photos/INDEX.TXT|300
put|Music/Playlist Summer.txt|450
put|Music/Playlist Winter.txt|470
put|Music/Lyrics Draft.txt|1300
put|Projects/Orchard/Tree Survey.txt|3300
put|Projects/Orchard/Harvest Log.txt|2600
put|Projects/Orchard/PLAN.TXT|900
put|Projects/Orchard/Pruning Notes.txt|1700
put|Projects/Ideas.txt|650
put|AUTOEXEC.BAT|120
put|CONFIG.SYS|90
put|Welcome.txt|400
put|Important Passwords Do Not Share.txt|200
put|Meeting Agenda.txt|720
md|Old Stuff
put|Old Stuff/Diary 2019.txt|3900
put|Old Stuff/Diary 2020.txt|4100
md|Old Stuff/Scans
put|Old Stuff/Scans/Receipt.txt|800
md|RECYCLER
put|RECYCLER/DC1.TXT|500
put|RECYCLER/Holiday Card.txt|950
del|Documents/Old Resume.txt
del|Documents/Letters/Complaint to Landlord.txt
del|Photos/Beach Day 02.txt
del|Photos/Birthday Party.txt
del|Music/Lyrics Draft.txt
del|Projects/Orchard/Harvest Log.txt
del|Important Passwords Do Not Share.txt
del|CONFIG.SYS
deltree|Old Stuff
del|RECYCLER/DC1.TXT
del|RECYCLER/Holiday Card.txt
EOF
}

image_demo_fat32()
{
    _fat_new "$1" 32 36864 1 ORLDEMO
    _fat_demo_ops | _fat_apply "$1"
}
