# bash completion for poolsync                                -*- shell-script -*-
#
# Self-contained: it needs nothing from the bash-completion package.

_poolsync()
{
    local cur=${COMP_WORDS[COMP_CWORD]}
    local IFS=$'\n' i options=1
    COMPREPLY=()
    # After "--" every word is a file.
    for ((i = 1; i < COMP_CWORD; i++)); do
        [[ ${COMP_WORDS[i]} == -- ]] && options=0
    done
    if ((options)) && [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W $'-h\n-n\n-q\n--help\n--version\n--' -- "$cur"))
    else
        compopt -o filenames 2>/dev/null
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
    return 0
}
complete -F _poolsync poolsync
