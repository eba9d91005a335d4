"""Python's csv module as a peer of our CSV files.

Usage: check_csv.py read <csv file> <expected rows as a JSON list of lists>
       check_csv.py write <csv file> <rows as a JSON list of lists>

"read" parses the file and compares every row with the expected one;
"write" writes the rows with csv.writer (minimal quoting, CRLF line ends)
for our reader to read back.
"""
import csv
import json
import sys


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def main():
    mode, path, rows = sys.argv[1], sys.argv[2], json.loads(sys.argv[3])
    if mode == "write":
        with open(path, "w", encoding="utf-8", newline="") as f:
            csv.writer(f).writerows(rows)
        print(f"ok: wrote {len(rows)} rows")
        return
    with open(path, encoding="utf-8", newline="") as f:
        read = list(csv.reader(f))
    if len(read) != len(rows):
        fail(f"{len(read)} rows, expected {len(rows)}: {read!r}")
    for number, (got, expected) in enumerate(zip(read, rows), 1):
        if got != expected:
            fail(f"row {number}: {got!r} != {expected!r}")
    print(f"ok: {len(read)} rows")


main()
