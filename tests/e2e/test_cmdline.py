"""Command line, help text, argument errors and the end of standard input."""

import harness
from harness import ABORTED, MENU, RETURN_PROMPT, TERMINATED, banner

HELP = ("Usage: {prog} [--skin=<file>] [--ie=<file>] [--import] [--nowait] [--help]\n"
        + "".join("  %-20s %s\n" % pair for pair in (
            ("--skin=<file>", "skin zip-archive file"),
            ("--ie=<file>", "import/export file"),
            ("--import", "import setup, apply and exit"),
            ("--nowait", "don't wait for a keypress on exit"),
            ("--help", "print this help and exit"))))
TRY_HELP = "Try '{prog} --help' for more information.\n"


class CommandLineTest(harness.TestCase):

    def test_help_wins_and_ends_the_run_quietly(self):
        for args in (["--help"], ["--help", "--bogus"], ["--bogus", "--help"],
                     ["--skin=x.zi", "--help"], ["--help", "--help"], ["--help", "stray"]):
            with self.subTest(args=args):
                self.assert_run(args, HELP, 0)

    def test_parse_errors_abort_and_always_wait(self):
        cases = [
            (["--bogus"], '{prog}: invalid option "--bogus"\n'),
            (["--bogus", "--nowait"], '{prog}: invalid option "--bogus"\n'),
            (["--skin=a.zip", "--skin=b.zip", "--nowait"], "{prog}: excess option --skin=b.zip\n"),
            (["--skin", "a.zip", "--skin", "b.zip"], "{prog}: excess option --skin=b.zip\n"),
            (["--nowait", "--nowait"], "{prog}: extraneous option --nowait\n"),
            (["vrd.zip", "--nowait"], '{prog}: unexpected argument "vrd.zip"\n'),
            (["x", "y"], '{prog}: unexpected argument "x"\n{prog}: unexpected argument "y"\n'),
            (["--nowait", "--skin"], '{prog}: option "--skin" requires an argument\n'),
        ]
        if not harness.WINDOWS:
            cases.append((["/?"], '{prog}: unexpected argument "/?"\n'))
        for args, errors in cases:
            with self.subTest(args=args):
                self.assert_run(args, errors + TRY_HELP + ABORTED + RETURN_PROMPT, 1)

    def test_invalid_archive_names_are_refused_after_nowait_took_effect(self):
        for name in (".zip", "x.zi", "archive.zip.bak", "dir/.zip", "a .zip", "a\\.zip",
                     "A .ZIP", "zip"):
            with self.subTest(name=name):
                self.assert_run(["--nowait", "--skin=" + name],
                                "ERROR: Invalid zip-archive filename: '%s'.\n" % name + ABORTED, 1)

    def test_accepted_archive_names_reach_the_menu(self):
        for name in ("Skins.ZIP", "a.zip", "sub/My.Zip"):
            with self.subTest(name=name):
                path = self.make_skin(name)
                saved = harness.file_bytes(path)
                self.assert_run(["--skin", name, "--nowait"], banner(name) + MENU + TERMINATED, 0,
                                stdin="6\n")
                self.assert_unchanged(path, saved)

    def test_default_archive_prints_no_skin_file_line(self):
        self.make_skin()
        self.assert_run(["--nowait"], banner() + MENU + TERMINATED, 0, stdin="6\n")

    def test_values_longer_than_a_path_are_refused(self):
        name = "a" * 252 + ".zip"  # 256 characters
        for args in (["--nowait", "--skin=" + name], ["--nowait", "--ie=" + "c" * 256],
                     ["--nowait", "--skin=" + "b" * 300]):
            value = args[1].split("=", 1)[1]
            with self.subTest(length=len(value), option=args[1][:5]):
                self.assert_run(args, "ERROR: Filename too long (max. 255 characters): '%s'.\n"
                                % value + ABORTED, 1)

    def test_a_path_of_255_characters_is_used(self):
        name = "a" * 251 + ".zip"
        self.assert_run(["--nowait", "--skin=" + name],
                        banner(name)
                        + "ERROR: File not found: %s\n" % name
                        + "This program must be started from the folder where the %s file is in.\n"
                        % name + "Also check file permissions of %s\n" % name + ABORTED, 1)


class EndOfInputTest(harness.TestCase):

    def setUp(self):
        super().setUp()
        self.make_skin()

    def test_end_of_input_at_the_final_prompt_is_no_error(self):
        for stdin in ("6\n", "6\n\n", "6\nanything\n"):
            with self.subTest(stdin=stdin):
                self.assert_run([], banner() + MENU + TERMINATED + RETURN_PROMPT, 0, stdin=stdin)

    def test_end_of_input_at_the_menu_fails(self):
        eof = "ERROR: Unexpected end of input.\n" + ABORTED
        retry = "Invalid input, try again: "
        cases = [
            (["--nowait"], "", MENU + eof),
            ([], "", MENU + eof + RETURN_PROMPT),
            (["--nowait"], "0\n7\ny\n\n", MENU + retry * 4 + eof),
        ]
        for args, stdin, expected in cases:
            with self.subTest(args=args, stdin=stdin):
                self.assert_run(args, banner() + expected, 1, stdin=stdin)


if __name__ == "__main__":
    harness.main()
