# bash completion for vrdskincfg (vrdskincfgm on macOS): the options, .zip
# files after --skin=, any file after --ie=.
# Made by tools/completions.py from its description of the options: edit that.
# Installed as share/bash-completion/completions/<program>, where
# bash-completion finds it.
_vrdskincfg()
{
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        --skin)
            _filedir zip
            return
            ;;
        --ie)
            _filedir
            return
            ;;
    esac
    $split && return

    # Each option may be given once: offer only those not on the line yet.
    local opt given=" ${words[*]:1:cword-1} ${words[*]:cword+1} " opts=()
    for opt in --skin= --ie= --import --nowait --help; do
        [[ $given == *" ${opt%=}"[=\ ]* ]] || opts+=("$opt")
    done
    COMPREPLY=($(compgen -W '${opts[*]}' -- "$cur"))
    [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
}
complete -F _vrdskincfg vrdskincfg vrdskincfgm
