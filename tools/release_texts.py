#!/usr/bin/env python3
"""Texts of the release, made from the build and from NEWS.md.

  releases NEWS.md
      one line per release, newest first: VERSION DATE TITLE
  changelog NEWS.md MAINTAINER OUT
      the Debian changelog, one entry per release of NEWS.md
  news-text NEWS.md OUT
      NEWS.md as plain text (no Markdown marks), for the Windows zip
  linked MAP...
      the files each GNU ld link map shows the linker took code from:
      objects and the archives that gave members (shared libraries not)
  notice --title T --program P --source-archive A [--static] [--map MAP]...
         [--fetched DIR]... [--from-source LIB=PACKAGE]...
         [--component NAME|VERSION|LICENCE|NOTICE-FILE]... OUT-DIR
      writes OUT-DIR/NOTICE (what the program P contains, under which
      licences, where its complete source is) and OUT-DIR/LICENSE.<name>
      for each licence text the notices name in /usr/share/common-licenses.
      The libraries come from the link maps: each file the linker took code
      from is looked up in the package database (dpkg -S), in the package
      lists of folders unpacked by tools/fetch_from_apt.sh (--fetched), or,
      for a library built here from a Debian source package, --from-source.
      Components the maps cannot show (a toolchain outside Debian) are given
      with --component; their NOTICE-FILE is copied in whole.
  check-notice NOTICE MAP... [--fetched DIR]... [--from-source LIB=PACKAGE]...
         [--copyright]
      fails unless NOTICE names every library the maps show: its source
      package, version and linked files; with --copyright, NOTICE is a Debian
      copyright file that must name the source package of every library
      linked in but the C library's and the compiler's
"""
import argparse
import datetime
import hashlib
import os
import re
import subprocess
import sys

HEADING = re.compile(r"^## (\d+(?:\.\d+)?) \((\d{4}-\d\d-\d\d)\): (.+)$")

# What each Debian source package's libraries are licensed under, in short;
# the whole notice follows from the package's copyright file. A library
# from a source package not named here stops the notice: someone must read
# its licence first.
LICENCES = {
    "glibc": "GNU C Library: GNU Lesser General Public License 2.1 or later "
             "(LGPL-2.1+); a few parts under other free licences named below",
    "gcc": "GCC run-time libraries (libstdc++, libgcc): GNU General Public "
           "License 3 or later with the GCC Runtime Library Exception 3.1, "
           "which lets a program compiled with GCC carry them under terms of "
           "its own choice",
    "zlib": "zlib: the zlib licence",
    "argtable2": "argtable2: GNU Library General Public License 2 or later (LGPL-2+)",
    "mingw-w64": "mingw-w64 run-time (start-up code, C run-time glue, Windows "
                 "import libraries, winpthreads where linked): Zope Public "
                 "License 2.1, MIT-style licences and public domain, as "
                 "named below",
}
SOURCE_KINDS = [  # Debian source package name -> key of LICENCES
    (r"glibc|cross-toolchain-base", "glibc"),
    (r"gcc-\d+(-cross)?|gcc-mingw-w64", "gcc"),
    (r"zlib|libz-mingw-w64", "zlib"),
    (r"argtable2", "argtable2"),
    (r"mingw-w64", "mingw-w64"),
]


def releases(news):
    found = []
    with open(news, encoding="utf-8") as f:
        for line in f:
            m = HEADING.match(line.rstrip("\n"))
            if m:
                found.append(m.groups())
            elif line.startswith("## "):
                sys.exit("%s: heading not of the form '## VERSION (YYYY-MM-DD): TITLE': %s"
                         % (news, line.strip()))
    if not found:
        sys.exit("%s: no release" % news)
    return found


