#!/usr/bin/env python3
"""Writes one damaged model file per rejection class of the loader, next to
this script, from a small item model saved by the library.

    make_corpus.py LIBTOVRAN_SO
"""
import ctypes
import os
import pathlib
import struct
import sys
import tempfile
import zlib

here = pathlib.Path(__file__).resolve().parent
lib = ctypes.CDLL(sys.argv[1])
lib.TOVRAN_BuildModel.restype = ctypes.c_void_p
lib.TOVRAN_SaveModel.argtypes = [ctypes.c_void_p, ctypes.c_char_p]
rows = [0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3]
cols = [0, 1, 2, 0, 1, 2, 0, 1, 3, 1, 2, 3]
Ints = ctypes.c_int32 * len(rows)
model = lib.TOVRAN_BuildModel(4, 4, len(rows), Ints(*rows), Ints(*cols), 1, 20, ctypes.c_float(0))
with tempfile.TemporaryDirectory() as folder:
    path = os.path.join(folder, "m")
    assert lib.TOVRAN_SaveModel(ctypes.c_void_p(model), path.encode()) == 0
    good = pathlib.Path(path).read_bytes()


def sealed(body):
    """body with the CRC-32 that makes its checksum right."""
    return body + struct.pack("<I", zlib.crc32(body))


content = good[:-4]
nentries = struct.unpack("<q", content[40:48])[0]
files = {
    "empty.tovran": b"",
    "truncated.tovran": good[: len(good) * 2 // 3],
    "wrong_magic.tovran": b"NOTAMODL" + good[8:],
    "newer_version.tovran": sealed(content[:8] + struct.pack("<I", 3) + content[12:]),
    "checksum_mismatch.tovran": good[:-10] + bytes([good[-10] ^ 0x40]) + good[-9:],
    "inconsistent_header.tovran": sealed(content[:12] + struct.pack("<i", 7) + content[16:]),
    "trailing_bytes.tovran": sealed(content + b"\0\0\0\0"),
    # The first neighbour id (after the header of 64 bytes and five offsets)
    # names item 4 of 0..3.
    "inconsistent_arrays.tovran": sealed(content[:84] + struct.pack("<i", 4) + content[88:]),
    # Every similarity (after the header, five offsets and the neighbour ids) a
    # NaN with the bits of -1, an item's mark in the queries.
    "nan_similarities.tovran": sealed(content[:84 + 4 * nentries]
                                      + b"\xff" * (4 * nentries)
                                      + content[84 + 8 * nentries:]),
}
for name, data in files.items():
    (here / name).write_bytes(data)
