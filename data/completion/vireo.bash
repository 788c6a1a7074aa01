# bash completion for vireo: commands, options, virtual board presets, and files by the
# extensions each command reads. Installed as /usr/share/bash-completion/completions/vireo.

_vireo_files() {
    # $1: the extensions, as an extended glob alternative list (bit|bin|...). Folders always.
    local IFS=$'\n'
    if declare -F _filedir >/dev/null; then
        _filedir "@($1)"
        return
    fi
    # Either case of each letter: .bit and .BIT alike.
    local pattern="" c
    for ((c = 0; c < ${#1}; c++)); do
        local ch=${1:c:1}
        if [[ $ch == [a-z] ]]; then pattern+="[$ch${ch^^}]"; else pattern+=$ch; fi
    done
    local extglob=0
    shopt -q extglob && extglob=1
    shopt -s extglob
    COMPREPLY=($(compgen -d -- "$cur") $(compgen -f -X "!*.@($pattern)" -- "$cur"))
    ((extglob)) || shopt -u extglob
    compopt -o filenames 2>/dev/null
}

_vireo() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local presets="kb2201 kb2201-45 kb2202 kb2203 kb2204 kb2205 lumenk keenprobe keenprobe-c zynq fx3-boot"
    local commands="detect idcode dna status program flash xvc bsdl pins"
    local flash_commands="id uid program verify erase blank read dump"
    local global="-h --help --version --sim --usb --serial --xvc --tck --list -y --yes -d --device --lang -v --verbose -q --quiet --log --json"
    local valued="--log|--lang|--sim|--usb|--serial|--xvc|--tck|-d|--device|--offset|--size|--port|--listen|--allow|--idle-timeout|--bsdl|--set"

    # The command (and the flash command) typed so far; the values of options are skipped.
    local cmd="" sub="" i
    for ((i = 1; i < COMP_CWORD; i++)); do
        local word=${COMP_WORDS[i]}
        if [[ $word == @($valued) ]]; then
            ((i++))
        elif [[ $word != -* ]]; then
            if [[ -z $cmd ]]; then
                cmd=$word
            elif [[ $cmd == flash && -z $sub ]]; then
                sub=$word
            fi
        fi
    done

    case $prev in
    --sim)
        COMPREPLY=($(compgen -W "$presets" -- "$cur"))
        return
        ;;
    --bsdl)
        _vireo_files "bsd|bsdl"
        return
        ;;
    --lang)
        COMPREPLY=($(compgen -W "ja en" -- "$cur"))
        return
        ;;
    --log)
        local IFS=$'\n'
        COMPREPLY=($(compgen -f -- "$cur"))
        compopt -o filenames 2>/dev/null
        return
        ;;
    --usb | --serial | --xvc | --tck | -d | --device | --offset | --size | --port | --listen | --allow | \
        --idle-timeout | --set)
        return
        ;;
    esac

    if [[ $cur == -* ]]; then
        local options=$global
        case $cmd/$sub in
        detect/) options+=" --all" ;;
        program/) options+=" --force -w --wait" ;;
        flash/program) options+=" --offset --force --no-trim --no-verify" ;;
        flash/verify) options+=" --offset" ;;
        flash/dump | flash/erase) options+=" --offset --size" ;;
        flash/read) options+=" --offset --size -f --force" ;;
        xvc/) options+=" --port --listen --allow --idle-timeout" ;;
        pins/) options+=" --bsdl --watch --extest --set" ;;
        esac
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi

    case $cmd/$sub in
    /) COMPREPLY=($(compgen -W "$commands" -- "$cur")) ;;
    flash/) COMPREPLY=($(compgen -W "$flash_commands" -- "$cur")) ;;
    program/) _vireo_files "bit" ;;
    flash/program | flash/verify) _vireo_files "bit|bin|mcs|hex|srec|s19|s28|s37" ;;
    flash/read)
        local IFS=$'\n'
        COMPREPLY=($(compgen -f -- "$cur"))
        compopt -o filenames 2>/dev/null
        ;;
    bsdl/) _vireo_files "bsd|bsdl" ;;
    esac
}

complete -F _vireo vireo
