"""Settings files: the export (menu 5), the import (menu 4 and --import) of
files of each size and kind, and the round trip between them."""

import os
import resource
import shutil
import stat
import subprocess
import unittest

import harness
from harness import (ABORTED, BUILD, MENU, OLDER_BUILD, RETRY, banner, header, listing,
                     settings_text)

EXPORT = "Export this setup to file: %s, [y]es [n]o ? "
OVERWRITE = "Overwrite existing, [y]es [n]o ? "
NO_FOLDER = "Path not found." if harness.WINDOWS else "No such file or directory"  # Wine's text
APPLY = "Apply these settings, [y]es [n]o ? "
MISSING = "WARNING: Missing setting for the %s.\n"
OLDER = ("NOTE: The settings file was saved with an older version of this program.\n"
         "      This version offers some additional functionality.\n")
MISMATCH = "ERROR: The settings file version does not match its content.\n"
PARSE = "ERROR: [import_export:#] ParseImportFile(): %s not found in file: vrd.cfg at line:%d\n"
IRREGULAR = "ERROR: Not a regular file: %s\n"

# What the skin holds, and what the settings files ask for; they differ in
# most items, also in the five that some files leave out.
LIVE = {1: 1, 15: 0, 18: 3, 21: 0}
TARGET = {6: 2, 9: 0, 15: 3, 16: 1, 17: 1, 18: 1, 19: 0, 20: 0}
LATE = (17, 18, 19, 20, 21)
LATE_MISSING = "".join(MISSING % harness.skin.item_by_id(i).name for i in LATE)


def keep_live(ids):
    """TARGET, except that the items `ids` stay as LIVE has them."""
    return {**{k: v for k, v in TARGET.items() if k not in ids},
            **{k: v for k, v in LIVE.items() if k in ids}}


def padded(size):
    """A complete file grown to `size` bytes by text after the last ";"."""
    text = settings_text(TARGET)
    return text[:-1] + "#" * (size - len(text)) + "\n"


# What a settings text means is the unit tests' (import_export_test.cpp);
# these runs check that the import shows it, reads whole files up to the
# limit and applies what they select.
# Files that are applied: (case, file content, messages before the listing,
# positions applied).
APPLIED = [
    ("complete", settings_text(TARGET), "", TARGET),
    ("older build, items missing", settings_text(TARGET, OLDER_BUILD, LATE), LATE_MISSING + OLDER,
     keep_live(LATE)),
    ("256 bytes", padded(256), "", TARGET),
]
# Files that end the run: (case, file content or None for no file, messages).
REFUSED = [
    ("this build, items missing", settings_text(TARGET, BUILD, LATE), LATE_MISSING + MISMATCH),
    ("257 bytes", padded(257),
     "ERROR: [import_export:#] ReadImportFile(): Buffer overflow, file: vrd.cfg\n"),
    ("empty", "", "ERROR: [import_export:#] ReadImportFile(): Invalid file: vrd.cfg\n"),
    ("no ; at line 5", header() + "1,5;\n2,1;\n3,1;\n4,1\n5,1;\n", PARSE % ("Ending", 5)),
    ("no file", None, "ERROR: File not found: vrd.cfg\n"),
]
THROUGH_MENU = ("complete", "this build, items missing", "no file")
# How an import is started: arguments, answers, output up to the import's
# heading, the question before applying. Unattended, standard input is
# empty: a question would show.
UNATTENDED = (["--import", "--nowait"], "", "\n", "")
MENU_IMPORT = (["--nowait"], "4\ny\n", MENU + "\n", APPLY)


# A library that makes the file VRD_MAKE (once) when the program calls fsync.
MAKE_ON_FSYNC = r"""
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

int fsync(int fd) {
  const char* path = getenv("VRD_MAKE");
  int made = path == NULL ? -1 : open(path, O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (made >= 0 && (write(made, "other\n", 6) != 6 || close(made) != 0)) abort();
  return ((int (*)(int))dlsym(RTLD_NEXT, "fsync"))(fd);
}
"""


