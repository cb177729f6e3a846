"""A run applying a setup to a large skin, killed at any moment, leaves the
archive as it was or as a complete run leaves it; SIGINT and SIGTERM also
remove the working copy."""

import os
import random
import signal
import struct
import subprocess
import sys
import time
import unittest

import harness
from harness import file_bytes, skin, stray_files

# Tens of MB in thousands of entries between the live ones, so that applying
# moves a lot of data and takes long enough to be hit.
FILLERS, FILLER_SIZE = 5000, 12000
KILLS = 20
# Every item away from its default; the slot-size group stays consistent.
TARGET = {item.id: (item.default + 1) % len(item.values) for item in skin.CATALOGUE}
TARGET.update({2: 1, 3: 1, 4: 3, 5: 3})


def without_stamps(data):
    """The archive with times and dates zeroed: rewritten entries carry the run's."""
    data, eocd = bytearray(data), data.rfind(b"PK\x05\x06")
    if eocd < 0:
        return bytes(data)  # not an archive: equal to neither
    count, _, pos = struct.unpack_from("<HII", data, eocd + 10)
    for _ in range(count):
        nlen, xlen, clen, _, _, _, local = struct.unpack_from("<HHHHHII", data, pos + 28)
        data[pos + 12:pos + 16] = data[local + 10:local + 14] = bytes(4)
        pos += 46 + nlen + xlen + clen
    return bytes(data)


class CrashSafetyTest(harness.TestCase):

    @classmethod
    def setUpClass(cls):
        if not harness.EXE or harness.RUNNER or os.name != "posix":
            raise unittest.SkipTest("needs the program itself (not a runner) to send signals to")
        cls.original = skin.build_skin(filler=FILLERS, filler_size=FILLER_SIZE)

    def setUp(self):
        super().setUp()
        self.archive, self.saved = self.path("vrd.zip"), self.original
        self.write_file("vrd.cfg", harness.settings_text(TARGET))

    def start(self, sig=None):
        """Starts an unattended import. Whoever started the tests may ignore `sig`,
        and the program keeps an ignored signal ignored: give it the default back."""
        return subprocess.Popen([harness.EXE, "--import", "--nowait"], cwd=self.dir,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.STDOUT,
                                preexec_fn=sig and (lambda: signal.signal(sig, signal.SIG_DFL)))

    def test_sigkill_at_any_moment_leaves_old_or_new_archive(self):
        self.restore()
        began = time.monotonic()
        self.assertEqual(self.start().wait(timeout=60), 0)
        duration = time.monotonic() - began
        self.assert_applied(TARGET)
        applied = without_stamps(file_bytes(self.archive))
        rng, originals, left, reapplied = random.Random(1234), 0, 0, False
        for _ in range(KILLS):
            self.restore()
            delay = rng.uniform(0, duration * 1.1)
            proc = self.start()
            time.sleep(delay)
            proc.kill()
            proc.wait()
            data = file_bytes(self.archive)
            kept = data == self.original
            self.assertTrue(kept or without_stamps(data) == applied,
                            "after SIGKILL at %.3f s the archive is neither the original nor the "
                            "applied one" % delay)
            originals += kept
            strays = stray_files(self.dir)
            left += len(strays)
            # Neither the next run nor the next apply may trip over a leftover.
            self.assert_run(["--nowait"], harness.banner() + harness.MENU + "\n"
                            + harness.listing(None if kept else TARGET), 0, stdin="2\n")
            if strays and not reapplied:
                self.assertEqual(self.start().wait(timeout=60), 0)
                self.assertTrue(without_stamps(file_bytes(self.archive)) == applied,
                                "the apply beside a leftover went wrong")
                self.assertEqual(stray_files(self.dir), strays)
                reapplied = True
            for name in strays:
                os.remove(self.path(name))
        print("\n%d SIGKILLs over %.3f s: %d original, %d applied, %d working copies left"
              % (KILLS, duration, originals, KILLS - originals, left), file=sys.stderr)

    def test_sigint_and_sigterm_remove_the_working_copy(self):
        # Early: while the copy is made; late: once it is whole and being written into.
        for sig in (signal.SIGINT, signal.SIGTERM):
            for size in (0, len(self.original)):
                with self.subTest(signal=sig.name, late=size > 0):
                    self.restore()
                    proc = self.start(sig)
                    self.wait_for_working_copy(proc, size)
                    proc.send_signal(sig)
                    self.assertEqual(proc.wait(timeout=60), -sig)
                    self.assert_untouched()

    def wait_for_working_copy(self, proc, size):
        """Returns once a working copy of at least `size` bytes exists."""
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            for name in stray_files(self.dir):
                try:
                    if os.path.getsize(self.path(name)) >= size:
                        return
                except FileNotFoundError:
                    pass
            self.assertIsNone(proc.poll(), "the run ended before it was caught applying")
        self.fail("no working copy appeared")


if __name__ == "__main__":
    harness.main()
