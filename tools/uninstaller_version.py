#!/usr/bin/env python3
# Gives an NSIS uninstaller the version block of a compiled resource file (windres -O res) in
# place of the installer's, which makensis gives it; the installer's build runs it on the
# uninstaller before it is signed and packed. The new block takes the old one's place, so it must
# not be larger (the build fails if it is). The uninstaller checks itself against the CRC-32 that
# makensis wrote after its data, which covers the resources too: it is written anew.
#   uninstaller_version.py RESOURCES UNINSTALLER

import struct, sys, zlib

import pefile

RT_VERSION = 16
NSIS_SIGNATURE = struct.pack("<I", 0xDEADBEEF) + b"NullsoftInst"
NSIS_NO_CRC = 4


def fail(text):
    sys.exit("uninstaller_version: " + text)


def block_of(resources):
    # A .res file is a row of entries: data size, header size, the type (0xFFFF and a number, or a
    # name) and the rest of the header, then the data; each entry starts on a 4-byte boundary.
    at = 0
    while at + 12 <= len(resources):
        size, header = struct.unpack_from("<II", resources, at)
        if struct.unpack_from("<HH", resources, at + 8) == (0xFFFF, RT_VERSION):
            return resources[at + header:at + header + size]
        at = (at + header + size + 3) & ~3
    fail("no version block in the resource file")


def replace_block(program, block):
    # pefile finds the block; the bytes are changed here (its own write would put back the old
    # block, which it has read).
    pe = pefile.PE(data=bytes(program))
    kinds = pe.DIRECTORY_ENTRY_RESOURCE.entries if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE") else []
    entries = [language.data.struct for kind in kinds if kind.id == RT_VERSION
               for name in kind.directory.entries for language in name.directory.entries]
    if len(entries) != 1:
        fail("%d version blocks, not one" % len(entries))
    entry = entries[0]
    if len(block) > entry.Size:
        fail("the new block (%d bytes) is larger than the old (%d)" % (len(block), entry.Size))
    at = pe.get_offset_from_rva(entry.OffsetToData)
    program[at:at + entry.Size] = block + bytes(entry.Size - len(block))
    struct.pack_into("<I", program, entry.get_file_offset() + 4, len(block))  # its Size


def renew_crc(program):
    # The data starts with its header on a 512-byte boundary: flags, the signature, the header's
    # length and the length of all that follows, whose last 4 bytes are the CRC of the file from
    # byte 512 (after the headers that signing changes) up to them.
    for at in range(0, len(program), 512):
        if program[at + 4:at + 20] == NSIS_SIGNATURE:
            flags = struct.unpack_from("<I", program, at)[0]
            end = at + struct.unpack_from("<I", program, at + 24)[0] - 4
            if not flags & NSIS_NO_CRC:
                struct.pack_into("<I", program, end, zlib.crc32(program[512:end]))
            return
    fail("not an NSIS program")


def main(resources_path, uninstaller):
    with open(resources_path, "rb") as resources:
        block = block_of(resources.read())
    with open(uninstaller, "rb") as program:
        data = bytearray(program.read())
    replace_block(data, block)
    renew_crc(data)
    with open(uninstaller, "wb") as program:
        program.write(data)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: uninstaller_version.py RESOURCES UNINSTALLER")
    main(*sys.argv[1:])
