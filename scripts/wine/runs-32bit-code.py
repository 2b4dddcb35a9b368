#!/usr/bin/python3
"""Exits 0 when this machine runs 32-bit x86 code, 1 when it does not.

WoW64 needs the processor's 32-bit code segment, and some hypervisors do not give it to their guests:
there the first 32-bit instruction faults, and scripts/wine-run.sh runs Wine in a virtual machine that
qemu emulates instead. The try is a far return into the 32-bit user code segment (0x23) and a far jump
back, in a child process that a fault simply ends.
"""
import ctypes
import mmap
import os
import sys

MAP_32BIT = 0x40
USER32_CS, USER64_CS = 0x23, 0x33


def try_32bit_code():
    libc = ctypes.CDLL(None)
    libc.mmap.restype = ctypes.c_void_p
    libc.mmap.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_long]
    rwx = mmap.PROT_READ | mmap.PROT_WRITE | mmap.PROT_EXEC
    page = libc.mmap(None, 4096, rwx, mmap.MAP_PRIVATE | mmap.MAP_ANONYMOUS | MAP_32BIT, -1, 0)
    assert page and page < 1 << 32
    code = bytearray(4096)
    # push 0x23; push the 32-bit part; retfq
    code[0:9] = bytes([0x6A, USER32_CS, 0x68]) + (page + 0x40).to_bytes(4, "little") + b"\x48\xcb"
    # 32-bit part: jmp far [back]
    code[0x40:0x46] = b"\xff\x2d" + (page + 0x80).to_bytes(4, "little")
    # 64-bit again: ret
    code[0x60] = 0xC3
    # back: the 64-bit code segment, at the ret
    code[0x80:0x86] = (page + 0x60).to_bytes(4, "little") + USER64_CS.to_bytes(2, "little")
    ctypes.memmove(page, bytes(code), len(code))
    ctypes.CFUNCTYPE(None)(page)()


def main():
    child = os.fork()
    if child == 0:
        os.close(2)  # a fault says nothing
        try_32bit_code()
        os._exit(0)
    _, status = os.waitpid(child, 0)
    sys.exit(0 if os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0 else 1)


if __name__ == "__main__":
    main()
