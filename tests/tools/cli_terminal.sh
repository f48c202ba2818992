#!/usr/bin/env bash
# flash on a terminal (tmux): the bar shows percent, bytes/s and time left; Ctrl-C stops the
# download after the current transfer, says what state the ECU is in and exits 130.
DIAGBRIDGE=$1
DIAGBRIDGE_SIM=$2
STMIN=05
source "$(dirname "$0")/cli_fixture.sh"
TMUX_SOCKET=diagbridge-test-$$
tmux_() { tmux -L "$TMUX_SOCKET" "$@"; }
trap 'tmux_ kill-server 2>/dev/null; cleanup' EXIT

# Polls the pane (up to 60 s) until it shows the pattern; the pane text in $WORK/pane.txt.
wait_pane() {
    for _ in $(seq 600); do
        tmux_ capture-pane -p -t flash >"$WORK/pane.txt"
        grep -Eq -- "$1" "$WORK/pane.txt" && return 0
        sleep 0.1
    done
    echo "FAIL: the pane never showed '$1'"; cat "$WORK/pane.txt"
    exit 1
}

start_uds
write_hex "$WORK/small.hex" 400000 2048
write_hex "$WORK/large.hex" 400000 32768
flash_in_pane() {
    tmux_ kill-session -t flash 2>/dev/null
    tmux_ new-session -d -s flash -x 150 -y 40 \
        "$DIAGBRIDGE flash --ecu T60.1 --bus hub:$BUS $1; echo EXIT=\$?; sleep 600"
}

flash_in_pane "$WORK/small.hex"
wait_pane '^EXIT='
expect bar "$WORK/pane.txt" 'TransferData 100 +\[#{24}\] 100%  [0-9.]+ (k?B/s)  0:00 left'
expect bar "$WORK/pane.txt" '^flashed 2048 bytes in '
expect bar "$WORK/pane.txt" '^EXIT=0$'

flash_in_pane "$WORK/large.hex"
wait_pane 'TransferData [0-9]+ +\[#*-+\] +[0-9]+%  [0-9.]+ k?B/s  [0-9]+:[0-9]{2} left'
tmux_ send-keys -t flash C-c
wait_pane '^EXIT='
expect interrupt "$WORK/pane.txt" 'interrupted: stopped after the current transfer'
expect interrupt "$WORK/pane.txt" 'partly programmed: it stays in its boot loader'
expect interrupt "$WORK/pane.txt" '^EXIT=130$'
finish
