# bash completion for tarnwick, pellory and korvo-sim          -*- shell-script -*-
#
# Installed once under each program's name in bash-completion's folder; every
# list comes from the program itself, so that the completion never falls
# behind it: the long options from --help, the serial devices from
# --list-ports, the part names from --list-parts.

# The long options a program's --help lists: each begins an indented line.
_avrisp_long_options()
{
    "$1" --help 2>/dev/null | sed -n 's/^[[:space:]]\{1,\}\(--[[:alnum:]][[:alnum:]-]*\).*/\1/p'
}

# --list-parts prints a header line, then one part a line whose first field is
# its name; parts that share a signature are named together, joined by '/'.
# korvo-sim simulates the parts tarnwick programs, so tarnwick names them when
# korvo-sim does not.
_avrisp_part_names()
{
    local program=$1 names
    names=$("$program" --list-parts 2>/dev/null | awk 'NR > 1 && NF { n = split($1, part, "/"); for (i = 1; i <= n; i++) print part[i] }')
    if [[ -z $names && ${program##*/} == korvo-sim ]]; then
        names=$(tarnwick --list-parts 2>/dev/null | awk 'NR > 1 && NF { n = split($1, part, "/"); for (i = 1; i <= n; i++) print part[i] }')
    fi
    printf '%s\n' "$names"
}

_avrisp()
{
    local program=$1 name=${1##*/}
    local cur=${COMP_WORDS[COMP_CWORD]} prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    # "--port=/dev/tt" reaches us as "--port" "=" "/dev/tt" (or with "=" as
    # the word being completed).
    if [[ $cur == = ]]; then
        cur=
    elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    fi

    local IFS=$'\n'
    COMPREPLY=()
    case $prev in
        --port)
            # tarnwick's port is a serial device; pellory's is an I/O address.
            if [[ $name == tarnwick ]]; then
                COMPREPLY=($(compgen -W "$("$program" --list-ports 2>/dev/null)" -- "$cur"))
            fi
            return
            ;;
        --part | --decode-fuses)
            COMPREPLY=($(compgen -W "$(_avrisp_part_names "$program")" -- "$cur"))
            return
            ;;
        --link | --state | --trace)
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(_avrisp_long_options "$program")" -- "$cur"))
    fi
}

complete -F _avrisp tarnwick pellory korvo-sim
