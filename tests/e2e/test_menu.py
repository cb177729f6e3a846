"""The main menu and its commands as a user sees them: whole transcripts of
Setup, Show, Reset and Exit, and what each leaves in the archive."""

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
    return harness.live_options(live), stdin + "y\n", out + "Successfully applied.\n", 0, applied


class MenuTest(harness.TestCase):

    def test_menu_commands(self):
        setup_in, setup_out = setup()
        # Study notes has five alternatives, Chat two.
        picks_in, picks_out = setup(answers={15: ["0", "6", "y", "05", "n", " 3", "3 ", "3"],
                                             1: ["3", "-1", "1"]})
        partial_in, partial_out = setup(stop_before=16)
        everything = [o for e in skin.live_entries() for o in ("--mismatch", e)]
        carried = {2: "default", 3: "active"}
        cases = [  # skin options (None: LIVE), answers, output after the menu, status, applied
            (None, "0\n7\ny\n\n6\n", RETRY * 4 + TERMINATED, 0, None),
            (None, "n\n06\n 6\n6 \n100\n-6\nsix\n6\0x\n6\n", RETRY * 8 + TERMINATED, 0, None),
            (None, "2\n", "\n" + harness.listing(LIVE), 0, None),
            (["--mismatch", "gui/pointer_normal.png"], "2\n", "\nERROR: [vrdskincfg:#] "
             "GetCurrentValue(): Failed to get the current setting of Mouse cursor\n" + ABORTED,
             1, None),
            # Setup left unchanged rewrites the live setup, or nothing.
            (None, setup_in + "y\n", setup_out + "Successfully applied.\n", 0, LIVE),
            (None, setup_in + "n\n", setup_out + "No changes made.\n", 0, None),
            (None, setup_in + "yes\nno\n\n y\ny \ny\0junk\nN\n", setup_out + RETRY * 6
             + "No changes made.\n", 0, None),
            (None, picks_in + "y\n", picks_out + "Successfully applied.\n", 0,
             {**LIVE, 15: 2, 1: 0}),
            # 42-slot 8-slot rows live, "Normal" picked: the layouts' 48-slot
            # counterparts are marked active and applied unless picked.
            slots({4: 1, 5: 1}, {2: ["2"]}, 48, carried, carried, {2: 1, 3: 1, 4: 3, 5: 3}),
            slots({4: 1, 5: 1}, {2: ["2"], 4: ["1"], 5: ["3", "2"]}, 48, carried, carried,
                  {2: 1, 3: 1, 4: 2, 5: 3}),
            slots({2: 1, 3: 1, 4: 3, 5: 2}, {2: ["1"]}, 42, {0: "default", 1: "active"},
                  {0: "active, default"}, {4: 1}),
            # A trade window that does not fit the slot size is set right.
            slots({3: 1}, {}, 42, {0: "active, default"}, {0: "active, default"}, {}),
            # Reset writes every default whatever is live.
            (everything, "3\nn\n", RESET + "No changes made.\n", 0, None),
            (everything, "3\ny\n", RESET + "Reset successfully done.\n", 0, {}),
            # End of input while a question waits.
            (None, partial_in, partial_out + EOF + ABORTED, 1, None),
            (None, setup_in + "yes\n", setup_out + RETRY + EOF + ABORTED, 1, None),
            (everything, "3\n", RESET + EOF + ABORTED, 1, None),
            # Standard input closed: the skin, opened in its place, once answered
            # the menu with the lines it holds.
            (everything + ["--text", "answers.txt=\n3\ny\n"], None, EOF + ABORTED, 1, None),
        ]
        for options, stdin, expected, status, applied in cases:
            with self.subTest(stdin=stdin and stdin[-20:], options=options):
                if stdin is None and harness.RUNNER:
                    self.skipTest("a closed descriptor reaches Wine, not the program")
                self.make_skin("vrd.zip", *(options or harness.live_options(LIVE)))
                self.assert_run(["--nowait"], banner() + MENU + expected, status, stdin=stdin)
                if applied is None:
                    self.assert_untouched()
                else:
                    self.assert_applied(applied)


if __name__ == "__main__":
    harness.main()
