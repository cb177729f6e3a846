"""What only the Windows program (vrdskincfgw) does: "/?" asks for the help,
entry names are found whatever their letter case and separator, and the files
it writes carry no carriage returns although its console does."""

import os
import unittest

import harness
from harness import ABORTED, MENU, RETURN_PROMPT, banner

skin = harness.skin

HELP = ("Usage: vrdskincfgw [--skin=<file>] [--ie=<file>] [--import] [--nowait] [--help]\n"
        "  --skin=<file>        skin zip-archive file\n"
        "  --ie=<file>          import/export file\n"
        "  --import             import setup, apply and exit\n"
        "  --nowait             don't wait for a keypress on exit\n"
        "  --help               print this help and exit\n")
HEADER = b"# vrdskincfg (build 10) --- Skin configuration\n"
RESET = "\nReset to default setup, [y]es [n]o ? Reset successfully done.\n"


def settings(positions=None, newline=b"\n"):
    """A settings file: every item at its default unless `positions` says."""
    positions = positions or {}
    lines = [HEADER.rstrip(b"\n")]
    for item in skin.CATALOGUE:
        value = item.values[positions.get(item.id, item.default)]
        lines.append(b"%d,%d;" % (item.id, value.id))
    return newline.join(lines) + newline


def default_bytes(live_entry):
    """What a reset writes into a live entry."""
    for _, live, alternative in skin.live_plan():
        if live == live_entry:
            return skin.entry_bytes(alternative)
    raise KeyError(live_entry)


@unittest.skipUnless(harness.WINDOWS, "only the Windows program has these rules")
class WindowsProgramTest(harness.TestCase):

    def test_slash_question_mark_first_prints_the_help(self):
        for args in (["/?"], ["/?", "--bogus"], ["/?", "--nowait", "stray"]):
            with self.subTest(args=args):
                self.assert_run(args, HELP, 0)

    def test_slash_question_mark_later_is_an_argument_error(self):
        self.assert_run(["--nowait", "/?"],
                        'vrdskincfgw: unexpected argument "/?"\n'
                        "Try 'vrdskincfgw --help' for more information.\n"
                        + ABORTED + RETURN_PROMPT, 1)

    def test_argument_errors_read_as_on_linux(self):
        # The C runtime's own getopt_long words this one differently.
        self.assert_run(["--nowait=3"],
                        'vrdskincfgw: unexpected argument ""\n'
                        "Try 'vrdskincfgw --help' for more information.\n"
                        + ABORTED + RETURN_PROMPT, 1)

    def test_banner_names_the_windows_program(self):
        self.make_skin()
        out, code = self.run_program(["--nowait"], stdin="6\n")
        self.assertEqual(code, 0, out)
        self.assertTrue(out.startswith("vrdskincfgw (build 10)\n"), out)

    def test_entries_stored_in_another_form_are_found_and_rewritten_in_ours(self):
        # (make_skin options, name as stored, name the engine writes back)
        cases = [
            (["--backslash", "gui/pointer_normal.png"], "gui\\pointer_normal.png",
             "gui/pointer_normal.png"),
            (["--upper", "chat.xml=Chat.xml"], "Chat.xml", "chat.xml"),
            (["--upper", "gui/pointer_normal.png=GUI/Pointer_Normal.PNG"],
             "GUI/Pointer_Normal.PNG", "gui/pointer_normal.png"),
        ]
        for options, stored, rewritten in cases:
            with self.subTest(stored=stored):
                path = self.make_skin("vrd.zip", *options)
                self.assertIn(stored, harness.read_entries(path))
                # Detection reads the entry: every item shows its default.
                self.assert_run(["--nowait"], banner() + MENU + "\n" + harness.listing(), 0,
                                stdin="2\n")
                self.assert_run(["--nowait"], banner() + MENU + RESET, 0, stdin="3\ny\n")
                entries = harness.read_entries(path)
                self.assertNotIn(stored, entries)
                self.assertEqual(entries[rewritten], default_bytes(rewritten))
                self.assert_archive_ok(path)
                self.assertEqual([n for n in os.listdir(self.dir) if n.startswith(".vrd")], [],
                                 "working copy left behind")

    def test_export_writes_line_feeds_only(self):
        self.make_skin("vrd.zip", "--live", "1=1")
        self.assert_run(["--nowait"],
                        banner() + MENU + "\n" + harness.listing({1: 1}) + "\n"
                        + "Export this setup to file: vrd.cfg, [y]es [n]o ? "
                        + "File successfully written.\n", 0, stdin="5\ny\n")
        self.assertEqual(harness.file_bytes(self.path("vrd.cfg")), settings({1: 1}))

    def test_settings_file_with_carriage_returns_is_imported(self):
        # As a Windows editor saves it.
        path = self.make_skin()
        self.write_file("vrd.cfg", settings({1: 1, 18: 1}, newline=b"\r\n"))
        self.assert_run(["--import", "--nowait"],
                        banner() + "\nImporting settings from file: vrd.cfg\n\n"
                        + harness.listing({1: 1, 18: 1}) + "\nSuccessfully applied.\n", 0)
        entries = harness.read_entries(path)
        self.assertEqual(entries["chat.xml"], skin.entry_bytes(
            skin.item_by_id(1).values[1].entries[0]))
        self.assertEqual(entries["gui/pointer_normal.png"], skin.entry_bytes(
            skin.item_by_id(18).values[1].entries[0]))

    def test_backslashes_in_the_archive_path_are_folder_separators(self):
        self.make_skin("skins/My.zip")
        self.assert_run(["--nowait", "--skin=skins\\My.zip"],
                        banner("skins\\My.zip") + MENU + "\n" + harness.listing(), 0, stdin="2\n")


if __name__ == "__main__":
    harness.main()
