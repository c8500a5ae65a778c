# bash completion for palisorctl

_palisorctl()
{
    local cur prev words cword
    _init_completion || return

    case $prev in
        --data)
            _filedir -d
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
            --data | --password-file | --kind | --format | --since | --name | --address | --reason | --grep | \
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

    local options='--data --help'
    case $command in
        "")
            COMPREPLY=($(compgen -W 'settings password ban immune illegal alias announce recent history status check database --data --help --version' -- "$cur"))
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
                COMPREPLY=($(compgen -W 'show set create import' -- "$cur"))
            elif [[ $sub == set ]]; then
                compopt -o nospace
                COMPREPLY=($(compgen -W 'location= user= --password-file' -- "$cur"))
            fi
            ;;
    esac
} &&
    complete -F _palisorctl palisorctl
