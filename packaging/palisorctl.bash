# bash completion for palisorctl

# The names of the folder's servers, as palisorctl lists them.
_palisorctl_servers()
{
    local i data=()
    for ((i = 1; i < ${#words[@]} - 1; i++)); do
        [[ ${words[i]} == --data ]] && data=(--data "${words[i + 1]}")
    done
    local IFS=$'\n' name
    COMPREPLY=()
    for name in $(palisorctl "${data[@]}" server list 2>/dev/null | cut -f1); do
        [[ $name == "$cur"* ]] && COMPREPLY+=("$(printf '%q' "$name")")
    done
    # A name such as "127.0.0.1:12203" holds a word break of readline's.
    __ltrim_colon_completions "$cur"
}

_palisorctl()
{
    local cur prev words cword
    _init_completion -n : || return

    case $prev in
        --data)
            _filedir -d
            return
            ;;
        --server)
            _palisorctl_servers
            return
            ;;
        --password-file)
            _filedir
            COMPREPLY+=($(compgen -W '-' -- "$cur"))
            return
            ;;
        --kind)
            if [[ " ${words[*]} " == *" history "* ]]; then
                COMPREPLY=($(compgen -W 'kick ban refusal unban' -- "$cur"))
            else
                COMPREPLY=($(compgen -W 'names addresses both' -- "$cur"))
            fi
            return
            ;;
        --format)
            COMPREPLY=($(compgen -W 'text json csv' -- "$cur"))
            return
            ;;
        --since)
            COMPREPLY=($(compgen -W '1h 12h 1d 7d 30d' -- "$cur"))
            return
            ;;
        --name | --address | --reason | --grep | --max-age | --warning-ping)
            return
            ;;
    esac

    # The command and its subcommand: the words that are no options and no
    # option's value.
    local i word command="" sub=""
    for ((i = 1; i < cword; i++)); do
        word=${words[i]}
        case ${words[i - 1]} in
            --data | --server | --password-file | --kind | --format | --since | --name | --address | --reason | --grep | \
                --max-age | --warning-ping)
                continue
                ;;
        esac
        [[ $word == -* ]] && continue
        if [[ -z $command ]]; then
            command=$word
        elif [[ -z $sub ]]; then
            sub=$word
        fi
    done

    local options='--data --server --help'
    case $command in
        "")
            COMPREPLY=($(compgen -W 'server settings password ban immune illegal alias announce recent history status check database --data --server --help --version' -- "$cur"))
            ;;
        server)
            if [[ -z $sub ]]; then
                COMPREPLY=($(compgen -W 'add set rename remove list' -- "$cur"))
            elif [[ $cur == -* ]]; then
                [[ $sub == add ]] && COMPREPLY=($(compgen -W "--password-file $options" -- "$cur"))
            elif [[ $prev == @(set|rename|remove) && ${words[cword - 2]} == server ]]; then
                _palisorctl_servers
            elif [[ $sub == @(add|set) && $prev != add ]]; then
                compopt -o nospace
                COMPREPLY=($(compgen -W 'address= port= scan-time= max-ping= announcements=on announcements=off interval=' -- "$cur"))
            fi
            ;;
        settings)
            if [[ -z $sub ]]; then
                COMPREPLY=($(compgen -W 'show set' -- "$cur"))
            elif [[ $sub == set ]]; then
                compopt -o nospace
                COMPREPLY=($(compgen -W 'address= port= scan-time= max-ping= announcements=on announcements=off interval=' -- "$cur"))
            fi
            ;;
        password)
            [[ -z $sub ]] && COMPREPLY=($(compgen -W 'set' -- "$cur")) ||
                COMPREPLY=($(compgen -W "--password-file $options" -- "$cur"))
            ;;
        ban)
            case $sub in
                "") COMPREPLY=($(compgen -W 'add remove list import export' -- "$cur")) ;;
                add) COMPREPLY=($(compgen -W "--name --address --reason $options" -- "$cur")) ;;
                remove) COMPREPLY=($(compgen -W "--name --address $options" -- "$cur")) ;;
                list) COMPREPLY=($(compgen -W "--grep $options" -- "$cur")) ;;
                import | export)
                    if [[ $cur == -* ]]; then
                        COMPREPLY=($(compgen -W "--kind $options" -- "$cur"))
                    else
                        _filedir
                    fi
                    ;;
            esac
            ;;
        immune | illegal | alias)
            [[ -z $sub ]] && COMPREPLY=($(compgen -W 'add remove list' -- "$cur"))
            ;;
        announce)
            [[ -z $sub ]] && COMPREPLY=($(compgen -W 'add remove move list' -- "$cur"))
            ;;
        recent)
            [[ -z $sub ]] && COMPREPLY=($(compgen -W 'list' -- "$cur")) ||
                COMPREPLY=($(compgen -W "--grep --since $options" -- "$cur"))
            ;;
        history)
            COMPREPLY=($(compgen -W "--kind --since --format $options" -- "$cur"))
            ;;
        status)
            COMPREPLY=($(compgen -W "$options" -- "$cur"))
            ;;
        check)
            COMPREPLY=($(compgen -W "--max-age --warning-ping $options" -- "$cur"))
            ;;
        database)
            if [[ -z $sub ]]; then
                COMPREPLY=($(compgen -W 'show set create import backup' -- "$cur"))
            elif [[ $sub == set ]]; then
                compopt -o nospace
                COMPREPLY=($(compgen -W 'location= user= --password-file' -- "$cur"))
            elif [[ $sub == import ]]; then
                _filedir -d
            elif [[ $sub == backup ]]; then
                # A path on the database host, which may be this one.
                _filedir
            fi
            ;;
    esac
} &&
    complete -F _palisorctl palisorctl
