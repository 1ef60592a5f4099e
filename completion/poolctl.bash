# bash completion for poolctl                                 -*- shell-script -*-
#
# Self-contained: it needs nothing from the bash-completion package. Pool
# names for enable, disable and -g come from "poolctl list -v", that is from
# the definitions of /etc/rp.d, as enable and disable read them.

# Prints the pool names of the installed definitions, one per line.
_poolctl_pools()
{
    local poolctl=$1
    "$poolctl" list -v 2>/dev/null </dev/null | {
        read -r _ || return 0 # the header
        local line
        while IFS= read -r line; do
            printf '%s\n' "${line%%,*}"
        done
    }
}

# Sets COMPREPLY to the words of $1 (one per line) that begin with $2.
# compgen -W would expand the words, and so run a "$(...)" held in a pool
# name; a plain prefix test takes every name as it is.
_poolctl_reply()
{
    local word
    COMPREPLY=()
    while IFS= read -r word; do
        [[ -n $word && $word == "$2"* ]] && COMPREPLY+=("$word")
    done <<<"$1"
}

# Sets COMPREPLY to the files and folders that begin with $1.
_poolctl_files()
{
    local IFS=$'\n'
    compopt -o filenames 2>/dev/null
    COMPREPLY=($(compgen -f -- "$1"))
}

_poolctl()
{
    # The program as typed, so that a poolctl outside PATH lists its own
    # definitions; readline leaves a leading ~ unexpanded.
    local poolctl=${1:-poolctl}
    [[ $poolctl == "~/"* ]] && poolctl=$HOME/${poolctl#"~/"}
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=""
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()

    if ((COMP_CWORD == 1)); then
        if [[ $cur == -* ]]; then
            _poolctl_reply $'-e\n-g\n-h\n-i\n-m\n-w' "$cur"
        else
            _poolctl_reply $'disable\nunload\nenable\nload\nlist' "$cur"
        fi
        return 0
    fi

    local command=${COMP_WORDS[1]}
    # After "--" every word is an operand.
    local i options=1
    for ((i = 2; i < COMP_CWORD; i++)); do
        [[ ${COMP_WORDS[i]} == -- ]] && options=0
    done

    local flags operands
    case $command in
    list) flags=$'-h\n-v' operands=files ;;
    load) flags=$'-h\n-q' operands=files ;;
    unload) flags='-h' operands=files ;;
    enable) flags='-h' operands=pools ;;
    disable)
        flags=$'-h\n-n\n-w'
        operands=pools
        # The argument of -w is a number of seconds.
        ((options)) && [[ $prev == -w ]] && return 0
        ;;
    -*)
        # The legacy options: -g takes a group path, -m and -w a number.
        case $prev in
        -g)
            _poolctl_reply "$(_poolctl_pools "$poolctl")" "$cur"
            return 0
            ;;
        -m | -w) return 0 ;;
        esac
        _poolctl_reply $'-e\n-g\n-h\n-i\n-m\n-w' "$cur"
        return 0
        ;;
    *) return 0 ;;
    esac

    if ((options)) && [[ $cur == -* ]]; then
        _poolctl_reply "$flags"$'\n--' "$cur"
    elif [[ $operands == pools ]]; then
        _poolctl_reply "$(_poolctl_pools "$poolctl")" "$cur"
    else
        _poolctl_files "$cur"
    fi
    return 0
}
complete -F _poolctl poolctl
