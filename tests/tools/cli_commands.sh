#!/usr/bin/env bash
# The task commands against the virtual ECUs, in human and JSON form, and the exit codes and
# messages of the failures that must stop before anything is sent.
DIAGBRIDGE=$1
DIAGBRIDGE_SIM=$2
source "$(dirname "$0")/cli_fixture.sh"
D=$DIAGBRIDGE

start_uds
write_hex "$WORK/fw.hex" 400000 4096

# --- UDS on the hub ---
run ident 0 "$D" ident "${UDS[@]}"
expect ident "$OUT" '^NAME = T60\.1$'
expect ident "$OUT" '^SERIALNUMBER = 1234567$'
run ident_json 0 "$D" ident --json "${UDS[@]}"
expect ident_json "$OUT" '^\{"command":"ident","result":0,"name":"OK","ident":\{"NAME":"T60\.1",'
expect ident_json "$OUT" '^\{"event":"status","status":3,"text":"Status: 3 CONNECTED"\}$'

run request 0 "$D" request -q "${UDS[@]}" 22 F1 90
expect_lines request "$OUT" 1
expect request "$OUT" '^62 F1 90 '
run request_json 0 "$D" request --json --functional "${UDS[@]}" "22 F1 90"
expect request_json "$OUT" '"command":"request","result":[0-9]+,"name":"OK","request":"22 F1 90","response":"62 F1 90 '
run request_refused 8 "$D" request -q "${UDS[@]}" 31 01 99 99
expect request_refused "$ERR" "ECU refused the request \(-100 NEGATIVE_RESPONSE\) during request 31 01 99 99, response '7F 31 31'"

run access 0 "$D" access "${UDS[@]}" 3
expect access "$OUT" '^status: CONNECTED$'
run access_json 0 "$D" access --json "${UDS[@]}" 3
expect access_json "$OUT" '^\{"command":"access","result":0,"name":"OK"\}$'
run access_none 64 "$D" access "${UDS[@]}"
expect access_none "$ERR" '^diagbridge access: give a predefined access number or --mode'
run access_missing 64 "$D" access -q "${UDS[@]}" 200
expect access_missing "$ERR" 'NO_SUCH_ACCESS'

run dtc 0 "$D" read-dtc -q "${UDS[@]}"
expect dtc "$OUT" '^012345  status 2F$'
run dtc_json 0 "$D" read-dtc --json "${UDS[@]}"
expect dtc_json "$OUT" '"count":2,"dtcs":\[\{"code":"012345","status":47\},'

run upload 0 "$D" upload -q "${UDS[@]}"
expect upload "$OUT" '^\[KOBOLD\]$'
run upload_json 0 "$D" upload --json "${UDS[@]}"
expect upload_json "$OUT" '"sections":\[\{"name":"KOBOLD","values":\{"Version":"4\.x",'
expect upload_json "$OUT" '\{"name":"FRAM","values":\{\},"lines":\[":020000040040BA",'

run flash 0 "$D" flash "${UDS[@]}" "$WORK/fw.hex"
expect flash "$OUT" '^flashed 4096 bytes in '
run flash_json 0 "$D" flash --json "${UDS[@]}" "$WORK/fw.hex"
expect flash_json "$OUT" '^\{"command":"flash","result":0,"name":"OK","bytes":4096,"ms":[0-9]+\}$'

# The UDS T60.1 does not permit jobs: the interface's -4 is exit code 4.
run job 4 "$D" job -q "${UDS[@]}" "JOB"
expect job "$ERR" '^diagbridge job: service not permitted for this model \(-4 NOT_PERMITTED\)'
run job_json 4 "$D" job --json "${UDS[@]}" "JOB"
expect job_json "$OUT" '"command":"job","result":-4,"name":"NOT_PERMITTED","exit":4,'

run scan 0 "$D" scan --protocol UDS_ISO_14229 --bus "hub:$BUS"
expect scan "$OUT" '^found T6X \(ECU 0x18DAF103h\) with the vector adapter'
run scan_json 0 "$D" scan --json --ecu T60.1 --bus "hub:$BUS"
expect scan_json "$OUT" '^\{"event":"found","model":"T60\.1","adapter":"vector",'
expect scan_json "$OUT" '^\{"command":"scan","found":1\}$'

run models 0 "$D" models
expect models "$OUT" '^T60\.1_UDS_A +UDS_ISO_14229 +request$'
run models_json 0 "$D" models --json
expect models_json "$OUT" '^\{"model":"T60","protocol":"KWP2000","built":1,"services":"request,upload,flash,job"\}$'

run config 0 "$D" config "${UDS[@]}" --baud 500000 --option TRACE=1 --option SERVICEUPLOAD=0
expect config "$OUT" '^DbrCreateCommunicationObject "UDS_ISO_14229\|BAUDRATE=500000\|PROGRESS=1\|STATUS=1\|TRACE=1\|VECTOR=1"$'
expect config "$OUT" '^DbrCreateEcuObject "T60\.1\|SERVICEUPLOAD=0"$'
run config_json 0 "$D" config --json "${UDS[@]}"
expect config_json "$OUT" '"protocol":"UDS_ISO_14229",.*"environment":\{"DIAGBRIDGE_XL":"hub:'

# A profile gives the connection; flags given win over it.
cat >"$WORK/profiles.ini" <<INI
# bench profiles
[line3]
ecu = T60.1
bus = hub:$BUS
option = SERVICEUPLOAD=0
INI
run profile 0 "$D" ident -q --config "$WORK/profiles.ini" --profile line3
expect profile "$OUT" '^NAME = T60\.1$'
run profile_option 4 "$D" upload -q --config "$WORK/profiles.ini" --profile line3
expect profile_option "$ERR" 'NOT_PERMITTED'
run profile_missing 64 "$D" ident --config "$WORK/profiles.ini" --profile line4
expect profile_missing "$ERR" "^diagbridge ident: $WORK/profiles.ini: no profile \[line4\]$"

