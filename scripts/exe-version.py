#!/usr/bin/env python3
"""Prints the file version of a Windows executable's version resource (A.B.C.D).

Usage: exe-version.py EXE
Reads the fixed part of the resource (VS_FIXEDFILEINFO), found by its signature.
Exits 1 when the file has no version resource.
"""
import struct
import sys

SIGNATURE = struct.pack("<I", 0xFEEF04BD)


def main():
    if len(sys.argv) != 2:
        print("usage: exe-version.py EXE", file=sys.stderr)
        sys.exit(2)
    with open(sys.argv[1], "rb") as file:
        data = file.read()
    at = data.find(SIGNATURE)
    if at < 0:
        print(f"exe-version: {sys.argv[1]} has no version resource", file=sys.stderr)
        sys.exit(1)
    # dwSignature, dwStrucVersion, dwFileVersionMS, dwFileVersionLS
    _, _, high, low = struct.unpack_from("<4I", data, at)
    print(f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}")


if __name__ == "__main__":
    main()
