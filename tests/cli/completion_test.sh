#!/usr/bin/env bash
# vireo's bash completion as a shell runs it: the words typed so far in, the candidates out.
# Arguments: the completion file, the vireo program (for the presets it knows).
set -u
source "$1"
presets=$("$2" --sim no-such-board detect 2>&1 | sed -n 's/.*(known: \(.*\)).*/\1/p' | tr -d ,)
cd "$(mktemp -d)" && touch top.bit top.BIT image.mcs notes.txt design.bsd && mkdir sub
failed=0
# expect "WORDS TYPED" "CANDIDATES": a trailing blank starts a new word.
expect() {
    read -ra COMP_WORDS <<<"$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _vireo
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
    [[ $got == "$2" ]] || { echo "FAIL: '$1' gave '$got', expected '$2'"; failed=1; }
}
expect "vireo --sim " "$(printf '%s\n' $presets | sort | xargs)"
expect "vireo fl" "flash"
expect "vireo --lang " "en ja"
expect "vireo --lang en fl" "flash"
expect "vireo --sim kb2203 flash " "blank dump erase id program read uid verify"
expect "vireo flash program " "image.mcs sub top.BIT top.bit"
expect "vireo --device 1 flash verify --offset 1000 " "image.mcs sub top.BIT top.bit"
expect "vireo --sim kb2203 program " "sub top.BIT top.bit"
expect "vireo flash read --o" "--offset"
expect "vireo flash read --offset " ""
expect "vireo flash erase --si" "--sim --size"
expect "vireo flash erase --o" "--offset"
expect "vireo flash dump --size 100 --o" "--offset"
expect "vireo xvc --i" "--idle-timeout"
expect "vireo pins --bsdl " "design.bsd sub"
expect "vireo bsdl " "design.bsd sub"
expect "vireo --j" "--json"
expect "vireo -q --log " "design.bsd image.mcs notes.txt sub top.BIT top.bit"
expect "vireo --log out.log fl" "flash"
rm -rf "$PWD"
[[ $failed == 0 ]] && echo "completion: every case passed"
exit $failed
