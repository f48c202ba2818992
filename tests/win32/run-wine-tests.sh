#!/usr/bin/env bash
# Tests DiagBridgeV4.dll under wine64 in a fresh prefix: the type library read back,
# registration with regsvr32 and its registry keys, a late-bound client (ProgID only) running
# a KWP2000 session on a COM port linked to a pty with the virtual K-line ECU and a UDS
# session through the stand-in vxlapi.dll, then unregistration, machine-wide and per user.
#   run-wine-tests.sh <x86_64 mingw build dir> <native build dir (diagbridge-sim)>
set -euo pipefail

mingw=$(realpath "$1")
native=$(realpath "$2")
source_dir=$(realpath "$(dirname "$0")/../..")
wine=${WINE:-$(command -v wine64 || echo /usr/lib/wine/wine64)}
wineserver=${WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver64)}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer in a headless run
WINEPREFIX=$(mktemp -d /tmp/diagbridge-wine.XXXXXX)
export WINEPREFIX

com_port=5
install_dir='C:\DiagBridgeV4'
dll="$install_dir\\DiagBridgeV4.dll"
clsid='{25AD5616-211D-4B6F-9B68-13B658EDCD67}'
libid='{7546F1F5-9DB1-4AD3-9DA2-B54A4996D94D}'
appid='{29E79A63-8F1D-4976-868D-992BF630EF88}'
sim_pid=""
failures=0

cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  "$wineserver" -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

step() { printf '\n--- %s\n' "$*"; }
check() {  # check <description> <command...>
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
  else
    echo "FAIL: $what"
    failures=$((failures + 1))
  fi
}
run() { "$wine" "$@" 2>/dev/null | tr -d '\r'; }
win_path() { printf 'Z:%s' "${1//\//\\}"; }

# The data of value (empty: the default value) of key; fails when the key is missing.
reg_value() {
  local key=$1 name=$2 out
  if [ -z "$name" ]; then
    out=$(run reg query "$key" /ve) || return 1
    name='(Default)'
  else
    out=$(run reg query "$key" /v "$name") || return 1
  fi
  printf '%s\n' "$out" | awk -v n="$name" 'index($0, "    " n "    ") == 1 {
    sub(/^    [^ ].*    REG_[A-Z_]+    /, ""); print; found = 1 } END { exit !found }'
}
has_value() { [ "$(reg_value "$1" "$2")" = "$3" ]; }
key_exists() { run reg query "$1" >/dev/null 2>&1; }
key_absent() { ! key_exists "$1"; }

check_class_keys() {  # check_class_keys <classes root>
  local root=$1
  check "$root AppID\\{appid}" has_value "$root\\AppID\\$appid" "" "DiagBridgeV4"
  check "$root AppID\\DiagBridgeV4.DLL" has_value "$root\\AppID\\DiagBridgeV4.DLL" AppID "$appid"
  check "$root ProgID .1" has_value "$root\\DiagBridgeV4.CommandInterface.1" "" \
    "CommandInterface Class"
  check "$root ProgID .1 CLSID" has_value "$root\\DiagBridgeV4.CommandInterface.1\\CLSID" "" "$clsid"
  check "$root ProgID" has_value "$root\\DiagBridgeV4.CommandInterface" "" "CommandInterface Class"
  check "$root ProgID CLSID" has_value "$root\\DiagBridgeV4.CommandInterface\\CLSID" "" "$clsid"
  check "$root ProgID CurVer" has_value "$root\\DiagBridgeV4.CommandInterface\\CurVer" "" \
    "DiagBridgeV4.CommandInterface.1"
  local class="$root\\CLSID\\$clsid"
  check "$root CLSID" has_value "$class" "" "CommandInterface Class"
  check "$root CLSID ProgID" has_value "$class\\ProgID" "" "DiagBridgeV4.CommandInterface.1"
  check "$root CLSID VersionIndependentProgID" has_value "$class\\VersionIndependentProgID" "" \
    "DiagBridgeV4.CommandInterface"
  check "$root CLSID Programmable" key_exists "$class\\Programmable"
  check "$root CLSID InprocServer32" has_value "$class\\InprocServer32" "" "$dll"
  check "$root CLSID ThreadingModel" has_value "$class\\InprocServer32" ThreadingModel Apartment
  check "$root CLSID TypeLib" has_value "$class\\TypeLib" "" "$libid"
  check "$root TypeLib win64" has_value "$root\\TypeLib\\$libid\\1.0\\409\\win64" "" "$dll"
}

