#!/usr/bin/env python3
"""Writes a complete, plausible skin archive for vrdskincfg.

The archive holds every live entry and every alternative entry of the
program's catalogue, the version entry "skinconfig/ver" and a few unrelated
live files. Contents are generated from fixed seeds and every entry carries
the same fixed date, so the same options always give the same bytes.

The archive is written by Python's zipfile (or by Info-ZIP zip with
--tool zip), never by the program's own engine, so tests that read it check
the engine against an independent writer.

Importable: CATALOGUE, DISPLAY_ORDER, entry_bytes(), live_plan(),
skin_entries() and build_skin() let tests work out which bytes an entry
should hold without parsing the archive.
"""

import argparse
import io
import os
import random
import struct
import subprocess
import sys
import tempfile
import time
import zipfile
import zlib
from collections import namedtuple

SEED = 20240610
DATE_TIME = (2012, 6, 10, 14, 30, 0)
VERSION_ENTRY = "skinconfig/ver"
# The program's build number, as its version entry holds it: defined once,
# in BUILD_NUMBER at the top of the source tree.
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "BUILD_NUMBER"),
          "rb") as _f:
    BUILD = _f.read().strip()

Value = namedtuple("Value", "id label entries variant slotsize")
Item = namedtuple("Item", "id name live default values")


def _v(vid, label, *entries, variant=-1, slotsize=-1):
    return Value(vid, label, tuple("skinconfig/data/" + e for e in entries), variant, slotsize)


