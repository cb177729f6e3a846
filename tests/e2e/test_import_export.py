"""Settings files: the export (menu 5), the import (menu 4 and --import) with
every kind of file the reader has to judge, and the round trip between them."""

import os
import resource
import shutil
import stat
import unittest

import harness
from harness import ABORTED, MENU, RETRY, banner, header, listing, settings_text

EXPORT = "Export this setup to file: %s, [y]es [n]o ? "
OVERWRITE = "Overwrite existing, [y]es [n]o ? "
APPLY = "Apply these settings, [y]es [n]o ? "
MISSING = "WARNING: Missing setting for the %s.\n"
REMOVED = "WARNING: Unsupported setting found, most likely a setting that got removed.\n"
OLDER = ("NOTE: The settings file was saved with an older version of this program.\n"
         "      This version offers some additional functionality.\n")
NEWER = "WARNING: The settings file was saved with a newer version of this program.\n"
MISMATCH = "ERROR: The settings file version does not match its content.\n"
INVALID = "ERROR: [import_export:#] ParseImportFile(): Invalid file: vrd.cfg\n"
PARSE = "ERROR: [import_export:#] ParseImportFile(): %s not found in file: vrd.cfg at line:%d\n"
IRREGULAR = "ERROR: Not a regular file: %s\n"

# What the skin holds, and what the settings files ask for; they differ in
# most items, also in the five that some files leave out.
LIVE = {1: 1, 15: 0, 18: 3, 21: 0}
TARGET = {6: 2, 9: 0, 15: 3, 16: 1, 17: 1, 18: 1, 19: 0, 20: 0}
LATE = (17, 18, 19, 20, 21)
LATE_MISSING = "".join(MISSING % harness.skin.item_by_id(i).name for i in LATE)
BODY = settings_text(TARGET).split("\n", 1)[1]  # every line after the header


def keep_live(ids):
    """TARGET, except that the items `ids` stay as LIVE has them."""
    return {**{k: v for k, v in TARGET.items() if k not in ids},
            **{k: v for k, v in LIVE.items() if k in ids}}


def padded(size):
    """A complete file grown to `size` bytes by text after the last ";"."""
    text = settings_text(TARGET)
    return text[:-1] + "#" * (size - len(text)) + "\n"


# (case, file content or None for no file, messages before the listing or the
#  abort, positions applied or None for a failing import)
IMPORTS = [
    ("complete", settings_text(TARGET), "", TARGET),
    ("older build, items missing", settings_text(TARGET, "9", LATE), LATE_MISSING + OLDER,
     keep_live(LATE)),
    ("newer build, items missing", settings_text(TARGET, "11", LATE), LATE_MISSING + NEWER,
     keep_live(LATE)),
    ("this build, items missing", settings_text(TARGET, "10", LATE), LATE_MISSING + MISMATCH, None),
    ("trade window missing", settings_text(TARGET, "9", (3,)), MISSING % "Trade/give window"
     + "ERROR: The settings file is broken.\n", None),
    ("removed item, this build", settings_text(TARGET) + "8,1;\n", REMOVED + MISMATCH, None),
    ("removed item, older", settings_text(TARGET, "9") + "8,1;\n", REMOVED + OLDER, TARGET),
    ("unknown alternative, older", settings_text(TARGET, "9", (1,)) + "1,99;\n",
     "WARNING: Unsupported setting for the Chat.\n" + MISSING % "Chat" + OLDER, keep_live((1,))),
    ("CRLF line ends", settings_text(TARGET, eol="\r\n"), "", TARGET),
    ("last line without line feed", settings_text(TARGET, "11")[:-1],
     MISSING % "Loot window" + NEWER, keep_live((21,))),
    ("256 bytes", padded(256), "", TARGET),
    ("257 bytes", padded(257),
     "ERROR: [import_export:#] ReadImportFile(): Buffer overflow, file: vrd.cfg\n", None),
    ("empty", "", "ERROR: [import_export:#] ReadImportFile(): Invalid file: vrd.cfg\n", None),
    ("no line feed", header()[:-1], INVALID, None),
    ("four-digit build", settings_text(TARGET, "1000"), INVALID, None),
    ("space before the header", " " + settings_text(TARGET), INVALID, None),
    ("build 0", settings_text(TARGET, "0"), INVALID, None),
    ("build not a number", settings_text(TARGET, "x"), INVALID, None),
    ("empty line after the header", header() + "\n" + BODY, PARSE % ("Delimiter", 2), None),
    ("no ; at line 2", header() + "1,5\n" + BODY, PARSE % ("Ending", 2), None),
    ("no ; at line 5", header() + "1,5;\n2,1;\n3,1;\n4,1\n5,1;\n", PARSE % ("Ending", 5), None),
    ("no file", None, "ERROR: File not found: vrd.cfg\n", None),
]
THROUGH_MENU = ("complete", "this build, items missing", "no file")


