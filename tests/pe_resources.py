#!/usr/bin/env python3
"""Writes the resources of a Windows image of any machine as a .res file.

GNU windres reads back the resources of the images of its own machine only; from a .res file
(windres -J res) it reads any. The resource data of an image does not depend on its machine, so
this lets the x86-64 windres show an ARM64 DLL's version resource as a resource script.

  pe_resources.py IMAGE OUT.res
"""
import struct
import sys

RESOURCE_DIRECTORY = 2


class Image:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE image")
        sections, optional_size = struct.unpack_from("<2xH12xH", data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        directories = optional + {0x10B: 96, 0x20B: 112}[magic]
        self.root, _ = struct.unpack_from("<II", data, directories + 8 * RESOURCE_DIRECTORY)
        self.sections = [struct.unpack_from("<8xIIII", data, optional + optional_size + 40 * i)
                         for i in range(sections)]

    def offset(self, rva):
        """The file offset of a relative virtual address."""
        for virtual_size, address, raw_size, raw_offset in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw_offset + rva - address
        raise ValueError(f"RVA {rva:#x} is in no section")

    def entries(self, directory):
        """(identifier, offset, is a directory) of each entry of a resource directory; an identifier
        is a number or a name."""
        base = self.offset(self.root)
        named, numbered = struct.unpack_from("<12xHH", self.data, base + directory)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
            if name & 0x80000000:
                at = base + (name & 0x7FFFFFFF)
                length = struct.unpack_from("<H", self.data, at)[0]
                name = self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            yield name, target & 0x7FFFFFFF, bool(target & 0x80000000)

    def resources(self):
        """(type, name, language, bytes) of every resource."""
        base = self.offset(self.root)
        for kind, names, _ in self.entries(0):
            for name, languages, _ in self.entries(names):
                for language, entry, _ in self.entries(languages):
                    rva, size = struct.unpack_from("<II", self.data, base + entry)
                    yield kind, name, language, self.data[self.offset(rva):self.offset(rva) + size]


def identifier(value):
    if isinstance(value, int):
        return struct.pack("<HH", 0xFFFF, value)
    return value.encode("utf-16-le") + b"\0\0"


def pad(data):
    return data + b"\0" * (-len(data) % 4)


def res_entry(kind, name, language, body):
    header = pad(identifier(kind) + identifier(name))
    # Data version, memory flags (an image keeps none), language, version, characteristics.
    header += struct.pack("<IHHII", 0, 0, language, 0, 0)
    return pad(struct.pack("<II", len(body), 8 + len(header)) + header + body)


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    with open(sys.argv[1], "rb") as f:
        image = Image(f.read())
    # A .res file begins with an empty entry.
    out = struct.pack("<II", 0, 32) + struct.pack("<HHHHIHHII", 0xFFFF, 0, 0xFFFF, 0, 0, 0, 0, 0, 0)
    for resource in image.resources():
        out += res_entry(*resource)
    with open(sys.argv[2], "wb") as f:
        f.write(out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
