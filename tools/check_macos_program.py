#!/usr/bin/env python3
"""Checks a universal macOS program without a Mac.

    check_macos_program.py PROGRAM [--no-path TEXT]...

PROGRAM must be a universal (fat) Mach-O file holding exactly an arm64 and an
x86_64 slice, each of which
- says it is built for macOS with the minimum version of the macos-cross
  preset (LC_BUILD_VERSION),
- links no library but /usr/lib/libSystem.B.dylib,
- imports from it only symbols (those dyld binds, read from the bind and
  lazy-bind opcodes, and the symbol table's undefined ones) that
  libSystem.<major>.tbd of the fetched Zig (the stub of that macOS version)
  exports for the slice's architecture,
- carries a code signature whose CodeDirectory hashes match the slice's pages
  (required for arm64, which macOS runs only signed; checked for x86_64 where
  present).
Neither the repository's folder, the home folder, Zig's cache nor any TEXT
given with --no-path may occur anywhere in the file. Prints one line per
slice; exits 1 with the reason on the first failure.
"""

import argparse
import hashlib
import json
import os
import re
import struct
import sys

LIBSYSTEM = "/usr/lib/libSystem.B.dylib"
CPU_NAMES = {0x0100000C: "arm64", 0x01000007: "x86_64"}
LC_SYMTAB = 0x2
LC_DYSYMTAB = 0xB
LC_REQ_DYLD = 0x80000000
DYLIB_COMMANDS = {0xC, 0x18 | LC_REQ_DYLD, 0x1F | LC_REQ_DYLD, 0x20 | LC_REQ_DYLD, 0x23}
LC_CODE_SIGNATURE = 0x1D
LC_DYLD_INFO_ONLY = 0x22 | LC_REQ_DYLD
LC_DYLD_CHAINED_FIXUPS = 0x34 | LC_REQ_DYLD
LC_BUILD_VERSION = 0x32
PLATFORM_MACOS = 1
CSMAGIC_EMBEDDED_SIGNATURE = 0xFADE0CC0
CSMAGIC_CODEDIRECTORY = 0xFADE0C02
CS_HASHTYPE_SHA256 = 2
CS_ADHOC = 0x2


class Failure(Exception):
    pass


def exported_symbols(tbd_path, arch):
    """The symbols a TAPI v4 stub exports (or re-exports) for ARCH-macos."""
    with open(tbd_path, encoding="utf-8") as f:
        text = f.read()
    target = f"{arch}-macos"
    symbols = set()
    for document in text.split("--- !tapi-tbd")[1:]:
        section, targets = None, []
        # Top-level keys open a section; inside exports/reexports, each
        # "- targets: [...]" names the targets of the symbol lists after it.
        for match in re.finditer(r"(?m)^( *)(?:- )?([a-z-]+): *(\[[^\]]*\])?", document):
            indent, key, flow = match.group(1), match.group(2), match.group(3)
            if not indent and not match.group(0).lstrip().startswith("-"):
                section = key
            if section not in ("exports", "reexports") or flow is None:
                continue
            items = [item.strip().strip("'\"") for item in flow[1:-1].split(",")]
            items = [item for item in items if item]
            if key == "targets":
                targets = items
            elif key in ("symbols", "weak-symbols", "thread-local-symbols") and target in targets:
                symbols.update(items)
    return symbols


def parse_slice(data, arch):
    """Load commands of one 64-bit little-endian Mach-O slice."""
    magic, cputype, _, filetype, ncmds, _, _, _ = struct.unpack_from("<IiiIIIII", data, 0)
    if magic != 0xFEEDFACF:
        raise Failure(f"{arch}: not a 64-bit Mach-O file")
    if filetype != 2:
        raise Failure(f"{arch}: not an executable (file type {filetype})")
    commands, at = [], 32
    for _ in range(ncmds):
        cmd, size = struct.unpack_from("<II", data, at)
        commands.append((cmd, at, size))
        at += size
    return commands


def check_build_version(data, commands, arch, minimum):
    versions = [struct.unpack_from("<IIII", data, at + 8) for cmd, at, _ in commands
                if cmd == LC_BUILD_VERSION]
    if len(versions) != 1:
        raise Failure(f"{arch}: {len(versions)} LC_BUILD_VERSION commands, not 1")
    platform, minos, _, _ = versions[0]
    text = f"{minos >> 16}.{(minos >> 8) & 0xFF}"
    if platform != PLATFORM_MACOS or text != minimum:
        raise Failure(f"{arch}: built for platform {platform}, minimum {text}, "
                      f"not macOS (1), minimum {minimum}")
    return text


def check_dylibs(data, commands, arch):
    names = []
    for cmd, at, _ in commands:
        if cmd in DYLIB_COMMANDS:
            offset = struct.unpack_from("<I", data, at + 8)[0]
            names.append(data[at + offset:data.index(b"\0", at + offset)].decode())
    if names != [LIBSYSTEM]:
        raise Failure(f"{arch}: links {names}, not only {LIBSYSTEM}")


