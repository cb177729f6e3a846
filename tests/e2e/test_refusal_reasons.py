#!/usr/bin/env python3
"""Refusals whose cause is not a missing file or a missing permission name the
system's reason: a skin on a read-only file system."""

import os
import subprocess
import unittest

from harness import ABORTED, EXE, RUNNER, WINDOWS, TestCase, main, settings_text, skin


class RefusalReasonTest(TestCase):
    def mount_read_only(self):
        """Mounts a tmpfs over the test folder holding a skin and its settings file, then
        makes it read-only; skips where the machine cannot mount."""
        if WINDOWS or os.geteuid() != 0:
            raise unittest.SkipTest("needs Linux and root to mount a tmpfs")
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=8m", "tmpfs", self.dir],
                          capture_output=True).returncode != 0:
            raise unittest.SkipTest("this machine cannot mount a tmpfs")
        self.addCleanup(subprocess.run, ["umount", "-l", self.dir], capture_output=True)
        self.make_skin()
        item = skin.CATALOGUE[0]
        self.write_file("vrd.cfg", settings_text({item.id: (item.default + 1) % len(item.values)}))
        subprocess.run(["mount", "-o", "remount,ro", self.dir], check=True)

    def test_read_only_file_system_is_named(self):
        self.mount_read_only()
        proc = subprocess.run(RUNNER + [EXE, "--import", "--nowait"], cwd=self.dir,
                              capture_output=True, timeout=60)
        out = proc.stdout.decode()
        self.assertTrue(out.endswith("ERROR: File not writeable: vrd.zip\nCheck file permissions"
                                     " of vrd.zip\nReason: Read-only file system\n" + ABORTED), out)
        self.assertEqual(proc.returncode, 1)
        self.assert_untouched()


if __name__ == "__main__":
    main()
