"""Builds a scattered Intel-HEX image with srec_cat and describes it with python3-intelhex and
zlib, for the conversion test to compare against.

Usage: hex_crosscheck.py OUTDIR
Writes OUTDIR/image.txt (the records joined by "|", as a download order carries them) and
OUTDIR/expected.txt: one line "START LENGTH CRC32" per contiguous segment in address order, then
"TOTAL LENGTH CRC32" for all segment bytes in address order (numbers in hex).
Exits 77 with a message when srec_cat or the intelhex module is missing.
"""
import os
import shutil
import subprocess
import sys
import zlib

SKIP = 77

# Pieces of the image: address ranges, srec_cat address length (4 linear records, 3 segment
# records) and record size. They are written out of address order; the first piece continues
# the third one and the two must merge.
PIECES = [
    ([(0x08012345, 0x08012400)], 4, 16),
    ([(0x30000, 0x30105), (0x30200, 0x30260)], 3, 32),
    ([(0x08000000, 0x08012345)], 4, 32),
    ([(0x0100, 0x01F0), (0x01F0, 0x0210), (0x0400, 0x0401)], 3, 16),
    ([(0xFFF8, 0x10020)], 4, 255),
]


def skip(reason):
    print(f"SKIP: {reason}")
    sys.exit(SKIP)


def make_piece(ranges, address_length, block_size):
    command = ["srec_cat"]
    for low, high in ranges:
        command += ["-generate", hex(low), hex(high), "-random"]
    command += ["-o", "-", "-intel", f"-address-length={address_length}",
                f"-output-block-size={block_size}"]
    text = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    return [line for line in text.split() if line and line.upper() != ":00000001FF"]


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    if shutil.which("srec_cat") is None:
        skip("srec_cat not found (Debian package srecord)")
    try:
        import intelhex
    except ImportError:
        skip("intelhex module not found (Debian package python3-intelhex, /usr/bin/python3)")

    out_dir = sys.argv[1]
    os.makedirs(out_dir, exist_ok=True)
    lines = []
    for ranges, address_length, block_size in PIECES:
        lines += make_piece(ranges, address_length, block_size)
    lines.append(":00000001FF")

    hex_path = os.path.join(out_dir, "image.hex")
    with open(hex_path, "w") as hex_file:
        hex_file.write("\n".join(lines) + "\n")
    with open(os.path.join(out_dir, "image.txt"), "w") as text_file:
        text_file.write("|".join(lines))

    image = intelhex.IntelHex(hex_path)
    total_crc = 0
    total_length = 0
    result = []
    for start, stop in image.segments():
        data = image.tobinstr(start=start, end=stop - 1)
        result.append(f"{start:X} {len(data):X} {zlib.crc32(data):08X}")
        total_crc = zlib.crc32(data, total_crc)
        total_length += len(data)
    result.append(f"TOTAL {total_length:X} {total_crc:08X}")
    with open(os.path.join(out_dir, "expected.txt"), "w") as expected_file:
        expected_file.write("\n".join(result) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
