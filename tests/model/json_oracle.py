"""Reads texts with Python's json module, the strict reference for JSON.

Input: a file with one Base64-encoded text per line. Output: one line per
text, "ok " and the document written back as JSON (ASCII, keys as read), or
"bad" when the text is not a JSON object or array, or holds a number
beyond the range of a double (or with an exponent of more than 18 digits).
"""
import base64
import json
import math
import sys


def finite_float(literal):
    # A number beyond the range of a double is no number a reader can use, and
    # an exponent of more digits than a 64-bit integer holds no reader takes.
    exponent = literal.lower().partition("e")[2].lstrip("+-")
    if len(exponent) > 18:
        raise ValueError("exponent out of range")
    value = float(literal)
    if math.isinf(value):
        raise ValueError("number out of range")
    return value


def verdict(text):
    try:
        value = json.loads(text, parse_float=finite_float)
    except (ValueError, RecursionError):
        return "bad"
    if not isinstance(value, (dict, list)):
        return "bad"
    return "ok " + json.dumps(value, ensure_ascii=True)


def main():
    with open(sys.argv[1], "rb") as f:
        for line in f:
            print(verdict(base64.b64decode(line.strip())))


if __name__ == "__main__":
    main()
