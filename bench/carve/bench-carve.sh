#!/usr/bin/env bash
# Carving side by side with the carving tool of Debian's testdisk package (PhotoRec), in one
# run, on two quick-formatted FAT32 cards whose files all lay in the root folder (so only their
# contents are left): the card of the tests (tests/images/recipes/carvecard.sh: 272 MiB, 34
# files, two JPEGs fragmented) and a larger one built by the same recipe (default 2 GiB: 12 sets
# of the same kinds of files with contents of their own, 420 files, each set's two JPEGs
# fragmented, about 80 % of the card filled; the format clears only the first cluster of its
# root folder, the entries in the further ones stay).
#
#   bench/carve/bench-carve.sh   (WORK as for the other scripts; BENCH_CARVE_MIB and
#                                 BENCH_CARVE_SETS: the larger card's size and sets;
#                                 ORL_CLI_BEFORE: a build without carving, timed beside)
#
# Rows, each the median of three runs (bench/common.sh: timed), peak RSS from /usr/bin/time -v:
#   dd               dd of the whole image, bs=8M, warm (image in the page cache) and cold
#   scan --deep      orlavent-cli scan --deep --json, warm and cold
#   before carving   the same with ORL_CLI_BEFORE, when given (what carving adds)
#   recover --deep   orlavent-cli recover --deep --report, warm, into $BENCH_DEST
#   photorec         every file type over the whole image, warm
# Then, for orlavent-cli's recovery and PhotoRec's: the originals (random data left out) that
# came back byte for byte (SHA-256 against the originals the recipe keeps), the files written
# that match no original (false finds), those of them orlavent-cli lists as good or valid, and
# the originals missed.
set -euo pipefail
# shellcheck source=bench/common.sh
. "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/common.sh"
# shellcheck source=tests/images/recipes/carvecard.sh
. "$repo/tests/images/recipes/carvecard.sh"
mib=${BENCH_CARVE_MIB:-2048}
sets=${BENCH_CARVE_SETS:-12}

[[ -n ${cli:-} ]] || bench_build
command -v photorec >/dev/null || {
    echo "bench-carve.sh: photorec is missing (Debian package testdisk:" \
        "scripts/deps.sh, group bench)" >&2
    exit 1
}

# card IMAGE SIZE_MIB SETS FILL: builds the card on first use (originals in IMAGE.files).
card()
{
    local img=$1
    if [[ ! -f $img ]]; then
        local start
        start=$(date +%s)
        echo "== building $img ($2 MiB, $3 sets): filled, fragmented, quick-formatted" >&2
        _carvecard_build "$img.tmp" "$2" "$3" "$img.files" "$img.layout" "$4"
        (cd "$img.files" && LC_ALL=C sha256sum -- *) >"$img.sha256"
        mv "$img.tmp" "$img"
        echo "   built in $(($(date +%s) - start)) s" >&2
    fi
}

# tally SUMS DIR [REPORT SCAN]: one table row of what the files under DIR are: originals back
# byte for byte, false finds (and those REPORT calls good or SCAN valid), originals missed.
tally()
{
    python3 - "$@" <<'PY'
import hashlib, json, os, sys

sums, folder = sys.argv[1], sys.argv[2]
originals = dict(line.rstrip("\n").split("  ", 1) for line in open(sums))
wanted = {d for d, n in originals.items() if "noise" not in n}
claimed = set()  # files orlavent-cli calls good or valid
if len(sys.argv) > 4:
    content = {}
    for line in open(sys.argv[4]) if os.path.exists(sys.argv[4]) else []:
        item = json.loads(line)
        content[item["path"] + "\\" + item["name"]] = item.get("content", "")
    for line in open(sys.argv[3]) if os.path.exists(sys.argv[3]) else []:
        item = json.loads(line)
        key = item["path"] + "\\" + item["name"]
        if item.get("destination") and (item["condition"] == "good" or content.get(key) == "valid"):
            claimed.add(os.path.realpath(item["destination"]))
found, false, false_claimed, files = set(), 0, 0, 0
for root, _, names in os.walk(folder):
    for name in names:
        path = os.path.join(root, name)
        if name == "report.xml":
            continue
        files += 1
        with open(path, "rb") as f:
            digest = hashlib.file_digest(f, "sha256").hexdigest()
        if digest in originals:
            found.add(digest)
        else:
            false += 1
            false_claimed += os.path.realpath(path) in claimed
# The originals missed, those of a larger card's sets counted by their name in the set.
missed = {}
for d in wanted - found:
    name = originals[d]
    name = name[4:] if name[0] == "s" and name[3] == "-" else name
    missed[name] = missed.get(name, 0) + 1
shown = ", ".join(n if k == 1 else f"{n} ×{k}" for n, k in sorted(missed.items()))
print(f"| {len(found & wanted)} of {len(wanted)} | {files} | {false} | "
      f"{false_claimed if len(sys.argv) > 4 else '-'} | {shown or '-'} |")
PY
}

