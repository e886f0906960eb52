#!/usr/bin/env python3
"""Writes the plain 65,544-byte demonstration firmware image.

No product firmware lives in this repository; this image only has to be valid and easy to
recognise in a dump. Every 2,048-byte block starts with a readable tag, and every 2-byte
address unit after it holds its own device address, most significant byte first. Like real
firmware it carries its version where the board reads it: "QVXFW" and the version byte at flash
address 8,192, the start of the region every update writes last.

    tools/make_demo_firmware.py demo.bin && qvx-pack pack demo.bin resources/firmware.bin
"""
import sys

HEADER_SIZE = 8
FLASH_SIZE = 65536
BLOCK_SIZE = 2048
VERSION = 0x16  # 1.6
MARKED_BLOCK = 8  # flash address 8,192


def demo_image():
    header = bytes([ord("F"), ord("W"), 0x01, VERSION, 0x00]) + FLASH_SIZE.to_bytes(3, "big")
    flash = bytearray()
    for block in range(FLASH_SIZE // BLOCK_SIZE):
        tag = f"QVX demo block {block:02d} v{VERSION >> 4}.{VERSION & 15}".encode("ascii")
        if block == MARKED_BLOCK:
            tag = b"QVXFW" + bytes([VERSION]) + b" " + tag
        flash += tag.ljust(32, b" ")
        start = len(flash) // 2
        for address in range(start, (block + 1) * BLOCK_SIZE // 2):
            flash += address.to_bytes(2, "big")
    image = header + flash
    assert len(image) == HEADER_SIZE + FLASH_SIZE
    return image


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_demo_firmware.py <output image>")
    with open(sys.argv[1], "wb") as out:
        out.write(demo_image())


if __name__ == "__main__":
    main()