class ImportExportTest(harness.TestCase):

    def setUp(self):
        super().setUp()
        self.make_skin("vrd.zip", *harness.live_options(LIVE))

    def put_settings(self, content):
        if os.path.exists(self.path("vrd.cfg")):
            os.remove(self.path("vrd.cfg"))
        if content is not None:
            self.write_file("vrd.cfg", content)

    def test_import_judges_every_kind_of_file(self):
        for case, settings, messages, applied in IMPORTS:
            # Unattended, standard input is empty: a question would show.
            runs = [(["--import", "--nowait"], "", "\n")]
            if case in THROUGH_MENU:
                runs.append((["--nowait"], "4\ny\n", MENU + "\n"))
            for args, stdin, lead in runs:
                with self.subTest(case=case, args=args):
                    self.put_settings(settings)
                    self.restore()
                    ending = ABORTED if applied is None else "\n" + listing(applied) + "\n" + (
                        APPLY if stdin else "") + "Successfully applied.\n"
                    self.assert_run(args, banner() + lead + "Importing settings from file: "
                                    "vrd.cfg\n" + messages + ending, int(applied is None), stdin)
                    if applied is None:
                        self.assert_untouched()
                    else:
                        self.assert_applied(applied)

    def test_import_declined_leaves_the_archive(self):
        self.put_settings(settings_text(TARGET, "9", LATE))
        self.assert_run(["--nowait"], banner() + MENU + "\nImporting settings from file: vrd.cfg\n"
                        + LATE_MISSING + OLDER + "\n" + listing(keep_live(LATE)) + "\n" + APPLY
                        + RETRY * 2 + "No changes made.\n", 0, stdin="4\n\nno\nN\n")
        self.assert_untouched()

    def test_export_writes_the_live_setup(self):
        # Line feeds only, also from the Windows program.
        old, written = b"# kept\n", settings_text(LIVE).encode()
        done = "File successfully written.\n"
        cases = [  # settings file, its name, answers, output after the question, file afterwards
            (None, "vrd.cfg", "y\n", done, written),
            (None, "vrd.cfg", "n\n", "Cancelled.\n", None),
            (old, "vrd.cfg", "yes\n\nY\ny\n", RETRY * 2 + OVERWRITE + done, written),
            (old, "vrd.cfg", "y\nn\n", OVERWRITE + "Cancelled.\n", old),
            (old, "vrd.cfg", "n\n", "Cancelled.\n", old),
            (None, "no/x.cfg", "y\n", "ERROR: Could not write file: no/x.cfg\n" + ABORTED, None),
            # Written beside itself under a short name, whatever its own length.
            (old, "x" * 246 + ".cfg", "y\ny\n", OVERWRITE + done, written),
        ]
        for existing, cfg, answers, tail, content in cases:
            with self.subTest(existing=existing, answers=answers, cfg=cfg):
                self.put_settings(None)
                if existing is not None:
                    self.write_file(cfg, existing)
                args = ["--nowait"] + ([] if cfg == "vrd.cfg" else ["--ie=" + cfg])
                self.assert_run(args, banner() + MENU + "\n" + listing(LIVE)
                                + "\n" + EXPORT % cfg + tail, int(ABORTED in tail),
                                stdin="5\n" + answers)
                cfg = self.path(cfg)
                self.assertEqual(harness.file_bytes(cfg) if os.path.exists(cfg) else None, content)
                self.assert_untouched()
        self.assertFalse(os.path.exists(self.path("no")))

    def test_only_regular_files_are_read_or_written(self):
        # Each once blocked for ever (FIFO), read as an empty file or written into.
        os.mkdir(self.path("folder.cfg"))
        others = ["folder.cfg", "NUL" if harness.WINDOWS else "/dev/null"]
        if hasattr(os, "mkfifo"):
            os.mkfifo(self.path("pipe.cfg"))
            others.append("pipe.cfg")
        for cfg in others:
            importing = "Importing settings from file: %s\n" % cfg + IRREGULAR % cfg + ABORTED
            runs = [(["--import"], "", "\n" + importing), ([], "4\n", MENU + "\n" + importing),
                    ([], "5\ny\n", MENU + "\n" + listing(LIVE) + "\n" + EXPORT % cfg
                     + IRREGULAR % cfg + ABORTED)]
            for args, stdin, expected in runs:
                with self.subTest(cfg=cfg, stdin=stdin):
                    self.assert_run(args + ["--nowait", "--ie=" + cfg], banner() + expected, 1,
                                    stdin)
                    self.assert_untouched()

    @unittest.skipIf(harness.RUNNER or os.name != "posix",
                     "file-size limits and injected faults would hit Wine, not the program")
    def test_failed_export_keeps_the_old_file(self):
        old, done = b"# kept\n", "File successfully written.\n"
        failed = "ERROR: [import_export:#] WriteExportFile(): fwrite() failed on file: %s\n"
        no_limit = resource.getrlimit(resource.RLIMIT_FSIZE)

        def limited():
            resource.setrlimit(resource.RLIMIT_FSIZE, (0, no_limit[1]))

        def injected(call, error):
            # LeakSanitizer cannot work under ptrace: the sanitizer build leaves leaks to
            # the other runs here.
            options = os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
            return {"wrapper": [shutil.which("strace") or "strace", "-f", "-qq", "-o", os.devnull,
                                "-e", "inject=%s:error=%s" % (call, error)],
                    "env": dict(os.environ, ASAN_OPTIONS=options)}

        cases = [  # case, --ie, what makes the export fail, the output after the question
            ("over the size limit", "vrd.cfg", {"preexec_fn": limited}, failed % "vrd.cfg"),
            ("through a link, over the limit", "link.cfg", {"preexec_fn": limited},
             failed % "link.cfg"),
            ("fsync fails", "vrd.cfg", injected("fsync", "EIO"), failed % "vrd.cfg"),
            ("rename fails", "vrd.cfg", injected("rename", "EXDEV"),
             "ERROR: Could not write file: vrd.cfg\n"),
            ("through a link", "link.cfg", {}, None),
        ]
        for case, cfg, fault, error in cases:
            with self.subTest(case=case):
                if "wrapper" in fault and shutil.which("strace") is None:
                    self.skipTest("strace is not installed")
                self.put_settings(old)
                os.chmod(self.path("vrd.cfg"), 0o640)
                if cfg == "link.cfg" and not os.path.islink(self.path(cfg)):
                    os.symlink("vrd.cfg", self.path(cfg))
                self.assert_run(["--nowait", "--ie=" + cfg], banner() + MENU + "\n"
                                + listing(LIVE) + "\n" + EXPORT % cfg + OVERWRITE
                                + (error + ABORTED if error else done), int(error is not None),
                                stdin="5\ny\ny\n", **fault)
                self.assertEqual(harness.file_bytes(self.path("vrd.cfg")),
                                 settings_text(LIVE).encode() if error is None else old)
                self.assertEqual(stat.S_IMODE(os.stat(self.path("vrd.cfg")).st_mode), 0o640)
                self.assertTrue(os.path.islink(self.path("link.cfg")) or cfg != "link.cfg")
                self.assert_untouched()

    def test_round_trip_to_another_skin_and_back(self):
        source = {2: 1, 3: 1, 4: 3, 5: 2, 1: 1, 16: 0, 17: 2, 18: 2}
        cfg = "my setup.txt"
        self.make_skin("first/vrd.zip", *harness.live_options(source))
        self.assert_run(["--nowait", "--skin=first/vrd.zip", "--ie=" + cfg],
                        banner("first/vrd.zip") + MENU + "\n" + listing(source) + "\n"
                        + EXPORT % cfg + "File successfully written.\n", 0, stdin="5\ny\n")
        self.assertEqual(harness.file_bytes(self.path(cfg)), settings_text(source).encode())
        # Imported silently into another skin, and back into the first. The other
        # folder's name is outside every ANSI code page: the Windows program must
        # take it from the command line and print it unchanged.
        for name in ("Юрий/vrd.zip", "first/vrd.zip"):
            with self.subTest(archive=name):
                self.make_skin(name, *harness.live_options(source if "first" in name else {}))
                self.assert_run(["--import", "--nowait", "--skin=" + name, "--ie=" + cfg],
                                banner(name) + "\nImporting settings from file: %s\n\n" % cfg
                                + listing(source) + "\nSuccessfully applied.\n", 0)
                self.assert_applied(source)


if __name__ == "__main__":
    harness.main()
