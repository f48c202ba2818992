#!/bin/bash
# Runs a shell session (--json) against a virtual UDS ECU on a hub bus of its own and
# compares the output with the expected lines.
# usage: run_with_uds_ecu.sh <diagbridge-sim> <diagbridge> <model> <session> <expected>
set -u
sim=$1 program=$2 model=$3 session=$4 expected=$5
dir=$(mktemp -d /tmp/diagbridge-session-XXXXXX)
pids=()
finish() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$dir"
}
trap finish EXIT

# Waits up to 20 s for a line matching $2 in file $1.
wait_for_line() {
    for _ in $(seq 200); do
        grep -q "$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "no '$2' in $1:" >&2
    cat "$1" >&2
    return 1
}

"$sim" hub "$dir/bus" >"$dir/hub.log" 2>&1 &
pids+=($!)
wait_for_line "$dir/hub.log" "listening" || exit 1
"$sim" uds --model "$model" --bus "hub:$dir/bus" >"$dir/ecu.log" 2>&1 &
pids+=($!)
wait_for_line "$dir/ecu.log" "Ctrl-C ends" || exit 1
DIAGBRIDGE_XL="hub:$dir/bus" timeout 120 "$program" shell --json "$session" >"$dir/out.json" || {
    echo "shell failed" >&2
    exit 1
}
diff -u "$expected" "$dir/out.json"
