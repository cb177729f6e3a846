"""The main menu and its commands as a user sees them: whole transcripts of
Setup, Show, Reset and Exit, and what each leaves in the archive."""

import unittest

import harness
from harness import ABORTED, EOF, MENU, RETRY, TERMINATED, banner, skin

PICK = "Enter a number and press RETURN,\nor just press RETURN to leave it unchanged: "
APPLY = "Apply settings, [y]es [n]o ? "
RESET = "\nReset to default setup, [y]es [n]o ? "
DISPLAY_IDS = [skin.item_by_name(name).id for name in skin.DISPLAY_ORDER]
# A skin set up away from its defaults in most kinds of item.
LIVE = {1: 1, 6: 3, 11: 1, 14: 0, 15: 0, 16: 2, 17: 2, 18: 3, 21: 0}


def dialogue(item_id, live=LIVE, marks=None, size=None):
    """One item's choice list up to its prompt. `marks`: {position: marker} (default: live
    and default one); the layouts offer only slot size `size` (default: the live one)."""
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
    """(stdin, output after the menu) of command 1 up to its apply question. answers:
    {item id: lines typed, all but the last invalid} (default one RETURN); dialogues:
    where they differ from dialogue(); stop_before: the item at which input ends."""
    answers, dialogues = answers or {}, dialogues or {}
    stdin, out = "1\n", "\n"
    for item_id in DISPLAY_IDS:
        out += dialogues.get(item_id) or dialogue(item_id, live)
        if item_id == stop_before:
            return stdin, out
        typed = answers.get(item_id, [""])
        stdin += "".join(line + "\n" for line in typed)
        out += RETRY * (len(typed) - 1) + "\n"
    return stdin, out + APPLY


def slots(live, answers, size, inventory, small, applied):
    """A row in which the layouts offer only slot size `size`, marked as given."""
    stdin, out = setup(live, answers, {4: dialogue(4, marks=inventory, size=size),
                                       5: dialogue(5, marks=small, size=size)})
    return harness.live_options(live), stdin + "y\n", out + "Successfully applied.\n", applied


SETUP_IN, SETUP_OUT = setup()
# Study notes has five alternatives, Chat two.
PICKS_IN, PICKS_OUT = setup(answers={15: ["0", "6", "y", "05", "n", " 3", "3 ", "3"],
                                     1: ["3", "-1", "1"]})
PARTIAL_IN, PARTIAL_OUT = setup(stop_before=16)
EVERYTHING = [o for e in skin.live_entries() for o in ("--mismatch", e)]
CARRIED = {2: "default", 3: "active"}

# Runs that change the skin: skin options (None: LIVE), answers, output after
# the menu, positions applied.
APPLYING = [
    # Setup left unchanged rewrites the live setup.
    (None, SETUP_IN + "y\n", SETUP_OUT + "Successfully applied.\n", LIVE),
    (None, PICKS_IN + "y\n", PICKS_OUT + "Successfully applied.\n", {**LIVE, 15: 2, 1: 0}),
    # 42-slot 8-slot rows live, "Normal" picked: the layouts' 48-slot
    # counterparts are marked active and applied unless picked.
    slots({4: 1, 5: 1}, {2: ["2"]}, 48, CARRIED, CARRIED, {2: 1, 3: 1, 4: 3, 5: 3}),
    slots({4: 1, 5: 1}, {2: ["2"], 4: ["1"], 5: ["3", "2"]}, 48, CARRIED, CARRIED,
          {2: 1, 3: 1, 4: 2, 5: 3}),
    slots({2: 1, 3: 1, 4: 3, 5: 2}, {2: ["1"]}, 42, {0: "default", 1: "active"},
          {0: "active, default"}, {4: 1}),
    # A trade window that does not fit the slot size is set right.
    slots({3: 1}, {}, 42, {0: "active, default"}, {0: "active, default"}, {}),
    # Reset writes every default whatever is live.
    (EVERYTHING, "3\ny\n", RESET + "Reset successfully done.\n", {}),
]
# Runs that leave the skin as it was: skin options (None: LIVE), answers,
# output after the menu, exit status.
KEEPING = [
    (None, "0\n7\ny\n\n6\n", RETRY * 4 + TERMINATED, 0),
    (None, "n\n06\n 6\n6 \n100\n-6\nsix\n6\0x\n6\n", RETRY * 8 + TERMINATED, 0),
    (None, "2\n", "\n" + harness.listing(LIVE), 0),
    (["--mismatch", "gui/pointer_normal.png"], "2\n", "\nERROR: [vrdskincfg:#] "
     "GetCurrentValue(): Failed to get the current setting of Mouse cursor\n" + ABORTED, 1),
    (None, SETUP_IN + "n\n", SETUP_OUT + "No changes made.\n", 0),
    (None, SETUP_IN + "yes\nno\n\n y\ny \ny\0junk\nN\n", SETUP_OUT + RETRY * 6
     + "No changes made.\n", 0),
    (EVERYTHING, "3\nn\n", RESET + "No changes made.\n", 0),
    # End of input while a question waits.
    (None, PARTIAL_IN, PARTIAL_OUT + EOF + ABORTED, 1),
    (None, SETUP_IN + "yes\n", SETUP_OUT + RETRY + EOF + ABORTED, 1),
    (EVERYTHING, "3\n", RESET + EOF + ABORTED, 1),
]


class MenuTest(harness.TestCase):

    def run_menu(self, options, stdin, expected, status):
        self.make_skin("vrd.zip", *(options or harness.live_options(LIVE)))
        self.assert_run(["--nowait"], banner() + MENU + expected, status, stdin=stdin)

    def test_commands_that_change_the_skin(self):
        for options, stdin, expected, applied in APPLYING:
            with self.subTest(stdin=stdin[-20:], options=options):
                self.run_menu(options, stdin, expected, 0)
                self.assert_applied(applied)

    def test_commands_that_leave_the_skin(self):
        for options, stdin, expected, status in KEEPING:
            with self.subTest(stdin=stdin[-20:], options=options):
                self.run_menu(options, stdin, expected, status)
                self.assert_untouched()

    # Standard input closed: the skin, opened in its place, once answered the
    # menu with the lines it holds.
    @unittest.skipIf(harness.RUNNER, "a closed descriptor reaches Wine, not the program")
    def test_closed_input_reads_nothing_else(self):
        self.run_menu(EVERYTHING + ["--text", "answers.txt=\n3\ny\n"], None, EOF + ABORTED, 1)
        self.assert_untouched()


if __name__ == "__main__":
    harness.main()
