"""Command line, help text, argument errors and the end of standard input."""

import harness
from harness import ABORTED, EOF, HELP, MENU, RETRY, RETURN_PROMPT, TERMINATED, banner


class CommandLineTest(harness.TestCase):

    def test_help_wins_and_ends_the_run_quietly(self):
        for args in (["--help"], ["--help", "--bogus"], ["--bogus", "--help"],
                     ["--skin=x.zi", "--help"], ["--help", "--help"], ["--help", "stray"]):
            with self.subTest(args=args):
                self.assert_run(args, HELP, 0)

    def test_parse_errors_abort_and_always_wait(self):
        cases = [
            (["--bogus", "--nowait"], '{prog}: invalid option "--bogus"\n'),
            (["--skin=a.zip", "--skin=b.zip", "--nowait"], "{prog}: excess option --skin=b.zip\n"),
            (["--nowait", "--nowait"], "{prog}: extraneous option --nowait\n"),
            (["vrd.zip", "--nowait"], '{prog}: unexpected argument "vrd.zip"\n'),
            (["x", "y"], '{prog}: unexpected argument "x"\n{prog}: unexpected argument "y"\n'),
            (["--nowait", "--skin"], '{prog}: option "--skin" requires an argument\n'),
            (["--nowait=3"], '{prog}: unexpected argument ""\n'),
            # Only the Windows program takes a leading "/?" for the help.
            (["--nowait", "/?"] if harness.WINDOWS else ["/?"],
             '{prog}: unexpected argument "/?"\n'),
        ]
        for args, errors in cases:
            with self.subTest(args=args):
                self.assert_run(args, errors + "Try '{prog} --help' for more information.\n"
                                + ABORTED + RETURN_PROMPT, 1)

    def test_archive_names_and_lengths(self):
        too_long = "ERROR: Filename too long (max. 255 characters): '%s'.\n"
        cases = [("--skin=", name, "ERROR: Invalid zip-archive filename: '%s'.\n" % name)
                 for name in (".zip", "x.zi", "archive.zip.bak", "dir/.zip", "a .zip", "a\\.zip",
                              "A .ZIP", "zip")]
        cases += [("--skin=", "a" * 252 + ".zip", too_long % ("a" * 252 + ".zip")),
                  ("--ie=", "c" * 256, too_long % ("c" * 256)),
                  ("--skin=", "a" * 251 + ".zip", banner("a" * 251 + ".zip")
                   + harness.not_found("a" * 251 + ".zip"))]
        for option, value, expected in cases:
            with self.subTest(option=option, value=value[:8], length=len(value)):
                self.assert_run(["--nowait", option + value], expected + ABORTED, 1)

    def test_accepted_names_and_end_of_input(self):
        cases = [  # archive (None: the default), arguments, answers, output after the menu, status
            ("Skins.ZIP", ["--nowait", "--skin", "Skins.ZIP"], "6\n", TERMINATED, 0),
            ("a.zip", ["--nowait", "--skin", "a.zip"], "6\n", TERMINATED, 0),
            ("sub/My.Zip", ["--nowait", "--skin", "sub/My.Zip"], "6\n", TERMINATED, 0),
            # At the final prompt it is no error; at the menu it is.
            (None, [], "6\n", TERMINATED + RETURN_PROMPT, 0),
            (None, [], "6\nanything\n", TERMINATED + RETURN_PROMPT, 0),
            (None, ["--nowait"], "", EOF + ABORTED, 1),
            (None, [], "", EOF + ABORTED + RETURN_PROMPT, 1),
            (None, ["--nowait"], "0\n7\ny\n\n", RETRY * 4 + EOF + ABORTED, 1),
        ]
        for name, args, stdin, expected, status in cases:
            with self.subTest(args=args, stdin=stdin):
                self.make_skin(name or "vrd.zip")
                self.assert_run(args, banner(name) + MENU + expected, status, stdin=stdin)
                self.assert_untouched()


if __name__ == "__main__":
    harness.main()
