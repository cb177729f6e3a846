"""Other writers and interruptions: a change is never written over what the
run did not read, working files never outlive their run, and the skin keeps
its owner, permissions and extended attributes."""

import fcntl
import os
import random
import resource
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import time
import unittest

import harness
import mounts
from harness import (ABORTED, banner, file_bytes, read_entries, settings_text, skin, stray_files,
                     text)

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

    def confirm_after(self, answer, disturb):
        """A run of menu `answer` waiting at its confirming question while disturb() runs, then
        answered "y": (exit status, output, the skin's bytes right after disturb())."""
        proc = self.start(["--nowait"], stdin=subprocess.PIPE)
        proc.stdin.write(answer.encode() + b"\n")
        proc.stdin.flush()
        self.answer_until(proc, QUESTIONS[answer])
        disturb()
        disturbed = file_bytes(self.archive)
        out, _ = proc.communicate(b"y\n", timeout=60)
        return proc.returncode, text(out), disturbed

    def test_change_while_a_question_waits_is_never_overwritten(self):
        def other_import():
            proc = self.import_run("cursor.cfg", CURSOR[2])
            self.assertEqual(proc.wait(timeout=60), 0, proc.stdout.read().decode())

        def other_build():
            skin.main([self.archive, "--version", "11"])

        def rewritten_in_place():
            harness.rewrite_in_place(self.archive)

        self.write_file("vrd.cfg", CHAT[2])
        for answer in sorted(QUESTIONS):
            for disturb in (other_import, other_build, rewritten_in_place):
                with self.subTest(menu=answer, disturbance=disturb.__name__):
                    self.make_skin("vrd.zip", *harness.WITH_NOTES)
                    status, out, disturbed = self.confirm_after(answer, disturb)
                    self.assertEqual(status, 1)
                    self.assertTrue(out.endswith(CHANGED % "OpenZip" + ABORTED), out)
                    self.assertTrue(file_bytes(self.archive) == disturbed, "overwritten")
                    self.assertEqual(stray_files(self.dir), [])

    @unittest.skipIf(POSIX_ONLY, "mounts")
    def test_change_in_place_on_whole_second_file_systems_is_never_overwritten(self):
        # Through these the file keeps its inode, its size and its times to the
        # second, and the change time equals the modification time: only the
        # content tells that another program was there.
        home = self.dir
        for name, mount in (("exFAT", mounts.exfat), ("sshfs", mounts.sshfs),
                            ("sshfs -o workaround=rename",
                             lambda test: mounts.sshfs(test, "workaround=rename"))):
            with self.subTest(file_system=name):
                self.dir = tempfile.mkdtemp(dir=home)
                self.dir = mount(self)
                self.make_skin("vrd.zip", *harness.WITH_NOTES)
                before = os.stat(self.archive)
                status, out, disturbed = self.confirm_after(
                    "1", lambda: harness.rewrite_in_place(self.archive))
                self.assertRegex(out, r"ERROR: \[file:#\] (Open|Close)Zip\(\): Another program "
                                 r"changed the archive after it was read: vrd\.zip\n%s$" % ABORTED)
                self.assertEqual(status, 1, out)
                self.assertTrue(file_bytes(self.archive) == disturbed, "overwritten")
                self.assertEqual(before.st_ino, os.stat(self.archive).st_ino)
                # Where nothing changed, the same check lets the change through.
                proc = self.import_run("vrd.cfg", CHAT[2])
                self.assertEqual(proc.wait(timeout=60), 0, proc.stdout.read().decode())
                self.assertEqual(live_position(read_entries(self.archive), CHAT[0]), CHAT[1])
                self.assertEqual(stray_files(self.dir), [])

    @unittest.skipIf(POSIX_ONLY or not os.path.isfile(os.environ.get("VRD_E2E_SHIM", "")),
                     "needs the preloaded replace_on_lookup module (a Linux build)")
    def test_file_replaced_while_opened_is_no_error(self):
        # Another run publishes a copy between this run's open of the file and
        # its look-up of where the open file lives.
        cases = [  # file replaced, arguments, input, how the output ends
            ("vrd.zip", ["--nowait"], "2\n", harness.listing()),
            ("vrd.zip", ["--import", "--nowait"], "", "Successfully applied.\n"),
            ("vrd.cfg", ["--nowait"], "5\ny\ny\n", "File successfully written.\n"),
        ]
        asan = os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
        for target, args, stdin, ending in cases:
            with self.subTest(replaced=target, input=stdin, args=args):
                self.make_skin()
                self.write_file("vrd.cfg", CHAT[2])
                shutil.copy(self.path(target), self.path("copy"))
                env = dict(os.environ, LD_PRELOAD=os.environ["VRD_E2E_SHIM"], ASAN_OPTIONS=asan,
                           VRD_SHIM_TARGET=os.path.realpath(self.path(target)),
                           VRD_SHIM_COPY=self.path("copy"), VRD_SHIM_FIRED=self.path("fired"))
                proc = subprocess.run(self.command(*args), cwd=self.dir, input=stdin.encode(),
                                      capture_output=True, env=env, timeout=60)
                out = text(proc.stdout) + proc.stderr.decode()
                self.assertTrue(os.path.exists(self.path("fired")),
                                "no look-up replaced the file (readlink of /proc/self/fd/N or "
                                "realpath):\n" + out)
                os.remove(self.path("fired"))
                self.assertEqual(proc.returncode, 0, out)
                self.assertTrue(out.endswith(ending), out)
                self.assertEqual(stray_files(self.dir), [])
                if args[0] == "--import":
                    self.assertEqual(live_position(read_entries(self.archive), CHAT[0]), CHAT[1])

    def test_only_our_stale_working_files_go(self):
        self.make_skin()
        self.write_file("vrd.cfg", CHAT[2])
        ours = [".vrd.zip.vrdskincfg-AbCd12", ".vrd.cfg.vrdskincfg-zz9Yx1"]
        live = ".vrd.zip.vrdskincfg-LiVe99"
        # A player's copies, another tool's temporary file (rsync's form),
        # near misses of our form.
        others = [".vrd.zip.backup", ".vrd.zip.orig01", ".vrd.zip.AbCd12", ".vrd.cfg.Xy12Zw",
                  ".vrd.zip.vrdskincfg-AbCd1", ".vrd.zip.vrdskincfg-AbCd1~"]
        for name in ours + others + [live]:
            self.write_file(name, b"left behind")
            os.utime(self.path(name), (time.time() - 7200,) * 2)  # untouched for two hours
        held = open(self.path(live), "rb")
        self.addCleanup(held.close)
        if not POSIX_ONLY:
            fcntl.flock(held, fcntl.LOCK_EX)  # as a run that is still applying holds it
        proc = self.start(["--import", "--nowait"], stdin=subprocess.DEVNULL)
        self.assertEqual(proc.wait(timeout=60), 0, proc.stdout.read().decode())
        proc = self.start(["--nowait"], stdin=subprocess.PIPE)
        out = text(proc.communicate(b"5\ny\ny\n", timeout=60)[0])
        self.assertTrue(out.endswith("File successfully written.\n"), out)
        # On Windows a live run's file is held open, which a test cannot imitate.
        self.assertEqual(stray_files(self.dir), sorted(others + [live] * (not POSIX_ONLY)))

    @unittest.skipIf(POSIX_ONLY, "flock")
    def test_a_reader_holding_a_lock_is_not_a_change(self):
        self.make_skin()
        self.write_file("vrd.cfg", CHAT[2])
        with open(self.archive, "rb") as reader:
            fcntl.flock(reader, fcntl.LOCK_SH)
            proc = self.start(["--import", "--nowait"], stdin=subprocess.DEVNULL)
            out = text(proc.communicate(timeout=60)[0])
        self.assertEqual(proc.returncode, 1, out)
        self.assertTrue(out.endswith("ERROR: [file:#] OpenZip(): Another program is using the "
                                     "archive: vrd.zip\n" + ABORTED), out)
        self.assert_untouched()

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

    def as_user(self, user, command):
        """command run as user (uid, gid[, supplementary group]), or as we are for None."""
        if user is None:
            return command
        groups = ["--groups=%d" % user[2]] if len(user) > 2 else ["--clear-groups"]
        return ["setpriv", "--reuid=%d" % user[0], "--regid=%d" % user[1]] + groups + command

    def run_import(self, user=None, limit=None):
        command = self.as_user(user, [harness.EXE, "--import", "--nowait"])
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

    def run_export(self, user=None, cfg="vrd.cfg", wrapper=()):
        command = self.as_user(user, list(wrapper) + [harness.EXE, "--nowait", "--ie=" + cfg])
        # LeakSanitizer cannot work under ptrace (strace).
        env = wrapper and harness.injected("")["env"]
        proc = subprocess.run(command, cwd=self.dir, capture_output=True, timeout=60,
                              input=b"5\ny\ny\n", env=env or None)
        out = text(proc.stdout)
        return proc.returncode, out[out.index("Export this setup"):]

    def test_folder_default_acl_changes_no_permissions(self):
        # The folder's default ACL would give user 1002 write access and the
        # group nothing; the files keep exactly what they had.
        default = posix_acl([(0x01, 6, 0), (0x02, 6, 1002), (0x04, 0, 0), (0x10, 6, 0),
                             (0x20, 0, 0)])
        try:
            os.setxattr(self.dir, "system.posix_acl_default", default)
        except OSError as error:
            self.skipTest("no POSIX ACLs here: %s" % error)
        for name, mode in (("vrd.zip", 0o664), ("vrd.cfg", 0o640)):
            os.chmod(self.path(name), mode)
        self.assertEqual(self.run_import()[0], 0)
        status, out = self.run_export()
        self.assertEqual(status, 0, out)
        for name, mode in (("vrd.zip", 0o664), ("vrd.cfg", 0o640)):
            self.assertEqual(stat.S_IMODE(os.stat(self.path(name)).st_mode), mode, name)
            self.assertNotIn("system.posix_acl_access", os.listxattr(self.path(name)), name)
        # A new settings file gets what the folder gives.
        status, out = self.run_export(cfg="new.cfg")
        self.assertIn("system.posix_acl_access", os.listxattr(self.path("new.cfg")))

    @unittest.skipIf(shutil.which("strace") is None, "strace is not installed")
    def test_export_syncs_the_folder_after_its_rename(self):
        log = self.path("strace.log")
        status, out = self.run_export(wrapper=["strace", "-f", "-qq", "-o", log, "-e",
                                               "trace=openat,rename,renameat,renameat2,fsync"])
        self.assertEqual(status, 0, out)
        with open(log) as f:
            calls = f.read().splitlines()
        os.remove(log)
        renamed = [i for i, c in enumerate(calls) if "rename" in c and "vrd.cfg\"" in c]
        self.assertEqual(len(renamed), 1, calls)
        folders = {c.rsplit("= ", 1)[1] for c in calls[renamed[0]:] if "O_DIRECTORY" in c}
        self.assertTrue(any(c.split("(")[1].split(")")[0] in folders
                            for c in calls[renamed[0]:] if "fsync(" in c), calls[renamed[0]:])

    @unittest.skipIf(os.geteuid() != 0 or not shutil.which("setpriv"), "needs root and setpriv")
    def test_other_users_settings_files(self):
        os.chmod(self.dir, 0o1777)  # shared, sticky, like /tmp
        owner, member, other = (1000, 1000), (1001, 1000), (1002, 1002)
        os.chown(self.path("vrd.zip"), *member)
        os.chown(self.path("vrd.cfg"), *owner)
        os.chmod(self.path("vrd.cfg"), 0o664)
        kept = file_bytes(self.path("vrd.cfg"))
        # A group member may write the owner's file, but not give it back.
        status, out = self.run_export(user=member)
        self.assertEqual((status, out.split("? ", 2)[2]), (1, "ERROR: Could not write file: "
                         "vrd.cfg\nReason: The file belongs to another user.\n" + ABORTED))
        self.assertEqual(file_bytes(self.path("vrd.cfg")), kept)
        self.assertEqual(os.stat(self.path("vrd.cfg")).st_uid, owner[0])
        # A link planted by another user to the member's private file: asked
        # about, and never followed, whatever fs.protected_symlinks says.
        private = tempfile.mkdtemp(prefix="vrd-private-")
        self.addCleanup(shutil.rmtree, private)
        os.chown(private, *member)
        os.chmod(private, 0o700)
        target = os.path.join(private, "mine.cfg")
        with open(target, "wb") as f:
            f.write(b"mine")
        os.chown(target, *member)
        os.symlink(target, self.path("planted.cfg"))
        os.lchown(self.path("planted.cfg"), *other)
        status, out = self.run_export(user=member, cfg="planted.cfg")
        self.assertIn("? Overwrite existing, [y]es [n]o ? ", out)
        self.assertEqual((status, out.split("? ", 2)[2]), (1, "ERROR: Could not write file: "
                         "planted.cfg\nReason: Permission denied\n" + ABORTED))
        self.assertEqual(file_bytes(target), b"mine")
        self.assertTrue(os.path.islink(self.path("planted.cfg")))

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
        # The owner, root, and the owner with the archive in another of the
        # owner's groups (the group must be kept too).
        for user, group in ((owner, 1000), (None, 1000), (owner + (1001,), 1001)):
            self.restore()
            owner = (1000, group)
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
