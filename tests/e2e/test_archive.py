"""Opening the skin archive: existence, integrity test of every entry, version
entry and the check that every catalogue entry exists."""

import harness
from harness import ABORTED, MENU, TERMINATED, banner, native

NOT_FOUND = ("ERROR: File not found: {0}\n"
             "This program must be started from the folder where the {0} file is in.\n"
             "Also check file permissions of {0}\n")
TESTING = "ERROR: [file:#] OpenZip(): Testing archive: vrd.zip\n"
CHECK_FAILED = "ERROR: [file:#] OpenZip(): Integrity check failed on: vrd.zip\n"
CRC = "Crc is mismatched."


def failed_entry(entry, description):
    return "    %s -->     %s\n" % (native(entry), description)


class OpenTest(harness.TestCase):

    def test_missing_archive(self):
        self.assert_run(["--nowait"], banner() + NOT_FOUND.format("vrd.zip") + ABORTED, 1)
        self.assert_run(["--nowait", "--skin=nowhere/skin.zip"],
                        banner("nowhere/skin.zip") + NOT_FOUND.format("nowhere/skin.zip")
                        + ABORTED, 1)

    def test_file_that_is_no_archive(self):
        for data in (b"<skin>this is no zip</skin>\n", b"", b"PK\x03\x04" + b"\0" * 40):
            with self.subTest(data=data[:12]):
                self.write_file("vrd.zip", data)
                self.assert_run(["--nowait"], banner()
                                + "ERROR: [file:#] OpenZip(): File is not a zip archive: vrd.zip\n"
                                + ABORTED, 1)

    def test_archive_without_entries_has_no_version(self):
        harness.write_zip(self.path("vrd.zip"), [])
        self.assert_run(["--nowait"], banner()
                        + "ERROR: [file:#] ReadVersionFile(): file not found\n" + ABORTED, 1)

    def test_archives_of_other_writers_and_layouts_reach_the_menu(self):
        for options in (["--stored"], ["--tool", "zip"], ["--tool", "zip", "--stored"],
                        ["--stub", "1000"], ["--tool", "zip", "--stub", "4096"],
                        ["--filler", "40", "--filler-size", "3000"]):
            with self.subTest(options=options):
                path = self.make_skin("vrd.zip", *options)
                saved = harness.file_bytes(path)
                self.assert_run(["--nowait"], banner() + MENU + TERMINATED, 0, stdin="6\n")
                self.assert_unchanged(path, saved)

    def test_sample_skin_is_sound_and_complete(self):
        path = self.make_skin()
        self.assert_archive_ok(path)
        entries = harness.read_entries(path)
        wanted = (set(harness.skin.live_entries()) | set(harness.skin.alternative_entries())
                  | set(harness.skin.UNRELATED) | {harness.skin.VERSION_ENTRY})
        self.assertEqual(set(entries), wanted)
        for _, live, alternative in harness.skin.live_plan():
            self.assertEqual(entries[live], entries[alternative], live)


class VersionTest(harness.TestCase):

    def test_version_entry(self):
        wrong = "ERROR: Wrong version, please use the program included in the vrd.zip file.\n"
        invalid = "ERROR: [vrdskincfg:#] CheckVersion(): Invalid version file\n"
        cases = [
            # Only the text before the first line break, of the first 15 bytes, counts.
            (b"10", None), (b"10\n", None), (b"010", None), (b"10\r\n", None), (b"10\r", None),
            (b"10\0junk", None), (b"10\n" + b"any text " * 20, None),
            (b"9", wrong), (b"11", wrong), (b"100", wrong),
            (b"0000000000000010", wrong),  # the 16th byte is not read: 1
            (b"abc", invalid), (b"1 0", invalid), (b"0", invalid), (b"", invalid),
            (b" 10", invalid), (b"1.0", invalid), (b"\n10", invalid), (b"1\xb10", invalid),
        ]
        for version, error in cases:
            with self.subTest(version=version):
                self.make_skin("vrd.zip", "--version-hex", version.hex())
                if error is None:
                    self.assert_run(["--nowait"], banner() + MENU + TERMINATED, 0, stdin="6\n")
                else:
                    self.assert_run(["--nowait"], banner() + error + ABORTED, 1)

    def test_missing_version_entry(self):
        self.make_skin("vrd.zip", "--no-version")
        self.assert_run(["--nowait"], banner()
                        + "ERROR: [file:#] ReadVersionFile(): file not found\n" + ABORTED, 1)