class ImportExportTest(harness.TestCase):

    def setUp(self):
        super().setUp()
        self.make_skin("vrd.zip", *harness.live_options(LIVE))

    def put_settings(self, content):
        if os.path.exists(self.path("vrd.cfg")):
            os.remove(self.path("vrd.cfg"))
        if content is not None:
            self.write_file("vrd.cfg", content)

    def for_each_import(self, cases, check):
        """check(case..., how the import is started) for every run of the cases: unattended,
        and through the menu for the cases in THROUGH_MENU."""
        for case in cases:
            for start in [UNATTENDED] + [MENU_IMPORT] * (case[0] in THROUGH_MENU):
                with self.subTest(case=case[0], args=start[0]):
                    self.put_settings(case[1])
                    self.restore()
                    check(*case[2:], *start)

    def test_import_applies_what_it_can(self):
        def check(messages, applied, args, stdin, lead, question):
            self.assert_run(args, banner() + lead + "Importing settings from file: vrd.cfg\n"
                            + messages + "\n" + listing(applied) + "\n" + question
                            + "Successfully applied.\n", 0, stdin)
            self.assert_applied(applied)
        self.for_each_import(APPLIED, check)

    def test_import_refuses_broken_files(self):
        def check(messages, args, stdin, lead, _question):
            self.assert_run(args, banner() + lead + "Importing settings from file: vrd.cfg\n"
                            + messages + ABORTED, 1, stdin)
            self.assert_untouched()
        self.for_each_import(REFUSED, check)

    def test_import_declined_leaves_the_archive(self):
        self.put_settings(settings_text(TARGET, OLDER_BUILD, LATE))
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
            (None, "no/x.cfg", "y\n", "ERROR: Could not write file: no/x.cfg\n"
             "Reason: %s\n" % NO_FOLDER + ABORTED, None),
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
                                stdin="5\n" + answers, preexec_fn=lambda: os.umask(0o022))
                cfg = self.path(cfg)
                self.assertEqual(harness.file_bytes(cfg) if os.path.exists(cfg) else None, content)
                # A new file gets the mode any new file gets, not the working file's.
                if existing is None and content is not None and not harness.WINDOWS:
                    self.assertEqual(stat.S_IMODE(os.stat(cfg).st_mode), 0o644)
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

    @unittest.skipIf(harness.RUNNER, "Windows calls this path one not found")
    def test_a_settings_file_that_cannot_be_opened_says_why(self):
        cfg = "vrd.zip/vrd.cfg"
        self.assert_run(["--import", "--nowait", "--ie=" + cfg],
                        banner() + "\nImporting settings from file: %s\n" % cfg
                        + "ERROR: File not found: %s\nReason: Not a directory\n" % cfg + ABORTED, 1)
        self.assert_untouched()

    @unittest.skipIf(harness.RUNNER or os.name != "posix",
                     "file-size limits and injected faults would hit Wine, not the program")
    @unittest.skipIf(shutil.which("strace") is None, "strace is not installed")
    def test_failed_export_keeps_the_old_file(self):
        old = b"# kept\n"
        failed = "ERROR: [import_export:#] WriteExportFile(): fwrite() failed on file: %s\nReason: "
        no_limit = resource.getrlimit(resource.RLIMIT_FSIZE)

        def limited():
            resource.setrlimit(resource.RLIMIT_FSIZE, (0, no_limit[1]))

        os.symlink("vrd.cfg", self.path("link.cfg"))
        cases = [  # case, --ie, what makes the export fail, the output after the question
            ("over the size limit", "vrd.cfg", {"preexec_fn": limited},
             failed % "vrd.cfg" + "File too large\n"),
            ("through a link, over the limit", "link.cfg", {"preexec_fn": limited},
             failed % "link.cfg" + "File too large\n"),
            ("fsync fails", "vrd.cfg", harness.injected("fsync:error=EIO"),
             failed % "vrd.cfg" + "Input/output error\n"),
            ("rename fails", "vrd.cfg", harness.injected("rename:error=EXDEV"),
             "ERROR: Could not write file: vrd.cfg\nReason: Invalid cross-device link\n"),
        ]
        for case, cfg, fault, error in cases:
            with self.subTest(case=case):
                self.write_file("vrd.cfg", old)
                os.chmod(self.path("vrd.cfg"), 0o640)
                self.assert_run(["--nowait", "--ie=" + cfg], banner() + MENU + "\n"
                                + listing(LIVE) + "\n" + EXPORT % cfg + OVERWRITE + error
                                + ABORTED, 1, stdin="5\ny\ny\n", **fault)
                self.assertEqual(harness.file_bytes(self.path("vrd.cfg")), old)
                self.assertEqual(stat.S_IMODE(os.stat(self.path("vrd.cfg")).st_mode), 0o640)
                self.assertTrue(os.path.islink(self.path("link.cfg")))
                self.assert_untouched()

    @unittest.skipIf(harness.RUNNER or os.name != "posix" or shutil.which("cc") is None,
                     "needs a C compiler and a program that loads the preloaded library")
    def test_a_file_made_meanwhile_is_never_replaced(self):
        # Another program makes the settings file while the export syncs its working file.
        with open(self.path("made.c"), "w") as f:
            f.write(MAKE_ON_FSYNC)
        subprocess.run(["cc", "-shared", "-fPIC", "-o", self.path("made.so"), self.path("made.c"),
                        "-ldl"], check=True)
        env = dict(os.environ, LD_PRELOAD=self.path("made.so"), VRD_MAKE=self.path("vrd.cfg"),
                   ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0")
        self.assert_run(["--nowait"], banner() + MENU + "\n" + listing(LIVE) + "\n"
                        + EXPORT % "vrd.cfg" + "ERROR: Could not write file: vrd.cfg\n" + ABORTED,
                        1, stdin="5\ny\n", env=env)
        self.assertEqual(harness.file_bytes(self.path("vrd.cfg")), b"other\n")
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
