"""Opening the skin archive: existence, integrity test of every entry, version
entry and the check that every catalogue entry exists."""

import zipfile

import harness
from harness import ABORTED, MENU, TERMINATED, banner, native

CRC = "Crc is mismatched."
LAST = "skinconfig/data/loot.xml.fontsize6"  # the end of the archive; chat.xml is near its front
NO_VERSION = "ERROR: [file:#] ReadVersionFile(): file not found\n"


def failed(entry, description=CRC):
    return "    %s -->     %s\n" % (native(entry), description)


def missing(*entries):
    return [opt for entry in entries for opt in ("--missing", entry)]


class OpenTest(harness.TestCase):

    def check_open(self, options, error=None):
        """Opens a skin made with `options` up to the menu, or to `error`; neither changes it."""
        self.make_skin("vrd.zip", *options)
        if error is None:
            self.assert_run(["--nowait"], banner() + MENU + TERMINATED, 0, stdin="6\n")
        else:
            self.assert_run(["--nowait"], banner() + error + ABORTED, 1)
        self.assert_untouched()

    def test_missing_archive(self):
        self.assert_run(["--nowait"], banner() + harness.not_found("vrd.zip") + ABORTED, 1)
        self.assert_run(["--nowait", "--skin=nowhere/skin.zip"], banner("nowhere/skin.zip")
                        + harness.not_found("nowhere/skin.zip") + ABORTED, 1)

    def test_file_that_is_no_archive(self):
        for data in (b"<skin>this is no zip</skin>\n", b"", b"PK\x03\x04" + b"\0" * 40):
            with self.subTest(data=data[:12]):
                self.write_file("vrd.zip", data)
                self.assert_run(["--nowait"], banner() + "ERROR: [file:#] OpenZip(): File is not"
                                " a zip archive: vrd.zip\n" + ABORTED, 1)

    def test_no_version_entry(self):
        self.check_open(["--no-version"], NO_VERSION)
        zipfile.ZipFile(self.archive, "w").close()
        self.assert_run(["--nowait"], banner() + NO_VERSION + ABORTED, 1)

    def test_archives_of_other_writers_and_layouts_open(self):
        for options in (["--stored"], ["--tool", "zip"], ["--tool", "zip", "--stored"],
                        ["--stub", "1000"], ["--tool", "zip", "--stub", "4096"],
                        ["--filler", "40", "--filler-size", "3000"],
                        ["--backslash", "gui/pointer_normal.png"]):
            with self.subTest(options=options):
                self.check_open(options)

    def test_version_entry(self):
        wrong = "ERROR: Wrong version, please use the program included in the vrd.zip file.\n"
        invalid = "ERROR: [vrdskincfg:#] CheckVersion(): Invalid version file\n"
        # Only the text before the first line break, of the first 15 bytes, counts.
        cases = [(v, None) for v in (b"10", b"10\n", b"010", b"10\r\n", b"10\0junk",
                                     b"10\n" + b"any text " * 20)]
        cases += [(v, wrong) for v in (b"9", b"11", b"100", b"0000000000000010")]
        cases += [(v, invalid) for v in (b"abc", b"1 0", b"0", b"", b" 10", b"\n10", b"1\xb10")]
        for version, error in cases:
            with self.subTest(version=version):
                self.check_open(["--version-hex", version.hex()], error)

    def test_damaged_entries_are_listed(self):
        testing = "ERROR: [file:#] OpenZip(): Testing archive: vrd.zip\n"
        cases = [
            (["--corrupt-crc", "chat.xml"], testing + failed("chat.xml")),
            (["--corrupt-crc", "chat.xml", "--corrupt-crc", LAST],
             testing + failed("chat.xml") + failed(LAST)),
            (["--stored", "--corrupt-data", "gui/pointer_normal.png"],
             testing + failed("gui/pointer_normal.png")),
            # An unsupported method fails silently, and leaves later failures without a heading.
            (["--method", "chat.xml=99"], ""),
            (["--method", "chat.xml=99", "--corrupt-crc", LAST], failed(LAST)),
            (["--corrupt-crc", "chat.xml", "--method", LAST + "=99"], testing + failed("chat.xml")),
        ]
        for options, listed in cases:
            with self.subTest(options=options):
                self.check_open(options, listed + "ERROR: [file:#] OpenZip(): Integrity check"
                                  " failed on: vrd.zip\n")

    def test_first_missing_entry_in_check_order_is_named(self):
        # Items are checked in table order, live entries before alternatives.
        cases = [
            (missing("skinconfig/data/pointer_normal.png.base"),
             "skinconfig/data/pointer_normal.png.base"),
            (missing("gui/accepted_back.png"), "gui/accepted_back.png"),
            (missing("backdrop/smallinventoryh.jpg",
                     "skinconfig/data/chat.xml.horizontal.fontsize9"),
             "skinconfig/data/chat.xml.horizontal.fontsize9"),
            (missing("skinconfig/data/smallinventory.xml.size42slot.4slotrow",
                     "backdrop/smallinventoryv.jpg"), "backdrop/smallinventoryv.jpg"),
        ]
        for options, reported in cases:
            with self.subTest(options=options):
                self.check_open(options, "ERROR: [file:#] FileExists(): file not found: %s\n"
                                  % native(reported))

    def test_letter_case_of_names_counts_except_on_windows(self):
        self.check_open(["--upper", "chat.xml=Chat.xml"], None if harness.WINDOWS
                        else "ERROR: [file:#] FileExists(): file not found: chat.xml\n")


if __name__ == "__main__":
    harness.main()
