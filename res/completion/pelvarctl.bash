# bash completion for pelvarctl

# The port numbers attached in the port directory, as pelvarctl finds it.
_pelvarctl_ports()
{
    local dir
    if [[ -n ${PELVAR_PORTS_DIR+set} ]]; then
        dir=$PELVAR_PORTS_DIR
    elif [[ -n $XDG_RUNTIME_DIR ]]; then
        dir=$XDG_RUNTIME_DIR/pelvar/ports
    else
        dir=/tmp/pelvar-$EUID/ports
    fi
    local entry
    for entry in "$dir"/COM*; do
        [[ -e $entry || -L $entry ]] && printf '%s\n' "${entry##*/COM}"
    done
}

# Register names (and NAME.FIELD) of the map pelvarctl would read: --map's
# file on the line, else the default map.
_pelvarctl_registers()
{
    local map=$1
    if [[ -z $map ]]; then
        map=${XDG_CONFIG_HOME:-$HOME/.config}/pelvar/registers.json
    fi
    [[ -r $map ]] || return
    command -v python3 >/dev/null || return
    python3 - "$map" 2>/dev/null <<'PY'
import json, sys
try:
    for r in json.load(open(sys.argv[1])).get("registers", []):
        print(r["name"])
        for f in r.get("fields", []):
            print(r["name"] + "." + f["name"])
except Exception:
    pass
PY
}

_pelvarctl()
{
    local cur prev words cword
    if declare -F _init_completion >/dev/null; then
        _init_completion || return
    else
        COMPREPLY=()
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD-1]}
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
    fi

    local options='--port --map --json --trace --trace=decoded --trace=both --capture --stop-at-loss --rs485 --verbose --help --version'
    local verbs='ports connect disconnect set press reg preset diagnose monitor transact query run sleep'

    if [[ $prev == --port ]]; then
        COMPREPLY=($(compgen -W "all $(_pelvarctl_ports)" -- "$cur"))
        return
    fi
    if [[ $prev == --map || $prev == --capture ]]; then
        COMPREPLY=($(compgen -f -- "$cur"))
        compopt -o filenames 2>/dev/null
        return
    fi

    # Find the verb: the first word that is neither an option nor --port's value.
    local i verb='' verb_at=0
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --port|--map|--capture) ((i++)) ;;
            -*) ;;
            *) verb=${words[i]}; verb_at=$i; break ;;
        esac
    done

    if [[ -z $verb ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "$options" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$verbs" -- "$cur"))
        fi
        return
    fi

    local arg=$((cword - verb_at))   # 1: the first word after the verb
    case $verb in
        set)
            ((arg == 1)) && COMPREPLY=($(compgen -W 'brightness contrast red green blue' -- "$cur"))
            ;;
        press)
            ((arg == 1)) && COMPREPLY=($(compgen -W 'edge scale gamma test-pattern left right up down
                init release func16 func18 func19' -- "$cur"))
            ;;
        query)
            ((arg == 1)) && COMPREPLY=($(compgen -W 'status regread' -- "$cur"))
            ;;
        reg)
            local map='' j
            for ((j = 1; j < verb_at; j++)); do
                [[ ${words[j]} == --map ]] && map=${words[j+1]}
                [[ ${words[j]} == --map=* ]] && map=${words[j]#--map=}
            done
            if ((arg == 1)); then
                COMPREPLY=($(compgen -W 'read write dump watch expect' -- "$cur"))
            elif [[ ${words[verb_at+1]} == write && $cur == -* ]]; then
                COMPREPLY=($(compgen -W '--verify' -- "$cur"))
            elif [[ ${words[verb_at+1]} == watch && $cur == -* ]]; then
                COMPREPLY=($(compgen -W '--interval --count' -- "$cur"))
            elif [[ $prev != --interval && $prev != --count ]] &&
                 { ((arg == 2)) || [[ ${words[verb_at+1]} == dump ]]; }; then
                COMPREPLY=($(compgen -W "$(_pelvarctl_registers "$map")" -- "$cur"))
            fi
            ;;
        preset)
            if ((arg == 1)); then
                COMPREPLY=($(compgen -W 'apply save' -- "$cur"))
            elif ((arg == 2)); then
                COMPREPLY=($(compgen -f -- "$cur"))
                compopt -o filenames 2>/dev/null
            elif [[ ${words[verb_at+1]} == save && $cur == -* ]]; then
                COMPREPLY=($(compgen -W '--brightness --contrast --red --green --blue --reg' -- "$cur"))
            fi
            ;;
        transact)
            ((arg == 1)) && COMPREPLY=($(compgen -W 'status func_16 scale func_18 func_19 edge gamma
                arrow_right arrow_left arrow_up arrow_down reg_read init brightness contrast
                gain_red gain_green gain_blue reg_write reg_address test_pattern release' -- "$cur"))
            ;;
        ports)
            ((arg == 1)) && COMPREPLY=($(compgen -W '--verbose' -- "$cur"))
            ;;
        run)
            if ((arg == 1)); then
                COMPREPLY=($(compgen -f -- "$cur"))
                compopt -o filenames 2>/dev/null
            fi
            ;;
    esac
}

complete -F _pelvarctl pelvarctl
