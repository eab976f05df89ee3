#!/usr/bin/env python3
"""Checks the version resource of a built Windows program or DLL.

    check_version_resource.py FILE [--file-version A.B.C.D] [--product-version A.B.C.D]
                              [Name=Text ...]

Reads the PE's RT_VERSION resource directly (no Windows needed) and fails unless the fixed
file and product versions and every named string of its string table are as given.
"""
import struct
import sys

RT_VERSION = 16


class PeError(Exception):
    pass


def resource_bytes(data, resource_type):
    if data[:2] != b"MZ":
        raise PeError("not an MZ image")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise PeError("no PE signature")
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    root_rva, _ = struct.unpack_from("<II", data, directories + 2 * 8)
    if root_rva == 0:
        raise PeError("no resources")
    table = optional + optional_size
    spans = []
    for i in range(sections):
        size, rva, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
        spans.append((rva, max(size, raw_size), raw))

    def offset_of(rva):
        for start, size, raw in spans:
            if start <= rva < start + size:
                return raw + rva - start
        raise PeError("RVA 0x%X outside every section" % rva)

    root = offset_of(root_rva)

    def entries(directory):
        named, numbered = struct.unpack_from("<HH", data, directory + 12)
        for i in range(named + numbered):
            yield struct.unpack_from("<II", data, directory + 16 + 8 * i)

    def first_leaf(directory):
        for _, target in entries(directory):
            if target & 0x80000000:
                return first_leaf(root + (target & 0x7FFFFFFF))
            rva, size = struct.unpack_from("<II", data, root + target)
            return data[offset_of(rva):offset_of(rva) + size]
        raise PeError("empty resource directory")

    for ident, target in entries(root):
        if ident == resource_type and target & 0x80000000:
            return first_leaf(root + (target & 0x7FFFFFFF))
    raise PeError("no resource of type %d" % resource_type)


def align4(offset):
    return (offset + 3) & ~3


def parse_block(blob, offset):
    """One VS_VERSIONINFO node: (key, value bytes, is text, children)."""
    length, value_length, kind = struct.unpack_from("<HHH", blob, offset)
    end = offset + length
    position = offset + 6
    key_end = position
    while blob[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = blob[position:key_end].decode("utf-16-le")
    position = align4(key_end + 2)
    value_size = value_length * 2 if kind == 1 else value_length
    value = blob[position:position + value_size]
    position = align4(position + value_size)
    children = []
    while position < end:
        child, child_end = parse_block(blob, position)
        children.append(child)
        position = align4(child_end)
    return (key, value, kind == 1, children), end


def version_text(ms, ls):
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def main(argv):
    if len(argv) < 2:
        print(__doc__)
        return 2
    path = argv[1]
    expected_fixed = {}
    expected_strings = {}
    args = argv[2:]
    while args:
        arg = args.pop(0)
        if arg in ("--file-version", "--product-version") and args:
            expected_fixed[arg[2:]] = args.pop(0)
        elif "=" in arg:
            name, text = arg.split("=", 1)
            expected_strings[name] = text
        else:
            print("unknown argument %r" % arg)
            return 2

    with open(path, "rb") as f:
        data = f.read()
    try:
        blob = resource_bytes(data, RT_VERSION)
    except PeError as e:
        print("%s: %s" % (path, e))
        return 1
    (key, fixed, _, children), _ = parse_block(blob, 0)
    if key != "VS_VERSION_INFO" or len(fixed) < 52:
        print("%s: malformed version resource" % path)
        return 1
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    if signature != 0xFEEF04BD:
        print("%s: no VS_FIXEDFILEINFO" % path)
        return 1
    actual_fixed = {"file-version": version_text(file_ms, file_ls),
                    "product-version": version_text(product_ms, product_ls)}
    strings = {}
    for child_key, _, _, tables in children:
        if child_key == "StringFileInfo":
            for _, _, _, entries in tables:
                for name, value, is_text, _ in entries:
                    text = value.decode("utf-16-le") if is_text else value.decode("latin-1")
                    strings[name] = text.rstrip("\0")

    failures = []
    for name, text in expected_fixed.items():
        if actual_fixed[name] != text:
            failures.append("fixed %s is %s, expected %s" % (name, actual_fixed[name], text))
    for name, text in expected_strings.items():
        if strings.get(name) != text:
            failures.append("%s is %r, expected %r" % (name, strings.get(name), text))
    for line in failures:
        print("%s: %s" % (path, line))
    if not failures:
        print("%s: %s; %s" % (path, actual_fixed, strings))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