# bench_card LABEL IMAGE: the timings and the tallies of one card.
bench_card()
{
    local label=$1 img=$2 cold warm out=$work/carve-out report=$work/carve-report.jsonl
    if [[ -w /proc/sys/vm/drop_caches ]]; then
        cold='sync; echo 3 >/proc/sys/vm/drop_caches'
    else
        cold="dd if='$img' iflag=nocache count=0 status=none"
    fi
    warm="cat '$img' >/dev/null"
    echo "== $label: $img ($(($(stat -c %s "$img") >> 20)) MiB), $(date -u '+%Y-%m-%d %H:%M UTC')," \
        "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
    echo
    echo "| tool | wall | CPU (user+sys) | peak RSS | output lines |"
    echo "|---|---:|---:|---:|---:|"
    BENCH_BEFORE=$warm timed "dd bs=8M (warm)" dd if="$img" of=/dev/null bs=8M status=none
    local dd_warm=$last_wall
    BENCH_BEFORE=$cold timed "dd bs=8M (cold)" dd if="$img" of=/dev/null bs=8M status=none
    local dd_cold=$last_wall
    BENCH_BEFORE=$warm timed "scan --deep (warm)" "$cli" scan --deep --json "C:=$img"
    local scan_warm=$last_wall
    cp "$work/out-scan___deep__warm_.txt" "$work/carve-scan.jsonl"
    BENCH_BEFORE=$cold timed "scan --deep (cold)" "$cli" scan --deep --json "C:=$img"
    local scan_cold=$last_wall before=
    if [[ -n ${ORL_CLI_BEFORE:-} ]]; then
        BENCH_BEFORE=$warm timed "scan --deep, before carving (warm)" "$ORL_CLI_BEFORE" scan \
            --deep --json "C:=$img"
        before=$last_wall
    fi
    BENCH_BEFORE="$warm; rm -rf '$dest/carve' '$report'" timed "recover --deep (warm)" "$cli" \
        recover --deep --to "$dest/carve" --report "$report" "C:=$img"
    BENCH_BEFORE="$warm; rm -rf '$out'; mkdir -p '$out'" timed "photorec, every file type (warm)" \
        photorec /log /d "$out/recup" /cmd "$img" \
        partition_none,fileopt,everything,enable,wholespace,search
    echo
    ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
    echo "   scan --deep / dd: warm $(ratio "$scan_warm" "$dd_warm")×," \
        "cold $(ratio "$scan_cold" "$dd_cold")×"
    [[ -z $before ]] || echo "   scan --deep with carving / without: $(ratio "$scan_warm" "$before")×"
    echo
    echo "| tool | originals back byte for byte | files written | false finds |" \
        "false finds good or valid | missed |"
    echo "|---|---:|---:|---:|---:|---|"
    echo "| orlavent-cli recover --deep $(tally "$img.sha256" "$dest/carve" "$report" \
        "$work/carve-scan.jsonl")"
    echo "| photorec $(tally "$img.sha256" "$out")"
    echo
}

small=$work/carvecard.img
if [[ ! -f $small ]]; then
    echo "== building $small (tests/images/make-image.sh carvecard)" >&2
    bash "$repo/tests/images/make-image.sh" carvecard "$small" >&2
fi
large=$work/carvecard-$mib-$sets.img
# The larger card: each set about 5 MiB of files, filled up to about 80 % with random data.
fill=$((((mib * 8 / 10 - sets * 5) << 20) / sets))
card "$large" "$mib" "$sets" $((fill > 0 ? fill : 0))
cd "$work" # photorec writes photorec.log here
bench_card "the card of the tests" "$small"
bench_card "the larger card" "$large"
rm -f photorec.log
