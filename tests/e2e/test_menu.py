"""The main menu and its commands as a user sees them: whole transcripts of
Setup, Show, Reset and Exit, and what each leaves in the archive."""

import harness
from harness import ABORTED, MENU, RETURN_PROMPT, TERMINATED, banner, skin

RETRY = "Invalid input, try again: "
PICK = "Enter a number and press RETURN,\nor just press RETURN to leave it unchanged: "
APPLY = "Apply settings, [y]es [n]o ? "
RESET = "Reset to default setup, [y]es [n]o ? "
EOF = "ERROR: Unexpected end of input.\n"
DISPLAY_IDS = [skin.item_by_name(name).id for name in skin.DISPLAY_ORDER]

# A skin set up away from its defaults in most kinds of item.
LIVE = {1: 1, 6: 3, 11: 1, 14: 0, 15: 0, 16: 2, 17: 2, 18: 3, 21: 0}


def dialogue(item_id, live=LIVE, marks=None, size=None):
    """The list one item's choice shows, up to its prompt. `marks` maps a
    position to its marker words; by default those of the live and the
    default alternative. The layouts offer only the live slot size's ones
    unless `size` says otherwise."""
    item = skin.item_by_id(item_id)
    if size is None:
        slots = skin.item_by_id(2)
        size = slots.values[live.get(2, slots.default)].slotsize if item_id in (4, 5) else -1
    if marks is None:
        active = live.get(item_id, item.default)
        marks = {active: "active"}
        marks[item.default] = "active, default" if item.default == active else "default"
    text = item.name + "\n"
    offered = [pos for pos, value in enumerate(item.values) if size in (-1, value.slotsize)]
    for number, pos in enumerate(offered, 1):
        tail = " [%s]" % marks[pos] if pos in marks else ""
        text += "  %d. %s%s\n" % (number, item.values[pos].label, tail)
    return text + PICK


def setup(live=LIVE, answers=None, dialogues=None, stop_before=None):
    """Standard input and expected output of command 1 up to its apply question.

    answers: {item id: lines typed} (default one RETURN; all but the last are
    invalid); dialogues: {item id: dialogue text} for lists that differ from
    dialogue(id, live); stop_before: the item at which input ends.
    """
    answers, dialogues = answers or {}, dialogues or {}
    stdin, out = "1\n", MENU + "\n"
    for item_id in DISPLAY_IDS:
        out += dialogues.get(item_id) or dialogue(item_id, live)
        if item_id == stop_before:
            return stdin, out
        typed = answers.get(item_id, [""])
        stdin += "".join(line + "\n" for line in typed)
        out += RETRY * (len(typed) - 1) + "\n"
    return stdin, out + APPLY


