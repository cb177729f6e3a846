#!/usr/bin/env python3
"""The shell completions of the program, made from one description of its
options (OPTIONS below, the same as the usage the program prints):

  python3 tools/completions.py           writes doc/completions/*
  python3 tools/completions.py --check   fails unless those are up to date

bash (vrdskincfg.bash), zsh (_vrdskincfg) and fish (vrdskincfg.fish)
complete the options, each once, .zip files after --skin= and any file after
--ie=, for vrdskincfg and vrdskincfgm; PowerShell (vrdskincfgw.ps1, in the
Windows zip) the same for vrdskincfgw.
"""
import os
import sys

# Option, what its argument is (None: no argument, "zip": a .zip file,
# "file": any file), what it does.
OPTIONS = [
    ("--skin", "zip", "the skin archive (default vrd.zip)"),
    ("--ie", "file", "the settings file for import and export"),
    ("--import", None, "import the settings file and apply it without asking"),
    ("--nowait", None, "do not wait for RETURN before exiting"),
    ("--help", None, "print the usage and exit"),
]
FOLDER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "doc", "completions")
MADE = "Made by tools/completions.py from its description of the options: edit that"


def words():
    return " ".join(o + ("=" if arg else "") for o, arg, _ in OPTIONS)


def bash():
    cases = "".join(
        "        %s)\n            _filedir%s\n            return\n            ;;\n"
        % (o, " zip" if arg == "zip" else "") for o, arg, _ in OPTIONS if arg)
    return """# bash completion for vrdskincfg (vrdskincfgm on macOS): the options, .zip
# files after --skin=, any file after --ie=.
# %s.
# Installed as share/bash-completion/completions/<program>, where
# bash-completion finds it.
_vrdskincfg()
{
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
%s    esac
    $split && return

    # Each option may be given once: offer only those not on the line yet.
    local opt given=" ${words[*]:1:cword-1} ${words[*]:cword+1} " opts=()
    for opt in %s; do
        [[ $given == *" ${opt%%=}"[=\\ ]* ]] || opts+=("$opt")
    done
    COMPREPLY=($(compgen -W '${opts[*]}' -- "$cur"))
    [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
}
complete -F _vrdskincfg vrdskincfg vrdskincfgm
""" % (MADE, cases, words())


def zsh():
    specs = []
    for o, arg, text in OPTIONS:
        if o == "--help":
            specs.append("'(- *)%s[%s]'" % (o, text))
        elif arg:
            action = "_files -g '*.(#i)zip(-.)'" if arg == "zip" else "_files"
            specs.append("'(%s)%s=[%s]:%s:%s'" % (o, o, text, o[2:], action.replace("'", "'\\''")))
        else:
            specs.append("'(%s)%s[%s]'" % (o, o, text))
    return """#compdef vrdskincfg vrdskincfgm
# zsh completion for vrdskincfg (vrdskincfgm on macOS): the options, .zip
# files after --skin=, any file after --ie=.
# %s.
_arguments -S \\
  %s
""" % (MADE, " \\\n  ".join(specs))


def fish():
    lines = ["# fish completion for vrdskincfg (vrdskincfgm on macOS): the options, .zip",
             "# files after --skin=, any file after --ie=.", "# %s." % MADE,
             "# Options with a value are offered with their '=' (--skin=), as bash does.",
             "complete -c vrdskincfg -c vrdskincfgm -f",
             "function __vrdskincfg_files  # PREFIX [REGEX]: files (matching REGEX) after PREFIX",
             "    set -l word (commandline -ct)",
             "    string match -q -- \"$argv[1]*\" $word; or return",
             "    set -l files (__fish_complete_path (string replace -- $argv[1] '' $word))",
             "    set -q argv[2]; and set files (string match -r -e -- $argv[2] $files)",
             "    printf '%s\\n' $argv[1]$files",
             "end"]
    for o, arg, text in OPTIONS:
        start = "complete -c vrdskincfg -c vrdskincfgm"
        if arg:
            lines.append("%s -a '%s=' -d '%s'" % (start, o, text))
            regex = " '(?i)(?:\\.zip|/)\\s*\\$'" if arg == "zip" else ""
            lines.append("%s -a \"(__vrdskincfg_files %s=%s)\"" % (start, o, regex))
        else:
            lines.append("%s -l %s -d '%s'" % (start, o[2:], text))
    return "\n".join(lines) + "\n"


def powershell():
    return """# PowerShell completion for vrdskincfgw: the options, .zip files after
# --skin=, any file after --ie=.
# %s.
# Load it in a console with  . .\\vrdskincfgw.ps1  (or put that line into $PROFILE).
Register-ArgumentCompleter -Native -CommandName vrdskincfgw, vrdskincfgw.exe -ScriptBlock {
    param($word)
    if ($word -match '^(--skin=|--ie=)(.*)$') {
        $prefix, $start = $Matches[1], $Matches[2]
        $filter = if ($prefix -eq '--skin=') { '*.zip' } else { '*' }
        Get-ChildItem -File -Name -Filter $filter | Where-Object { $_ -like "$start*" } |
            ForEach-Object { "$prefix$_" }
    } else {
        '%s'.Split(' ') | Where-Object { $_ -like "$word*" }
    }
}
""" % (MADE, words())


FILES = {"vrdskincfg.bash": bash, "_vrdskincfg": zsh, "vrdskincfg.fish": fish,
         "vrdskincfgw.ps1": powershell}


def main():
    check = sys.argv[1:] == ["--check"]
    stale = []
    for name, make in FILES.items():
        path = os.path.join(FOLDER, name)
        text = make()
        if check:
            if not os.path.exists(path) or open(path, encoding="utf-8").read() != text:
                stale.append(name)
        else:
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
    if stale:
        sys.exit("doc/completions/%s not made from tools/completions.py: run it"
                 % ", ".join(stale))


if __name__ == "__main__":
    main()
