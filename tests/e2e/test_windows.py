"""What only the Windows program (vrdskincfgw) does. Its name in the banner and
usage, and line feeds alone in the settings files it writes, are checked by the
other tests run against it."""

import unittest

import harness
from harness import HELP, MENU, banner, listing


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


if __name__ == "__main__":
    harness.main()
