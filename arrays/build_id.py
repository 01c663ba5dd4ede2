"""Writes the C++ source that records the GNU build id of the freshly linked
_core into _arrays, which compares it with the loaded _core at import.

usage: build_id.py CORE_FILE OUTPUT_CPP
"""

import struct
import sys

PT_NOTE = 4
NT_GNU_BUILD_ID = 3


def build_id(path: str) -> str:
    with open(path, "rb") as f:
        elf = f.read()
    if elf[:4] != b"\x7fELF":
        raise SystemExit(f"{path}: not an ELF file")
    wide = elf[4] == 2
    order = "<" if elf[5] == 1 else ">"
    if wide:
        phoff, phentsize, phnum = (
            struct.unpack_from(order + "Q", elf, 0x20)[0],
            *struct.unpack_from(order + "HH", elf, 0x36),
        )
    else:
        phoff, phentsize, phnum = (
            struct.unpack_from(order + "I", elf, 0x1C)[0],
            *struct.unpack_from(order + "HH", elf, 0x2A),
        )
    for i in range(phnum):
        at = phoff + i * phentsize
        if struct.unpack_from(order + "I", elf, at)[0] != PT_NOTE:
            continue
        if wide:
            offset, size = (
                struct.unpack_from(order + "Q", elf, at + 8)[0],
                struct.unpack_from(order + "Q", elf, at + 32)[0],
            )
        else:
            offset, size = (
                struct.unpack_from(order + "I", elf, at + 4)[0],
                struct.unpack_from(order + "I", elf, at + 16)[0],
            )
        note, end = offset, offset + size
        while note + 12 <= end:
            namesz, descsz, kind = struct.unpack_from(order + "III", elf, note)
            name = elf[note + 12 : note + 12 + namesz]
            desc = note + 12 + (namesz + 3) // 4 * 4
            if kind == NT_GNU_BUILD_ID and name == b"GNU\0":
                return elf[desc : desc + descsz].hex()
            note = desc + (descsz + 3) // 4 * 4
    raise SystemExit(f"{path}: no GNU build id (link with --build-id)")


def main() -> None:
    core, output = sys.argv[1:3]
    source = (
        "// Generated at build time from the _core file linked beside this module.\n"
        '#include "stamp.hpp"\n\n'
        f'const char* const core::arrays::kCoreBuildId = "{build_id(core)}";\n'
    )
    with open(output, "w", encoding="utf-8") as f:
        f.write(source)


if __name__ == "__main__":
    main()
