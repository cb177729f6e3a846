# PowerShell completion for vrdskincfgw: the options, .zip files after
# --skin=, any file after --ie=.
# Made by tools/completions.py from its description of the options: edit that.
# Load it in a console with  . .\vrdskincfgw.ps1  (or put that line into $PROFILE).
Register-ArgumentCompleter -Native -CommandName vrdskincfgw, vrdskincfgw.exe -ScriptBlock {
    param($word)
    if ($word -match '^(--skin=|--ie=)(.*)$') {
        $prefix, $start = $Matches[1], $Matches[2]
        $filter = if ($prefix -eq '--skin=') { '*.zip' } else { '*' }
        Get-ChildItem -File -Name -Filter $filter | Where-Object { $_ -like "$start*" } |
            ForEach-Object { "$prefix$_" }
    } else {
        '--skin= --ie= --import --nowait --help'.Split(' ') | Where-Object { $_ -like "$word*" }
    }
}
