"""Crash safety of applying a setup to a large skin: a run killed at any
moment leaves the archive either exactly as it was or exactly as a complete
run leaves it, and a run ended by SIGINT or SIGTERM also removes its working
copy."""

import collections
import os
import random
import signal
import subprocess
import sys
import time
import unittest

import harness
from harness import skin

# Tens of MB in thousands of entries between the live ones, so that applying
# moves a lot of data and takes long enough to be hit.
FILLERS, FILLER_SIZE = 5000, 12000
KILLS = 30
# Every item away from its default; the slot-size group stays consistent.
TARGET = {item.id: (item.default + 1) % len(item.values) for item in skin.CATALOGUE}
TARGET.update({2: 1, 3: 1, 4: 3, 5: 3})
IMPORT = ["--import", "--nowait"]


def start(folder, args, sig=None):
    def child_setup():
        # Whoever started the tests may ignore the signal; the program keeps
        # an ignored signal ignored, so give it the default back.
        if sig is not None:
            signal.signal(sig, signal.SIG_DFL)
    return subprocess.Popen(harness.RUNNER + [harness.EXE] + args, cwd=folder,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, preexec_fn=child_setup)


class CrashSafetyTest(harness.TestCase):

    @classmethod
    def setUpClass(cls):
        if not harness.EXE:
            raise unittest.SkipTest("VRD_EXE is not set (run through ctest)")
        if harness.RUNNER or os.name != "posix":
            raise unittest.SkipTest("signals are sent to the program itself")
        cls.original = skin.build_skin(filler=FILLERS, filler_size=FILLER_SIZE)

    def setUp(self):
        super().setUp()
        self.archive = self.path("vrd.zip")
        self.write_file("vrd.cfg", harness.settings_text(TARGET))

    def restore(self):
        with open(self.archive, "wb") as f:
            f.write(self.original)

    def reference(self):
        """Output archive and duration of an undisturbed apply."""
        self.restore()
        before = harness.read_entries(self.archive)
        began = time.monotonic()
        proc = start(self.dir, IMPORT)
        self.assertEqual(proc.wait(timeout=60), 0)
        duration = time.monotonic() - began
        self.assert_applied(self.archive, TARGET, before)
        return harness.file_bytes(self.archive), duration

    def test_sigkill_at_any_moment_leaves_old_or_new_archive(self):
        applied, duration = self.reference()
        applied = harness.without_stamps(applied)
        listings = {"original": harness.listing(), "applied": harness.listing(TARGET)}
        rng = random.Random(1234)
        outcomes, left, reapplied = collections.Counter(), 0, False
        for _ in range(KILLS):
            self.restore()
            delay = rng.uniform(0, duration * 1.1)
            proc = start(self.dir, IMPORT)
            time.sleep(delay)
            proc.kill()
            proc.wait()
            data = harness.file_bytes(self.archive)
            if data == self.original:
                outcome = "original"
            else:
                self.assertTrue(harness.without_stamps(data) == applied,
                                "after SIGKILL at %.3f s the archive is neither the original "
                                "nor the applied one" % delay)
                outcome = "applied"
            outcomes[outcome] += 1
            strays = harness.stray_files(self.dir)
            left += len(strays)
            # The next run must not trip over what the killed one left, and
            # neither must the next apply.
            self.assert_run(["--nowait"], harness.banner() + harness.MENU + "\n"
                            + listings[outcome], 0, stdin="2\n")
            if strays and not reapplied:
                self.assertEqual(start(self.dir, IMPORT).wait(timeout=60), 0)
                self.assertTrue(harness.without_stamps(harness.file_bytes(self.archive))
                                == applied, "the apply beside a leftover went wrong")
                self.assertEqual(harness.stray_files(self.dir), strays)
                reapplied = True
            for name in strays:
                os.remove(self.path(name))
        print("\n%d SIGKILLs over %.3f s: %d original, %d applied, %d working copies left"
              % (KILLS, duration, outcomes["original"], outcomes["applied"], left),
              file=sys.stderr)

    def test_sigint_and_sigterm_remove_the_working_copy(self):
        for sig in (signal.SIGINT, signal.SIGTERM):
            # Early: while the copy is being made; late: once it is whole and
            # the setup is being written into it.
            for moment in ("early", "late"):
                with self.subTest(signal=sig.name, moment=moment):
                    self.restore()
                    proc = start(self.dir, IMPORT, sig)
                    self.wait_for_working_copy(proc, len(self.original) if moment == "late" else 0)
                    proc.send_signal(sig)
                    self.assertEqual(proc.wait(timeout=60), -sig)
                    self.assertEqual(harness.stray_files(self.dir), [])
                    self.assertTrue(harness.file_bytes(self.archive) == self.original,
                                    "the archive was changed")

    def wait_for_working_copy(self, proc, size):
        """Returns once a working copy of at least `size` bytes exists."""
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            for name in harness.stray_files(self.dir):
                try:
                    if os.path.getsize(self.path(name)) >= size:
                        return
                except FileNotFoundError:
                    pass
            self.assertIsNone(proc.poll(), "the run ended before it was caught applying")
        self.fail("no working copy appeared")


if __name__ == "__main__":
    harness.main()
