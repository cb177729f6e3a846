#!/usr/bin/env python3
"""Writes the benchmark archive: a skin-like mix of XML-like text and
picture-like data, some 60 MB in about 3000 deflated entries, with Python's
zipfile (a writer that is neither ours nor one we compare against).

  make_bench_archive.py OUT.zip [--seed N] [--scale F]
"""
import argparse
import random
import zipfile

TAGS = ("window", "button", "font", "slot", "item", "layout", "cursor", "chat", "panel")


def xml_lines(rng, count):
    return ['  <%s id="%d" x="%d" y="%d" w="%d" h="%d" name="%s_%d"/>\n' % (
        rng.choice(TAGS), rng.randrange(10 ** 6), rng.randrange(2048), rng.randrange(2048),
        rng.randrange(512), rng.randrange(512), rng.choice(TAGS), rng.randrange(1000))
        for _ in range(count)]


def xml_text(rng, pool, size):
    out, total = ["<?xml version=\"1.0\"?>\n<skin>\n"], 0
    while total < size:
        line = rng.choice(pool)
        out.append(line)
        total += len(line)
    out.append("</skin>\n")
    return "".join(out).encode("ascii")


def picture(rng, size):
    if rng.random() < 0.7:
        return rng.randbytes(size)  # already-compressed image data
    # An uncompressed bitmap: smooth rows with a little noise.
    row = bytes((x * 7 + rng.randrange(4)) & 0xFF for x in range(256))
    noise = rng.randbytes(size // 8)
    data = bytearray((row * (size // 256 + 1))[:size])
    for i in range(0, len(noise)):
        data[i * 8] ^= noise[i] & 0x0F
    return bytes(data)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--seed", type=int, default=7)
    ap.add_argument("--scale", type=float, default=1.0)
    a = ap.parse_args()
    rng = random.Random(a.seed)
    pool = xml_lines(rng, 20000)
    with zipfile.ZipFile(a.out, "w", zipfile.ZIP_DEFLATED) as zf:
        for i in range(int(3000 * a.scale)):
            folder = ("gui", "fonts", "skinconfig/data", "layouts", "icons")[i % 5]
            if i % 3 == 2:
                name, data = "%s/img%04d.png" % (folder, i), picture(rng, rng.randrange(8000, 60000))
            else:
                name, data = "%s/part%04d.xml" % (folder, i), xml_text(rng, pool, rng.randrange(2000, 120000))
            info = zipfile.ZipInfo(name, date_time=(2020, 1, 1, 12, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o100644 << 16
            zf.writestr(info, data)


if __name__ == "__main__":
    main()
