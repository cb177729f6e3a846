"""Shared pieces of the end-to-end tests: run the built program, compare its
whole output, build skin archives and look inside them.

Environment (set by ctest): VRD_EXE the program, VRD_PROGNAME its build name,
VRD_RUNNER an optional launcher such as "wine", VRD_SOURCE_DIR the source tree.

Expected output is written as plain text in which "{prog}" stands for the
program name and a located error's line number is written "#", as in
"ERROR: [file:#] OpenZip(): ...": line numbers belong to the code, not to the
tests.
"""

import difflib
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

SOURCE_DIR = os.environ.get("VRD_SOURCE_DIR") or os.path.abspath(
    os.path.join(os.path.dirname(__file__), "..", ".."))
EXE = os.environ.get("VRD_EXE", "")
PROG = os.environ.get("VRD_PROGNAME", "vrdskincfg")
RUNNER = shlex.split(os.environ.get("VRD_RUNNER", ""))
WINDOWS = PROG == "vrdskincfgw"

sys.path.insert(0, os.path.join(SOURCE_DIR, "tools"))
import make_skin as skin  # noqa: E402  (the catalogue and the archive writer)

UNITS = ("vrdskincfg", "setup", "import_export", "file")
_LOCATION = re.compile(r"\[(%s):\d+\] " % "|".join(UNITS))

# Texts the program prints in many runs.
RETURN_PROMPT = "\nPress RETURN to Exit "
ABORTED = "Program aborted.\n"
MENU = ("  1. Setup\n"
        "  2. Show aktive setup\n"
        "  3. Reset to default setup\n"
        "  4. Import setup\n"
        "  5. Export aktive setup\n"
        "  6. Exit\n"
        "Enter a number and press RETURN: ")
TERMINATED = "\nTerminated.\n"  # after the menu answer "6"


def banner(skin_file=None):
    """Start of every run that gets past the command line."""
    text = "{prog} (build 10)\n"
    if skin_file is not None:
        text += "Skin file: %s\n" % skin_file
    return text


def native(entry):
    """An entry name as the program prints it on this platform."""
    return entry.replace("/", "\\") if WINDOWS else entry


def listing(positions=None):
    """The 19 lines of the setup listing; positions maps item id to position
    (items not named show their default)."""
    positions = positions or {}
    lines = []
    for name in skin.DISPLAY_ORDER:
        item = skin.item_by_name(name)
        label = item.values[positions.get(item.id, item.default)].label
        lines.append((name + ":").ljust(35)[:35] + label + "\n")
    return "".join(lines)


# ---- running the program -------------------------------------------------------

