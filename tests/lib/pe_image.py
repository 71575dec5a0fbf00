#!/usr/bin/env python3
"""Prints what a Windows executable says about itself: the tests' one PE reader.

Reads the PE file's headers, import table and resources directly, so that
the tests need no Windows tool, and prints one line per fact:

  machine=i386 | x86_64
  format=pe32 | pe32+
  subsystem=console | windows | <number>
  os_version=<major>.<minor>     (the oldest Windows that loads it)
  subsystem_version=<major>.<minor>
  import=<DLL>!<function>        (one line per import; <DLL>!#<ordinal>)
  fixed:FileVersion=a.b.c.d      (VS_FIXEDFILEINFO)
  fixed:ProductVersion=a.b.c.d
  string:<Key>=<value>           (StringFileInfo)
  translation=<language>,<code page>
  manifest_id=<its resource id> (1: the one Windows reads for a program)
  manifest=<the manifest's XML on one line>

Exits with 1 when the file is not a PE file it can read.
"""

import struct
import sys

RT_VERSION = 16
RT_MANIFEST = 24
MACHINES = {0x14C: "i386", 0x8664: "x86_64"}
FORMATS = {0x10B: "pe32", 0x20B: "pe32+"}
SUBSYSTEMS = {2: "windows", 3: "console"}


class BadImage(Exception):
    pass


def unpack(fmt, data, offset):
    try:
        return struct.unpack_from(fmt, data, offset)
    except struct.error as error:
        raise BadImage(f"truncated at {offset:#x}") from error


def read_sections(image):
    if image[:2] != b"MZ":
        raise BadImage("no MZ header")
    (pe_offset,) = unpack("<I", image, 0x3C)
    if image[pe_offset:pe_offset + 4] != b"PE\0\0":
        raise BadImage("no PE signature")
    coff = pe_offset + 4
    machine, section_count = unpack("<HH", image, coff)
    (optional_size,) = unpack("<H", image, coff + 16)
    optional = coff + 20
    (magic,) = unpack("<H", image, optional)
    directories = {0x10B: optional + 96, 0x20B: optional + 112}.get(magic)
    if directories is None:
        raise BadImage(f"unknown optional header {magic:#x}")
    # At the same offsets in both formats.
    os_major, os_minor = unpack("<HH", image, optional + 40)
    sub_major, sub_minor = unpack("<HH", image, optional + 48)
    (subsystem,) = unpack("<H", image, optional + 68)
    header = [f"machine={MACHINES.get(machine, hex(machine))}",
              f"format={FORMATS[magic]}",
              f"subsystem={SUBSYSTEMS.get(subsystem, subsystem)}",
              f"os_version={os_major}.{os_minor}",
              f"subsystem_version={sub_major}.{sub_minor}"]
    import_rva, _ = unpack("<II", image, directories + 1 * 8)
    resource_rva, resource_size = unpack("<II", image, directories + 2 * 8)
    sections = []
    table = optional + optional_size
    for index in range(section_count):
        entry = table + 40 * index
        virtual_size, virtual_address, raw_size, raw_pointer = unpack(
            "<IIII", image, entry + 8)
        sections.append((virtual_address, max(virtual_size, raw_size),
                         raw_pointer))
    return header, magic == 0x20B, import_rva, resource_rva, resource_size, \
        sections


def file_offset(sections, rva):
    for virtual_address, size, raw_pointer in sections:
        if virtual_address <= rva < virtual_address + size:
            return raw_pointer + rva - virtual_address
    raise BadImage(f"RVA {rva:#x} in no section")


def read_c_string(image, offset):
    end = image.find(b"\0", offset)
    if end < 0:
        raise BadImage("unterminated name")
    return image[offset:end].decode("ascii", "replace")


def imports(image, sections, import_rva, wide):
    """DLL!function for every import, in the import directory's order."""
    entry_format, by_ordinal = ("<Q", 1 << 63) if wide else ("<I", 1 << 31)
    descriptor = file_offset(sections, import_rva)
    while True:
        fields = unpack("<IIIII", image, descriptor)
        if not any(fields):
            return
        dll = read_c_string(image, file_offset(sections, fields[3]))
        # The lookup table, or where a linker left none, the address table.
        thunk = file_offset(sections, fields[0] or fields[4])
        while True:
            (entry,) = unpack(entry_format, image, thunk)
            if entry == 0:
                break
            if entry & by_ordinal:
                yield f"{dll}!#{entry & 0xFFFF}"
            else:  # a hint of two bytes, then the name
                name_at = file_offset(sections, (entry & 0x7FFFFFFF) + 2)
                yield f"{dll}!{read_c_string(image, name_at)}"
            thunk += struct.calcsize(entry_format)
        descriptor += 20


