#!/usr/bin/env python3
"""Points a linked PE image's Load Configuration directory (data directory 10) at the image's
own load configuration structure, and its Delay Import directory (data directory 13) at its
delay-import descriptor table, both of which GNU ld keeps but leaves unreferenced.

The image is stripped, so the structure is found by its content: the bytes that
platform/LoadConfig.cpp compiles (Size up to SecurityCookie, DependentLoadFlags =
LOAD_LIBRARY_SEARCH_SYSTEM32, everything else 0), at an aligned place inside a section's raw
data. Exactly one such place must exist. The delay-import table is found as a run of
RVA-based descriptors (attributes 1, a name that ends in ".dll", and module handle, address
table and name table inside the image) followed by an all-zero descriptor; an image may have
no such table (its directory stays as it is), never two. Handles PE32 and PE32+ images. The file's length is
not changed, so a stripped image still ends at its last section's raw data; a non-zero PE
checksum is recomputed, a zero one stays zero. A signed image (one whose certificate table
directory is set) is refused unchanged: any change to it would break the signature, and the
step belongs between linking and signing.

With --allow-imports, the image is first refused when its import table (the DLLs the loader
binds before the program runs) names a DLL that the comma-separated list does not: every other
DLL must be delay-loaded, and a call that the delay-import libraries do not list would otherwise
bring its DLL back silently. Such an image is deleted, so that the next build links and checks
it again instead of finding it up to date.

Usage: set-load-config.py [--allow-imports DLL,DLL...] IMAGE
                                          (exit status 0 when the directories are set)
       set-load-config.py --check IMAGE   (exit status 0 when the load configuration is set
                                           and carries the flag, and a delay-import
                                           directory that is set lists DLLs)
"""
import os
import struct
import sys

LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800
IMPORT_INDEX = 1
IMPORT_DESCRIPTOR_SIZE = 20
LOAD_CONFIG_INDEX = 10
CERTIFICATE_TABLE_INDEX = 4
DELAY_IMPORT_INDEX = 13
DELAY_DESCRIPTOR_SIZE = 32

# Per optional-header magic: the structure's size up to SecurityCookie, the offset of
# DependentLoadFlags inside it, and the offset of the data directories in the optional header.
LAYOUTS = {
    0x10B: {"name": "PE32", "size": 64, "flags_at": 54, "directories_at": 96, "align": 4},
    0x20B: {"name": "PE32+", "size": 96, "flags_at": 78, "directories_at": 112, "align": 8},
}


class ImageError(Exception):
    pass


class ImportsError(ImageError):
    pass


def parse(data):
    if len(data) < 0x40 or data[:2] != b"MZ":
        raise ImageError("not an MZ image")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ImageError("no PE signature")
    sections_count, = struct.unpack_from("<H", data, pe + 6)
    optional_size, = struct.unpack_from("<H", data, pe + 20)
    optional = pe + 24
    magic, = struct.unpack_from("<H", data, optional)
    if magic not in LAYOUTS:
        raise ImageError("unknown optional header magic 0x%x" % magic)
    layout = LAYOUTS[magic]
    directories_count, = struct.unpack_from("<I", data, optional + layout["directories_at"] - 4)
    if directories_count <= DELAY_IMPORT_INDEX:
        raise ImageError("the image has no Delay Import directory slot")
    sections = []
    table = optional + optional_size
    for i in range(sections_count):
        at = table + 40 * i
        virtual_size, virtual_address, raw_size, raw_pointer = struct.unpack_from("<IIII", data, at + 8)
        sections.append((virtual_address, max(virtual_size, raw_size) if raw_size else virtual_size,
                         raw_pointer, raw_size))
    return {
        "layout": layout,
        "checksum_at": optional + 64,
        "directory_at": optional + layout["directories_at"] + 8 * LOAD_CONFIG_INDEX,
        "delay_directory_at": optional + layout["directories_at"] + 8 * DELAY_IMPORT_INDEX,
        "import_directory_at": optional + layout["directories_at"] + 8 * IMPORT_INDEX,
        "pointer_size": 8 if magic == 0x20B else 4,
        "image_size": struct.unpack_from("<I", data, optional + 56)[0],
        "certificates_at": optional + layout["directories_at"] + 8 * CERTIFICATE_TABLE_INDEX,
        "sections": sections,
    }


def expected_structure(layout):
    structure = bytearray(layout["size"])
    struct.pack_into("<I", structure, 0, layout["size"])
    struct.pack_into("<H", structure, layout["flags_at"], LOAD_LIBRARY_SEARCH_SYSTEM32)
    return bytes(structure)


