#!/usr/bin/env python3
"""Writes the many-entry benchmark skin: the complete sample skin (every
catalogue entry, so the program starts up on it) with tiny deflated text
entries spread between its live entries, made with Python's zipfile.

  make_many_entries.py OUT.zip [--entries N] [--seed N]
"""
import argparse
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import make_skin  # noqa: E402

WORDS = ("slot", "chat", "font", "cursor", "panel", "button", "layout", "window", "item", "icon")


def tiny_text(rng):
    """40 to 160 bytes of XML-like text: a few dozen bytes once deflated."""
    words = " ".join(rng.choice(WORDS) for _ in range(rng.randrange(6, 28)))
    return ('<entry id="%d">%s</entry>\n' % (rng.randrange(10 ** 6), words)).encode("ascii")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--entries", type=int, default=64000)
    ap.add_argument("--seed", type=int, default=17)
    a = ap.parse_args()
    rng = random.Random(a.seed)
    skin = make_skin.skin_entries()
    # One run of tiny entries after each entry of the skin, the rest at the end.
    per_gap = a.entries // len(skin)
    counter = 0
    entries = []
    for position, entry in enumerate(skin):
        entries.append(entry)
        count = per_gap if position < len(skin) - 1 else a.entries - counter
        for _ in range(count):
            entries.append(("tiny/%02d/t%05d.xml" % (counter % 64, counter), tiny_text(rng)))
            counter += 1
    with open(a.out, "wb") as f:
        f.write(make_skin._zip_with_zipfile(entries, stored=False))

if __name__ == "__main__":
    main()
