"""Many runs on one skin at once, some of them killed: every run does its
work, or is refused naming another program, or was killed; the skin stays
sound and holds one of the setups written. VRD_LOAD_SECONDS sets how long
the load lasts (default 20)."""

import collections
import os
import random
import signal
import subprocess
import sys
import threading
import time
import unittest

import harness
from harness import ABORTED, read_entries, settings_text, skin

SECONDS = float(os.environ.get("VRD_LOAD_SECONDS", "20"))
WRITERS, READERS, KILLED_SHARE = 5, 2, 0.2
# Whole setups (item id: position); the first is the default a reset writes.
SETUPS = [{}, {1: 1, 6: 2, 18: 3}, {7: 1, 15: 0, 17: 2}, {2: 1, 3: 1, 4: 2, 5: 2, 11: 1}]
OTHER_PROGRAM = ("Another program changed the archive after it was read: vrd.zip\n",
                 "Another program is using the archive: vrd.zip\n")


def setup_of(entries):
    """The position of each item whose live entries hold one of its alternatives (an item
    whose live entries hold none is left out)."""
    return {item.id: pos for item in skin.CATALOGUE for pos, value in enumerate(item.values)
            if all(entries.get(live) == skin.entry_bytes(alt)
                   for live, alt in zip(item.live, value.entries))}


def full(setup):
    return {item.id: setup.get(item.id, item.default) for item in skin.CATALOGUE}


@unittest.skipIf(harness.RUNNER or os.name != "posix", "signals and timing of POSIX processes")
class LoadTest(harness.TestCase):

    def run_one(self, rng, args, stdin, kill_share=KILLED_SHARE):
        """(exit status, output, whether a signal was sent): a share of the runs get SIGKILL
        or SIGTERM at a random moment."""
        with subprocess.Popen([harness.EXE] + args, cwd=self.dir, stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT) as proc:
            try:
                out = proc.communicate(stdin.encode(), timeout=(
                    rng.uniform(0, 0.25) if rng.random() < kill_share else 60))[0]
                return proc.returncode, harness.text(out), False
            except subprocess.TimeoutExpired:
                proc.send_signal(rng.choice((signal.SIGKILL, signal.SIGTERM)))
                proc.communicate(timeout=60)
                return proc.returncode, "", True

    def judge(self, kind, status, out, ending):
        """What became of a run that was not killed: "done" or "refused"."""
        if status == 0 and out.endswith(ending):
            return "done"
        self.assertTrue(status == 1 and out.endswith(ABORTED) and any(
            text in out for text in OTHER_PROGRAM), "%s run, exit %d:\n%s" % (kind, status, out))
        return "refused"

    def writer(self, seed, deadline, results):
        rng = random.Random(seed)
        while time.monotonic() < deadline:
            which = rng.randrange(len(SETUPS))
            if which == 0:
                args, stdin, ending = ["--nowait"], "3\ny\n", "Reset successfully done.\n"
            else:
                args, stdin = ["--import", "--nowait", "--ie=setup%d.cfg" % which], ""
                ending = "Successfully applied.\n"
            results.append(("writer",) + self.run_one(rng, args, stdin) + (ending,))

    def reader(self, seed, deadline, results):
        rng = random.Random(seed)
        while time.monotonic() < deadline:
            status, out, killed = self.run_one(rng, ["--nowait"], "2\n")
            if not killed and status == 0:
                listing = out[out.rindex(harness.MENU) + len(harness.MENU) + 1:]
                self.assertIn(listing, self.listings, "a setup no run wrote")
            results.append(("reader", status, out, killed, "\n"))
            # unzip takes the size by name and then opens the file, so a replace
            # between the two would look like damage: it tests one open's bytes.
            snapshot = os.path.join(self.dir, "snapshot-%d" % seed, "vrd.zip")
            os.makedirs(os.path.dirname(snapshot), exist_ok=True)
            with open(os.path.join(self.dir, "vrd.zip"), "rb") as skin_file, \
                    open(snapshot, "wb") as copy:
                copy.write(skin_file.read())
            proc = subprocess.run(["unzip", "-tqq", snapshot], capture_output=True)
            results.append(("unzip -t", proc.returncode, proc.stdout.decode(), False, ""))

    def test_writers_readers_and_kills_on_one_skin(self):
        self.make_skin("vrd.zip", "--filler", "200", *harness.live_options(SETUPS[1]))
        for which, setup in enumerate(SETUPS):
            self.write_file("setup%d.cfg" % which, settings_text(setup))
        self.listings = [harness.listing(setup) for setup in SETUPS]
        deadline = time.monotonic() + SECONDS
        results, failures = [], []

        def guarded(work, seed):
            try:
                work(seed, deadline, results)
            except BaseException as error:  # reported by the main thread
                failures.append(error)

        threads = [threading.Thread(target=guarded, args=(work, seed)) for seed, work in
                   enumerate([self.writer] * WRITERS + [self.reader] * READERS)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        if failures:
            raise failures[0]
        counts = collections.Counter()
        for kind, status, out, killed, ending in results:
            if kind == "unzip -t":
                self.assertEqual(status, 0, out)
            counts[kind, "killed" if killed else self.judge(kind, status, out, ending)] += 1
        print("\n%.0f s: %s" % (SECONDS, ", ".join("%s %s: %d" % (k + (n,)) for k, n in
                                                    sorted(counts.items()))), file=sys.stderr)
        self.assertTrue(counts["writer", "done"] and counts["reader", "done"], counts)
        self.assert_archive_ok()
        self.assertIn(setup_of(read_entries(self.archive)), [full(s) for s in SETUPS])
        # The next run clears what killed runs left; then nothing is left.
        status, out, _ = self.run_one(random.Random(), ["--import", "--nowait",
                                                          "--ie=setup2.cfg"], "", 0)
        self.assertEqual(status, 0, out)
        self.assertEqual(setup_of(read_entries(self.archive)), full(SETUPS[2]))
        self.assert_archive_ok()
        self.assertEqual(harness.stray_files(self.dir), [])


if __name__ == "__main__":
    harness.main()
