#!/usr/bin/env python3
"""Checks a scan --csv listing against the scan --json listing of the same volume, reading the
CSV with Python's own csv module: the header row, CR LF line ends, and one row per JSON line
holding the same values in the JSON's key order (recycled_from empty when the key is absent).
Usage: csv_vs_json.py LISTING.csv LISTING.jsonl; exits 1 naming the first difference."""
import csv
import io
import json
import sys

KEYS = ["volume", "fs", "path", "name", "dir", "deleted", "size", "first", "created",
        "accessed", "condition", "overwritten_pct", "deep", "found_by", "content", "recycled_from"]


def text(value):
    if isinstance(value, bool):
        return "true" if value else "false"
    return str(value)


def main():
    with open(sys.argv[1], "rb") as f:
        raw = f.read().decode("utf-8")
    with open(sys.argv[2], encoding="utf-8") as f:
        objects = [json.loads(line) for line in f if line.strip()]
    if raw.count("\n") != raw.count("\r\n") or not raw.endswith("\r\n"):
        sys.exit("a line does not end in CR LF")
    rows = list(csv.reader(io.StringIO(raw, newline=""), strict=True))
    if rows[0] != KEYS:
        sys.exit(f"header row {rows[0]}")
    if len(rows) - 1 != len(objects):
        sys.exit(f"{len(rows) - 1} rows for {len(objects)} JSON lines")
    for row, obj in zip(rows[1:], objects):
        want = [text(obj.get(key, "")) for key in KEYS]
        if row != want:
            sys.exit(f"row {row} for {want}")


main()
