#!/usr/bin/env python3
"""Writes the binary PiPL resource of a Photoshop plug-in from a property list.

    make_pipl.py DESCRIPTION OUTPUT

The resource (Windows byte order): an int16 1, an int32 PiPL version 0, an int32
property count, then per property the vendor '8BIM', the key, an int32 id 0, the int32
data length and the data, zero-padded to a multiple of 4 (the length counts the padding).
Four-character codes are stored as little-endian numbers, so their bytes appear reversed.
"""
import shlex
import struct
import sys

VENDOR = "8BIM"

# Image modes by their plugInMode number; flags are stored most significant bit first.
MODES = {"Bitmap": 0, "Grayscale": 1, "IndexedColor": 2, "RGBColor": 3, "CMYKColor": 4,
         "HSLColor": 5, "HSBColor": 6, "Multichannel": 7, "Duotone": 8, "LabColor": 9,
         "Gray16": 10, "RGB48": 11, "Lab48": 12, "CMYK64": 13, "DeepMultichannel": 14,
         "Duotone16": 15}
FORMAT_FLAGS = {"ReadsAllTypes": 0, "SavesImageResources": 1, "CanRead": 2, "CanWrite": 3,
                "CanWriteIfRead": 4, "CanWriteTransparency": 5, "CanCreateThumbnail": 6,
                "CanWriteSpotChannel": 7}


def code(text):
    """A four-character code as the little-endian number it is."""
    raw = text.encode("latin-1")
    if len(raw) != 4:
        raise ValueError(f"four-character code expected, got {text!r}")
    return struct.pack("<I", int.from_bytes(raw, "big"))


def flag_bytes(names, table, count):
    out = bytearray(count)
    for name in names:
        index = table[name]
        out[index >> 3] |= 0x80 >> (index & 7)
    return bytes(out)


def property_data(kind, args):
    if kind == "code":
        return code(args[0])
    if kind == "codes":
        return b"".join(code(a) for a in args)
    if kind == "pstring":
        text = args[0].encode("latin-1")
        return bytes([len(text)]) + text + b"\0"
    if kind == "cstring":
        return args[0].encode("latin-1") + b"\0"
    if kind == "version":
        return struct.pack("<I", int(args[0]) << 16 | int(args[1]))
    if kind == "modes":
        return flag_bytes(args, MODES, 2 if any(MODES[a] >= 8 for a in args) else 1)
    if kind == "formatflags":
        return flag_bytes(args, FORMAT_FLAGS, 1)
    if kind == "size32":
        return struct.pack("<ii", int(args[0]), int(args[1]))
    if kind == "size16":
        return struct.pack("<hh", int(args[0]), int(args[1]))
    if kind == "channels":
        value, times = int(args[0]), int(args[2])
        return struct.pack(f"<{times}h", *([value] * times))
    if kind == "extension":
        return args[0].ljust(4).encode("latin-1")
    if kind == "u32":
        return struct.pack("<I", int(args[0], 0))
    raise ValueError(f"unknown kind {kind!r}")


def build(lines):
    props = []
    for number, line in enumerate(lines, 1):
        words = shlex.split(line, comments=True)
        if not words:
            continue
        key, kind, args = words[0], words[1], words[2:]
        try:
            data = property_data(kind, args)
        except (ValueError, KeyError, IndexError) as e:
            raise SystemExit(f"line {number}: {e}")
        data += b"\0" * (-len(data) % 4)
        props.append(code(VENDOR) + code(key) + struct.pack("<iI", 0, len(data)) + data)
    return struct.pack("<hiI", 1, 0, len(props)) + b"".join(props)


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    with open(sys.argv[1], encoding="utf-8") as f:
        resource = build(f.readlines())
    with open(sys.argv[2], "wb") as f:
        f.write(resource)


if __name__ == "__main__":
    main()
