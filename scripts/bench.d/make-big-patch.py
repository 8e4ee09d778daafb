#!/usr/bin/env python3
"""Writes a compound file shaped like a Windows Installer patch of a given size, for the
packer's memory benchmark: summary information naming one target product (in the mini
stream), and one large stream of random bytes that fills the rest. Version 3, 512-byte
sectors, so the FAT is as large as a real patch of that size has it (with DIFAT sectors).
Usage: make-big-patch.py OUTPUT SIZE_BYTES"""
import os
import struct
import sys

SECTOR = 512
PER_SECTOR = SECTOR // 4
FREE, END, FATSECT, DIFSECT, NOSTREAM = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD, 0xFFFFFFFC, 0xFFFFFFFF


def summary_stream(template):
    text = template.encode("ascii") + b"\0"
    text += b"\0" * (-len(text) % 4)
    values = struct.pack("<IHH", 2, 1252, 0) + struct.pack("<II", 30, len(text.rstrip(b"\0")) + 1) + text
    table_size = 8 + 2 * 8
    section = struct.pack("<II", table_size + len(values), 2)
    section += struct.pack("<II", 1, table_size) + struct.pack("<II", 7, table_size + 8)
    section += values
    fmtid = bytes.fromhex("e0859ff2f94f6810ab9108002b27b3d9")
    header = struct.pack("<HHI", 0xFFFE, 0, 0x00020006) + bytes(16) + struct.pack("<I", 1) + fmtid
    header += struct.pack("<I", 48)
    return header + section


PATCH_CLSID = bytes.fromhex("86100c000000000000c0000000000046")


def dir_entry(name, kind, color, left, right, child, start, size):
    encoded = name.encode("utf-16-le") + b"\0\0"
    entry = encoded.ljust(64, b"\0") + struct.pack("<HBB", len(encoded), kind, color)
    clsid = PATCH_CLSID if kind == 5 else bytes(16)
    entry += struct.pack("<III", left, right, child) + clsid + bytes(4) + bytes(16)
    entry += struct.pack("<III", start, size, 0)
    return entry


def main():
    out, size = sys.argv[1], int(sys.argv[2])
    summary = summary_stream("{11111111-2222-3333-4444-555555555555}")
    fat = difat = 0
    while True:  # the FAT covers its own and the DIFAT's sectors too
        big_sectors = max(1, size // SECTOR - 1 - fat - difat - 3)
        total = fat + difat + 3 + big_sectors
        need_fat = -(-total // PER_SECTOR)
        need_difat = max(0, -(-(need_fat - 109) // (PER_SECTOR - 1)))
        if (need_fat, need_difat) == (fat, difat):
            break
        fat, difat = need_fat, need_difat
    dir_sector, minifat_sector, mini_sector = fat + difat, fat + difat + 1, fat + difat + 2
    big_start = fat + difat + 3

    header = bytearray(SECTOR)
    header[0:8] = bytes.fromhex("d0cf11e0a1b11ae1")
    struct.pack_into("<HHHHH", header, 24, 0x3E, 3, 0xFFFE, 9, 6)
    struct.pack_into("<IIIIIIIII", header, 40, 0, fat, dir_sector, 0, 4096, minifat_sector, 1,
                     fat if difat else END, difat)
    fat_sectors = list(range(fat))
    for i in range(109):
        struct.pack_into("<I", header, 76 + 4 * i, fat_sectors[i] if i < fat else FREE)

    with open(out, "wb") as f:
        f.write(header)
        entries = [FATSECT] * fat + [DIFSECT] * difat + [END, END, END]
        for i in range(big_sectors):
            entries.append(big_start + i + 1 if i + 1 < big_sectors else END)
        entries += [FREE] * (fat * PER_SECTOR - len(entries))
        f.write(struct.pack("<%dI" % len(entries), *entries))
        rest = fat_sectors[109:]
        for d in range(difat):
            chunk = rest[d * (PER_SECTOR - 1):(d + 1) * (PER_SECTOR - 1)]
            chunk += [FREE] * (PER_SECTOR - 1 - len(chunk))
            f.write(struct.pack("<%dI" % PER_SECTOR, *chunk, fat + d + 1 if d + 1 < difat else END))
        mini_size = -(-len(summary) // 64) * 64
        directory = dir_entry("Root Entry", 5, 1, NOSTREAM, NOSTREAM, 1, mini_sector, mini_size)
        directory += dir_entry("\x05SummaryInformation", 2, 1, 2, NOSTREAM, NOSTREAM, 0, len(summary))
        directory += dir_entry("PATCH_CAB", 2, 0, NOSTREAM, NOSTREAM, NOSTREAM, big_start, big_sectors * SECTOR)
        directory += dir_entry("", 0, 0, NOSTREAM, NOSTREAM, NOSTREAM, 0, 0)
        f.write(directory)
        minifat = [END if i + 1 == mini_size // 64 else i + 1 for i in range(mini_size // 64)]
        f.write(struct.pack("<%dI" % PER_SECTOR, *(minifat + [FREE] * (PER_SECTOR - len(minifat)))))
        f.write(summary.ljust(SECTOR, b"\0"))
        left = big_sectors * SECTOR
        while left:
            step = min(left, 1 << 24)
            f.write(os.urandom(step))
            left -= step


if __name__ == "__main__":
    main()
