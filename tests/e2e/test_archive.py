"""Opening the skin archive: existence, integrity test of every entry, version
entry and the check that every catalogue entry exists."""

import os
import struct
import zipfile

import harness
from harness import ABORTED, MENU, TERMINATED, banner, native

LAST = "skinconfig/data/loot.xml.fontsize6"  # the end of the archive; chat.xml is near its front
TESTING = "ERROR: [file:#] OpenZip(): Testing archive: vrd.zip\n"
WRONG = "ERROR: Wrong version, please use the program included in the vrd.zip file.\n"
INVALID = "ERROR: [vrdskincfg:#] CheckVersion(): Invalid version file\n"


def failed(entry):
    return "    %s -->     Crc is mismatched.\n" % native(entry)


def damaged(listed):
    return listed + "ERROR: [file:#] OpenZip(): Integrity check failed on: vrd.zip\n"


def missing(reported, *others):
    return ([o for entry in (reported,) + others for o in ("--missing", entry)],
            "ERROR: [file:#] FileExists(): file not found: %s\n" % native(reported))


def version(data):
    return ["--version-hex", data.hex()]


# make_skin options of skins that open to the menu. Only the text before the
# first line break, of the first 15 bytes, counts in the version entry.
OPENS = [["--stored"], ["--tool", "zip"], ["--tool", "zip", "--stored"], ["--stub", "1000"],
         ["--tool", "zip", "--stub", "4096"], ["--filler", "40", "--filler-size", "3000"],
         ["--backslash", "gui/pointer_normal.png"]]
B = harness.BUILD.encode()
OPENS += [version(v) for v in (B, B + b"\n", b"0" + B, B + b"\r\n", B + b"\0junk",
                               B + b"\n" + b"any text " * 20)]
# (make_skin options, error) of skins that end the run.
VERSIONS = [(version(v), WRONG) for v in (harness.OLDER_BUILD.encode(), harness.NEWER_BUILD.encode(),
                                          B + b"0", B.rjust(16, b"0"))]
VERSIONS += [(version(v), INVALID) for v in (b"abc", b"1 0", b"0", b"", b" 10", b"\n10", b"1\xb10")]
VERSIONS += [(["--no-version"], "ERROR: [file:#] ReadVersionFile(): file not found\n")]
DAMAGED = [
    (["--corrupt-crc", "chat.xml"], damaged(TESTING + failed("chat.xml"))),
    (["--corrupt-crc", "chat.xml", "--corrupt-crc", LAST],
     damaged(TESTING + failed("chat.xml") + failed(LAST))),
    (["--stored", "--corrupt-data", "gui/pointer_normal.png"],
     damaged(TESTING + failed("gui/pointer_normal.png"))),
    # An unsupported method fails silently, and leaves later failures without a heading.
    (["--method", "chat.xml=99"], damaged("")),
    (["--method", "chat.xml=99", "--corrupt-crc", LAST], damaged(failed(LAST))),
    (["--corrupt-crc", "chat.xml", "--method", LAST + "=99"],
     damaged(TESTING + failed("chat.xml"))),
]
# Items are checked in table order, live entries before alternatives.
MISSING = [
    missing("skinconfig/data/pointer_normal.png.base"),
    missing("gui/accepted_back.png"),
    missing("skinconfig/data/chat.xml.horizontal.fontsize9", "backdrop/smallinventoryh.jpg"),
    missing("backdrop/smallinventoryv.jpg",
            "skinconfig/data/smallinventory.xml.size42slot.4slotrow"),
]
# Letter case counts in entry names, except on Windows.
UPPER = ["--upper", "chat.xml=Chat.xml"]
if harness.WINDOWS:
    OPENS.append(UPPER)
else:
    MISSING.append((UPPER, "ERROR: [file:#] FileExists(): file not found: chat.xml\n"))


def push_to_4gib(path, room):
    """Moves every entry but the first one further into the file, behind a hole (which takes
    no disk space), so that the central directory starts `room` bytes before 4 GiB. Returns
    the bytes before and after the hole."""
    data = harness.file_bytes(path)
    end = data.rfind(b"PK\5\6")
    count, size, offset = struct.unpack_from("<HII", data, end + 10)
    second = sorted(i.header_offset for i in zipfile.ZipFile(path).infolist())[1]
    gap = 2 ** 32 - room - offset
    central = bytearray(data[offset:offset + size])
    at = 0
    for _ in range(count):
        names = struct.unpack_from("<HHH", central, at + 28)
        local = struct.unpack_from("<I", central, at + 42)[0]
        if local >= second:
            struct.pack_into("<I", central, at + 42, local + gap)
        at += 46 + sum(names)
    tail = bytearray(data[end:])
    struct.pack_into("<I", tail, 16, offset + gap)
    head, rest = data[:second], data[second:offset] + bytes(central) + bytes(tail)
    with open(path, "wb") as f:
        f.write(head)
        f.seek(len(head) + gap)
        f.write(rest)
    return head, rest


class OpenTest(harness.TestCase):

    def test_skins_that_open(self):
        for options in OPENS:
            with self.subTest(options=options):
                self.make_skin("vrd.zip", *options)
                self.assert_run(["--nowait"], banner() + MENU + TERMINATED, 0, stdin="6\n")
                self.assert_untouched()

    def test_skins_that_fail_untouched(self):
        for options, error in VERSIONS + DAMAGED + MISSING:
            with self.subTest(options=options):
                self.make_skin("vrd.zip", *options)
                self.assert_run(["--nowait"], banner() + error + ABORTED, 1)
                self.assert_untouched()

    def test_files_that_are_no_skin(self):
        self.assert_run(["--nowait"], banner() + harness.not_found("vrd.zip") + ABORTED, 1)
        for data in (b"<skin>this is no zip</skin>\n", b"", b"PK\x03\x04" + b"\0" * 40):
            with self.subTest(data=data[:12]):
                self.write_file("vrd.zip", data)
                self.assert_run(["--nowait"], banner() + "ERROR: [file:#] OpenZip(): File is not"
                                " a zip archive: vrd.zip\n" + ABORTED, 1)
        zipfile.ZipFile(self.path("vrd.zip"), "w").close()  # no entries at all
        self.assert_run(["--nowait"], banner() + VERSIONS[-1][1] + ABORTED, 1)

    @harness.unittest.skipIf(harness.WINDOWS, "a sparse file of 4 GiB")
    def test_change_that_would_need_zip64_is_refused_before_writing(self):
        # The default setup's entries are 410 bytes longer than these.
        self.make_skin("vrd.zip", *harness.live_options({1: 1, 18: 3}))
        head, rest = push_to_4gib(self.archive, 64)
        size = os.path.getsize(self.archive)
        self.write_file("vrd.cfg", harness.settings_text())
        self.assert_run(["--import", "--nowait"],
                        banner() + "\nImporting settings from file: vrd.cfg\n\n"
                        + harness.listing() + "\nERROR: [file:#] OpenZip(): Processing"
                        " archive: vrd.zip\nThe file size is too large to be supported.\n" + ABORTED,
                        1)
        self.assertEqual(os.path.getsize(self.archive), size)
        with open(self.archive, "rb") as f:
            self.assertTrue(f.read(len(head)) == head and (f.seek(size - len(rest)) or True)
                            and f.read() == rest, "the archive was changed")
        self.assertEqual(harness.stray_files(self.dir), [])


if __name__ == "__main__":
    harness.main()
