"""What only the Windows program (vrdskincfgw) does. Its name in the banner and
usage, and line feeds alone in the settings files it writes, are checked by the
other tests run against it."""

import os
import shutil
import subprocess
import unittest

import harness
from harness import ABORTED, HELP, MENU, banner, listing

CC = shutil.which("x86_64-w64-mingw32-gcc")


@unittest.skipUnless(harness.WINDOWS, "only the Windows program has these rules")
class WindowsProgramTest(harness.TestCase):

    def test_slash_question_mark_first_prints_the_help(self):
        for args in (["/?"], ["/?", "--bogus"], ["/?", "--nowait", "stray"]):
            with self.subTest(args=args):
                self.assert_run(args, HELP, 0)

    def test_entries_stored_in_another_form_are_found_and_rewritten_in_ours(self):
        cases = [  # make_skin options, name as stored, name the engine writes back
            (["--backslash", "gui/pointer_normal.png"], "gui\\pointer_normal.png",
             "gui/pointer_normal.png"),
            (["--upper", "chat.xml=Chat.xml"], "Chat.xml", "chat.xml"),
            (["--upper", "gui/pointer_normal.png=GUI/Pointer_Normal.PNG"],
             "GUI/Pointer_Normal.PNG", "gui/pointer_normal.png"),
        ]
        for options, stored, rewritten in cases:
            with self.subTest(stored=stored):
                self.make_skin("vrd.zip", *options)
                self.assertIn(stored, harness.read_entries(self.archive))
                # Detection reads the entry: every item shows its default.
                self.assert_run(["--nowait"], banner() + MENU + "\n" + listing(), 0, stdin="2\n")
                self.assert_run(["--nowait"], banner() + MENU + "\nReset to default setup, [y]es"
                                " [n]o ? Reset successfully done.\n", 0, stdin="3\ny\n")
                entries = harness.read_entries(self.archive)
                self.assertNotIn(stored, entries)
                self.assertEqual(entries[rewritten], harness.applied_entries()[rewritten])
                self.assert_archive_ok()
                self.assertEqual(harness.stray_files(self.dir), [], "working copy left behind")

    @unittest.skipIf(CC is None, "no mingw-w64 compiler for the helper program")
    def test_a_program_holding_the_skin(self):
        helper = os.path.join(self.dir, "hold_file.exe")
        source = os.path.join(harness.SOURCE_DIR, "tests", "e2e", "hold_file.c")
        subprocess.run([CC, "-O2", "-o", helper, source], check=True)
        self.make_skin()
        reset = banner() + MENU + "\nReset to default setup, [y]es [n]o ? "
        in_use = ("ERROR: File not writeable: vrd.zip\nCheck file permissions of vrd.zip\n"
                  "The skin is in use by another program, for example the game: vrd.zip\n")
        cases = [  # sharing modes the holder allows, seconds it holds, what the run prints
            ("rd", 30, "Reset successfully done.\n"),  # the game: read and delete shared
            ("rwd", 30, "Reset successfully done.\n"),
            ("r", 30, in_use + ABORTED),
            ("rw", 30, in_use + ABORTED),
            ("r", 1.5, "Reset successfully done.\n"),  # a scanner that soon lets go
        ]
        for share, seconds, tail in cases:
            with self.subTest(share=share, seconds=seconds):
                self.restore()
                holder = subprocess.Popen(harness.RUNNER + [helper, "vrd.zip", share,
                                                            str(seconds)],
                                          cwd=self.dir, stdout=subprocess.PIPE)
                self.addCleanup(holder.kill)
                self.assertEqual(holder.stdout.readline().strip(), b"held")
                self.assert_run(["--nowait"], reset + tail, int(ABORTED in tail), stdin="3\ny\n")
                holder.kill()
                holder.wait()
                holder.stdout.close()
                if ABORTED in tail:
                    self.assert_untouched()
                else:
                    self.assert_applied({})


if __name__ == "__main__":
    harness.main()