def offset_to_rva(image, offset):
    for virtual_address, _, raw_pointer, raw_size in image["sections"]:
        if raw_pointer <= offset < raw_pointer + raw_size:
            return virtual_address + offset - raw_pointer
    return None


def rva_to_offset(image, rva, length):
    for virtual_address, _, raw_pointer, raw_size in image["sections"]:
        if virtual_address <= rva and rva + length <= virtual_address + raw_size:
            return raw_pointer + rva - virtual_address
    return None


def find_structure(data, image):
    wanted = expected_structure(image["layout"])
    found = []
    start = 0
    while True:
        at = data.find(wanted, start)
        if at < 0:
            break
        start = at + 1
        if at % image["layout"]["align"] == 0 and offset_to_rva(image, at) is not None:
            found.append(at)
    return found


def delay_descriptor_dll(data, image, at):
    """The DLL name of the delay-import descriptor at file offset `at`, or None when the 32
    bytes there are not one."""
    if at + DELAY_DESCRIPTOR_SIZE > len(data):
        return None
    attributes, name, module, iat, names = struct.unpack_from("<5I", data, at)
    if attributes != 1 or not all(0 < rva < image["image_size"] for rva in (name, module, iat, names)):
        return None
    name_at = rva_to_offset(image, name, 1)
    if name_at is None:
        return None
    end = data.find(b"\0", name_at, name_at + 260)
    text = data[name_at:end] if end >= 0 else b""
    if len(text) < 5 or not text.lower().endswith(b".dll") or not all(32 < c < 127 for c in text):
        return None
    return text.decode("ascii")


def find_delay_tables(data, image):
    """Each run of delay-import descriptors that ends in an all-zero one: (file offset, DLL names)."""
    tables = []
    for _, _, raw_pointer, raw_size in image["sections"]:
        at = raw_pointer
        end = raw_pointer + raw_size
        while at + DELAY_DESCRIPTOR_SIZE <= end:
            dlls = []
            while delay_descriptor_dll(data, image, at + DELAY_DESCRIPTOR_SIZE * len(dlls)) is not None:
                dlls.append(delay_descriptor_dll(data, image, at + DELAY_DESCRIPTOR_SIZE * len(dlls)))
            terminator = at + DELAY_DESCRIPTOR_SIZE * len(dlls)
            if dlls and terminator + DELAY_DESCRIPTOR_SIZE <= end and \
                    not any(data[terminator:terminator + DELAY_DESCRIPTOR_SIZE]):
                tables.append((at, dlls))
            at = terminator + 4 if dlls else at + 4
    return tables


def delay_imports(data, image):
    """The DLLs that the Delay Import directory lists, in order; [] when it is empty."""
    rva, size = struct.unpack_from("<II", data, image["delay_directory_at"])
    if rva == 0 and size == 0:
        return []
    at = rva_to_offset(image, rva, DELAY_DESCRIPTOR_SIZE)
    if at is None:
        raise ImageError("the Delay Import directory points outside the sections")
    dlls = []
    while delay_descriptor_dll(data, image, at) is not None:
        dlls.append(delay_descriptor_dll(data, image, at))
        at += DELAY_DESCRIPTOR_SIZE
    if not dlls or any(data[at:at + DELAY_DESCRIPTOR_SIZE]) or size != DELAY_DESCRIPTOR_SIZE * (len(dlls) + 1):
        raise ImageError("the Delay Import directory is not a terminated table of descriptors")
    return dlls


def ascii_at(data, image, rva):
    at = rva_to_offset(image, rva, 1)
    if at is None:
        raise ImageError("a name of the import table lies outside the sections")
    end = data.find(b"\0", at)
    return data[at:end if end >= 0 else len(data)].decode("ascii", "replace")


def static_imports(data, image):
    """Each DLL the import table names, with the functions imported from it by name."""
    rva, _ = struct.unpack_from("<II", data, image["import_directory_at"])
    imports = []
    while rva != 0:
        at = rva_to_offset(image, rva, IMPORT_DESCRIPTOR_SIZE)
        if at is None:
            raise ImageError("the import table runs out of the sections")
        names, _, _, name, addresses = struct.unpack_from("<5I", data, at)
        if name == 0:
            break
        functions = []
        entry = names or addresses
        pointer = "<Q" if image["pointer_size"] == 8 else "<I"
        ordinal_flag = 1 << (8 * image["pointer_size"] - 1)
        while entry != 0:
            entry_at = rva_to_offset(image, entry, image["pointer_size"])
            if entry_at is None:
                break
            value, = struct.unpack_from(pointer, data, entry_at)
            if value == 0:
                break
            functions.append("#%d" % (value & 0xFFFF) if value & ordinal_flag else ascii_at(data, image, value + 2))
            entry += image["pointer_size"]
        imports.append((ascii_at(data, image, name), functions))
        rva += IMPORT_DESCRIPTOR_SIZE
    return imports


