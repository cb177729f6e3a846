"""Other writers and interruptions: a change is never written over what the
run did not read, working files never outlive their run, and the skin keeps
its owner, permissions and extended attributes."""

import fcntl
import os
import random
import resource
import shutil
import struct
import subprocess
import sys
import time
import unittest

import harness
from harness import ABORTED, banner, file_bytes, read_entries, settings_text, skin, stray_files

POSIX_ONLY = harness.RUNNER or os.name != "posix"
CHANGED = "ERROR: [file:#] %s(): Another program changed the archive after it was read: vrd.zip\n"
FOREIGN = "ERROR: [file:#] OpenZip(): The archive belongs to another user: vrd.zip\n"
# Files of an older build may leave items out; those keep what is live. Each
# of these changes one item and leaves the other's alone.
CHAT = (1, 1, settings_text({1: 1}, "9", skip=(17, 18, 19, 20, 21)))
CURSOR = (18, 3, settings_text({18: 3}, "9", skip=(1,)))
QUESTIONS = {  # menu answer: the question that confirms the change
    "1": "Apply settings, [y]es [n]o ? ",
    "3": "Reset to default setup, [y]es [n]o ? ",
    "4": "Apply these settings, [y]es [n]o ? ",
}


def text(output):
    """Output as the tests compare it: line numbers masked, plain line ends."""
    return harness._LOCATION.sub(lambda m: "[%s:#] " % m.group(1),
                                 output.decode().replace("\r\n", "\n"))


def live_position(entries, item_id):
    """The position of the item's alternative whose bytes are live, or None."""
    item = skin.item_by_id(item_id)
    for pos, value in enumerate(item.values):
        if all(entries.get(live) == skin.entry_bytes(alt)
               for live, alt in zip(item.live, value.entries)):
            return pos
    return None


def posix_acl(entries):
    """A system.posix_acl_access value: (tag, permissions, id) in tag order."""
    return struct.pack("<I", 2) + b"".join(struct.pack("<HHI", *e) for e in entries)