# The skin as the program knows it, in table order. Positions are indexes
# into `values`; `default` is a position.
CATALOGUE = (
    Item(1, "Chat", ("chat.xml",), 0, (
        _v(5, "Vertical buttons", "chat.xml.vertical.fontsize9"),
        _v(6, "Horizontal buttons", "chat.xml.horizontal.fontsize9"))),
    Item(2, "Inventory slots", ("money.xml",), 0, (
        _v(1, "Small", "money.xml.size42slot", slotsize=42),
        _v(2, "Normal", "money.xml.size48slot", slotsize=48))),
    Item(3, "Trade/give window", ("exchange.xml", "gui/accepted_back.png"), 0, (
        _v(1, "42", "exchange.xml.size42slot", "accepted_back.size42slot.png", slotsize=42),
        _v(2, "48", "exchange.xml.size48slot", "accepted_back.size48slot.png", slotsize=48))),
    Item(4, "Inventory layout", ("inventory.xml", "backdrop/inventory.jpg"), 0, (
        _v(1, "4-slot row", "inventory.xml.size42slot.4slotrow", "inventory.4slotrow.jpg",
           variant=1, slotsize=42),
        _v(2, "8-slot row", "inventory.xml.size42slot.8slotrow", "inventory.8slotrow.jpg",
           variant=2, slotsize=42),
        _v(4, "4-slot row", "inventory.xml.size48slot.4slotrow", "inventory.4slotrow.jpg",
           variant=1, slotsize=48),
        _v(5, "8-slot row", "inventory.xml.size48slot.8slotrow", "inventory.8slotrow.jpg",
           variant=2, slotsize=48))),
    Item(5, "Small Inventory layout",
         ("smallinventory.xml", "backdrop/smallinventoryv.jpg", "backdrop/smallinventoryh.jpg"), 0, (
             _v(1, "4-slot row", "smallinventory.xml.size42slot.4slotrow",
                "smallinventoryv.size42slot.jpg", "smallinventoryh.size42slot.jpg",
                variant=1, slotsize=42),
             _v(2, "8-slot row", "smallinventory.xml.size42slot.8slotrow",
                "smallinventoryv.size42slot.jpg", "smallinventoryh.size42slot.jpg",
                variant=2, slotsize=42),
             _v(3, "4-slot row", "smallinventory.xml.size48slot.4slotrow",
                "smallinventoryv.size48slot.jpg", "smallinventoryh.size48slot.jpg",
                variant=1, slotsize=48),
             _v(4, "8-slot row", "smallinventory.xml.size48slot.8slotrow",
                "smallinventoryv.size48slot.jpg", "smallinventoryh.size48slot.jpg",
                variant=2, slotsize=48))),
    Item(6, "Container slots", ("containerdesc.xml",), 0, (
        _v(1, "Small, 6-slot row", "containerdesc.xml.size42slot.6slotrow"),
        _v(2, "Small, 4-slot row", "containerdesc.xml.size42slot.4slotrow"),
        _v(3, "Normal, 6-slot row", "containerdesc.xml.size48slot.6slotrow"),
        _v(4, "Normal, 4-slot row", "containerdesc.xml.size48slot.4slotrow"))),
    Item(7, "Spell research glyph slots", ("glyph.xml",), 0, (
        _v(1, "Small", "glyph.xml.size42slot"),
        _v(2, "Normal", "glyph.xml.size48slot"))),
    Item(9, "Interaction popup buttons", ("interact.xml",), 1, (
        _v(1, "Small", "interact.xml.size48"),
        _v(2, "Normal", "interact.xml.size64"))),
    Item(10, "Spell book glyphs", ("spellwindow.xml",), 0, (
        _v(1, "Small", "spellwindow.xml.size16glyphs"),
        _v(2, "Normal", "spellwindow.xml.size24glyphs"))),
    Item(11, "Character desc. spell checking", ("chardescwindow.xml",), 0, (
        _v(1, "On", "chardescwindow.xml.spellchecker.on"),
        _v(2, "Off", "chardescwindow.xml.spellchecker.off"))),
    Item(12, "Guild MOTD spell checking", ("guildwindow.xml",), 0, (
        _v(1, "On", "guildwindow.xml.spellchecker.on"),
        _v(2, "Off", "guildwindow.xml.spellchecker.off"))),
    Item(13, "Petition spell checking", ("petition.xml",), 0, (
        _v(1, "On", "petition.xml.spellchecker.on"),
        _v(2, "Off", "petition.xml.spellchecker.off"))),
    Item(14, "Quest notes spell checking", ("questnotebook.xml",), 1, (
        _v(1, "On", "questnotebook.xml.spellchecker.on"),
        _v(2, "Off", "questnotebook.xml.spellchecker.off"))),
    Item(15, "Study notes", ("craft.xml",), 4, (
        _v(1, "Book font, normal", "craft.xml.becker.fontsize12"),
        _v(2, "Book font, small", "craft.xml.becker.fontsize11"),
        _v(3, "Book font, smaller", "craft.xml.becker.fontsize10"),
        _v(4, "Standard font, normal", "craft.xml.liberationsans.fontsize9"),
        _v(5, "Standard font, bigger", "craft.xml.liberationsans.fontsize10"))),
    Item(16, "Books", ("readbook.xml", "bookwriting.xml"), 3, (
        _v(2, "Simple, always use Study notes", "readbook.xml.study.auto", "bookwriting.xml"),
        _v(1, "Simple", "readbook.xml.study.button", "bookwriting.xml"),
        _v(4, "Elves, always use Study notes", "readbook.xml.elves.study.auto",
           "bookwriting.xml.elves"),
        _v(3, "Elves", "readbook.xml.elves.study.button", "bookwriting.xml.elves"))),
    Item(17, "Shortcut Menu", ("shortcutwindow.xml",), 0, (
        _v(1, "Standard with bars", "shortcutwindow.xml.standard.bars"),
        _v(10, "For narrow windows, no bars", "shortcutwindow.xml.vertical"),
        _v(11, "For wide windows, no bars", "shortcutwindow.xml.horizontal"))),
    Item(18, "Mouse cursor", ("gui/pointer_normal.png",), 0, (
        _v(4, "Standard hammer, orange", "pointer_normal.png.hammer.orange"),
        _v(2, "Hammer, red brown", "pointer_normal.png.hammer.bloody"),
        _v(3, "Hammer, dark red brown", "pointer_normal.png.hammer.bloody.dark"),
        _v(1, "Yellow arrow", "pointer_normal.png.base"))),
    Item(19, "Information window", ("infowindow.xml",), 1, (
        _v(1, "Small", "infowindow.xml.size23slot"),
        _v(2, "Normal", "infowindow.xml.size30slot"))),
    Item(20, "Item description", ("itemdesc.xml",), 1, (
        _v(1, "Standard font", "itemdesc.xml.fontsize9"),
        _v(2, "Small font", "itemdesc.xml.fontsize6"))),
    Item(21, "Loot window", ("loot.xml",), 1, (
        _v(1, "Standard font", "loot.xml.fontsize9"),
        _v(2, "Small font", "loot.xml.fontsize6"))),
)

