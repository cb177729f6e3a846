"""Settings files: the export (menu 5), the import (menu 4 and --import) with
every kind of file the reader has to judge, and the round trip between them."""

import os

import harness
from harness import ABORTED, MENU, banner, settings_text

RETRY = "Invalid input, try again: "
EXPORT = "Export this setup to file: %s, [y]es [n]o ? "
OVERWRITE = "Overwrite existing, [y]es [n]o ? "
APPLY = "Apply these settings, [y]es [n]o ? "
MISSING = "WARNING: Missing setting for the %s.\n"
UNSUPPORTED = "WARNING: Unsupported setting for the %s.\n"
REMOVED = "WARNING: Unsupported setting found, most likely a setting that got removed.\n"
OLDER = ("NOTE: The settings file was saved with an older version of this program.\n"
         "      This version offers some additional functionality.\n")
NEWER = "WARNING: The settings file was saved with a newer version of this program.\n"
MISMATCH = "ERROR: The settings file version does not match its content.\n"
BROKEN = "ERROR: The settings file is broken.\n"
INVALID = "ERROR: [import_export:#] ParseImportFile(): Invalid file: vrd.cfg\n"

# What the skin holds, and what the settings files of the cases ask for; they
# differ in most items, also in the five that some files leave out.
LIVE = {1: 1, 15: 0, 18: 3, 21: 0}
TARGET = {6: 2, 9: 0, 15: 3, 16: 1, 17: 1, 18: 1, 19: 0, 20: 0}
LATE = (17, 18, 19, 20, 21)
LATE_MISSING = "".join(MISSING % harness.skin.item_by_id(i).name for i in LATE)


def keep_live(ids, target=TARGET):
    """TARGET, except that the items `ids` stay as LIVE has them."""
    result = {k: v for k, v in target.items() if k not in ids}
    result.update({k: v for k, v in LIVE.items() if k in ids})
    return result


def padded(size):
    """A complete file grown to `size` bytes by text after the last ";"."""
    text = settings_text(TARGET)
    return text[:-1] + "#" * (size - len(text)) + "\n"


def shuffled():
    """Lines in reverse order, ids written with spaces and signs, comments after ";"."""
    lines = settings_text(TARGET).splitlines(True)
    body = [" %s,+%s; x\n" % tuple(line[:-2].split(",")) for line in lines[1:]]
    return lines[0] + "".join(reversed(body))


def header(build):
    return "# vrdskincfg (build %s) --- Skin configuration\n" % build


