# fish completion for vrdskincfg (vrdskincfgm on macOS): the options, .zip
# files after --skin=, any file after --ie=.
# Made by tools/completions.py from its description of the options: edit that.
# Options with a value are offered with their '=' (--skin=), as bash does.
complete -c vrdskincfg -c vrdskincfgm -f
function __vrdskincfg_files  # PREFIX [REGEX]: files (matching REGEX) after PREFIX
    set -l word (commandline -ct)
    string match -q -- "$argv[1]*" $word; or return
    set -l files (__fish_complete_path (string replace -- $argv[1] '' $word))
    set -q argv[2]; and set files (string match -r -e -- $argv[2] $files)
    printf '%s\n' $argv[1]$files
end
complete -c vrdskincfg -c vrdskincfgm -a '--skin=' -d 'the skin archive (default vrd.zip)'
complete -c vrdskincfg -c vrdskincfgm -a "(__vrdskincfg_files --skin= '(?i)(?:\.zip|/)\s*\$')"
complete -c vrdskincfg -c vrdskincfgm -a '--ie=' -d 'the settings file for import and export'
complete -c vrdskincfg -c vrdskincfgm -a "(__vrdskincfg_files --ie=)"
complete -c vrdskincfg -c vrdskincfgm -l import -d 'import the settings file and apply it without asking'
complete -c vrdskincfg -c vrdskincfgm -l nowait -d 'do not wait for RETURN before exiting'
complete -c vrdskincfg -c vrdskincfgm -l help -d 'print the usage and exit'