# Trace and CAN log of one session.
run traces 0 "$D" ident -q "${UDS[@]}" --trace "$WORK/trace.txt" --candump "$WORK/ident.log"
expect traces "$WORK/trace.txt" '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:.]+Z trace +[0-9 ]+ms \|22 F1 8C\|62 F1 8C'
expect traces "$WORK/trace.txt" 'Z status +Status: 3 CONNECTED$'
expect traces "$WORK/ident.log" '^\([0-9]+\.[0-9]{6}\) can0 18DAF103#'

# --- failures: one line what and where, the exit code of their kind, nothing sent ---
printf ':0400000001020304F1\n:00000001FF\n' >"$WORK/bad.hex"
run bad_hex 65 "$D" flash "${UDS[@]}" --candump "$WORK/none1.log" "$WORK/bad.hex"
expect bad_hex "$ERR" "^diagbridge flash: $WORK/bad.hex:1: bad checksum F1, expected F2$"
expect_lines bad_hex "$ERR" 1
run missing_file 66 "$D" flash "${UDS[@]}" --candump "$WORK/none2.log" "$WORK/absent.hex"
expect missing_file "$ERR" "^diagbridge flash: $WORK/absent.hex: cannot open the file$"
run missing_file_json 66 "$D" flash --json "${UDS[@]}" "$WORK/absent.hex"
expect missing_file_json "$OUT" '^\{"command":"flash","exit":66,"error":".*absent\.hex: cannot open the file"\}$'
run unknown_model 64 "$D" ident --ecu T60.2 --bus "hub:$BUS" --candump "$WORK/none3.log"
expect unknown_model "$ERR" "^diagbridge ident: unknown model 'T60\.2' \(did you mean 'T60\.1'\?\)"
run unknown_flag 64 "$D" ident --ecu T60.1 --protcol UDS_ISO_14229
expect unknown_flag "$ERR" "^diagbridge ident: unknown option '--protcol' \(did you mean --protocol\?\)$"
run unknown_key 64 "$D" ident "${UDS[@]}" --option NOSUCHKEY=1 --candump "$WORK/none4.log"
expect unknown_key "$ERR" '^diagbridge ident: --option NOSUCHKEY is a key of neither UDS_ISO_14229 nor model T60\.1$'
run no_port 7 "$D" ident --ecu T60 --port /dev/nonexistent-tty
expect no_port "$ERR" '^diagbridge ident: serial port /dev/nonexistent-tty \(COM1, rs232 adapter\) does not exist$'
run no_bus 7 "$D" ident --ecu T60.1 --bus "hub:$WORK/nobus.sock"
expect no_bus "$ERR" "^diagbridge ident: CAN bus $WORK/nobus.sock \(hub: source\) does not exist$"
for log in none1 none2 none3 none4; do
    touch "$WORK/$log.log"
    expect_none "$log: frames were sent" "$WORK/$log.log" '#'
done

# --- KWP2000 on a K-line pseudo-terminal ---
start_kline
write_hex "$WORK/kline.hex" 8000 64
run kline_ident 0 "$D" ident "${KLINE[@]}" --kline-log "$WORK/kline.txt"
expect kline_ident "$OUT" '^OBJECTTYPE = T60$'
expect kline_ident "$WORK/kline.txt" '^[0-9T:.-]+Z OPEN /dev/'
expect kline_ident "$WORK/kline.txt" '^[0-9T:.-]+Z TX 8[0-9A-F] 18 FA 1A 93'
expect kline_ident "$WORK/kline.txt" '^[0-9T:.-]+Z RX 5A 93 '
run kline_ident_json 0 "$D" ident --json "${KLINE[@]}"
expect kline_ident_json "$OUT" '"ident":\{"NAME":"T60","PROTOCOL":"KWP2000",'
run kline_dtc 0 "$D" read-dtc --json "${KLINE[@]}"
expect kline_dtc "$OUT" '^\{"command":"read-dtc","result":0,"name":"OK","count":[0-9]+,"dtcs":\['
run kline_request 0 "$D" request -q "${KLINE[@]}" 1A 95
expect kline_request "$OUT" '^5A 95'
run kline_access 0 "$D" access --json "${KLINE[@]}" --mode 86 --access-baud 19200 --special-timing
expect kline_access "$OUT" '^\{"command":"access","result":0,"name":"OK"\}$'
run kline_upload 0 "$D" upload --json "${KLINE[@]}"
expect kline_upload "$OUT" '"sections":\[\{"name":"KOBOLD",'
run kline_job 0 "$D" job -q "${KLINE[@]}" "JOB"
run kline_scan 0 "$D" scan --protocol KWP2000 --port "$PTY"
expect kline_scan "$OUT" '^found T6X \(ECU 0x18h\) with the rs232 adapter at COM1 '
run kline_scan_json 0 "$D" scan --json --ecu T60 --port "$PTY"
expect kline_scan_json "$OUT" '^\{"event":"found","model":"T60","adapter":"rs232",'
run kline_flash 0 "$D" flash "${KLINE[@]}" --mode 86 --access-baud 19200 --special-timing \
    --type 4 "$WORK/kline.hex"
expect kline_flash "$OUT" '^flashed 64 bytes in '
expect kline_flash "$OUT" '^100% Upgrade status: Ok 100 %$'
# The upgrade-status wait repeats its texts: each shows once in a row, never twice.
uniq -d "$OUT" >"$WORK/repeated.txt"
expect_lines kline_flash_repeats "$WORK/repeated.txt" 0
finish
