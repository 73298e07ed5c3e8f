# bash completion for kestran
_kestran() {
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    case $prev in
        -o | --offset | --drive-offset)
            # A number follows: nothing to offer.
            COMPREPLY=()
            return
            ;;
        --dat)
            local IFS=$'\n'
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -X '!*.[dD][aA][tT]' -- "$cur") $(compgen -d -- "$cur"))
            return
            ;;
        --accuraterip)
            local IFS=$'\n'
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -X '!*.[bB][iI][nN]' -- "$cur") $(compgen -d -- "$cur"))
            return
            ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '-o --offset --drive-offset -n --dry-run --undo --dat --hash
            --accuraterip --checksums --detect
            -r --recursive --json -q --quiet -h --help --version --' -- "$cur"))
        return
    fi
    # Control files and cue sheets in any case, and folders to find them in (or to walk, with -r).
    local IFS=$'\n'
    compopt -o filenames 2>/dev/null
    COMPREPLY=($(compgen -f -X '!*.[cC][cC][dD]' -- "$cur") $(compgen -f -X '!*.[cC][uU][eE]' -- "$cur")
        $(compgen -d -- "$cur"))
}
complete -F _kestran kestran