# Order of the setup dialogue and the listing; "Trade/give window" is never shown.
DISPLAY_ORDER = (
    "Chat", "Character desc. spell checking", "Quest notes spell checking",
    "Guild MOTD spell checking", "Petition spell checking", "Study notes", "Books",
    "Interaction popup buttons", "Inventory slots", "Inventory layout",
    "Small Inventory layout", "Container slots", "Spell book glyphs",
    "Spell research glyph slots", "Shortcut Menu", "Mouse cursor", "Information window",
    "Item description", "Loot window",
)

# Live files the catalogue does not manage; a real skin has many of these.
UNRELATED = ("skin.xml", "gui/icons.png", "fonts/readme.txt")


def item_by_id(item_id):
    for item in CATALOGUE:
        if item.id == item_id:
            return item
    raise KeyError("no item with id %d" % item_id)


def item_by_name(name):
    for item in CATALOGUE:
        if item.name == name:
            return item
    raise KeyError("no item named %r" % name)


def catalogue_text():
    """The catalogue as lines: each item as "id name (default position): live
    entries", then its alternatives, indented, as "id label: entries", with
    " | variant slotsize" where either is set."""
    lines = []
    for item in CATALOGUE:
        lines.append("%d %s (%d): %s" % (item.id, item.name, item.default, " ".join(item.live)))
        for v in item.values:
            extra = "" if v.variant == -1 and v.slotsize == -1 else " | %d %d" % (
                v.variant, v.slotsize)
            lines.append("  %d %s: %s%s" % (v.id, v.label, " ".join(v.entries), extra))
    return "".join(line + "\n" for line in lines)


def alternative_entries():
    """Every alternative entry once, in table order (shared entries once)."""
    seen = []
    for item in CATALOGUE:
        for value in item.values:
            for entry in value.entries:
                if entry not in seen:
                    seen.append(entry)
    return seen


def live_entries():
    return [entry for item in CATALOGUE for entry in item.live]


# ---- contents ---------------------------------------------------------------

def _rng(name):
    # str seeds are hashed with SHA-512, so this is stable across runs.
    return random.Random("%d:%s" % (SEED, name))


def _kind(name):
    base = name.rsplit("/", 1)[-1]
    if ".png" in base:
        return "png"
    if ".jpg" in base:
        return "jpg"
    if base.endswith(".txt"):
        return "txt"
    return "xml"


def _png(rng, tag):
    width, height = rng.randint(8, 40), rng.randint(8, 40)
    r, g, b = rng.randrange(256), rng.randrange(256), rng.randrange(256)
    rows = []
    for y in range(height):
        row = bytearray([0])  # filter type none
        for x in range(width):
            shade = (x * 7 + y * 13) & 0x3F
            alpha = 255 if (x + y) % 5 else 128
            row += bytes(((r + shade) & 255, (g + shade) & 255, (b + shade) & 255, alpha))
        rows.append(bytes(row))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    text = b"Comment\0" + tag.encode("ascii")
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"tEXt", text)
            + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))


def _jpg(rng, tag):
    # A placeholder with real JPEG markers: SOI, APP0 (JFIF), COM, EOI.
    app0 = b"JFIF\0\x01\x01\x00\x00\x01\x00\x01\x00\x00"
    comment = tag.encode("ascii") + b"\n" + bytes(rng.randrange(256) for _ in range(rng.randint(64, 400)))
    return (b"\xff\xd8" + b"\xff\xe0" + struct.pack(">H", len(app0) + 2) + app0
            + b"\xff\xfe" + struct.pack(">H", len(comment) + 2) + comment + b"\xff\xd9")


def _xml(rng, tag):
    base = tag.rsplit("/", 1)[-1]
    window = base.split(".", 1)[0]
    lines = ['<?xml version="1.0" encoding="UTF-8"?>',
             "<!-- %s -->" % tag,
             '<window name="%s" x="%d" y="%d">' % (window, rng.randint(0, 800), rng.randint(0, 600))]
    for i in range(rng.randint(4, 30)):
        lines.append('  <widget id="%s_%d" x="%d" y="%d" width="%d" height="%d" font="%d"/>'
                     % (window, i, rng.randint(0, 400), rng.randint(0, 300),
                        rng.randint(16, 64), rng.randint(16, 64), rng.randint(6, 12)))
    lines.append("</window>")
    return ("\n".join(lines) + "\n").encode("ascii")