def uleb(data, at):
    value, shift = 0, 0
    while True:
        byte = data[at]
        at += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if byte < 0x80:
            return value, at


def bound_symbols(data, start, size, arch):
    """(library ordinal, name) of each bind in a dyld bind opcode stream."""
    binds, at, end, ordinal, name = [], start, start + size, 0, None
    while at < end:
        opcode, imm = data[at] & 0xF0, data[at] & 0x0F
        at += 1
        if opcode == 0x10:  # SET_DYLIB_ORDINAL_IMM
            ordinal = imm
        elif opcode == 0x20:  # SET_DYLIB_ORDINAL_ULEB
            ordinal, at = uleb(data, at)
        elif opcode == 0x30:  # SET_DYLIB_SPECIAL_IMM (self, main program, flat lookup)
            ordinal = -imm if imm else 0
        elif opcode == 0x40:  # SET_SYMBOL_TRAILING_FLAGS_IMM
            stop = data.index(b"\0", at)
            name, at = data[at:stop].decode(), stop + 1
        elif opcode in (0x60, 0x70, 0x80, 0xA0):  # addend, segment, address: one number
            at = uleb(data, at)[1]
        elif opcode == 0xC0:  # DO_BIND_ULEB_TIMES_SKIPPING_ULEB
            at = uleb(data, uleb(data, at)[1])[1]
        elif opcode not in (0x00, 0x50, 0x90, 0xB0):  # DONE, SET_TYPE, DO_BIND(_IMM_SCALED)
            raise Failure(f"{arch}: bind opcode {opcode:#x} not understood")
        if opcode in (0x90, 0xA0, 0xB0, 0xC0):
            binds.append((ordinal, name))
    return binds


def imported_symbols(data, commands, arch):
    """The symbols dyld binds from libraries (the bind and lazy-bind streams)
    and the undefined symbols of the symbol table: all must come from the
    first (only) library."""
    if any(cmd == LC_DYLD_CHAINED_FIXUPS for cmd, _, _ in commands):
        raise Failure(f"{arch}: chained fixups, which this check does not read")
    info = [at for cmd, at, _ in commands if cmd == LC_DYLD_INFO_ONLY]
    symtab = [at for cmd, at, _ in commands if cmd == LC_SYMTAB]
    dysymtab = [at for cmd, at, _ in commands if cmd == LC_DYSYMTAB]
    if len(info) != 1 or len(symtab) != 1 or len(dysymtab) != 1:
        raise Failure(f"{arch}: no dyld information or symbol table")
    _, _, bind_off, bind_size, _, _, lazy_off, lazy_size = struct.unpack_from("<8I", data, info[0] + 8)
    binds = bound_symbols(data, bind_off, bind_size, arch)
    binds += bound_symbols(data, lazy_off, lazy_size, arch)
    symoff, _, stroff, _ = struct.unpack_from("<IIII", data, symtab[0] + 8)
    iundef, nundef = struct.unpack_from("<II", data, dysymtab[0] + 8 + 16)
    for i in range(iundef, iundef + nundef):
        strx, ntype, _, desc, _ = struct.unpack_from("<IBBHQ", data, symoff + 16 * i)
        name = data[stroff + strx:data.index(b"\0", stroff + strx)].decode()
        if ntype & 0x0E != 0:
            raise Failure(f"{arch}: {name} is listed as undefined but is not")
        binds.append((desc >> 8, name))
    foreign = sorted({name for ordinal, name in binds if ordinal != 1})
    if foreign:
        raise Failure(f"{arch}: {', '.join(foreign)} not imported from {LIBSYSTEM}")
    if not binds:
        raise Failure(f"{arch}: imports nothing: the file was not read right")
    return sorted({name for _, name in binds})