class MenuTest(harness.TestCase):

    def setUp(self):
        super().setUp()
        self.archive = self.make_skin("vrd.zip", *harness.live_options(LIVE))
        self.saved = harness.file_bytes(self.archive)
        self.before = harness.read_entries(self.archive)

    def reset_archive(self):
        with open(self.archive, "wb") as f:
            f.write(self.saved)

    def test_menu_takes_only_the_numbers_one_to_six(self):
        cases = [
            ("0\n7\ny\n\n6\n", 4),
            ("n\n06\n 6\n6 \n100\n-6\nsix\n6\n", 7),
            ("6\n", 0),
        ]
        for stdin, retries in cases:
            with self.subTest(stdin=stdin):
                self.assert_run(["--nowait"], banner() + MENU + RETRY * retries + TERMINATED, 0,
                                stdin=stdin)
                self.assert_untouched(self.archive, self.saved)

    def test_show_lists_the_live_setup(self):
        self.assert_run(["--nowait"], banner() + MENU + "\n" + harness.listing(LIVE), 0,
                        stdin="2\n")
        self.assert_untouched(self.archive, self.saved)

    def test_show_fails_on_a_live_entry_that_matches_nothing(self):
        path = self.make_skin("vrd.zip", "--mismatch", "gui/pointer_normal.png")
        saved = harness.file_bytes(path)
        self.assert_run(["--nowait"], banner() + MENU + "\n" + "ERROR: [vrdskincfg:#] "
                        "GetCurrentValue(): Failed to get the current setting of Mouse cursor\n"
                        + ABORTED, 1, stdin="2\n")
        self.assert_untouched(path, saved)

    def test_setup_left_unchanged_rewrites_the_live_setup_or_nothing(self):
        stdin, out = setup()
        cases = [
            (["y"], "Successfully applied.\n", True),
            (["n"], "No changes made.\n", False),
            (["yes", "no", "", " y", "y ", "N"], RETRY * 5 + "No changes made.\n", False),
        ]
        for typed, tail, applied in cases:
            with self.subTest(typed=typed):
                self.reset_archive()
                self.assert_run(["--nowait"], banner() + out + tail, 0,
                                stdin=stdin + "".join(t + "\n" for t in typed))
                if applied:
                    self.assert_applied(self.archive, LIVE, self.before)
                else:
                    self.assert_untouched(self.archive, self.saved)

    def test_invalid_choices_are_asked_again(self):
        # Study notes has five alternatives, Chat two.
        stdin, out = setup(answers={15: ["0", "6", "y", "05", "n", " 3", "3 ", "3"],
                                    1: ["3", "-1", "1"]})
        self.assert_run(["--nowait"], banner() + out + "Successfully applied.\n", 0,
                        stdin=stdin + "y\n")
        self.assert_applied(self.archive, {**LIVE, 15: 2, 1: 0}, self.before)

    def test_slot_size_carries_the_layouts_and_the_trade_window(self):
        carried = {2: "default", 3: "active"}
        cases = [
            # 42-slot 8-slot rows live, "Normal" picked, layouts left as they
            # are: their 48-slot counterparts are marked active and applied.
            ({4: 1, 5: 1}, {2: ["2"]}, 48, carried, carried, {2: 1, 3: 1, 4: 3, 5: 3}),
            # The same with layouts picked from the two offered.
            ({4: 1, 5: 1}, {2: ["2"], 4: ["1"], 5: ["3", "2"]}, 48, carried, carried,
             {2: 1, 3: 1, 4: 2, 5: 3}),
            # Back from 48 to 42: the defaults need no carrying over.
            ({2: 1, 3: 1, 4: 3, 5: 2}, {2: ["1"]}, 42, {0: "default", 1: "active"},
             {0: "active, default"}, {4: 1}),
            # A trade window that does not fit the slot size is set right
            # although the slot size stays.
            ({3: 1}, {}, 42, {0: "active, default"}, {0: "active, default"}, {}),
            ({2: 1}, {}, 48, {2: "active, default"}, {2: "active, default"},
             {2: 1, 3: 1, 4: 2, 5: 2}),
        ]
        for live, answers, size, inventory, small, applied in cases:
            with self.subTest(live=live, answers=answers):
                path = self.make_skin("vrd.zip", *harness.live_options(live))
                before = harness.read_entries(path)
                stdin, out = setup(live, answers, {4: dialogue(4, marks=inventory, size=size),
                                                   5: dialogue(5, marks=small, size=size)})
                self.assert_run(["--nowait"], banner() + out + "Successfully applied.\n", 0,
                                stdin=stdin + "y\n")
                self.assert_applied(path, applied, before)

    def test_reset_writes_every_default_whatever_is_live(self):
        everything = []
        for entry in skin.live_entries():
            everything += ["--mismatch", entry]
        cases = [
            (everything, "y\n", "Reset successfully done.\n"),
            (harness.live_options(LIVE), "y\n", "Reset successfully done.\n"),
            (everything, "n\n", "No changes made.\n"),
            (harness.live_options(LIVE), "\nyes\nn\n", RETRY * 2 + "No changes made.\n"),
        ]
        for options, answer, tail in cases:
            with self.subTest(options=options[:2], answer=answer):
                path = self.make_skin("vrd.zip", *options)
                saved, before = harness.file_bytes(path), harness.read_entries(path)
                self.assert_run(["--nowait"], banner() + MENU + "\n" + RESET + tail, 0,
                                stdin="3\n" + answer)
                if tail.startswith("Reset"):
                    self.assert_applied(path, {}, before)
                else:
                    self.assert_untouched(path, saved)

    def test_end_of_input_while_a_question_waits_aborts_untouched(self):
        full, out = setup()
        partial, partial_out = setup(stop_before=16)
        cases = [
            (["--nowait"], partial, partial_out + EOF + ABORTED),
            (["--nowait"], full, out + EOF + ABORTED),
            (["--nowait"], full + "yes\n", out + RETRY + EOF + ABORTED),
            (["--nowait"], "3\n", MENU + "\n" + RESET + EOF + ABORTED),
            ([], "3\n", MENU + "\n" + RESET + EOF + ABORTED + RETURN_PROMPT),
        ]
        for args, stdin, expected in cases:
            with self.subTest(args=args, stdin=stdin[-12:]):
                self.assert_run(args, banner() + expected, 1, stdin=stdin)
                self.assert_untouched(self.archive, self.saved)


if __name__ == "__main__":
    harness.main()