def _txt(rng, tag):
    words = ["skin", "font", "glyph", "slot", "window", "license", "free", "use"]
    body = " ".join(rng.choice(words) for _ in range(rng.randint(20, 60)))
    return ("%s\n\n%s\n" % (tag, body)).encode("ascii")


def entry_bytes(name):
    """The bytes of an alternative or unrelated entry (not of a live entry)."""
    rng = _rng(name)
    return {"png": _png, "jpg": _jpg, "xml": _xml, "txt": _txt}[_kind(name)](rng, name)


def mismatch_bytes(live_name, data):
    """Live content that equals no alternative."""
    if _kind(live_name) == "xml":
        return data + b"<!-- edited by hand -->\n"
    return data + b"\0edited"


def filler_bytes(index, size):
    return _rng("filler%d" % index).randbytes(size)


# ---- the archive plan ---------------------------------------------------------

def live_plan(live=None):
    """[(item, live entry, alternative entry)] for every live entry in table order.

    `live` maps item id to the position that is live; other items hold their
    default alternative.
    """
    live = live or {}
    plan = []
    for item in CATALOGUE:
        pos = live.get(item.id, item.default)
        if not 0 <= pos < len(item.values):
            raise ValueError("item %d has no position %d" % (item.id, pos))
        for j, entry in enumerate(item.live):
            plan.append((item, entry, item.values[pos].entries[j]))
    return plan


