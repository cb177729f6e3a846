"""A run applying a setup to a large skin, killed or interrupted at any
moment, leaves the archive as it was or as a complete run leaves it, and no
working file behind."""

import os
import random
import shutil
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

    def measure(self):
        """The duration of an undisturbed run, and the archive it leaves."""
        self.restore()
        began = time.monotonic()
        self.assertEqual(self.start().wait(timeout=60), 0)
        duration = time.monotonic() - began
        self.assert_applied(TARGET)
        return duration, without_stamps(file_bytes(self.archive))

    def interrupt(self, sig, delay, applied):
        """Sends `sig` after `delay` seconds; True when the archive was kept."""
        self.restore()
        proc = self.start(None if sig == signal.SIGKILL else sig)
        time.sleep(delay)
        proc.send_signal(sig)
        status = proc.wait(timeout=60)
        data = file_bytes(self.archive)
        kept = data == self.original
        self.assertTrue(kept or without_stamps(data) == applied,
                        "after %s at %.3f s the archive is neither the original nor the "
                        "applied one" % (sig.name, delay))
        self.assertIn(status, (-sig, 0) if not kept else (-sig,))
        # Nothing can clean up after SIGKILL: a named working file (where the
        # file system has no unnamed ones) stays until the next writing run.
        if sig != signal.SIGKILL:
            self.assertEqual(stray_files(self.dir), [], "working file left after " + sig.name)
        return kept

    def test_sigkill_at_any_moment_leaves_old_or_new_archive(self):
        duration, applied = self.measure()
        rng, originals = random.Random(1234), 0
        for _ in range(KILLS):
            kept = self.interrupt(signal.SIGKILL, rng.uniform(0, duration * 1.1), applied)
            originals += kept
            # The next run must not trip over anything the killed one left.
            self.assert_run(["--nowait"], harness.banner() + harness.MENU + "\n"
                            + harness.listing(None if kept else TARGET), 0, stdin="2\n")
        left = stray_files(self.dir)
        self.restore()
        self.assertEqual(self.start().wait(timeout=60), 0)
        self.assertEqual(stray_files(self.dir), [], "the next writing run left old working files")
        print("\n%d SIGKILLs over %.3f s: %d original, %d applied, %d working files left"
              % (KILLS, duration, originals, KILLS - originals, len(left)), file=sys.stderr)

    def test_interrupting_signals_end_the_run_cleanly(self):
        # Ctrl+C, kill, a closed terminal, a closed output pipe, Ctrl+\.
        duration, applied = self.measure()
        rng = random.Random(4321)
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGPIPE, signal.SIGQUIT):
            for _ in range(3):
                with self.subTest(signal=sig.name):
                    self.interrupt(sig, rng.uniform(0, duration * 0.9), applied)

    @unittest.skipIf(shutil.which("strace") is None, "strace is not installed")
    def test_interrupted_export_leaves_the_old_file_and_nothing_else(self):
        self.make_skin()
        old = file_bytes(self.path("vrd.cfg"))
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=sig.name):
                # The export is held in its first fsync, the settings written
                # but not in place, while the signal arrives.
                proc = subprocess.Popen(
                    ["strace", "-f", "-qq", "-o", os.devnull, "-e",
                     "inject=fsync:delay_enter=1500000:when=1", harness.EXE, "--nowait"],
                    cwd=self.dir, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                    preexec_fn=lambda: signal.signal(sig, signal.SIG_DFL))
                proc.stdin.write(b"5\ny\ny\n")
                proc.stdin.flush()
                time.sleep(0.7)
                with open("/proc/%d/task/%d/children" % (proc.pid, proc.pid)) as f:
                    os.kill(int(f.read().split()[0]), sig)
                proc.stdin.close()
                proc.wait(timeout=60)
                self.assertEqual(file_bytes(self.path("vrd.cfg")), old)
                self.assertEqual(stray_files(self.dir), [], "working file left after " + sig.name)


if __name__ == "__main__":
    harness.main()
