"""The main menu and its commands as a user sees them: whole transcripts of
Setup, Show, Reset and Exit, and what each leaves in the archive."""

import harness
from harness import ABORTED, EOF, MENU, RETRY, RETURN_PROMPT, TERMINATED, banner, skin

PICK = "Enter a number and press RETURN,\nor just press RETURN to leave it unchanged: "
APPLY = "Apply settings, [y]es [n]o ? "
RESET = MENU + "\nReset to default setup, [y]es [n]o ? "
DISPLAY_IDS = [skin.item_by_name(name).id for name in skin.DISPLAY_ORDER]
# A skin set up away from its defaults in most kinds of item.
LIVE = {1: 1, 6: 3, 11: 1, 14: 0, 15: 0, 16: 2, 17: 2, 18: 3, 21: 0}


def dialogue(item_id, live=LIVE, marks=None, size=None):
    """One item's choice list up to its prompt. `marks` maps a position to its
    marker (default: the live and the default one); the layouts offer only the
    slot size `size` (default: the live one)."""
    item = skin.item_by_id(item_id)
    if size is None:
        slots = skin.item_by_id(2)
        size = slots.values[live.get(2, slots.default)].slotsize if item_id in (4, 5) else -1
    if marks is None:
        active = live.get(item_id, item.default)
        marks = {active: "active"}
        marks[item.default] = "active, default" if item.default == active else "default"
    offered = [pos for pos, value in enumerate(item.values) if size in (-1, value.slotsize)]
    return item.name + "\n" + "".join("  %d. %s%s\n" % (
        number, item.values[pos].label, " [%s]" % marks[pos] if pos in marks else "")
        for number, pos in enumerate(offered, 1)) + PICK


def setup(live=LIVE, answers=None, dialogues=None, stop_before=None):
    """(stdin, output) of command 1 up to its apply question. answers: {item id:
    lines typed, all but the last invalid} (default one RETURN); dialogues:
    {item id: list} where it differs from dialogue(); stop_before: the item at
    which input ends."""
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
        self.make_skin("vrd.zip", *harness.live_options(LIVE))

    def test_menu_show_and_exit(self):
        cases = [
            ("0\n7\ny\n\n6\n", RETRY * 4 + TERMINATED, 0),
            ("n\n06\n 6\n6 \n100\n-6\nsix\n6\n", RETRY * 7 + TERMINATED, 0),
            ("2\n", "\n" + harness.listing(LIVE), 0),
        ]
        for stdin, expected, status in cases:
            with self.subTest(stdin=stdin):
                self.assert_run(["--nowait"], banner() + MENU + expected, status, stdin=stdin)
                self.assert_untouched()

    def test_show_fails_on_a_live_entry_that_matches_nothing(self):
        self.make_skin("vrd.zip", "--mismatch", "gui/pointer_normal.png")
        self.assert_run(["--nowait"], banner() + MENU + "\nERROR: [vrdskincfg:#] GetCurrentValue()"
                        ": Failed to get the current setting of Mouse cursor\n" + ABORTED, 1,
                        stdin="2\n")
        self.assert_untouched()

    def test_setup_left_unchanged_rewrites_the_live_setup_or_nothing(self):
        stdin, out = setup()
        for typed, tail in (("y\n", "Successfully applied.\n"), ("n\n", "No changes made.\n"),
                            ("yes\nno\n\n y\ny \nN\n", RETRY * 5 + "No changes made.\n")):
            with self.subTest(typed=typed):
                self.restore()
                self.assert_run(["--nowait"], banner() + out + tail, 0, stdin=stdin + typed)
                if typed == "y\n":
                    self.assert_applied(LIVE)
                else:
                    self.assert_untouched()

    def test_invalid_choices_are_asked_again(self):
        # Study notes has five alternatives, Chat two.
        stdin, out = setup(answers={15: ["0", "6", "y", "05", "n", " 3", "3 ", "3"],
                                    1: ["3", "-1", "1"]})
        self.assert_run(["--nowait"], banner() + out + "Successfully applied.\n", 0,
                        stdin=stdin + "y\n")
        self.assert_applied({**LIVE, 15: 2, 1: 0})

    def test_slot_size_carries_the_layouts_and_the_trade_window(self):
        carried = {2: "default", 3: "active"}
        cases = [  # live, answers, slot size, layout markers, applied
            # 42-slot 8-slot rows live, "Normal" picked: the layouts' 48-slot
            # counterparts are marked active and applied unless picked.
            ({4: 1, 5: 1}, {2: ["2"]}, 48, carried, carried, {2: 1, 3: 1, 4: 3, 5: 3}),
            ({4: 1, 5: 1}, {2: ["2"], 4: ["1"], 5: ["3", "2"]}, 48, carried, carried,
             {2: 1, 3: 1, 4: 2, 5: 3}),
            ({2: 1, 3: 1, 4: 3, 5: 2}, {2: ["1"]}, 42, {0: "default", 1: "active"},
             {0: "active, default"}, {4: 1}),
            # A trade window that does not fit the slot size is set right.
            ({3: 1}, {}, 42, {0: "active, default"}, {0: "active, default"}, {}),
        ]
        for live, answers, size, inventory, small, applied in cases:
            with self.subTest(live=live, answers=answers):
                self.make_skin("vrd.zip", *harness.live_options(live))
                stdin, out = setup(live, answers, {4: dialogue(4, marks=inventory, size=size),
                                                   5: dialogue(5, marks=small, size=size)})
                self.assert_run(["--nowait"], banner() + out + "Successfully applied.\n", 0,
                                stdin=stdin + "y\n")
                self.assert_applied(applied)

    def test_reset_writes_every_default_whatever_is_live(self):
        self.make_skin("vrd.zip", *[o for e in skin.live_entries() for o in ("--mismatch", e)])
        self.assert_run(["--nowait"], banner() + RESET + "No changes made.\n", 0, stdin="3\nn\n")
        self.assert_untouched()
        self.assert_run(["--nowait"], banner() + RESET + "Reset successfully done.\n", 0,
                        stdin="3\ny\n")
        self.assert_applied({})

    def test_end_of_input_while_a_question_waits_aborts_untouched(self):
        full, out = setup()
        partial, partial_out = setup(stop_before=16)
        cases = [
            (["--nowait"], partial, partial_out + EOF + ABORTED),
            (["--nowait"], full + "yes\n", out + RETRY + EOF + ABORTED),
            ([], "3\n", RESET + EOF + ABORTED + RETURN_PROMPT),
        ]
        for args, stdin, expected in cases:
            with self.subTest(args=args, stdin=stdin[-12:]):
                self.assert_run(args, banner() + expected, 1, stdin=stdin)
                self.assert_untouched()


if __name__ == "__main__":
    harness.main()
