#!/usr/bin/env python3
"""The post-link step that points a PE image's Load Configuration directory at its load
configuration structure, on small PE32 and PE32+ images built here: the directory is written,
the file keeps its length, a non-zero checksum is recomputed and a zero one stays zero, an
image without exactly one such structure is refused unchanged, and one whose import table
names a DLL not allowed is refused and removed.
Usage: test_set_load_config.py PATH/TO/set-load-config.py"""
import os
import runpy
import shutil
import struct
import subprocess
import sys
import tempfile
import types
import unittest

SCRIPT = sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(__file__), "..", "..", "..", "cmake", "set-load-config.py")
# The script's functions and tables, loaded without running its command line.
tool = types.SimpleNamespace(**runpy.run_path(SCRIPT, run_name="set_load_config"))

SECTION_RVA = 0x1000
SECTION_RAW = 0x200
SECTION_SIZE = 0x400


def build_image(plus, structures=1, checksum=0):
    """An image with one section whose raw data hold `structures` load configurations."""
    magic = 0x20B if plus else 0x10B
    optional_size = 240 if plus else 224
    pe = 0x80
    data = bytearray(SECTION_RAW + SECTION_SIZE)
    data[0:2] = b"MZ"
    struct.pack_into("<I", data, 0x3C, pe)
    data[pe:pe + 4] = b"PE\0\0"
    struct.pack_into("<HHIIIHH", data, pe + 4, 0x8664 if plus else 0x14C, 1, 0, 0, 0, optional_size, 0x22)
    optional = pe + 24
    struct.pack_into("<H", data, optional, magic)
    struct.pack_into("<I", data, optional + 64, checksum)
    directories_at = optional + (112 if plus else 96)
    struct.pack_into("<I", data, directories_at - 4, 16)
    section = optional + optional_size
    data[section:section + 8] = b".rdata\0\0"
    struct.pack_into("<IIII", data, section + 8, SECTION_SIZE, SECTION_RVA, SECTION_SIZE, SECTION_RAW)
    layout = tool.LAYOUTS[magic]
    structure = tool.expected_structure(layout)
    for i in range(structures):
        at = SECTION_RAW + 0x40 + i * 0x100
        data[at:at + len(structure)] = structure
    return bytes(data), directories_at + 8 * 10


def with_imports(data, plus, directories_at, dlls):
    """The image with an import table naming each DLL, with one function imported by name."""
    data = bytearray(data)
    table = SECTION_RAW + 0x240
    pointer = 8 if plus else 4

    def rva(offset):
        return SECTION_RVA + offset - SECTION_RAW

    at = table + 20 * (len(dlls) + 1)
    for i, dll in enumerate(dlls):
        name = at
        data[name:name + len(dll) + 1] = dll.encode("ascii") + b"\0"
        hint = name + 16
        data[hint + 2:hint + 2 + 9] = b"Function\0"
        thunks = hint + 12
        struct.pack_into("<Q" if plus else "<I", data, thunks, rva(hint))
        struct.pack_into("<5I", data, table + 20 * i, rva(thunks), 0, 0, rva(name), rva(thunks))
        at = thunks + 2 * pointer
    struct.pack_into("<II", data, directories_at + 8, rva(table), 20 * (len(dlls) + 1))
    return bytes(data)


class SetLoadConfig(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp()

    def tearDown(self):
        shutil.rmtree(self.folder)

    def run_tool(self, data, *options):
        path = os.path.join(self.folder, "image.exe")
        with open(path, "wb") as f:
            f.write(data)
        result = subprocess.run([sys.executable, SCRIPT, *options, path], capture_output=True, text=True)
        with open(path, "rb") as f:
            return result.returncode, f.read()

    def test_directory_points_at_the_structure_in_both_formats(self):
        for plus in (False, True):
            with self.subTest(plus=plus):
                data, directory_at = build_image(plus)
                code, after = self.run_tool(data)
                self.assertEqual(code, 0)
                self.assertEqual(len(after), len(data))
                rva, size = struct.unpack_from("<II", after, directory_at)
                self.assertEqual(rva, SECTION_RVA + 0x40)
                self.assertEqual(size, 96 if plus else 64)
                self.assertEqual(struct.unpack_from("<I", after, 0x80 + 24 + 64)[0], 0, "a zero checksum stays zero")
                self.assertEqual(self.run_tool(after, "--check")[0], 0)

    def test_a_non_zero_checksum_is_recomputed(self):
        data, _ = build_image(False, checksum=0x1234)
        code, after = self.run_tool(data)
        self.assertEqual(code, 0)
        checksum_at = 0x80 + 24 + 64
        stored = struct.unpack_from("<I", after, checksum_at)[0]
        self.assertNotEqual(stored, 0x1234)
        self.assertEqual(stored, tool.pe_checksum(after, checksum_at))
        self.assertEqual(self.run_tool(after, "--check")[0], 0)

    def test_images_without_exactly_one_structure_are_refused_unchanged(self):
        for count in (0, 2):
            with self.subTest(structures=count):
                data, _ = build_image(True, structures=count)
                code, after = self.run_tool(data)
                self.assertEqual(code, 1)
                self.assertEqual(after, data)

    def test_a_signed_image_is_refused_unchanged(self):
        for plus in (False, True):
            with self.subTest(plus=plus):
                data, directory_at = build_image(plus)
                signed = bytearray(data)
                # Certificate table directory (index 4), two entries before the load configuration's.
                struct.pack_into("<II", signed, directory_at - 8 * 6, len(data), 0x10)
                signed += bytes(0x10)
                code, after = self.run_tool(bytes(signed))
                self.assertEqual(code, 1)
                self.assertEqual(after, bytes(signed))

    def test_check_fails_for_an_empty_directory_or_another_flag(self):
        data, directory_at = build_image(False)
        self.assertEqual(self.run_tool(data, "--check")[0], 1)
        code, after = self.run_tool(data)
        changed = bytearray(after)
        struct.pack_into("<H", changed, SECTION_RAW + 0x40 + 54, 0x1000)
        self.assertEqual(self.run_tool(bytes(changed), "--check")[0], 1)

    def test_an_image_importing_a_dll_not_allowed_is_refused_and_removed(self):
        for plus in (False, True):
            with self.subTest(plus=plus):
                data, directory_at = build_image(plus)
                directories_at = directory_at - 8 * 10
                allowed = "--allow-imports", "kernel32.dll,msvcrt.dll"
                fine = with_imports(data, plus, directories_at, ["KERNEL32.dll", "msvcrt.dll"])
                code, after = self.run_tool(fine, *allowed)
                self.assertEqual(code, 0)
                self.assertEqual(struct.unpack_from("<I", after, directory_at)[0], SECTION_RVA + 0x40)

                path = os.path.join(self.folder, "image.exe")
                with open(path, "wb") as f:
                    f.write(with_imports(data, plus, directories_at, ["KERNEL32.dll", "USER32.dll"]))
                result = subprocess.run([sys.executable, SCRIPT, *allowed, path], capture_output=True, text=True)
                self.assertEqual(result.returncode, 1)
                self.assertIn("USER32.dll (Function)", result.stderr)
                self.assertFalse(os.path.exists(path), "the next build links it again")

    def test_other_files_are_refused(self):
        self.assertEqual(self.run_tool(b"not an image at all")[0], 1)


if __name__ == "__main__":
    unittest.main()
