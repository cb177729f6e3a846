#!/usr/bin/env python3
"""ZIP fixtures made by several independent writers from one description.

  zipfixtures.py gen OUTDIR [--seed N] [--small]
      Writes OUTDIR/content/ (the files every writer is given),
      OUTDIR/<writer>.zip for every writer whose tool is installed, and
      OUTDIR/manifest.txt, tab-separated lines:
          file <name>          a file entry; its bytes are content/<name>
          dir <name>           a directory entry (name ends in "/")
          archive <writer> <zip file name>
          skipped <writer> <reason>
      Does nothing when OUTDIR already holds a finished set, so parallel
      test processes can share one folder (it is created by a rename).

  zipfixtures.py check ARCHIVE EXPECTED_DIR
      Reads ARCHIVE with Python's zipfile: testzip() must pass and the file
      entries must be exactly the files under EXPECTED_DIR, byte for byte.

  zipfixtures.py reference SOURCE OUTDIR
      Python's own reading of an archive, as a reference for other readers:
      OUTDIR/entries.txt has one line per entry, "<status> <name hex> <n>"
      (tab-separated; status ok, crc or error; the name as stored, with
      backslashes as "/"), and OUTDIR/<n>.bin holds the bytes of each "ok".
      When SOURCE is a folder, every .zip under it gets OUTDIR/<its path>/;
      like gen, a finished OUTDIR is left alone.

Everything is derived from the seed; file times are fixed, so two runs give
the same content (archives differ only where a tool stamps its own data).
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import zipfile
import zlib

FIXED_MTIME = 1577880000  # 2020-01-01 12:00 UTC: keeps DOS times valid
WORDS = ("skin chat inventory slot button font cursor pointer window trade "
         "layout spell check normal large small default value item").split()


def xml_text(rng, size):
    """Compressible, XML-like text of exactly `size` bytes."""
    parts, total = [], 0
    while total < size:
        tag = rng.choice(WORDS)
        line = '  <%s id="%d" name="%s %s">%s</%s>\n' % (
            tag, rng.randrange(100000), rng.choice(WORDS), rng.choice(WORDS),
            " ".join(rng.choice(WORDS) for _ in range(rng.randrange(1, 9))), tag)
        parts.append(line)
        total += len(line)
    return "".join(parts).encode("ascii")[:size]


def describe(seed, small):
    """The files (name -> bytes) and directory entries of the fixture set."""
    rng = random.Random(seed)
    big = 20000 if small else 1300000
    files = {
        "empty.txt": b"",
        "four.bin": rng.randbytes(4),
        "five.bin": rng.randbytes(5),
        "readme.txt": b"Skin fixture for archive interoperability tests.\n" * 6,
        "skinconfig/ver": b"10",
        "chat.xml": xml_text(rng, 8000),
        "skinconfig/data/chat_big.xml": xml_text(rng, big),
        # Crosses the 64 KiB read buffer; a picture-like blob.
        "gui/pointer_normal.png": rng.randbytes(70000 if not small else 3000),
        "gui/noise.bin": rng.randbytes(big - 200000 if not small else 5000),
        "gui/sub/deep/name with space.txt": b"spaces in names\n",
    }
    for i in range(5 if small else 40):
        size = rng.choice((0, 1, 4, 5, 100, rng.randrange(6, 5000)))
        data = xml_text(rng, size) if i % 2 else rng.randbytes(size)
        files["many/f%02d.dat" % i] = data
    dirs = ["gui/empty/"]
    return files, dirs


def write_content(root, files, dirs):
    for name, data in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    for d in dirs:
        os.makedirs(os.path.join(root, d), exist_ok=True)
    for top, subdirs, names in os.walk(root):
        for n in subdirs + names:
            os.utime(os.path.join(top, n), (FIXED_MTIME, FIXED_MTIME))


def python_writer(method):
    def write(content, files, dirs, out):
        with zipfile.ZipFile(out, "w", compression=method) as zf:
            for name in sorted(files):
                info = zipfile.ZipInfo(name, date_time=(2020, 1, 1, 12, 0, 0))
                info.compress_type = method
                info.external_attr = 0o100644 << 16
                zf.writestr(info, files[name])
            for d in dirs:
                info = zipfile.ZipInfo(d, date_time=(2020, 1, 1, 12, 0, 0))
                info.external_attr = (0o040755 << 16) | 0x10
                zf.writestr(info, b"")
    return write


def infozip(content, files, dirs, out):
    # zip -r stores "./" prefixes when given "."; list top-level names instead.
    subprocess.run(["zip", "-q", "-r", out] + sorted(os.listdir(content)),
                   cwd=content, check=True)


def sevenzip(content, files, dirs, out):
    subprocess.run(["7z", "a", "-tzip", "-bd", out] + sorted(os.listdir(content)),
                   cwd=content, check=True, stdout=subprocess.DEVNULL)


def bsdtar(*options):
    def write(content, files, dirs, out):
        subprocess.run(["bsdtar", "--format", "zip", *options, "-cf", out]
                       + sorted(os.listdir(content)), cwd=content, check=True)
    return write


WRITERS = [
    ("py_stored", None, python_writer(zipfile.ZIP_STORED)),
    ("py_deflated", None, python_writer(zipfile.ZIP_DEFLATED)),
    ("infozip", "zip", infozip),
    ("7z", "7z", sevenzip),
    ("bsdtar", "bsdtar", bsdtar()),
    ("bsdtar_stored", "bsdtar", bsdtar("--options", "zip:compression=store")),
]


def generate(outdir, seed, small):
    if os.path.exists(os.path.join(outdir, "manifest.txt")):
        return
    tmp = "%s.tmp.%d" % (outdir.rstrip("/"), os.getpid())
    shutil.rmtree(tmp, ignore_errors=True)
    content = os.path.join(tmp, "content")
    os.makedirs(content)
    files, dirs = describe(seed, small)
    write_content(content, files, dirs)
    lines = ["file\t%s" % n for n in sorted(files)] + ["dir\t%s" % d for d in dirs]
    for name, tool, write in WRITERS:
        if tool and not shutil.which(tool):
            lines.append("skipped\t%s\t%s not installed" % (name, tool))
            continue
        write(content, files, dirs, os.path.abspath(os.path.join(tmp, name + ".zip")))
        lines.append("archive\t%s\t%s.zip" % (name, name))
    with open(os.path.join(tmp, "manifest.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")
    try:
        os.rename(tmp, outdir)
    except OSError:
        # Another process finished first; its set is identical.
        shutil.rmtree(tmp, ignore_errors=True)
        if not os.path.exists(os.path.join(outdir, "manifest.txt")):
            raise


def check(archive, expected_dir):
    expected = {}
    for top, _, names in os.walk(expected_dir):
        for n in names:
            path = os.path.join(top, n)
            expected[os.path.relpath(path, expected_dir).replace(os.sep, "/")] = path
    problems = []
    with zipfile.ZipFile(archive) as zf:
        bad = zf.testzip()
        if bad is not None:
            problems.append("testzip fails at %s" % bad)
        found = {i.filename: i for i in zf.infolist() if not i.is_dir()}
        for name in sorted(set(expected) - set(found)):
            problems.append("missing entry %s" % name)
        for name in sorted(set(found) - set(expected)):
            problems.append("unexpected entry %s" % name)
        for name in sorted(set(found) & set(expected)):
            with open(expected[name], "rb") as f:
                try:
                    if zf.read(name) != f.read():
                        problems.append("bytes differ in %s" % name)
                except (zipfile.BadZipFile, zlib.error) as e:
                    problems.append("cannot read %s: %s" % (name, e))
    for p in problems:
        print("zipfile: %s: %s" % (archive, p))
    return 1 if problems else 0


def raw_name(info):
    encoding = "utf-8" if info.flag_bits & 0x800 else "cp437"
    try:
        raw = info.orig_filename.encode(encoding)
    except UnicodeEncodeError:
        raw = info.orig_filename.encode("utf-8", "surrogateescape")
    return raw.replace(b"\\", b"/")


def reference_tree(source, outdir):
    if os.path.exists(os.path.join(outdir, "done")):
        return 0
    tmp = "%s.tmp.%d" % (outdir.rstrip("/"), os.getpid())
    shutil.rmtree(tmp, ignore_errors=True)
    for top, _, names in os.walk(source):
        for n in names:
            if n.endswith(".zip"):
                path = os.path.join(top, n)
                reference(path, os.path.join(tmp, os.path.relpath(path, source)))
    open(os.path.join(tmp, "done"), "w").close()
    try:
        os.rename(tmp, outdir)
    except OSError:
        shutil.rmtree(tmp, ignore_errors=True)
    return 0


def reference(archive, outdir):
    if os.path.isdir(archive):
        return reference_tree(archive, outdir)
    os.makedirs(outdir, exist_ok=True)
    lines = []
    try:
        zf = zipfile.ZipFile(archive)
    except Exception:  # any refusal: no reference entries
        zf = None
    for n, info in enumerate(zf.infolist() if zf else []):
        status = "ok"
        try:
            data = zf.read(info)
        except zipfile.BadZipFile as e:
            status = "crc" if "CRC" in str(e) else "error"
        except Exception:
            status = "error"
        if status == "ok":
            with open(os.path.join(outdir, "%d.bin" % n), "wb") as f:
                f.write(data)
        lines.append("%s\t%s\t%d" % (status, raw_name(info).hex(), n))
    with open(os.path.join(outdir, "entries.txt"), "w") as f:
        f.write("".join(line + "\n" for line in lines))
    return 0


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = ap.add_subparsers(dest="cmd", required=True)
    g = sub.add_parser("gen")
    g.add_argument("outdir")
    g.add_argument("--seed", type=int, default=20240611)
    g.add_argument("--small", action="store_true",
                   help="shrink the large files (fuzzing seeds)")
    c = sub.add_parser("check")
    c.add_argument("archive")
    c.add_argument("expected_dir")
    r = sub.add_parser("reference")
    r.add_argument("source")
    r.add_argument("outdir")
    a = ap.parse_args()
    if a.cmd == "gen":
        generate(os.path.abspath(a.outdir), a.seed, a.small)
        return 0
    if a.cmd == "reference":
        return reference(a.source, a.outdir)
    return check(a.archive, a.expected_dir)


if __name__ == "__main__":
    sys.exit(main())
