#!/usr/bin/env bash
# Checks a built DiagBridgeV4.dll with the binary tools, for builds that cannot run here
# (i686): its PE machine type, that it exports exactly the five COM entry points, that it
# needs no mingw runtime DLL, and that its resource 1 of type TYPELIB is the type library of
# the sources for its system kind.   check-dll.sh <DiagBridgeV4.dll> i686|x86_64
set -euo pipefail

dll=$1
arch=$2
source_dir=$(realpath "$(dirname "$0")/../..")
case "$arch" in
  i686) objdump=i686-w64-mingw32-objdump format=pei-i386 kind=win32 ;;
  x86_64) objdump=x86_64-w64-mingw32-objdump format=pei-x86-64 kind=win64 ;;
  *) echo "check-dll.sh: arch is i686 or x86_64" >&2; exit 2 ;;
esac
failures=0
check() {
  if [ "$2" = "$3" ]; then
    echo "ok: $1"
  else
    printf 'FAIL: %s\n  expected: %s\n  found:    %s\n' "$1" "$3" "$2"
    failures=$((failures + 1))
  fi
}

headers=$("$objdump" -p "$dll")
check "PE format $format" "$("$objdump" -f "$dll" | sed -n 's/.*file format //p')" "$format"
exports=$(printf '%s\n' "$headers" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^\s*\[ *[0-9]*\] //p' | tr '\n' ' ')
check "exports" "$exports" \
  "DllCanUnloadNow DllGetClassObject DllInstall DllRegisterServer DllUnregisterServer "
runtime=$(printf '%s\n' "$headers" | sed -n 's/^\s*DLL Name: //p' |
  grep -iE 'libstdc|libgcc|winpthread' || true)
check "no mingw runtime DLL needed" "$runtime" ""

# Resource TYPELIB/1 against the library of the sources, read with the PE layout.
/usr/bin/python3 - "$dll" "$source_dir/component/win32/typelib/DiagBridgeV4Lib-$kind.tlb" <<'PY' &&
import struct, sys
data = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", data, 0x3C)[0]
sections, optional = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
table = pe + 24 + optional
rsrc = None
for i in range(sections):
    name, _, va, _, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
    if name.rstrip(b"\0") == b".rsrc":
        rsrc = (va, raw)
va, raw = rsrc

def entries(offset):
    named, ids = struct.unpack_from("<HH", data, raw + offset + 12)
    for i in range(named + ids):
        name, target = struct.unpack_from("<II", data, raw + offset + 16 + 8 * i)
        if name & 0x80000000:
            length = struct.unpack_from("<H", data, raw + (name & 0x7FFFFFFF))[0]
            start = raw + (name & 0x7FFFFFFF) + 2
            name = data[start:start + 2 * length].decode("utf-16-le")
        yield name, target

def child(offset, wanted):
    for name, target in entries(offset):
        if name == wanted:
            return target & 0x7FFFFFFF, bool(target & 0x80000000)
    sys.exit("no resource %r" % (wanted,))

ids, _ = child(0, "TYPELIB")
languages, _ = child(ids, 1)
leaf = next(entries(languages))[1]
rva, size = struct.unpack_from("<II", data, raw + leaf)
embedded = data[raw + rva - va: raw + rva - va + size]
sys.exit(0 if embedded == open(sys.argv[2], "rb").read() else "embedded type library differs")
PY
  echo "ok: resource TYPELIB 1 is the $kind type library of the sources" ||
  { echo "FAIL: resource TYPELIB 1"; failures=$((failures + 1)); }

printf 'DLL checks: %d failed\n' "$failures"
[ "$failures" -eq 0 ]