# (case, file content or None, messages before the listing or the abort,
#  positions applied or None for a failing import)
IMPORTS = [
    ("complete, this build", settings_text(TARGET), "", TARGET),
    ("complete, older build", settings_text(TARGET, "9"), "", TARGET),
    ("complete, newer build", settings_text(TARGET, "11"), "", TARGET),
    ("older build, items missing", settings_text(TARGET, "9", LATE),
     LATE_MISSING + OLDER, keep_live(LATE)),
    ("newer build, items missing", settings_text(TARGET, "11", LATE),
     LATE_MISSING + NEWER, keep_live(LATE)),
    ("this build, items missing", settings_text(TARGET, "10", LATE),
     LATE_MISSING + MISMATCH, None),
    ("trade window missing", settings_text(TARGET, "10", (3,)),
     MISSING % "Trade/give window" + BROKEN, None),
    ("trade window missing, older", settings_text(TARGET, "9", (3, 20)),
     MISSING % "Trade/give window" + MISSING % "Item description" + BROKEN, None),
    ("removed item, this build", settings_text(TARGET) + "8,1;\n", REMOVED + MISMATCH, None),
    ("removed item, older", settings_text(TARGET, "9") + "8,1;\n", REMOVED + OLDER, TARGET),
    ("unknown alternative, older", settings_text(TARGET, "9", (1,)) + "1,99;\n",
     UNSUPPORTED % "Chat" + MISSING % "Chat" + OLDER, keep_live((1,))),
    ("unknown alternative after a known one", settings_text(TARGET) + "1,99;\n", "", TARGET),
    ("unknown alternative before a known one",
     header(10) + "1,99;\n" + settings_text(TARGET).split("\n", 1)[1],
     UNSUPPORTED % "Chat" + MISMATCH, None),
    ("repeated item, the later line wins", settings_text(TARGET) + "18,3;\n", "",
     {**TARGET, 18: 2}),
    ("any order, spaces, signs, comments", shuffled(), "", TARGET),
    ("CRLF line ends", settings_text(TARGET, eol="\r\n"), "", TARGET),
    ("last line without line feed", settings_text(TARGET, "11")[:-1],
     MISSING % "Loot window" + NEWER, keep_live((21,))),
    ("256 bytes", padded(256), "", TARGET),
    ("257 bytes", padded(257),
     "ERROR: [import_export:#] ReadImportFile(): Buffer overflow, file: vrd.cfg\n", None),
    ("empty", "", "ERROR: [import_export:#] ReadImportFile(): Invalid file: vrd.cfg\n", None),
    ("no line feed", header(10)[:-1], INVALID, None),
    ("four-digit build", settings_text(TARGET, "1000"), INVALID, None),
    ("space before the header", " " + settings_text(TARGET), INVALID, None),
    ("build 0", settings_text(TARGET, "0"), INVALID, None),
    ("build not a number", settings_text(TARGET, "x"), INVALID, None),
    ("no build", settings_text(TARGET, ""), INVALID, None),
    ("empty line after the header", header(10) + "\n" + settings_text(TARGET).split("\n", 1)[1],
     "ERROR: [import_export:#] ParseImportFile(): Delimiter not found in file: vrd.cfg"
     " at line:2\n", None),
    ("no ; at line 2", header(10) + "1,5\n" + settings_text(TARGET).split("\n", 1)[1],
     "ERROR: [import_export:#] ParseImportFile(): Ending not found in file: vrd.cfg"
     " at line:2\n", None),
    ("no ; at line 5", header(10) + "1,5;\n2,1;\n3,1;\n4,1\n5,1;\n",
     "ERROR: [import_export:#] ParseImportFile(): Ending not found in file: vrd.cfg"
     " at line:5\n", None),
    ("no file", None, "ERROR: File not found: vrd.cfg\n", None),
]