class OtherWritersTest(harness.TestCase):

    def command(self, *args):
        return harness.RUNNER + [harness.EXE] + list(args)

    def start(self, args, cfg=None, **options):
        if cfg is not None:
            self.write_file(cfg[0], cfg[1])
        return subprocess.Popen(self.command(*args), cwd=self.dir, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, **options)

    def import_run(self, cfgname, text):
        return self.start(["--import", "--nowait", "--ie=" + cfgname], (cfgname, text),
                          stdin=subprocess.DEVNULL)

    def test_two_imports_at_once_never_lose_a_reported_change(self):
        self.make_skin("vrd.zip", "--filler", "400")
        rng = random.Random(99)
        successes = 0
        for round_ in range(12):
            self.restore()
            runs = [(CHAT, "chat.cfg"), (CURSOR, "cursor.cfg")]
            rng.shuffle(runs)
            procs = [(change, self.import_run(name, change[2])) for change, name in runs]
            results = [(change, proc.wait(timeout=60), text(proc.stdout.read()))
                       for change, proc in procs]
            entries = read_entries(self.archive)
            self.assert_archive_ok()
            self.assertEqual(stray_files(self.dir), [])
            succeeded = [change for change, status, _ in results if status == 0]
            self.assertTrue(succeeded, "round %d: no run succeeded: %r" % (round_, results))
            for (item_id, pos, _), status, out in results:
                if status == 0:
                    self.assertTrue(out.endswith("Successfully applied.\n"), out)
                    self.assertEqual(live_position(entries, item_id), pos,
                                     "round %d: a reported change is gone" % round_)
                else:
                    self.assertTrue(out.endswith(ABORTED), out)
            successes += len(succeeded)
        print("\n%d of 24 imports succeeded" % successes, file=sys.stderr)

    def answer_until(self, proc, question, answers=b"\n"):
        """Reads the output, answering every other question with RETURN, until `question`."""
        seen = b""
        while not seen.endswith(question.encode()):
            chunk = os.read(proc.stdout.fileno(), 4096)
            self.assertTrue(chunk, "ended before asking %r:\n%s" % (question, seen.decode()))
            seen += chunk
            if seen.endswith(b"or just press RETURN to leave it unchanged: "):
                proc.stdin.write(answers)
                proc.stdin.flush()

    def test_change_while_a_question_waits_is_never_overwritten(self):
        def other_import():
            proc = self.import_run("cursor.cfg", CURSOR[2])
            self.assertEqual(proc.wait(timeout=60), 0, proc.stdout.read().decode())

        def other_build():
            skin.main([self.archive, "--version", "11"])

        def touched():
            os.utime(self.archive, (1, 1))

        self.write_file("vrd.cfg", CHAT[2])
        for answer, question in sorted(QUESTIONS.items()):
            for disturb in (other_import, other_build, touched):
                with self.subTest(menu=answer, disturbance=disturb.__name__):
                    self.make_skin()
                    proc = self.start(["--nowait"], stdin=subprocess.PIPE)
                    proc.stdin.write(answer.encode() + b"\n")
                    proc.stdin.flush()
                    self.answer_until(proc, question)
                    disturb()
                    disturbed = file_bytes(self.archive)
                    out, _ = proc.communicate(b"y\n", timeout=60)
                    self.assertEqual(proc.returncode, 1)
                    self.assertTrue(text(out).endswith(CHANGED % "OpenZip" + ABORTED), out)
                    self.assertTrue(file_bytes(self.archive) == disturbed, "overwritten")
                    self.assertEqual(stray_files(self.dir), [])

    def test_stale_working_files_go_and_live_ones_stay(self):
        self.make_skin()
        for name in (".vrd.zip.AbCd12", ".vrd.zip.zzzzzz", ".vrd.zip.LiVe99", ".vrd.zip.long777"):
            self.write_file(name, b"left behind")
            os.utime(self.path(name), (time.time() - 7200,) * 2)  # untouched for two hours
        live = open(self.path(".vrd.zip.LiVe99"), "rb")
        self.addCleanup(live.close)
        if not POSIX_ONLY:
            fcntl.flock(live, fcntl.LOCK_EX)  # as a run that is still applying holds it
        self.write_file("vrd.cfg", CHAT[2])
        proc = self.start(["--import", "--nowait"], stdin=subprocess.DEVNULL)
        self.assertEqual(proc.wait(timeout=60), 0, proc.stdout.read().decode())
        # Removed: stale copies of this archive; kept: a live one, and names
        # that are not working files of ours.
        expected = [".vrd.zip.long777"] + ([] if POSIX_ONLY else [".vrd.zip.LiVe99"])
        self.assertEqual(stray_files(self.dir), sorted(expected))

    @unittest.skipIf(harness.WINDOWS, "a Windows path is at most 260 characters long")
    def test_long_archive_names_can_be_changed(self):
        name = "s" * 246 + ".zip"
        self.make_skin(name)
        self.write_file("vrd.cfg", CHAT[2])
        proc = self.start(["--import", "--nowait", "--skin=" + name, "--ie=vrd.cfg"],
                          stdin=subprocess.DEVNULL)
        out = proc.communicate(timeout=60)[0].decode()
        self.assertEqual(proc.returncode, 0, out)
        self.assertEqual(live_position(read_entries(self.archive), 1), 1)
        self.assertEqual(stray_files(self.dir), [])

    def test_only_a_regular_file_is_a_skin(self):
        os.mkdir(self.path("folder.zip"))
        kinds = ["folder.zip"]
        if not POSIX_ONLY:
            os.mkfifo(self.path("pipe.zip"))
            kinds.append("pipe.zip")
        for name in kinds:
            with self.subTest(name=name):
                self.assert_run(["--nowait", "--skin=" + name], banner(name)
                                + "ERROR: Not a regular file: %s\n" % name + ABORTED, 1)


