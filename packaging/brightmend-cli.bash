# bash completion for brightmend-cli

# Files whose names end in one of the extended patterns $1 (store files:
# .ost, .pst and their .bak copies), and directories, one reply a name so that
# names with spaces stay whole.
_brightmend_cli_files()
{
    if declare -F _filedir >/dev/null; then
        _filedir "$1"
        return
    fi
    local had_extglob=0
    shopt -q extglob && had_extglob=1
    shopt -s extglob
    local IFS=$'\n'
    mapfile -t COMPREPLY < <(compgen -f -X "!*.@($1)" -- "$cur"; compgen -d -- "$cur")
    [[ $had_extglob -eq 1 ]] || shopt -u extglob
}

_brightmend_cli()
{
    local cur prev words cword
    if declare -F _init_completion >/dev/null; then
        _init_completion || return
    else
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD-1]}
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
    fi

    local commands="analyze list save export search info check batch-summary"
    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            analyze|list|save|export|search|info|check) command=${words[i]}; break ;;
        esac
    done

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "--help --version --quiet -q" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        fi
        return
    fi

    case $prev in
        --to)
            local IFS=$'\n'
            mapfile -t COMPREPLY < <(compgen -d -- "$cur"); return ;;
        --output)
            if [[ $command == export ]]; then
                local IFS=$'\n'
                mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            else
                _brightmend_cli_files 'pst'
            fi
            return ;;
        --resume)
            # The journal of a save that was cut off, or the folder it is in.
            local IFS=$'\n'
            mapfile -t COMPREPLY < <(compgen -f -- "$cur"); return ;;
        --batch)
            # A folder of stores, or a list of them in a file.
            local IFS=$'\n'
            mapfile -t COMPREPLY < <(compgen -f -- "$cur"); return ;;
        --format)
            COMPREPLY=($(compgen -W "mbox maildir eml" -- "$cur")); return ;;
        --split-by)
            COMPREPLY=($(compgen -W "year" -- "$cur")); return ;;
        --jobs|--shard|--split-size|--since|--until|--from|--class)
            return ;;
        --folder|--tree)
            # A folder path as `list` prints it; nothing to offer from here.
            return ;;
    esac

    local options
    case $command in
        analyze) options="--json --deep-scan --recover-deleted --help" ;;
        list)    options="--json --folder --deep-scan --recover-deleted --help" ;;
        save)    options="--to --output --batch --jobs --shard --folder --tree --all --json --deep-scan --recover-deleted --mark-damaged --split-size --split-by --resume --since --until --from --class --dedupe --help" ;;
        export)  options="--to --output --batch --jobs --shard --format --folder --tree --all --json --deep-scan --recover-deleted --since --until --from --class --dedupe --help" ;;
        search)  options="--no-subdirs --help" ;;
        info)    options="--help" ;;
        check)   options="--strict --json --help" ;;
        batch-summary) options="--json --help" ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    case $command in
        search)
            local IFS=$'\n'
            mapfile -t COMPREPLY < <(compgen -d -- "$cur") ;;
        *)
            _brightmend_cli_files '@(ost|pst|OST|PST)?(.bak|.BAK)' ;;
    esac
    [[ ${#COMPREPLY[@]} -eq 1 && -d ${COMPREPLY[0]} ]] && compopt -o nospace 2>/dev/null
    return 0
}
complete -F _brightmend_cli -o filenames brightmend-cli