def check_imports(data, image, allowed):
    wanted = {dll.lower() for dll in allowed}
    extra = [(dll, functions) for dll, functions in static_imports(data, image) if dll.lower() not in wanted]
    if extra:
        raise ImportsError("the image imports %s when it starts; only %s may be: add each function to its "
                         "DLL's delay-import list (cmake/DLL.def), with the argument size its declaration gives"
                         % ("; ".join("%s (%s)" % (dll, ", ".join(functions)) for dll, functions in extra),
                            ", ".join(allowed)))


def pe_checksum(data, checksum_at):
    total = 0
    padded = data + (b"\0" if len(data) % 2 else b"")
    for i in range(0, len(padded), 2):
        if i in (checksum_at, checksum_at + 2):
            continue
        total += padded[i] | (padded[i + 1] << 8)
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def set_load_config(path, allowed_imports=None):
    with open(path, "rb") as f:
        data = bytearray(f.read())
    image = parse(data)
    if allowed_imports is not None:
        check_imports(bytes(data), image, allowed_imports)
    offset, size = struct.unpack_from("<II", data, image["certificates_at"])
    if offset != 0 or size != 0:
        raise ImageError("the image carries a certificate table (it is signed): set the load "
                         "configuration before signing")
    found = find_structure(bytes(data), image)
    if len(found) != 1:
        raise ImageError("expected one load configuration structure in the image, found %d" % len(found))
    rva = offset_to_rva(image, found[0])
    struct.pack_into("<II", data, image["directory_at"], rva, image["layout"]["size"])
    tables = find_delay_tables(bytes(data), image)
    if len(tables) > 1:
        raise ImageError("expected at most one delay-import descriptor table, found %d" % len(tables))
    for at, dlls in tables:
        struct.pack_into("<II", data, image["delay_directory_at"], offset_to_rva(image, at),
                         DELAY_DESCRIPTOR_SIZE * (len(dlls) + 1))
    if struct.unpack_from("<I", data, image["checksum_at"])[0] != 0:
        struct.pack_into("<I", data, image["checksum_at"], pe_checksum(bytes(data), image["checksum_at"]))
    with open(path, "r+b") as f:
        f.write(data)


def check(path):
    with open(path, "rb") as f:
        data = f.read()
    image = parse(data)
    layout = image["layout"]
    rva, size = struct.unpack_from("<II", data, image["directory_at"])
    if rva == 0 or size == 0:
        raise ImageError("the Load Configuration directory is empty")
    offset = rva_to_offset(image, rva, 4)
    if offset is None:
        raise ImageError("the Load Configuration directory points outside the sections")
    structure_size, = struct.unpack_from("<I", data, offset)
    if structure_size < layout["flags_at"] + 2 or rva_to_offset(image, rva, structure_size) is None:
        raise ImageError("the load configuration is too small to hold DependentLoadFlags")
    flags, = struct.unpack_from("<H", data, offset + layout["flags_at"])
    if flags != LOAD_LIBRARY_SEARCH_SYSTEM32:
        raise ImageError("DependentLoadFlags is 0x%x" % flags)
    checksum, = struct.unpack_from("<I", data, image["checksum_at"])
    if checksum != 0 and checksum != pe_checksum(data, image["checksum_at"]):
        raise ImageError("the PE checksum does not match the image")
    return layout["name"], delay_imports(data, image)


def main(argv):
    try:
        if len(argv) == 3 and argv[1] == "--check":
            name, dlls = check(argv[2])
            print("%s: %s, DependentLoadFlags 0x800, delay-loaded: %s" % (argv[2], name, ", ".join(dlls) or "none"))
        elif len(argv) == 2:
            set_load_config(argv[1])
        elif len(argv) == 4 and argv[1] == "--allow-imports":
            try:
                set_load_config(argv[3], argv[2].split(","))
            except ImportsError:
                os.remove(argv[3])
                raise
        else:
            print(__doc__, file=sys.stderr)
            return 2
    except (ImageError, OSError, struct.error) as error:
        print("%s: %s" % (argv[-1], error), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