@unittest.skipIf(POSIX_ONLY, "POSIX limits, users and attributes")
class PosixFileTest(harness.TestCase):

    def setUp(self):
        super().setUp()
        self.make_skin()
        self.write_file("vrd.cfg", CHAT[2])

    def run_import(self, user=None, limit=None):
        command = [harness.EXE, "--import", "--nowait"]
        if user is not None:
            command = ["setpriv", "--reuid=%d" % user[0], "--regid=%d" % user[1],
                       "--clear-groups"] + command
        preexec = limit and (lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit)))
        proc = subprocess.run(command, cwd=self.dir, capture_output=True, timeout=60,
                              preexec_fn=preexec, stdin=subprocess.DEVNULL)
        return proc.returncode, text(proc.stdout)

    def test_write_past_the_size_limit_is_a_reported_failure(self):
        status, out = self.run_import(limit=len(self.saved) // 2)
        self.assertEqual(status, 1, out)  # not killed by SIGXFSZ
        self.assertTrue(out.endswith("File too large.\n" + ABORTED), out)
        self.assert_untouched()

    @unittest.skipIf(shutil.which("strace") is None, "strace is not installed")
    def test_failed_commit_steps_leave_the_archive(self):
        # The second fsync is the one that puts the working file on disk before the rename.
        replace = "ERROR: [file:#] CloseZip(): Could not replace archive: vrd.zip\n%s\n"
        cases = [
            ("rename:error=EXDEV", replace % "Invalid cross-device link"),
            ("fsync:error=EIO:when=2", replace % "Input/output error"),
        ]
        self.make_skin("vrd.zip", *harness.live_options({1: 1, 18: 3}))
        for fault, error in cases:
            with self.subTest(fault=fault):
                self.assert_run(["--nowait"], banner() + harness.MENU + "\n"
                                + QUESTIONS["3"] + error + ABORTED, 1, stdin="3\ny\n",
                                **harness.injected(fault))
                self.assert_untouched()

    @unittest.skipIf(os.geteuid() != 0 or not shutil.which("setpriv"), "needs root and setpriv")
    def test_owner_permissions_and_attributes_are_kept(self):
        os.chmod(self.dir, 0o777)
        owner, member = (1000, 1000), (1001, 1000)
        acl = posix_acl([(0x01, 6, 0), (0x02, 4, 1002), (0x04, 6, 0), (0x10, 6, 0),
                         (0x20, 4, 0)])
        os.chown(self.archive, *owner)
        os.chmod(self.archive, 0o664)
        os.setxattr(self.archive, "user.origin", b"skin shop")
        os.setxattr(self.archive, "system.posix_acl_access", acl)
        acl = os.getxattr(self.archive, "system.posix_acl_access")  # as the kernel keeps it

        def assert_kept():
            st = os.stat(self.archive)
            self.assertEqual((st.st_uid, st.st_gid, st.st_mode & 0o7777), owner + (0o664,))
            self.assertEqual(os.getxattr(self.archive, "user.origin"), b"skin shop")
            self.assertEqual(os.getxattr(self.archive, "system.posix_acl_access"), acl)

        # A group member may write the file, but cannot give it back to its owner.
        status, out = self.run_import(user=member)
        self.assertEqual((status, out[-len(FOREIGN + ABORTED):]), (1, FOREIGN + ABORTED), out)
        self.assert_untouched()
        for user in (owner, None):  # the owner, then root
            self.restore()
            os.chown(self.archive, *owner)
            os.chmod(self.archive, 0o664)
            os.setxattr(self.archive, "user.origin", b"skin shop")
            os.setxattr(self.archive, "system.posix_acl_access", acl)
            status, out = self.run_import(user=user)
            self.assertEqual(status, 0, out)
            self.assertEqual(live_position(read_entries(self.archive), 1), 1)
            assert_kept()
            self.assertEqual(stray_files(self.dir), [])


if __name__ == "__main__":
    harness.main()
