"""Shared pieces of the end-to-end tests. Expected output is plain text in
which "{prog}" stands for the program name and a located error's line number
is "#": line numbers belong to the code, not to the tests."""

import io
import os
import re
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile
import zlib

# Set by ctest; VRD_RUNNER is an optional launcher such as "wine".
SOURCE_DIR = os.environ.get("VRD_SOURCE_DIR") or os.path.abspath(
    os.path.join(os.path.dirname(__file__), "..", ".."))
EXE = os.environ.get("VRD_EXE", "")
PROG = os.environ.get("VRD_PROGNAME", "vrdskincfg")
RUNNER = shlex.split(os.environ.get("VRD_RUNNER", ""))
WINDOWS = PROG == "vrdskincfgw"

sys.path.insert(0, os.path.join(SOURCE_DIR, "tools"))
import make_skin as skin  # noqa: E402  (the catalogue and the archive writer)

# The program's build number (from BUILD_NUMBER), and one on either side.
BUILD = skin.BUILD.decode()
OLDER_BUILD, NEWER_BUILD = str(int(BUILD) - 1), str(int(BUILD) + 1)

_LOCATION = re.compile(r"\[(vrdskincfg|setup|import_export|file):\d+\] ")

# Texts the program prints in many runs.
RETURN_PROMPT = "\nPress RETURN to Exit "
ABORTED = "Program aborted.\n"
RETRY = "Invalid input, try again: "
EOF = "ERROR: Unexpected end of input.\n"
MENU = ("  1. Setup\n  2. Show aktive setup\n  3. Reset to default setup\n  4. Import setup\n"
        "  5. Export aktive setup\n  6. Exit\nEnter a number and press RETURN: ")
TERMINATED = "\nTerminated.\n"  # after the menu answer "6"
HELP = ("Usage: {prog} [--skin=<file>] [--ie=<file>] [--import] [--nowait] [--help]\n"
        "  --skin=<file>        skin zip-archive file\n"
        "  --ie=<file>          import/export file\n"
        "  --import             import setup, apply and exit\n"
        "  --nowait             don't wait for a keypress on exit\n"
        "  --help               print this help and exit\n")


def banner(skin_file=None):
    skin_line = "" if skin_file is None else "Skin file: %s\n" % skin_file
    return "{prog} (build %s)\n" % BUILD + skin_line


def not_found(name):
    return ("ERROR: File not found: {0}\nThis program must be started from the folder where the"
            " {0} file is in.\nAlso check file permissions of {0}\n").format(name)


def text(output):
    """Output as the tests compare it: line numbers masked, plain line ends."""
    return _LOCATION.sub(lambda m: "[%s:#] " % m.group(1),
                         output.decode(errors="surrogateescape").replace("\r\n", "\n"))


def native(entry):
    return entry.replace("/", "\\") if WINDOWS else entry


def listing(positions=None):
    """The setup listing; positions maps item id to position (else the default)."""
    positions = positions or {}
    items = [skin.item_by_name(name) for name in skin.DISPLAY_ORDER]
    return "".join((item.name + ":").ljust(35)[:35] + item.values[
        positions.get(item.id, item.default)].label + "\n" for item in items)


def header(build=BUILD):
    return "# vrdskincfg (build %s) --- Skin configuration\n" % build


def settings_text(positions=None, build=BUILD, skip=(), eol="\n"):
    """A settings file as the export writes it; items in `skip` get no line."""
    positions = positions or {}
    return (header(build) + "".join(
        "%d,%d;\n" % (item.id, item.values[positions.get(item.id, item.default)].id)
        for item in skin.CATALOGUE if item.id not in skip)).replace("\n", eol)


def live_options(positions):
    return [opt for item_id, pos in sorted(positions.items())
            for opt in ("--live", "%d=%d" % (item_id, pos))]


def applied_entries(positions=None):
    return {live: skin.entry_bytes(alt) for _, live, alt in skin.live_plan(positions)}


def read_entries(source):
    with zipfile.ZipFile(source) as zf:
        return {info.filename: zf.read(info) for info in zf.infolist()}


def file_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def stray_files(folder):
    """Hidden files in the folder: working copies left behind."""
    return sorted(name for name in os.listdir(folder) if name.startswith("."))


# A stored entry that another program can rewrite in place; make_skin options.
NOTES = "notes/shared.txt"
WITH_NOTES = ("--text", NOTES + "=" + "written by the skin's author " * 4)


