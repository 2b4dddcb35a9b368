#!/usr/bin/env python3
"""Gives each 32-bit PE DLL of Wine in FOLDER an address of its own and takes away its dynamic base,
so that Wine maps it from its file as it is, without relocating it.

Wine loads a DLL that allows a dynamic base at an address of its own choosing and relocates it in
every process: the code pages of each process are then private copies, written at every start, and
qemu (which keeps the code it translated by physical page) translates the 32-bit DLLs' code again in
every process. Mapped at their own base they are the page cache's pages, shared by every process, and
translated once; a registry case starts in about three quarters of the time (docs/harness.md). The
DLLs' code and behaviour are unchanged: only where they load. One that finds its address taken is
relocated, as before.

    rebase-dlls.py FOLDER    (scripts/wine-root.sh, on the root's i386-windows folder)
"""
import array
import struct
import sys
from pathlib import Path

# The 32-bit processes' DLLs go here, one after another: above what a small program allocates
# bottom-up, below where Wine puts what it places itself (from 0x7b000000 down).
FIRST_BASE = 0x50000000
LAST_END = 0x7A000000
ALIGNMENT = 0x10000
DYNAMIC_BASE = 0x0040
IMAGE_FILE_DLL = 0x2000
PE32 = 0x10B
HIGHLOW = 3


def checksum(data, field):
    """The PE image checksum: its 16-bit words summed with their carries folded in (the field itself
    counted as 0), plus its length."""
    words = array.array("H", bytes(data[:field]) + b"\0\0\0\0" + bytes(data[field + 4:]) + b"\0" * (len(data) % 2))
    total = sum(words)
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(data)


class Dll:
    """A 32-bit PE DLL that allows a dynamic base and has relocations, read from PATH; None from
    read() otherwise."""

    @classmethod
    def read(cls, path):
        data = bytearray(path.read_bytes())
        if len(data) < 0x40 or data[:2] != b"MZ":
            return None
        header = struct.unpack_from("<I", data, 0x3C)[0]
        if data[header:header + 4] != b"PE\0\0":
            return None
        sections, optional_size, characteristics = struct.unpack_from("<HxxxxxxxxxxxxHH", data, header + 6)
        optional = header + 24
        if struct.unpack_from("<H", data, optional)[0] != PE32 or not characteristics & IMAGE_FILE_DLL:
            return None
        if not struct.unpack_from("<H", data, optional + 70)[0] & DYNAMIC_BASE:
            return None
        if not struct.unpack_from("<I", data, optional + 96 + 5 * 8 + 4)[0]:
            return None  # without relocations it cannot move
        return cls(path, data, optional, header + 24 + optional_size, sections)

    def __init__(self, path, data, optional, section_table, sections):
        self.path, self.data, self.optional = path, data, optional
        self.sections = [struct.unpack_from("<IIII", data, section_table + 40 * i + 8) for i in range(sections)]
        self.base = struct.unpack_from("<I", data, optional + 28)[0]
        self.size = struct.unpack_from("<I", data, optional + 56)[0]

    def offset(self, rva):
        """Where the byte at RVA is in the file; None where the file holds none (uninitialised data)."""
        for virtual_size, address, raw_size, raw in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw + rva - address if rva - address < raw_size else None
        return None

    def relocations(self):
        """The RVA of each 32-bit address that the base relocations name."""
        directory, size = struct.unpack_from("<II", self.data, self.optional + 96 + 5 * 8)
        at, end = self.offset(directory), self.offset(directory) + size
        while at + 8 <= end:
            page, block = struct.unpack_from("<II", self.data, at)
            if block < 8:
                break
            for (entry,) in struct.iter_unpack("<H", self.data[at + 8:at + block]):
                if entry >> 12 == HIGHLOW:
                    yield page + (entry & 0xFFF)
                elif entry >> 12:
                    raise ValueError(f"{self.path.name}: relocation of type {entry >> 12}")
            at += block

    def rebase(self, base):
        delta = base - self.base
        for rva in self.relocations():
            at = self.offset(rva)
            if at is None:
                raise ValueError(f"{self.path.name}: a relocation outside the file's data")
            struct.pack_into("<I", self.data, at, (struct.unpack_from("<I", self.data, at)[0] + delta) & 0xFFFFFFFF)
        struct.pack_into("<I", self.data, self.optional + 28, base)
        characteristics = struct.unpack_from("<H", self.data, self.optional + 70)[0]
        struct.pack_into("<H", self.data, self.optional + 70, characteristics & ~DYNAMIC_BASE)
        struct.pack_into("<I", self.data, self.optional + 64, checksum(self.data, self.optional + 64))
        new = self.path.with_name(self.path.name + ".rebased")
        new.write_bytes(self.data)
        new.replace(self.path)


def main(folder):
    dlls = [dll for path in sorted(Path(folder).iterdir()) if path.is_file() and (dll := Dll.read(path))]
    base = FIRST_BASE
    for dll in dlls:
        dll.rebase(base)
        base += (dll.size + ALIGNMENT - 1) // ALIGNMENT * ALIGNMENT
    if base > LAST_END:
        raise SystemExit(f"rebase-dlls: the DLLs of {folder} need up to {base:#x}, beyond {LAST_END:#x}")
    print(f"rebase-dlls: {len(dlls)} DLLs at {FIRST_BASE:#x} to {base:#x}")


if __name__ == "__main__":
    main(sys.argv[1])