def changelog(news, maintainer, out):
    entries = []
    for version, date, title in releases(news):
        day = datetime.datetime.strptime(date, "%Y-%m-%d").replace(hour=12)
        entries.append(
            "vrdskincfg (%s-1) unstable; urgency=medium\n\n"
            "  * %s%s; what it changed for players is in NEWS.md.\n\n"
            " -- %s  %s\n" % (version, title[0].upper(), title[1:], maintainer,
                              day.strftime("%a, %d %b %Y %H:%M:%S +0000")))
    with open(out, "w", encoding="utf-8") as f:
        f.write("\n".join(entries))


def news_text(news, out):
    lines = []
    with open(news, encoding="utf-8") as f:
        for line in f.read().splitlines():
            line = re.sub(r"`([^`]*)`", r"\1", line).replace("**", "")
            m = re.match(r"^(#+) (.*)$", line)
            if m:
                lines += [m.group(2), ("=" if len(m.group(1)) == 1 else "-") * len(m.group(2))]
            else:
                lines.append(line)
    with open(out, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


def linked(maps):
    """The files the link took code from: objects and archives with members."""
    files = set()
    for path in maps:
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        # Relative names are the build folder's, where the linker ran.
        here = os.path.dirname(os.path.abspath(path))
        members = text.split("Archive member included", 1)
        if len(members) == 2:
            section = re.split(r"\n(?:Discarded input sections|Allocating common symbols|"
                               r"Memory Configuration)", members[1], maxsplit=1)[0]
            files |= set(os.path.join(here, m)
                         for m in re.findall(r"^(\S+\.a)\(", section, re.M))
        files |= set(os.path.join(here, m) for m in re.findall(r"^LOAD (\S+)$", text, re.M)
                     if re.search(r"\.(o|obj)$", m))
    if not files:
        sys.exit("no linked files in %s" % " ".join(maps))
    return sorted(files)


def query(package, field):
    return subprocess.run(["dpkg-query", "-W", "-f", field, package], check=True,
                          capture_output=True, text=True).stdout


class Packages:
    """Which Debian package each linked file comes from."""

    def __init__(self, fetched, from_source, ours):
        self.fetched = [os.path.realpath(d) for d in fetched]
        self.from_source = dict(s.split("=", 1) for s in from_source)
        self.ours = [os.path.realpath(d) for d in ours]

    def package(self, path):
        """(package, version, source, copyright file), or None for our own code."""
        real = os.path.realpath(path)
        name = os.path.basename(real)
        if name in self.from_source:
            pkg = self.from_source[name]
            info = query(pkg, "${Version}\t${source:Package}").split("\t")
            return (pkg, info[0], info[1], "/usr/share/doc/%s/copyright" % pkg, True)
        for d in self.fetched:
            if real.startswith(d + "/"):
                rel = real[len(d) + 1:]
                lists = os.path.join(d, ".packages")
                for entry in sorted(os.listdir(lists)):
                    if not entry.endswith(".list"):
                        continue
                    with open(os.path.join(lists, entry)) as f:
                        if rel in f.read().split("\n"):
                            pkg = entry[:-5]
                            with open(os.path.join(lists, pkg + ".control")) as c:
                                fields = dict(line.split(": ", 1) for line in c.read().splitlines())
                            source = fields.get("Source", pkg).split(" ")[0]
                            return (pkg, fields["Version"], source,
                                    os.path.join(d, "usr/share/doc", pkg, "copyright"), False)
                sys.exit("%s: in no package unpacked into %s" % (path, d))
        if any(real.startswith(d + "/") for d in self.ours):
            return None
        for candidate in self.candidates(path):
            if candidate in self.owners:
                pkg = self.owners[candidate]
                info = query(pkg, "${Version}\t${source:Package}").split("\t")
                return (pkg, info[0], info[1], "/usr/share/doc/%s/copyright" % pkg, False)
        sys.exit("%s: no package holds it, and it is not built here" % path)

    @staticmethod
    def candidates(path):
        """The names the package database may know a file by (merged /usr)."""
        names = [os.path.normpath(path), os.path.realpath(path)]
        return list(dict.fromkeys(names + [re.sub(r"^/usr/", "/", n) for n in names]))

    def look_up(self, paths):
        """Asks the package database once for the packages of all PATHS."""
        names = sorted(set(n for p in paths for n in self.candidates(p)))
        found = subprocess.run(["dpkg", "-S"] + names, capture_output=True, text=True)
        self.owners = {}
        for line in found.stdout.splitlines():
            packages, _, name = line.partition(": ")
            if name in names:
                self.owners[name] = packages.split(",")[0].split(":")[0].strip()

    def components(self, maps):
        """Source package -> dict of version, packages, files, copyright, kind."""
        found = {}
        files = linked(maps)
        self.look_up(files)
        for path in files:
            pkg = self.package(path)
            if pkg is None:
                continue
            name, version, source, copyright_file, built_here = pkg
            kind = next((k for pattern, k in SOURCE_KINDS if re.fullmatch(pattern, source)), None)
            if kind is None:
                sys.exit("%s comes from the source package %s, whose licence is not "
                         "summed up in %s" % (path, source, __file__))
            c = found.setdefault(source, {"version": version, "packages": set(), "files": set(),
                                          "copyright": copyright_file, "kind": kind,
                                          "built_here": built_here})
            c["packages"].add(name)
            c["files"].add(os.path.basename(path))
        return found


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def wrap(text, indent=""):
    """TEXT in lines of at most 76 characters; INDENT before each but the first."""
    words, lines, line = text.split(), [], ""
    for w in words:
        if len(line) + len(w) + 1 > 76 and line.strip():
            lines.append(line.rstrip())
            line = indent
        line += w + " "
    lines.append(line.rstrip())
    return "\n".join(lines)


def notice(args):
    packages = Packages(args.fetched, args.from_source, args.ours)
    components = packages.components(args.map) if args.map else {}
    archive = os.path.basename(args.source_archive)
    out = [args.title, "=" * len(args.title), ""]
    out += [wrap("%s configures the user-interface skin of a game client. Copyright (c) "
                 "2026 the vrdskincfg developers; free software under the MIT licence, "
                 "in the file LICENSE%s." % (args.program, args.suffix)), ""]
    out += ["Source code", "-----------",
            wrap("The complete source code of this release, with its build instructions "
                 "(README.md, tools/release.sh), is the file %s, published beside this "
                 "download and named in its SHA256SUMS (SHA-256 %s)."
                 % (archive, sha256(args.source_archive))), ""]
    lgpl = [n for k, n in (("glibc", "the GNU C Library"), ("argtable2", "argtable2"))
            if any(c["kind"] == k for c in components.values())]
    lgpl += [c.split("|")[0] for c in args.component if "LGPL" in c.split("|")[2]]
    if args.static:
        out += [wrap("The program is linked statically with the libraries below.")]
    if args.static and lgpl:
        out[-1] = wrap(
            "The program is linked statically with the libraries below. Those under "
            "the GNU Lesser or Library General Public License (%s) give you the "
            "right to change them and to link the program again with your changed "
            "library: unpack %s, build it as README.md says (tools/release.sh builds "
            "this program byte for byte), and put your changed library in the place "
            "of the one named below. The sources of the libraries are Debian's "
            "source packages of the versions named below (\"apt-get source "
            "PACKAGE=VERSION\"). On request the developers give you the object "
            "files of this program to link without building." % (", ".join(lgpl), archive))
    if args.static:
        out.append("")
    out += ["What the program contains", "-------------------------"]
    if args.map:
        out += [wrap("Besides its own code, read from the program's link map:"), ""]
    for source in sorted(components, key=lambda s: (components[s]["kind"], s)):
        c = components[source]
        how = ("Built here from Debian's source package %s %s" % (source, c["version"])
               if c["built_here"] else
               "From Debian's source package %s %s (%s)" % (source, c["version"],
                                                            ", ".join(sorted(c["packages"]))))
        out += [wrap("- %s. %s; linked: %s." % (LICENCES[c["kind"]], how,
                                              ", ".join(sorted(c["files"]))), "  ")]
    for component in args.component:
        name, version, licence, _ = component.split("|", 3)
        out += [wrap("- %s %s: %s." % (name, version, licence), "  ")]
    texts = {}
    for source in sorted(components):
        c = components[source]
        texts.setdefault(c["copyright"], []).append("%s %s" % (source, c["version"]))
    for component in args.component:
        name, version, _, path = component.split("|", 3)
        texts.setdefault(path, []).append("%s %s" % (name, version))
    licences, notices = set(), []
    for path, names in texts.items():
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read().rstrip("\n")
        title = "=== " + ", ".join(names) + " ==="
        notices += ["", title, "", text]
        for name in re.findall(r"/usr/share/common-licenses/([A-Za-z0-9+_-]+(?:\.\d+)?)", text):
            if os.path.isfile("/usr/share/common-licenses/" + name):
                licences.add(os.path.realpath("/usr/share/common-licenses/" + name))
    files = ["LICENSE.%s%s" % (os.path.basename(p), args.suffix) for p in sorted(licences)]
    out += ["", "Notices of each library", "-----------------------",
            wrap("Below, the copyright file of each Debian package named above, as "
                 "Debian ships it, and the notices of the other components. The "
                 "licence texts they name in /usr/share/common-licenses/ (on a "
                 "Debian system) are beside this one: %s." % ", ".join(files))] + notices
    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "NOTICE"), "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")
    for path in sorted(licences):
        # The suffix is the zip's to add.
        with open(path, "rb") as src, \
                open(os.path.join(args.out, "LICENSE." + os.path.basename(path)), "wb") as dst:
            dst.write(src.read())