def rewrite_in_place(path):
    """Another program's change that keeps the file, its size and its time stamps (put back
    with utimensat): the stored entry NOTES gets other bytes, its CRC updated in the local
    header and the central directory. Returns the file's bytes after the change."""
    st = os.stat(path)
    data = bytearray(file_bytes(path))
    central, local = skin._central_records(data)[NOTES]
    start = local + 30 + sum(struct.unpack_from("<HH", data, local + 26))
    end = start + struct.unpack_from("<I", data, central + 20)[0]
    data[start:end] = data[start:end].swapcase()
    for field in (central + 16, local + 14):
        struct.pack_into("<I", data, field, zlib.crc32(data[start:end]))
    with open(path, "r+b") as f:
        f.write(data)
    os.utime(path, ns=(st.st_atime_ns, st.st_mtime_ns))
    return bytes(data)


def injected(fault):
    """assert_run options that run the program under strace with a failing system call, as
    strace's -e inject= gives it (e.g. "rename:error=EXDEV")."""
    # LeakSanitizer cannot work under ptrace: the sanitizer build leaves leaks to the
    # other runs.
    options = os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
    return {"wrapper": ["strace", "-f", "-qq", "-o", os.devnull, "-e", "inject=" + fault],
            "env": dict(os.environ, ASAN_OPTIONS=options)}


class TestCase(unittest.TestCase):
    """Each test gets its own temporary folder as the program's working folder."""

    maxDiff = None

    def setUp(self):
        if not EXE:
            raise unittest.SkipTest("VRD_EXE is not set (run through ctest)")
        self.dir = tempfile.mkdtemp(prefix="vrd-e2e-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def write_file(self, name, data):
        with open(self.path(name), "wb" if isinstance(data, bytes) else "w") as f:
            f.write(data)

    def make_skin(self, name="vrd.zip", *options):
        """Writes self.archive with tools/make_skin.py options; self.saved keeps its bytes."""
        self.archive = self.path(name)
        os.makedirs(os.path.dirname(self.archive), exist_ok=True)
        skin.main([self.archive] + list(options))
        self.saved = file_bytes(self.archive)

    def restore(self):
        self.write_file(self.archive, self.saved)

    def assert_run(self, args, expected, status, stdin="", wrapper=(), **popen):
        """Checks the whole output and exit status of a run whose input ends after `stdin`
        (None: standard input closed), started through `wrapper` (a command such as strace)
        with `popen` for subprocess.run."""
        if stdin is None:
            popen["preexec_fn"] = lambda: os.closerange(0, 1)
        else:
            popen["input"] = stdin.encode()
        proc = subprocess.run(list(wrapper) + RUNNER + [EXE] + list(args), cwd=self.dir, timeout=60,
                              capture_output=True, **popen)
        error = proc.stderr.decode(errors="replace")
        self.assertGreaterEqual(proc.returncode, 0, "killed by a signal\n" + error)
        # The program never writes to standard error; a runner such as Wine may.
        self.assertFalse(error and not RUNNER, "wrote to standard error:\n" + error)
        # Windows console text mode ends lines with CR LF.
        out = proc.stdout.decode(errors="surrogateescape").replace("\r\n", "\n")
        self.assertEqual(_LOCATION.sub(lambda m: "[%s:#] " % m.group(1), out),
                         expected.replace("{prog}", PROG))
        self.assertEqual(proc.returncode & 0xFF, status, "exit status; output was:\n" + out)

    def assert_archive_ok(self):
        proc = subprocess.run(["unzip", "-t", self.archive], capture_output=True)
        self.assertEqual(proc.returncode, 0, proc.stdout.decode(errors="replace"))
        with zipfile.ZipFile(self.archive) as zf:
            self.assertIsNone(zf.testzip())

    def assert_untouched(self):
        """A declined or failed run: archive byte-identical, no working copy."""
        self.assertTrue(file_bytes(self.archive) == self.saved, "%s was changed" % self.archive)
        self.assertEqual(stray_files(os.path.dirname(self.archive)), [])

    def assert_applied(self, positions):
        """Sound archive: others as before, then live entries (table order) with the chosen
        bytes; no working copy."""
        self.assert_archive_ok()
        after, before = read_entries(self.archive), read_entries(io.BytesIO(self.saved))
        live = skin.live_entries()
        self.assertEqual(list(after), [n for n in before if n not in live] + live)
        expected = {**before, **applied_entries(positions)}
        for name, data in after.items():
            self.assertTrue(data == expected[name], "%s holds the wrong bytes" % name)
        self.assertEqual(stray_files(os.path.dirname(self.archive)), [])


def main():
    unittest.main(verbosity=2)