def run(args, stdin=b"", cwd=None, timeout=60):
    """Runs the program; returns (stdout text without CRs, exit status).

    Standard input is closed after `stdin`. The program never writes to
    standard error, so anything there fails the test (under a runner such as
    Wine, the runner's own chatter is ignored).
    """
    if not EXE:
        raise unittest.SkipTest("VRD_EXE is not set (run through ctest)")
    if isinstance(stdin, str):
        stdin = stdin.encode()
    proc = subprocess.run(RUNNER + [EXE] + list(args), input=stdin, cwd=cwd,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
    if proc.returncode < 0:
        raise AssertionError("program killed by signal %d\n%s" % (
            -proc.returncode, proc.stderr.decode(errors="replace")))
    if not RUNNER and proc.stderr:
        raise AssertionError("program wrote to standard error:\n"
                             + proc.stderr.decode(errors="replace"))
    text = proc.stdout.decode("utf-8", errors="surrogateescape")
    # Windows console text mode ends lines with CR LF.
    return text.replace("\r\n", "\n"), proc.returncode & 0xFF


def expand(expected):
    return expected.replace("{prog}", PROG)


def assert_output(actual, expected):
    """Compares the whole output; see the module text for the notation."""
    want = expand(expected)
    got = _LOCATION.sub(lambda m: "[%s:#] " % m.group(1), actual)
    if got != want:
        diff = difflib.unified_diff(want.splitlines(True), got.splitlines(True),
                                    "expected", "actual")
        raise AssertionError("output differs:\n" + "".join(
            line if line.endswith("\n") else line + "\n\\ No line break at the end\n"
            for line in diff))


# ---- archives -------------------------------------------------------------------

def make_skin(folder, name="vrd.zip", *options):
    """Writes a skin archive with tools/make_skin.py options; returns its path."""
    target = os.path.join(folder, name)
    os.makedirs(os.path.dirname(target), exist_ok=True)
    skin.main([target] + list(options))
    return target


def write_zip(path, entries):
    """A plain archive of [(name, bytes)] written by Python's zipfile."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as zf:
        for name, data in entries:
            zf.writestr(zipfile.ZipInfo(name, skin.DATE_TIME), data, zipfile.ZIP_DEFLATED)
    return path


def read_entries(path):
    """{name: bytes} of every entry, read with Python's zipfile."""
    with zipfile.ZipFile(path) as zf:
        return {info.filename: zf.read(info) for info in zf.infolist()}


def unzip_test(path):
    """(passed, output) of Info-ZIP's `unzip -t`."""
    proc = subprocess.run(["unzip", "-t", path], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT)
    return proc.returncode == 0, proc.stdout.decode(errors="replace")


def file_bytes(path):
    with open(path, "rb") as f:
        return f.read()



# ---- setups, settings files and applied archives ----------------------------------

SETTINGS_HEADER = "# vrdskincfg (build %s) --- Skin configuration\n"


def live_options(positions):
    """make_skin.py options that make the given {item id: position} live."""
    options = []
    for item_id, pos in sorted(positions.items()):
        options += ["--live", "%d=%d" % (item_id, pos)]
    return options


def settings_text(positions=None, build="10", skip=(), eol="\n"):
    """A settings file as the export writes it: the header and one line per
    item in table order (positions as for listing(); items in `skip` get no
    line)."""
    positions = positions or {}
    lines = [SETTINGS_HEADER % build]
    for item in skin.CATALOGUE:
        if item.id not in skip:
            value = item.values[positions.get(item.id, item.default)]
            lines.append("%d,%d;\n" % (item.id, value.id))
    return "".join(line.replace("\n", eol) for line in lines)


def applied_entries(positions=None):
    """{live entry: bytes} once the given positions are applied."""
    return {live: skin.entry_bytes(alternative)
            for _, live, alternative in skin.live_plan(positions)}


def stray_files(folder):
    """Hidden files in the folder: working copies left behind."""
    return sorted(name for name in os.listdir(folder) if name.startswith("."))


def without_stamps(data):
    """Archive bytes with the modification time and date of every entry
    zeroed in both headers: rewritten entries carry the time of the run."""
    data = bytearray(data)
    eocd = data.rfind(b"PK\x05\x06")
    count, _, pos = struct.unpack_from("<HII", data, eocd + 10)
    for _ in range(count):
        nlen, xlen, clen = struct.unpack_from("<HHH", data, pos + 28)
        local = struct.unpack_from("<I", data, pos + 42)[0]
        data[pos + 12:pos + 16] = bytes(4)
        data[local + 10:local + 14] = bytes(4)
        pos += 46 + nlen + xlen + clen
    return bytes(data)

# ---- test case base --------------------------------------------------------------

class TestCase(unittest.TestCase):
    """Each test gets its own temporary folder, which is the program's working
    folder unless a test says otherwise."""

    maxDiff = None

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vrd-e2e-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def make_skin(self, name="vrd.zip", *options):
        return make_skin(self.dir, name, *options)

    def write_file(self, name, data):
        target = self.path(name)
        with open(target, "wb" if isinstance(data, bytes) else "w") as f:
            f.write(data)
        return target

    def run_program(self, args=(), stdin=b"", cwd=None, timeout=60):
        return run(args, stdin, cwd or self.dir, timeout)

    def assert_run(self, args, expected, status, stdin=b"", cwd=None):
        """Runs the program and checks the whole output and the exit status."""
        out, code = self.run_program(args, stdin, cwd)
        assert_output(out, expected)
        self.assertEqual(code, status, "exit status; output was:\n" + out)
        return out

    def assert_archive_ok(self, path):
        passed, report = unzip_test(path)
        self.assertTrue(passed, report)

    def assert_unchanged(self, path, saved):
        """The archive is byte for byte the saved copy."""
        self.assertTrue(file_bytes(path) == saved, "%s was changed" % path)

    def assert_untouched(self, path, saved):
        """A declined or failed run: archive byte-identical, no working copy."""
        self.assert_unchanged(path, saved)
        self.assertEqual(stray_files(os.path.dirname(path)), [])

    def assert_applied(self, path, positions, before):
        """The archive after an apply: sound for unzip and zipfile, every live
        entry rewritten (moved behind the other entries, in table order) with
        the bytes of its chosen alternative, every other entry as `before`
        ({name: bytes}, in archive order) had it, no working copy left."""
        self.assert_archive_ok(path)
        with zipfile.ZipFile(path) as zf:
            self.assertIsNone(zf.testzip())
        after = read_entries(path)
        live = skin.live_entries()
        self.assertEqual(list(after), [n for n in before if n not in live] + live)
        expected = dict(before)
        expected.update(applied_entries(positions))
        for name, data in after.items():
            self.assertTrue(data == expected[name], "%s holds the wrong bytes" % name)
        self.assertEqual(stray_files(os.path.dirname(path)), [])


def main():
    unittest.main(verbosity=2)