class ImportExportTest(harness.TestCase):

    def setUp(self):
        super().setUp()
        self.archive = self.make_skin("vrd.zip", *harness.live_options(LIVE))
        self.saved = harness.file_bytes(self.archive)
        self.before = harness.read_entries(self.archive)

    def reset(self, settings):
        with open(self.archive, "wb") as f:
            f.write(self.saved)
        cfg = self.path("vrd.cfg")
        if os.path.exists(cfg):
            os.remove(cfg)
        if settings is not None:
            self.write_file("vrd.cfg", settings.encode())

    def test_import_judges_every_kind_of_file(self):
        for case, settings, messages, applied in IMPORTS:
            listing = "" if applied is None else "\n" + harness.listing(applied) + "\n"
            ending = ABORTED if applied is None else "Successfully applied.\n"
            runs = [
                # Unattended: standard input is empty, so a read would show.
                (["--import", "--nowait"], "", "\n"),
                (["--nowait"], "4\ny\n", MENU + "\n"),
            ]
            for args, stdin, lead in runs:
                with self.subTest(case=case, args=args):
                    self.reset(settings)
                    question = APPLY if applied is not None and stdin else ""
                    self.assert_run(args, banner() + lead + "Importing settings from file: vrd.cfg\n"
                                    + messages + listing + question + ending,
                                    0 if applied is not None else 1, stdin=stdin)
                    if applied is None:
                        self.assert_untouched(self.archive, self.saved)
                    else:
                        self.assert_applied(self.archive, applied, self.before)

    def test_import_declined_leaves_the_archive(self):
        self.reset(settings_text(TARGET, "9", LATE))
        for answers, retries in (("n\n", 0), ("\nno\nN\n", 2)):
            with self.subTest(answers=answers):
                self.assert_run(["--nowait"], banner() + MENU + "\n"
                                + "Importing settings from file: vrd.cfg\n" + LATE_MISSING + OLDER
                                + "\n" + harness.listing(keep_live(LATE)) + "\n" + APPLY
                                + RETRY * retries + "No changes made.\n", 0, stdin="4\n" + answers)
                self.assert_untouched(self.archive, self.saved)

    def test_export_writes_the_live_setup(self):
        old = b"# kept\n"
        written = settings_text(LIVE).encode()
        cases = [
            (None, ["y"], "File successfully written.\n", written),
            (None, ["yes", "", "Y"], RETRY * 2 + "File successfully written.\n", written),
            (None, ["n"], "Cancelled.\n", None),
            (old, ["y", "y"], OVERWRITE + "File successfully written.\n", written),
            (old, ["y", "n"], OVERWRITE + "Cancelled.\n", old),
            (old, ["n"], "Cancelled.\n", old),
        ]
        for existing, answers, tail, content in cases:
            with self.subTest(existing=existing, answers=answers):
                cfg = self.path("vrd.cfg")
                if os.path.exists(cfg):
                    os.remove(cfg)
                if existing is not None:
                    self.write_file("vrd.cfg", existing)
                self.assert_run(["--nowait"], banner() + MENU + "\n" + harness.listing(LIVE) + "\n"
                                + EXPORT % "vrd.cfg" + tail, 0,
                                stdin="5\n" + "".join(a + "\n" for a in answers))
                self.assertEqual(os.path.exists(cfg), content is not None)
                if content is not None:
                    self.assertEqual(harness.file_bytes(cfg), content)
                self.assert_untouched(self.archive, self.saved)
        # The header, then one line per item in table order; no carriage returns.
        lines = written.split(b"\n")
        self.assertEqual(len(lines[0]) + 1, 47)
        self.assertEqual([int(line.split(b",")[0]) for line in lines[1:-1]],
                         [item.id for item in harness.skin.CATALOGUE])
        self.assertNotIn(b"\r", written)

    def test_export_into_a_missing_folder_fails(self):
        self.assert_run(["--nowait", "--ie=nodir/x.cfg"],
                        banner() + MENU + "\n" + harness.listing(LIVE) + "\n"
                        + EXPORT % "nodir/x.cfg" + "ERROR: Could not write file: nodir/x.cfg\n"
                        + ABORTED, 1, stdin="5\ny\n")
        self.assertFalse(os.path.exists(self.path("nodir")))
        self.assert_untouched(self.archive, self.saved)

    def test_round_trip_to_another_skin_and_back(self):
        source = {2: 1, 3: 1, 4: 3, 5: 2, 1: 1, 16: 0, 17: 2, 18: 2}
        first = self.make_skin("first/vrd.zip", *harness.live_options(source))
        other = self.make_skin("other/vrd.zip")
        cfg = "my setup.txt"
        self.assert_run(["--nowait", "--skin=first/vrd.zip", "--ie=" + cfg],
                        banner("first/vrd.zip") + MENU + "\n" + harness.listing(source) + "\n"
                        + EXPORT % cfg + "File successfully written.\n", 0, stdin="5\ny\n")
        self.assertEqual(harness.file_bytes(self.path(cfg)), settings_text(source).encode())
        # Imported silently: into the other skin, which then holds the same
        # setup, and back into the first, where no live byte changes.
        for archive in (other, first):
            with self.subTest(archive=archive):
                before = harness.read_entries(archive)
                name = os.path.relpath(archive, self.dir)
                self.assert_run(["--import", "--nowait", "--skin=" + name, "--ie=" + cfg],
                                banner(name) + "\nImporting settings from file: %s\n\n" % cfg
                                + harness.listing(source) + "\nSuccessfully applied.\n", 0)
                self.assert_applied(archive, source, before)
        live = harness.skin.live_entries()
        first_entries = harness.read_entries(first)
        self.assertEqual({n: first_entries[n] for n in live}, {n: before[n] for n in live})
        self.assertEqual(harness.read_entries(other), first_entries)


if __name__ == "__main__":
    harness.main()
