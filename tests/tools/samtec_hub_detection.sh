#!/bin/sh
# Bit-rate detection across processes: a hub and a virtual T60.1 at RATE bit/s, each in a
# process of its own, and a plain Samtec UDS object with BAUDRATE=0 in the shell.
# Usage: samtec_hub_detection.sh <diagbridge-sim> <diagbridge> <rate>
set -u
sim=$1
cli=$2
rate=$3
dir=$(mktemp -d /tmp/diagbridge-samtec-hub-XXXXXX)
hub=
ecu=
cleanup() {
    [ -n "$ecu" ] && kill "$ecu" 2>/dev/null && wait "$ecu" 2>/dev/null
    [ -n "$hub" ] && kill "$hub" 2>/dev/null && wait "$hub" 2>/dev/null
    rm -rf "$dir"
}
trap cleanup EXIT

# Waits (at most 10 s) until the file is there and not empty.
await() {
    i=0
    while [ ! -s "$1" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
    [ -s "$1" ]
}

"$sim" hub "$dir/bus" > "$dir/hub.out" &
hub=$!
await "$dir/hub.out" || { echo "hub did not start"; exit 1; }
"$sim" uds --model T60.1 --bitrate "$rate" --bus "hub:$dir/bus" > "$dir/ecu.out" &
ecu=$!
await "$dir/ecu.out" || { echo "virtual ECU did not start"; exit 1; }

printf '%s\n' \
    'DbrCreateCommunicationObject "UDS_ISO_14229|BAUDRATE=0|PROGRESS=1"' \
    'DbrCreateEcuObject "T60.1" 0' \
    'DbrConnect 1000' \
    'DbrSingleRequest 1000 "22 F1 90"' |
    DIAGBRIDGE_SAMTEC_CAN="hub:$dir/bus" "$cli" shell --json > "$dir/shell.out"
cat "$dir/shell.out"
grep -q "Baudrate detected: $rate Baud" "$dir/shell.out" || exit 1
grep -q '"method":"DbrConnect","hresult":0,"lResult":0' "$dir/shell.out" || exit 1
grep -q '"method":"DbrSingleRequest","hresult":0,"lResult":0,"strResponse":"62 F1 90' \
    "$dir/shell.out" || exit 1
