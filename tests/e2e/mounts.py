"""Real file systems mounted for a test, in its temporary folder, and taken down by
its clean-up: exFAT through exfat-fuse on a loop device, and sshfs through a
throw-away sshd on 127.0.0.1. Both show whole-second times and a change time
equal to the modification time. Where the machine cannot mount them the test
is skipped with the reason."""

import os
import shutil
import socket
import subprocess
import time
import unittest

# The administrator's programs, also where PATH leaves them out.
ENV = dict(os.environ, PATH=os.pathsep.join([os.environ.get("PATH", os.defpath), "/usr/sbin",
                                             "/sbin"]))


def _need(*programs):
    if os.name != "posix" or os.geteuid() != 0:
        raise unittest.SkipTest("mounting needs root")
    if not os.path.exists("/dev/fuse"):
        raise unittest.SkipTest("no /dev/fuse: FUSE cannot be mounted here")
    missing = [p for p in programs if not shutil.which(p, path=ENV["PATH"])]
    # CI installs them: a skip there would hide a missing install step.
    if missing and os.environ.get("CI") == "true":
        raise AssertionError("not installed: %s (tools/install_deps.sh)" % " ".join(missing))
    if missing:
        raise unittest.SkipTest("not installed: %s (tools/install_deps.sh)" % " ".join(missing))


def _run(command, why):
    proc = subprocess.run(command, capture_output=True, timeout=60, env=ENV)
    if proc.returncode != 0:
        raise unittest.SkipTest("%s: %s" % (why, proc.stderr.decode(errors="replace").strip()))
    return proc.stdout.decode().strip()


def _mount(test, name, command):
    """Mounts with `command` (which ends with the mount point) on test.path(name)."""
    point = test.path(name)
    os.mkdir(point)
    _run(command + [point], "cannot mount %s here" % name)
    test.addCleanup(_unmount, point)
    return point


def _unmount(point):
    # A FUSE daemon may still be busy with the last release: try for a while.
    for _ in range(25):
        if subprocess.run(["umount", point], capture_output=True, env=ENV).returncode == 0:
            return
        time.sleep(0.2)
    subprocess.run(["umount", "--lazy", point], capture_output=True, env=ENV)


def exfat(test):
    """A new exFAT file system through exfat-fuse on a loop device."""
    _need("mkfs.exfat", "mount.exfat-fuse", "losetup")
    image = test.path("exfat.img")
    with open(image, "wb") as f:
        f.truncate(32 << 20)
    _run(["mkfs.exfat", image], "mkfs.exfat")
    device = _run(["losetup", "--find", "--show", image], "no loop device")
    test.addCleanup(subprocess.run, ["losetup", "-d", device], capture_output=True, env=ENV)
    return _mount(test, "exfat", ["mount.exfat-fuse", device])


def _free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def sshfs(test, *options):
    """A folder served by a throw-away sshd on 127.0.0.1 (own host key and
    config, key authentication only), mounted with sshfs -o OPTIONS."""
    _need("sshd", "sshfs", "ssh-keygen")
    keys = test.path("ssh")
    os.mkdir(keys, 0o700)
    for key in ("host", "client"):
        _run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", os.path.join(keys, key)],
             "ssh-keygen")
    shutil.copy(os.path.join(keys, "client.pub"), os.path.join(keys, "authorized_keys"))
    port = _free_port()
    config = os.path.join(keys, "sshd_config")
    with open(config, "w") as f:
        f.write("Port %d\nListenAddress 127.0.0.1\nHostKey %s/host\nAuthorizedKeysFile "
                "%s/authorized_keys\nPidFile none\nPermitRootLogin prohibit-password\n"
                "StrictModes no\nPasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                "UsePAM no\nSubsystem sftp internal-sftp\n" % (port, keys, keys))
    os.makedirs("/run/sshd", 0o755, exist_ok=True)  # sshd's privilege separation folder
    log = open(os.path.join(keys, "sshd.log"), "wb")
    test.addCleanup(log.close)
    sshd = subprocess.Popen([shutil.which("sshd", path=ENV["PATH"]), "-D", "-e", "-f", config],
                            stderr=log, env=ENV)
    test.addCleanup(sshd.wait, 10)
    test.addCleanup(sshd.terminate)
    for _ in range(100):
        if sshd.poll() is not None:
            raise unittest.SkipTest("sshd did not start: " + open(log.name).read())
        with socket.socket() as s:
            if s.connect_ex(("127.0.0.1", port)) == 0:
                break
        time.sleep(0.1)
    remote = test.path("remote")
    os.mkdir(remote)
    ssh = ["-o", "IdentityFile=%s/client" % keys, "-o", "StrictHostKeyChecking=no",
           "-o", "UserKnownHostsFile=/dev/null", "-o", "BatchMode=yes", "-o", "LogLevel=ERROR"]
    extra = [o for option in options for o in ("-o", option)]
    return _mount(test, "sshfs", ["sshfs", "-p", str(port)] + ssh + extra
                  + ["root@127.0.0.1:" + remote])
