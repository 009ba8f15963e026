#!/usr/bin/env python3
"""Fragments a file of a FAT32 volume around the files that follow it.

    fat_fragment.py IMAGE SPLITS RUNS...

RUNS are the clusters of the file and then of its gap files, one argument each, as mshowfat
lists them ("<34-213>"); together they must be one stretch, the file first. The file is cut
where SPLITS say (comma-separated shares of its clusters) and a gap file put between each piece
and the next: piece 0, gap 1, piece 1, gap 2, ... The clusters' bytes are moved, the chains
rewritten in every FAT and the first clusters of the root folder's entries updated, so that the
volume reads every file back as it was.
"""
import re
import struct
import sys


def clusters(text):
    out = []
    for a, b in re.findall(r"<(\d+)(?:-(\d+))?>", text):
        out += range(int(a), int(b or a) + 1)
    return out


class Fat32:
    def __init__(self, f):
        self.f = f
        boot = f.read(512)
        self.bps, spc, self.reserved, self.fats = struct.unpack_from("<HBHB", boot, 11)
        self.fat_sectors, self.root = struct.unpack_from("<II", boot, 36)[0], \
            struct.unpack_from("<I", boot, 44)[0]
        self.size = self.bps * spc
        self.data = (self.reserved + self.fats * self.fat_sectors) * self.bps

    def at(self, cluster):
        return self.data + (cluster - 2) * self.size

    def read(self, cluster):
        self.f.seek(self.at(cluster))
        return self.f.read(self.size)

    def write(self, cluster, data):
        self.f.seek(self.at(cluster))
        self.f.write(data)

    def next(self, cluster):
        self.f.seek(self.reserved * self.bps + 4 * cluster)
        return struct.unpack("<I", self.f.read(4))[0] & 0x0FFFFFFF

    def chain(self, runs):
        for a, b in zip(runs, runs[1:] + [0x0FFFFFFF]):
            for k in range(self.fats):
                self.f.seek((self.reserved + k * self.fat_sectors) * self.bps + 4 * a)
                self.f.write(struct.pack("<I", b))

    def move_root_entries(self, moved):
        """Points the root entries that start at a key of moved to its value."""
        c = self.root
        while 2 <= c < 0x0FFFFFF8:
            block = self.read(c)
            for off in range(0, self.size, 32):
                e = block[off:off + 32]
                if e[0] in (0, 0xE5) or e[11] == 0x0F:
                    continue
                first = struct.unpack_from("<H", e, 20)[0] << 16 | struct.unpack_from("<H", e, 26)[0]
                if first in moved:
                    new = moved.pop(first)
                    self.f.seek(self.at(c) + off + 20)
                    self.f.write(struct.pack("<H", new >> 16))
                    self.f.seek(self.at(c) + off + 26)
                    self.f.write(struct.pack("<H", new & 0xFFFF))
            c = self.next(c)
        if moved:
            sys.exit("fat_fragment.py: no root entry starts at cluster %s" % sorted(moved))


def new_order(files, splits):
    """(owner, cluster) in the order they are to lie: piece 0, gap 1, piece 1, ..."""
    cut = [0] + [int(len(files[0]) * float(s)) for s in splits.split(",")] + [len(files[0])]
    if len(cut) - 1 != len(files):
        sys.exit("fat_fragment.py: %d pieces need %d gap files" % (len(cut) - 1, len(cut) - 2))
    order = []
    for i in range(len(cut) - 1):
        order += [(0, c) for c in files[0][cut[i]:cut[i + 1]]]
        if i + 1 < len(files):
            order += [(i + 1, c) for c in files[i + 1]]
    return order


def main():
    path, splits, runs = sys.argv[1], sys.argv[2], sys.argv[3:]
    files = [clusters(r) for r in runs]
    whole = [c for f in files for c in f]
    lo = whole[0]
    if whole != list(range(lo, lo + len(whole))):
        sys.exit("fat_fragment.py: the file and its gaps are not one stretch: %s" % runs)
    order = new_order(files, splits)
    with open(path, "r+b") as f:
        fat = Fat32(f)
        old = {c: fat.read(c) for c in whole}
        placed = [[] for _ in files]
        for n, (owner, c) in enumerate(order):
            fat.write(lo + n, old[c])
            placed[owner].append(lo + n)
        for runs_of_file in placed:
            fat.chain(runs_of_file)
        fat.move_root_entries({files[i][0]: placed[i][0] for i in range(len(files))
                               if files[i][0] != placed[i][0]})
    return 0


if __name__ == "__main__":
    sys.exit(main())
