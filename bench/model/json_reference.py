#!/usr/bin/python3
"""Times Python's own json.load and json.dump(indent=4, sort_keys=True) on a file.

Prints two lines, "load <seconds>" and "dump <seconds>", the best of N runs.
"""
import json
import sys
import time


def best_of(runs, action):
    best = float("inf")
    for _ in range(runs):
        start = time.perf_counter()
        action()
        best = min(best, time.perf_counter() - start)
    return best


def main():
    path, out_path = sys.argv[1], sys.argv[2]
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    holder = {}

    def load():
        with open(path, "rb") as f:
            holder["doc"] = json.load(f)

    def dump():
        with open(out_path, "w", encoding="utf-8") as f:
            json.dump(holder["doc"], f, indent=4, sort_keys=True)

    print("load %.6f" % best_of(runs, load))
    print("dump %.6f" % best_of(runs, dump))


if __name__ == "__main__":
    main()
