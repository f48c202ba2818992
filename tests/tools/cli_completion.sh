#!/usr/bin/env bash
# The generated bash completion offers the commands, each command's own options, the
# adapter names and model keywords of the option table, and *.hex files for flash.
DIAGBRIDGE=$1
DIAGBRIDGE_SIM=unused
source "$(dirname "$0")/cli_fixture.sh"
source <("$DIAGBRIDGE" completion bash)

# complete_line WORDS...: the completions offered for the last word.
complete_line() {
    COMP_WORDS=(diagbridge "$@")
    COMP_CWORD=$#
    COMPREPLY=()
    _diagbridge
    printf '%s\n' "${COMPREPLY[@]}" | sort >"$WORK/reply.txt"
}

complete_line fl
expect commands "$WORK/reply.txt" '^flash$'
complete_line flash --pro
expect flash_options "$WORK/reply.txt" '^--profile$'
expect flash_options "$WORK/reply.txt" '^--protocol$'
complete_line request --fun
expect request_only "$WORK/reply.txt" '^--functional$'
complete_line ident --fun
expect_none ident_has_no_functional "$WORK/reply.txt" 'functional'
complete_line ident --adapter s
expect adapters "$WORK/reply.txt" '^samtec$'
expect adapters "$WORK/reply.txt" '^skylink$'
complete_line ident --ecu T60.1_UDS_
expect_lines models "$WORK/reply.txt" 5
touch "$WORK/firmware.hex" "$WORK/notes.txt"
complete_line flash "$WORK/"
expect hex_files "$WORK/reply.txt" 'firmware\.hex$'
expect_none hex_files "$WORK/reply.txt" 'notes\.txt'
finish
