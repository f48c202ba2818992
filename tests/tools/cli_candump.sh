#!/usr/bin/env bash
# A flash session written with --candump is read back by python-can's candump log reader:
# every frame of the session, in order (the pcap capture of the same session is the
# reference), with time stamps that never go back.
DIAGBRIDGE=$1
DIAGBRIDGE_SIM=$2
source "$(dirname "$0")/cli_fixture.sh"

start_uds
write_hex "$WORK/fw.hex" 400000 1024
DIAGBRIDGE_CAN_PCAP=$WORK/session.pcap run flash 0 "$DIAGBRIDGE" flash -q --ecu T60.1 \
    --bus "hub:$BUS" --candump "$WORK/session.log" "$WORK/fw.hex"

/usr/bin/python3 - "$WORK/session.log" "$WORK/session.pcap" <<'PY' || FAILURES=$((FAILURES + 1))
import struct, sys
import can

def pcap_frames(path):
    with open(path, "rb") as f:
        data = f.read()
    frames, at = [], 24
    while at + 16 <= len(data):
        length = struct.unpack_from("<I", data, at + 8)[0]
        word, dlc = struct.unpack_from(">IB", data, at + 16)
        frames.append((word & 0x1FFFFFFF, bool(word & 0x80000000),
                       data[at + 24:at + 24 + dlc]))
        at += 16 + length
    return frames

read = list(can.CanutilsLogReader(sys.argv[1]))
logged = [(m.arbitration_id, m.is_extended_id, bytes(m.data)) for m in read]
expected = pcap_frames(sys.argv[2])
stamps = [m.timestamp for m in read]
problems = []
if len(expected) < 100:
    problems.append("only %d frames in the pcap reference" % len(expected))
if logged != expected:
    problems.append("candump log differs: %d frames read, %d expected" % (len(logged), len(expected)))
if stamps != sorted(stamps):
    problems.append("time stamps go back")
if any(m.channel != "can0" for m in read):
    problems.append("channel is not can0")
for problem in problems:
    print("FAIL candump:", problem)
if problems:
    sys.exit(1)
print("candump: %d frames read back in order" % len(logged))
PY
finish