check_class_keys_gone() {
  local root=$1
  for key in "AppID\\$appid" "AppID\\DiagBridgeV4.DLL" DiagBridgeV4.CommandInterface.1 \
    DiagBridgeV4.CommandInterface "CLSID\\$clsid" "TypeLib\\$libid"; do
    check "$root $key removed" key_absent "$root\\$key"
  done
}

step "fresh Wine prefix"
"$wine" wineboot -i >/dev/null 2>&1
drive_c="$WINEPREFIX/drive_c"
mkdir -p "$drive_c/DiagBridgeV4"
cp "$mingw/DiagBridgeV4.dll" "$drive_c/DiagBridgeV4/"
tools="$mingw/tests/win32"

step "type library"
check "the DLL's type library reads back" \
  "$wine" "$tools/TypeLibCheck.exe" "$dll" win64
for kind in win32 win64; do
  committed="$source_dir/component/win32/typelib/DiagBridgeV4Lib-$kind.tlb"
  check "the $kind library in the sources reads back" \
    "$wine" "$tools/TypeLibCheck.exe" "$(win_path "$committed")" $kind
  "$wine" "$tools/MakeTypeLib.exe" "C:\\DiagBridgeV4\\$kind.tlb" $kind
  check "the $kind library in the sources is what MakeTypeLib writes" \
    cmp -s "$committed" "$drive_c/DiagBridgeV4/$kind.tlb"
done

step "registration"
check "regsvr32 registers" "$wine" regsvr32 /s "$dll"
check_class_keys HKCR

step "late-bound client: bad input"
check "errors" "$wine" "$tools/LateBoundClient.exe" errors

step "late-bound client: KWP2000 on COM$com_port (a pty with the virtual K-line ECU)"
sim_out="$WINEPREFIX/kline.out"
"$native/tools/diagbridge-sim" kline --model T60 --wired >"$sim_out" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do
  grep -q '/dev/pts/' "$sim_out" && break
  sleep 0.1
done
pty=$(grep -o '/dev/pts/[0-9]*' "$sim_out" | head -1)
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com$com_port"
check "K-line session" "$wine" "$tools/LateBoundClient.exe" kline $com_port
kill "$sim_pid" && wait "$sim_pid" 2>/dev/null || true
sim_pid=""

step "Vector library search on a machine without it"
check "the user is asked; cancelling is a load error" \
  "$wine" "$tools/VxlapiLoaderCheck.exe" "$(win_path "$tools/vxlapi.dll")"

step "late-bound client: UDS through the stand-in vxlapi.dll"
mkdir -p "$drive_c/XL Driver Library/bin"
cp "$tools/vxlapi.dll" "$drive_c/XL Driver Library/bin/"
check "UDS session" "$wine" "$tools/LateBoundClient.exe" uds
check "UDS session from VBScript (out parameters as variants)" \
  "$wine" cscript //nologo "$(win_path "$source_dir/tests/win32/ScriptClient.vbs")"

step "unregistration"
check "regsvr32 /u unregisters" "$wine" regsvr32 /u /s "$dll"
check_class_keys_gone HKCR

step "per-user registration (DllInstall \"user\"; Wine activates only from the machine hive)"
user_root='HKCU\Software\Classes'
check "regsvr32 /n /i:user registers" "$wine" regsvr32 /s /n /i:user "$dll"
check "$user_root CLSID InprocServer32" \
  has_value "$user_root\\CLSID\\$clsid\\InprocServer32" "" "$dll"
check "$user_root ProgID CLSID" \
  has_value "$user_root\\DiagBridgeV4.CommandInterface\\CLSID" "" "$clsid"
check "nothing machine-wide" key_absent "HKLM\\Software\\Classes\\CLSID\\$clsid"
check "regsvr32 /u /n /i:user unregisters" "$wine" regsvr32 /u /s /n /i:user "$dll"
check_class_keys_gone "$user_root"

printf '\nWine tests: %d failed\n' "$failures"
[ "$failures" -eq 0 ]