def skin_entries(live=None, mismatch=(), version=BUILD, filler=0, filler_size=4096):
    """Ordered [(name, bytes)] of the whole skin, before renaming or damage.

    version None leaves the version entry out.
    """
    plan = live_plan(live)
    for name in mismatch:
        if name not in [p[1] for p in plan]:
            raise ValueError("--mismatch names no live entry: %s" % name)
    entries = [("skin.xml", entry_bytes("skin.xml"))]
    # Fillers go between the live entries so that applying a setup has to move
    # data around them.
    per_gap = [filler // len(plan) + (1 if i < filler % len(plan) else 0) for i in range(len(plan))]
    counter = 0
    for (item, live_name, alt), count in zip(plan, per_gap):
        data = entry_bytes(alt)
        if live_name in mismatch:
            data = mismatch_bytes(live_name, data)
        entries.append((live_name, data))
        for _ in range(count):
            entries.append(("filler/fill%05d.bin" % counter, filler_bytes(counter, filler_size)))
            counter += 1
    entries += [(name, entry_bytes(name)) for name in UNRELATED[1:]]
    if version is not None:
        entries.append((VERSION_ENTRY, version))
    entries += [(name, entry_bytes(name)) for name in alternative_entries()]
    return entries


def _zip_with_zipfile(entries, stored, raw=()):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as zf:
        for name, data in entries:
            info = zipfile.ZipInfo(name, DATE_TIME)
            info.compress_type = zipfile.ZIP_STORED if stored or name in raw else zipfile.ZIP_DEFLATED
            info.create_system = 3
            info.external_attr = 0o100644 << 16
            zf.writestr(info, data, compresslevel=6 if not stored else None)
    return out.getvalue()


def _zip_with_infozip(entries, stored):
    stamp = time.mktime(DATE_TIME + (0, 0, -1))
    with tempfile.TemporaryDirectory(prefix="make_skin.") as tmp:
        for name, data in entries:
            path = os.path.join(tmp, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
            os.chmod(path, 0o644)
            os.utime(path, (stamp, stamp))
        target = os.path.join(tmp, "out.zip")
        cmd = ["zip", "-q", "-X", "-D", "-0" if stored else "-6", target, "-@"]
        names = "".join(name + "\n" for name, _ in entries).encode()
        subprocess.run(cmd, input=names, cwd=tmp, check=True)
        with open(target, "rb") as f:
            return f.read()


# ---- damage and oddities, applied to the finished bytes -----------------------

def _central_records(data):
    """{name: (central record offset, local header offset)} read with struct."""
    eocd = data.rfind(b"PK\x05\x06")
    if eocd < 0:
        raise ValueError("no end record")
    count, size, offset = struct.unpack_from("<HII", data, eocd + 10)
    records = {}
    pos = offset
    for _ in range(count):
        if data[pos:pos + 4] != b"PK\x01\x02":
            raise ValueError("bad central record at %d" % pos)
        nlen, xlen, clen = struct.unpack_from("<HHH", data, pos + 28)
        local = struct.unpack_from("<I", data, pos + 42)[0]
        name = data[pos + 46:pos + 46 + nlen].decode("cp437")
        records[name] = (pos, local)
        pos += 46 + nlen + xlen + clen
    return records


def _record(records, name):
    if name not in records:
        raise ValueError("no entry named %s" % name)
    return records[name]


def corrupt_crc(data, name):
    """Change the CRC in both headers, so only the data check catches it."""
    data = bytearray(data)
    central, local = _record(_central_records(data), name)
    for field in (central + 16, local + 14):
        struct.pack_into("<I", data, field, struct.unpack_from("<I", data, field)[0] ^ 0x00010000)
    return bytes(data)


def corrupt_data(data, name):
    """Flip one byte in the middle of the entry's stored (compressed) data."""
    data = bytearray(data)
    central, local = _record(_central_records(data), name)
    csize = struct.unpack_from("<I", data, central + 20)[0]
    if csize == 0:
        raise ValueError("entry %s has no data to corrupt" % name)
    nlen, xlen = struct.unpack_from("<HH", data, local + 26)
    data[local + 30 + nlen + xlen + csize // 2] ^= 0x55
    return bytes(data)


def set_method(data, name, method):
    data = bytearray(data)
    central, local = _record(_central_records(data), name)
    struct.pack_into("<H", data, central + 10, method)
    struct.pack_into("<H", data, local + 8, method)
    return bytes(data)


def stub_bytes(size):
    """Something that looks like a self-extractor stub in front of the archive."""
    head = b"MZ\x90\x00" + b"vrd skin self-extractor stub\0"
    body = _rng("stub").randbytes(max(0, size - len(head)))
    return (head + body)[:size]


# ---- putting it together -------------------------------------------------------

def build_skin(live=None, missing=(), mismatch=(), version=BUILD, filler=0, filler_size=4096,
               stored=False, tool="zipfile", backslash=(), upper=None, corrupt_crc_in=(),
               corrupt_data_in=(), methods=None, stub=0, texts=None, same=None):
    """The archive bytes for the given options (see --help)."""
    upper = upper or {}
    texts = {name: os.fsencode(text) for name, text in (texts or {}).items()}
    entries = skin_entries(live, mismatch, version, filler, filler_size) + list(texts.items())
    names = [n for n, _ in entries]
    copies = {}
    for name, source in (same or {}).items():
        if name not in names or source not in names:
            raise ValueError("the skin has no entry %s or %s" % (name, source))
        copies[name] = entries[names.index(source)][1]
    entries = [(n, copies.get(n, d)) for n, d in entries]
    for name in list(missing) + list(backslash) + list(upper):
        if name not in names:
            raise ValueError("the skin has no entry %s" % name)

    def stored_name(n):
        if n in upper:
            return upper[n]
        return n.replace("/", "\\") if n in backslash else n

    renamed = [(stored_name(n), d) for n, d in entries if n not in missing]
    if tool == "zip":
        if texts:
            raise ValueError("--text needs the zipfile writer")
        data = _zip_with_infozip(renamed, stored)
    else:
        data = _zip_with_zipfile(renamed, stored, raw=texts)

    for name in corrupt_crc_in:
        data = corrupt_crc(data, stored_name(name))
    for name in corrupt_data_in:
        data = corrupt_data(data, stored_name(name))
    for name, method in (methods or {}).items():
        data = set_method(data, stored_name(name), method)
    # Offsets stay as written: readers must find the archive behind the stub.
    return stub_bytes(stub) + data


def _pairs(values, option):
    """["KEY=VALUE", ...] -> {KEY: VALUE}."""
    result = {}
    for text in values or ():
        key, sep, value = text.partition("=")
        if not sep or not key:
            raise ValueError("%s wants KEY=VALUE, got %r" % (option, text))
        result[key] = value
    return result


def parse_args(argv):
    p = argparse.ArgumentParser(
        prog="make_skin.py",
        description="Write a complete vrdskincfg skin archive (deterministic).")
    p.add_argument("out", nargs="?", help="archive to write (not needed with --list)")
    v = p.add_mutually_exclusive_group()
    v.add_argument("--version", metavar="TEXT", help='content of skinconfig/ver (default "%s")' % BUILD.decode())
    v.add_argument("--version-hex", metavar="HEX", help="content of skinconfig/ver as hex bytes")
    v.add_argument("--no-version", action="store_true", help="leave skinconfig/ver out")
    p.add_argument("--live", action="append", metavar="ITEMID=POS",
                   help="make alternative POS (0-based) of item ITEMID live (repeatable)")
    p.add_argument("--missing", action="append", default=[], metavar="ENTRY",
                   help="leave ENTRY out (repeatable)")
    p.add_argument("--mismatch", action="append", default=[], metavar="ENTRY",
                   help="live ENTRY holds bytes equal to no alternative (repeatable)")
    p.add_argument("--corrupt-crc", action="append", default=[], metavar="ENTRY",
                   help="damage the CRC of ENTRY in both headers (repeatable)")
    p.add_argument("--corrupt-data", action="append", default=[], metavar="ENTRY",
                   help="flip one byte of ENTRY's stored data (repeatable)")
    p.add_argument("--method", action="append", metavar="ENTRY=NUM",
                   help="write compression method NUM into both headers of ENTRY (99: unsupported)")
    p.add_argument("--stored", action="store_true", help="store every entry uncompressed")
    p.add_argument("--text", action="append", metavar="ENTRY=TEXT",
                   help="add an entry holding TEXT, stored uncompressed, last (repeatable)")
    p.add_argument("--same", action="append", metavar="ENTRY=OTHER",
                   help="give ENTRY the bytes OTHER has before any --same (repeatable)")
    p.add_argument("--filler", type=int, default=0, metavar="N",
                   help="N unrelated entries placed between the live entries")
    p.add_argument("--filler-size", type=int, default=4096, metavar="BYTES",
                   help="size of each filler entry (random, incompressible; default 4096)")
    p.add_argument("--stub", type=int, default=0, metavar="BYTES",
                   help="prepend a BYTES long stub; the archive's offsets are left unchanged")
    p.add_argument("--tool", choices=("zipfile", "zip"), default="zipfile",
                   help="writer: Python zipfile (default) or Info-ZIP zip")
    p.add_argument("--backslash", action="append", default=[], metavar="ENTRY",
                   help="store ENTRY's name with backslashes for slashes")
    p.add_argument("--upper", action="append", metavar="ENTRY=NAME",
                   help="store ENTRY under NAME (another letter case, e.g. chat.xml=Chat.xml)")
    p.add_argument("--list", action="store_true",
                   help="print each live entry and the alternative entry it holds, then exit")
    p.add_argument("--catalogue", action="store_true",
                   help="print the catalogue (items, alternatives, entries), then exit")
    args = p.parse_args(argv)
    try:
        args.live = {int(k): int(v) for k, v in _pairs(args.live, "--live").items()}
        args.method = {k: int(v) for k, v in _pairs(args.method, "--method").items()}
        args.upper = _pairs(args.upper, "--upper")
        args.text = _pairs(args.text, "--text")
        args.same = _pairs(args.same, "--same")
    except ValueError as e:
        p.error(str(e))
    if args.no_version:
        args.version = None
    elif args.version_hex is not None:
        args.version = bytes.fromhex(args.version_hex)
    elif args.version is not None:
        args.version = os.fsencode(args.version)
    else:
        args.version = BUILD
    if not args.list and not args.catalogue and not args.out:
        p.error("the output archive is required")
    return args


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    if args.catalogue:
        sys.stdout.write(catalogue_text())
        return 0
    if args.list:
        for item, live_name, alt in live_plan(args.live):
            shown = "(matches no alternative)" if live_name in args.mismatch else alt
            print("%s\t%s" % (live_name, shown))
        return 0
    data = build_skin(live=args.live, missing=args.missing, mismatch=args.mismatch,
                      version=args.version, filler=args.filler, filler_size=args.filler_size,
                      stored=args.stored, tool=args.tool, backslash=args.backslash,
                      upper=args.upper, corrupt_crc_in=args.corrupt_crc,
                      corrupt_data_in=args.corrupt_data, methods=args.method, stub=args.stub,
                      texts=args.text, same=args.same)
    with open(args.out, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