def check_notice(args):
    with open(args.notice, encoding="utf-8") as f:
        text = f.read()
    packages = Packages(args.fetched, args.from_source, args.ours)
    missing = []
    for source, c in packages.components(args.map).items():
        if args.copyright:
            # A Debian copyright file names what the package's program has
            # linked in, except the compiler's and C library's start-up and
            # run-time code, which no Debian package lists.
            if c["kind"] not in ("glibc", "gcc") and source not in text:
                missing.append(source)
            continue
        for name in [source, c["version"]] + sorted(c["files"]):
            if name not in text:
                missing.append("%s (of %s)" % (name, source))
    if missing:
        sys.exit("%s does not name: %s" % (args.notice, ", ".join(missing)))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("releases")
    p.add_argument("news")
    p = sub.add_parser("changelog")
    p.add_argument("news")
    p.add_argument("maintainer")
    p.add_argument("out")
    p = sub.add_parser("news-text")
    p.add_argument("news")
    p.add_argument("out")
    p = sub.add_parser("linked")
    p.add_argument("map", nargs="+")
    for name in ("notice", "check-notice"):
        p = sub.add_parser(name)
        p.add_argument("--fetched", action="append", default=[])
        p.add_argument("--from-source", action="append", default=[])
        p.add_argument("--ours", action="append", default=[],
                       help="folders whose files are the program's own code")
    p = sub.choices["notice"]
    p.add_argument("--title", required=True)
    p.add_argument("--program", required=True)
    p.add_argument("--source-archive", required=True)
    p.add_argument("--static", action="store_true")
    p.add_argument("--map", action="append", default=[])
    p.add_argument("--component", action="append", default=[])
    p.add_argument("--suffix", default="", help="of the licence files' names, e.g. .txt")
    p.add_argument("out")
    p = sub.choices["check-notice"]
    p.add_argument("notice")
    p.add_argument("map", nargs="+")
    p.add_argument("--copyright", action="store_true")
    args = parser.parse_args()
    if args.command == "releases":
        for r in releases(args.news):
            print(" ".join(r))
    elif args.command == "changelog":
        changelog(args.news, args.maintainer, args.out)
    elif args.command == "news-text":
        news_text(args.news, args.out)
    elif args.command == "linked":
        print("\n".join(linked(args.map)))
    elif args.command == "notice":
        notice(args)
    else:
        check_notice(args)


if __name__ == "__main__":
    main()