def walk_resources(image, sections, resource_rva):
    """Yields (type id, resource id, data) for every resource; a name in
    place of an id gives None."""
    base = file_offset(sections, resource_rva)

    def entries(directory):
        named, numbered = unpack("<HH", image, base + directory + 12)
        for index in range(named + numbered):
            name, target = unpack("<II", image, base + directory + 16 + 8 * index)
            yield (None if name & 0x80000000 else name), target

    def data_under(target):  # the language level, or deeper
        if target & 0x80000000:
            for _, child in entries(target & 0x7FFFFFFF):
                yield from data_under(child)
            return
        data_rva, size = unpack("<II", image, base + target)
        start = file_offset(sections, data_rva)
        yield image[start:start + size]

    for type_id, type_target in entries(0):
        if not type_target & 0x80000000:
            raise BadImage("resource type without a directory")
        for resource_id, target in entries(type_target & 0x7FFFFFFF):
            for data in data_under(target):
                yield type_id, resource_id, data


def align4(offset):
    return (offset + 3) & ~3


def parse_version_block(data, offset):
    """Parses one VS_VERSIONINFO-style block: (key, type, value, children)."""
    length, value_length, value_type = unpack("<HHH", data, offset)
    end = offset + length
    if length < 6 or end > len(data):
        raise BadImage("bad version block")
    position = offset + 6
    key_end = position
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[position:key_end].decode("utf-16-le")
    position = align4(key_end + 2)
    if value_type == 1:  # text, its length in characters
        raw = data[position:min(position + 2 * value_length, end)]
        value = raw.decode("utf-16-le").split("\0")[0]
        position += len(raw)
    else:
        value = data[position:position + value_length]
        position += value_length
    children = []
    position = align4(position)
    while position < end:
        child, position = parse_version_block(data, position)
        children.append(child)
        position = align4(position)
    return (key, value_type, value, children), end


def version_lines(data):
    (key, _, fixed, children), _ = parse_version_block(data, 0)
    if key != "VS_VERSION_INFO":
        raise BadImage(f"version resource named {key!r}")
    lines = []
    if len(fixed) >= 52:
        signature, _, file_ms, file_ls, product_ms, product_ls = unpack(
            "<IIIIII", fixed, 0)
        if signature == 0xFEEF04BD:
            for name, ms, ls in (("FileVersion", file_ms, file_ls),
                                 ("ProductVersion", product_ms, product_ls)):
                lines.append(f"fixed:{name}={ms >> 16}.{ms & 0xFFFF}."
                             f"{ls >> 16}.{ls & 0xFFFF}")
    for child_key, _, _, tables in children:
        if child_key == "StringFileInfo":
            for _, _, _, strings in tables:
                for name, _, value, _ in strings:
                    lines.append(f"string:{name}={value}")
        elif child_key == "VarFileInfo":
            for _, _, value, _ in tables:
                for pair in range(0, len(value) - 3, 4):
                    language, code_page = unpack("<HH", value, pair)
                    lines.append(f"translation={language:#06x},{code_page}")
    return lines


def main(path):
    with open(path, "rb") as file:
        image = file.read()
    header, wide, import_rva, resource_rva, resource_size, sections = \
        read_sections(image)
    print("\n".join(header))
    if import_rva != 0:
        for name in imports(image, sections, import_rva, wide):
            print(f"import={name}")
    if resource_rva == 0 or resource_size == 0:
        return
    for type_id, resource_id, data in walk_resources(image, sections,
                                                     resource_rva):
        if type_id == RT_VERSION:
            print("\n".join(version_lines(data)))
        elif type_id == RT_MANIFEST:
            text = data.decode("utf-8", "replace").lstrip("\ufeff")
            print(f"manifest_id={resource_id}")
            print("manifest=" + " ".join(text.split()))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: pe_image.py FILE.exe")
    try:
        main(sys.argv[1])
    except (BadImage, OSError) as error:
        sys.exit(f"{sys.argv[1]}: {error}")