class IntegrityTest(harness.TestCase):
    # chat.xml lies near the front of the sample skin, the loot alternative at its end.
    LAST = "skinconfig/data/loot.xml.fontsize6"

    def test_damaged_entries_are_listed(self):
        cases = [
            (["--corrupt-crc", "chat.xml"], TESTING + failed_entry("chat.xml", CRC)),
            (["--corrupt-crc", "chat.xml", "--corrupt-crc", self.LAST],
             TESTING + failed_entry("chat.xml", CRC) + failed_entry(self.LAST, CRC)),
            (["--stored", "--corrupt-data", "gui/pointer_normal.png"],
             TESTING + failed_entry("gui/pointer_normal.png", CRC)),
            # An unsupported method fails silently ...
            (["--method", "chat.xml=99"], ""),
            # ... and, when it comes first, leaves later failures without a heading.
            (["--method", "chat.xml=99", "--corrupt-crc", self.LAST], failed_entry(self.LAST, CRC)),
            (["--corrupt-crc", "chat.xml", "--method", self.LAST + "=99"],
             TESTING + failed_entry("chat.xml", CRC)),
        ]
        for options, listed in cases:
            with self.subTest(options=options):
                path = self.make_skin("vrd.zip", *options)
                saved = harness.file_bytes(path)
                self.assert_run(["--nowait"], banner() + listed + CHECK_FAILED + ABORTED, 1)
                self.assert_unchanged(path, saved)

    def test_damaged_deflate_stream_is_reported(self):
        # Which check catches a flipped byte depends on the stream; each is fine.
        self.make_skin("vrd.zip", "--corrupt-data", "skin.xml")
        out, status = self.run_program(["--nowait"])
        self.assertEqual(status, 1, out)
        lines = out.splitlines(True)
        self.assertEqual(len(lines), 5, out)
        harness.assert_output("".join(lines[:2] + lines[3:]),
                              banner() + TESTING + CHECK_FAILED + ABORTED)
        self.assertIn(lines[2], [failed_entry("skin.xml", text) for text in (
            CRC, "Damaged or not a zip file.", "Zlib library error (data error).",
            "Zlib library error (buffer error).")])


class CatalogueEntriesTest(harness.TestCase):

    def test_first_missing_entry_in_check_order_is_named(self):
        cases = [
            (["skinconfig/data/pointer_normal.png.base"], "skinconfig/data/pointer_normal.png.base"),
            (["gui/accepted_back.png"], "gui/accepted_back.png"),
            (["skinconfig/data/inventory.4slotrow.jpg"], "skinconfig/data/inventory.4slotrow.jpg"),
            # Items are checked in table order, live entries before alternatives.
            (["backdrop/smallinventoryh.jpg", "skinconfig/data/chat.xml.horizontal.fontsize9"],
             "skinconfig/data/chat.xml.horizontal.fontsize9"),
            (["skinconfig/data/smallinventory.xml.size42slot.4slotrow",
              "backdrop/smallinventoryv.jpg"], "backdrop/smallinventoryv.jpg"),
        ]
        for missing, reported in cases:
            with self.subTest(missing=missing):
                options = []
                for entry in missing:
                    options += ["--missing", entry]
                path = self.make_skin("vrd.zip", *options)
                saved = harness.file_bytes(path)
                self.assert_run(["--nowait"], banner() + "ERROR: [file:#] FileExists(): file not "
                                "found: %s\n" % native(reported) + ABORTED, 1)
                self.assert_unchanged(path, saved)

    def test_backslash_in_a_stored_name_matches_a_slash(self):
        self.make_skin("vrd.zip", "--backslash", "gui/pointer_normal.png")
        self.assert_run(["--nowait"], banner() + MENU + TERMINATED, 0, stdin="6\n")

    def test_letter_case_of_names(self):
        self.make_skin("vrd.zip", "--upper", "chat.xml=Chat.xml")
        if harness.WINDOWS:  # lookups ignore case there
            self.assert_run(["--nowait"], banner() + MENU + TERMINATED, 0, stdin="6\n")
        else:
            self.assert_run(["--nowait"], banner()
                            + "ERROR: [file:#] FileExists(): file not found: chat.xml\n" + ABORTED, 1)


if __name__ == "__main__":
    harness.main()