def check_signature(data, commands, arch, required):
    """Verifies the CodeDirectory's page hashes; returns a description."""
    found = [at for cmd, at, _ in commands if cmd == LC_CODE_SIGNATURE]
    if not found:
        if required:
            raise Failure(f"{arch}: no code signature (macOS refuses to run it)")
        return "unsigned"
    dataoff, datasize = struct.unpack_from("<II", data, found[0] + 8)
    blob = data[dataoff:dataoff + datasize]
    magic, _, count = struct.unpack_from(">III", blob, 0)
    if magic != CSMAGIC_EMBEDDED_SIGNATURE:
        raise Failure(f"{arch}: the signature is no embedded-signature SuperBlob")
    entries = [struct.unpack_from(">II", blob, 12 + 8 * i) for i in range(count)]
    directories = [offset for kind, offset in entries if kind == 0]
    if len(directories) != 1:
        raise Failure(f"{arch}: {len(directories)} code directories, not 1")
    cd = blob[directories[0]:]
    (magic, _, version, flags, hash_offset, ident_offset, n_special, n_code, code_limit,
     hash_size, hash_type, _, page_shift) = struct.unpack_from(">IIIIIIIIIBBBB", cd, 0)
    if magic != CSMAGIC_CODEDIRECTORY or hash_type != CS_HASHTYPE_SHA256 or hash_size != 32:
        raise Failure(f"{arch}: not a SHA-256 CodeDirectory")
    if code_limit != dataoff:
        raise Failure(f"{arch}: the signature covers {code_limit} bytes, not all {dataoff} before it")
    page = 1 << page_shift
    if n_code != (code_limit + page - 1) // page:
        raise Failure(f"{arch}: {n_code} page hashes for {code_limit} bytes")
    for i in range(n_code):
        want = cd[hash_offset + 32 * i:hash_offset + 32 * (i + 1)]
        got = hashlib.sha256(data[i * page:min((i + 1) * page, code_limit)]).digest()
        if got != want:
            raise Failure(f"{arch}: page {i} of the code signature does not match")
    # Special slots (requirements, entitlements): a nonzero hash must match its blob.
    for slot in range(1, n_special + 1):
        want = cd[hash_offset - 32 * slot:hash_offset - 32 * (slot - 1)]
        if want == bytes(32):
            continue
        blobs = [offset for kind, offset in entries if kind == slot]
        if len(blobs) != 1:
            raise Failure(f"{arch}: special slot {slot} hashes a blob the signature lacks")
        length = struct.unpack_from(">I", blob, blobs[0] + 4)[0]
        if hashlib.sha256(blob[blobs[0]:blobs[0] + length]).digest() != want:
            raise Failure(f"{arch}: special slot {slot} does not match its blob")
    ident = cd[ident_offset:cd.index(b"\0", ident_offset)].decode()
    kind = "ad-hoc" if flags & CS_ADHOC else "signed"
    return f"{kind} signature {ident!r} (version {version:#x}), {n_code} page hashes verified"


def check(path, minimum, tbd_dir, forbidden):
    with open(path, "rb") as f:
        data = f.read()
    for text in forbidden:
        if text and text.encode() in data:
            raise Failure(f"the file holds the path {text}")
    magic, nfat = struct.unpack_from(">II", data, 0)
    if magic != 0xCAFEBABE:
        raise Failure("not a universal (fat) Mach-O file")
    slices = {}
    for i in range(nfat):
        cputype, _, offset, size, _ = struct.unpack_from(">iiIII", data, 8 + 20 * i)
        name = CPU_NAMES.get(cputype & 0xFFFFFFFF, hex(cputype))
        slices[name] = data[offset:offset + size]
    if sorted(slices) != ["arm64", "x86_64"]:
        raise Failure(f"slices {sorted(slices)}, not arm64 and x86_64")
    tbd = os.path.join(tbd_dir, f"libSystem.{minimum.split('.')[0]}.tbd")
    lines = []
    for arch, body in sorted(slices.items()):
        cputype = struct.unpack_from("<i", body, 4)[0] & 0xFFFFFFFF
        if CPU_NAMES.get(cputype) != arch:
            raise Failure(f"the {arch} slice holds code for {hex(cputype)}")
        commands = parse_slice(body, arch)
        minos = check_build_version(body, commands, arch, minimum)
        check_dylibs(body, commands, arch)
        imports = imported_symbols(body, commands, arch)
        missing = sorted(set(imports) - exported_symbols(tbd, arch))
        if missing:
            raise Failure(f"{arch}: {os.path.basename(tbd)} exports none of {', '.join(missing)}")
        signature = check_signature(body, commands, arch, arch == "arm64")
        lines.append(f"{arch}: {len(body)} bytes, macOS >= {minos}, only {LIBSYSTEM} "
                     f"({len(imports)} symbols, all in {os.path.basename(tbd)}), {signature}")
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program")
    parser.add_argument("--no-path", action="append", default=[], help="text the file must not hold")
    args = parser.parse_args()
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    with open(os.path.join(root, "CMakePresets.json"), encoding="utf-8") as f:
        presets = json.load(f)["configurePresets"]
    minimum = next(p["cacheVariables"]["VRD_MACOS_MIN"] for p in presets if p["name"] == "macos-cross")
    tbd = os.path.join(root, "build-sources", "zig", "lib", "libc", "darwin")
    home = os.path.expanduser("~")
    cache = os.path.join(os.environ.get("VRD_CACHE_DIR") or os.path.join(home, ".cache", "vrdskincfg"))
    forbidden = [root, home, os.path.realpath(root), cache] + args.no_path
    try:
        for line in check(args.program, minimum, tbd, forbidden):
            print(line)
    except Failure as failure:
        print(f"{args.program}: {failure}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
