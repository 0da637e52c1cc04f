# bash completion for tarnwick, pellory and korvo-sim          -*- shell-script -*-
#
# Installed once under each program's name in bash-completion's folder; every
# list comes from the program itself, so that the completion never falls
# behind it: the long options from --help, the serial devices from
# --list-ports, the part names from --list-parts, the command words from
# --list-commands.
#
# No list read from a program goes through `compgen -W`, which expands its word
# list as the shell would: a device named usb-$(touch x) would run touch at the
# Tab key. The lists are matched here word by word and offered as they are.

# Adds each line of standard input that begins with $1 to COMPREPLY; with $2
# set, letter case is ignored.
_avrisp_offer()
{
    local cur=$1 nocase=${2:-} word
    while IFS= read -r word; do
        [[ -n $word ]] || continue
        if [[ -n $nocase ]]; then
            [[ ${word,,} == "${cur,,}"* ]] || continue
        else
            [[ $word == "$cur"* ]] || continue
        fi
        COMPREPLY+=("$word")
    done
}

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

# A command-line command: "-" and a word of --list-commands, letter case
# ignored, the argument joined to it. After a word that takes a file the file
# names are offered, the command kept in front; otherwise the words that begin
# as typed. The first word that matches is the one the program runs, as the
# list is in the program's order.
_avrisp_command()
{
    local program=$1 cur=$2 typed=${2#-} word kind line
    local -a words=()
    while IFS= read -r line; do
        word=${line%% *} kind=${line#"$word"}
        if [[ $kind == " file" && ${typed,,} == "${word,,}"* ]]; then
            local command=-${typed:0:${#word}} file
            while IFS= read -r file; do
                [[ -d $file ]] && file+=/ && compopt -o nospace 2>/dev/null
                COMPREPLY+=("$command$file")
            done < <(compgen -f -- "${typed:${#word}}")
            return
        fi
        words+=("-$word")
        # A file name is joined to its command: no space after one.
        [[ $kind == " file" && ${word,,} == "${typed,,}"* ]] && compopt -o nospace 2>/dev/null
    done < <("$program" --list-commands 2>/dev/null)
    _avrisp_offer "$cur" nocase < <(printf '%s\n' "${words[@]}")
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

    COMPREPLY=()
    case $prev in
        --port)
            # tarnwick's port is a serial device; pellory's is an I/O address.
            # As file names, the line editor quotes what it inserts.
            if [[ $name == tarnwick ]]; then
                compopt -o filenames 2>/dev/null
                _avrisp_offer "$cur" < <("$program" --list-ports 2>/dev/null)
            fi
            return
            ;;
        --part | --decode-fuses)
            _avrisp_offer "$cur" nocase < <(_avrisp_part_names "$program")
            return
            ;;
        --link | --state | --trace)
            compopt -o filenames 2>/dev/null
            # Read line by line: split from $(...), a name holding '*' would
            # be expanded again.
            local file
            while IFS= read -r file; do COMPREPLY+=("$file"); done < <(compgen -f -- "$cur")
            return
            ;;
    esac
    if [[ $cur == --* ]]; then
        _avrisp_offer "$cur" < <(_avrisp_long_options "$program")
    elif [[ $cur == -* && $name != korvo-sim ]]; then
        compopt -o filenames 2>/dev/null
        _avrisp_command "$program" "$cur"
    fi
}

complete -F _avrisp tarnwick pellory korvo-sim
