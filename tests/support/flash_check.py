# The flash a whole update leaves on an erased board: the embedded image's bytes wherever a stage
# writes, erased elsewhere.

import os, subprocess, tempfile

UNWRITTEN = slice(6144, 8192)  # flash bytes of the addresses that no update stage writes


def unpacker(pack, firmware):
    # Writes the plain image inside the firmware container to the path it is given.
    return lambda image: subprocess.run([pack, "unpack", firmware, image], check=True,
                                        stdout=subprocess.DEVNULL)


def check_flash(flash, unpack):
    with tempfile.TemporaryDirectory() as folder:
        image = os.path.join(folder, "image.bin")
        unpack(image)
        with open(image, "rb") as f:
            expected = bytearray(f.read()[8:])
    expected[UNWRITTEN] = b"\xff" * (UNWRITTEN.stop - UNWRITTEN.start)
    assert flash == expected, "the board's flash differs from the embedded image"
