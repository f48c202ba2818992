#!/usr/bin/env bash
# Runs a shell session against the virtual UDS ECU on a CAN hub of its own and compares the
# method lines of the JSON output (events left out) with the expected ones.
# usage: RunUdsShell.sh <diagbridge> <diagbridge-sim> <script> <expected> [ECU options...]
set -euo pipefail
program=$1 sim=$2 script=$3 expected=$4
shift 4
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# Waits up to 20 s for a condition, polling.
await() {
  for _ in $(seq 200); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  echo "timed out waiting for: $*" >&2
  return 1
}

bus=$work/bus
"$sim" hub "$bus" >"$work/hub.log" 2>&1 &
pids+=($!)
await test -S "$bus"
"$sim" uds --bus "hub:$bus" "$@" >"$work/ecu.log" 2>&1 &
pids+=($!)
await grep -q "^UDS ECU" "$work/ecu.log"
DIAGBRIDGE_XL="hub:$bus" timeout 120 "$program" shell --json "$script" >"$work/output"
grep '"method"' "$work/output" >"$work/got" || true
if ! diff -u "$expected" "$work/got"; then
  echo "--- whole output" >&2
  cat "$work/output" >&2
  echo "--- ECU" >&2
  cat "$work/ecu.log" >&2
  exit 1
fi
