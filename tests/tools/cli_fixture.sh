# Shared by the end-to-end tests of the diagbridge commands: virtual ECUs in child
# processes and the checks. Source it with DIAGBRIDGE and DIAGBRIDGE_SIM set.
set -u

WORK=$(mktemp -d)
PIDS=()
FAILURES=0

cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

# Waits (up to 30 s) until the file holds the pattern.
wait_for() {
    local file=$1 pattern=$2
    for _ in $(seq 300); do
        grep -q -- "$pattern" "$file" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "FAIL: '$pattern' never appeared in $file"; cat "$file"
    exit 1
}

# A CAN hub with a virtual UDS T60.1 on it; its flow control asks for a pause between frames
# so that a flash takes a moment.
start_uds() {
    BUS=$WORK/bus.sock
    "$DIAGBRIDGE_SIM" hub "$BUS" >"$WORK/hub.log" 2>&1 &
    PIDS+=($!)
    wait_for "$WORK/hub.log" "$BUS"
    # The hub carries bit rates: the ECU runs at the rate a UDS object uses by default.
    "$DIAGBRIDGE_SIM" uds --model T60.1 --bus "hub:$BUS" --bitrate 666666 --bs 8 \
        --stmin "${STMIN:-01}" >"$WORK/uds.log" 2>&1 &
    PIDS+=($!)
    wait_for "$WORK/uds.log" "Ctrl-C ends"
    UDS=(--ecu T60.1 --bus "hub:$BUS")
}

# A virtual KWP2000 T60 behind a wired adapter on a pseudo-terminal.
start_kline() {
    "$DIAGBRIDGE_SIM" kline --model T60 --wired >"$WORK/kline.log" 2>&1 &
    PIDS+=($!)
    wait_for "$WORK/kline.log" "Ctrl-C ends"
    PTY=$(sed -n 's/.* on \(\/dev\/[^ ]*\)$/\1/p' "$WORK/kline.log" | head -1)
    KLINE=(--ecu T60 --port "$PTY")
}

# An Intel-HEX file of count bytes at address (hex) in 32-byte records.
write_hex() {
    /usr/bin/python3 - "$1" "$2" "$3" <<'PY'
import sys
path, address, count = sys.argv[1], int(sys.argv[2], 16), int(sys.argv[3])
lines = [":02000004%04X%02X" % (address >> 16, (-(2 + 4 + (address >> 24) + ((address >> 16) & 0xFF))) & 0xFF)]
for offset in range(0, count, 32):
    low = (address + offset) & 0xFFFF
    data = bytes((offset + i) * 7 & 0xFF for i in range(min(32, count - offset)))
    record = bytes([len(data), low >> 8, low & 0xFF, 0]) + data
    lines.append(":" + record.hex().upper() + "%02X" % (-sum(record) & 0xFF))
lines.append(":00000001FF")
open(path, "w").write("\n".join(lines) + "\n")
PY
}

# run NAME EXPECTED_EXIT command...: runs the command, keeps its output in $OUT and $ERR.
run() {
    local name=$1 expected=$2
    shift 2
    OUT=$WORK/$name.out
    ERR=$WORK/$name.err
    "$@" >"$OUT" 2>"$ERR"
    local code=$?
    if [ "$code" != "$expected" ]; then
        echo "FAIL $name: exit $code, expected $expected"; cat "$OUT" "$ERR"
        FAILURES=$((FAILURES + 1))
    fi
}

# expect NAME FILE PATTERN: the file holds the (extended regular expression) pattern.
expect() {
    if ! grep -Eq -- "$3" "$2"; then
        echo "FAIL $1: no '$3' in"; cat "$2"
        FAILURES=$((FAILURES + 1))
    fi
}

# expect_none NAME FILE PATTERN: the file does not hold the pattern.
expect_none() {
    if grep -Eq -- "$3" "$2"; then
        echo "FAIL $1: '$3' in"; cat "$2"
        FAILURES=$((FAILURES + 1))
    fi
}

# expect_lines NAME FILE COUNT: the file has exactly COUNT lines.
expect_lines() {
    local lines
    lines=$(wc -l <"$2")
    if [ "$lines" != "$3" ]; then
        echo "FAIL $1: $lines lines in $2, expected $3"; cat "$2"
        FAILURES=$((FAILURES + 1))
    fi
}

finish() {
    if [ "$FAILURES" != 0 ]; then
        echo "$FAILURES check(s) failed"
        exit 1
    fi
    echo "all checks passed"
}
