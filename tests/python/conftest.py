"""Shared helpers of the Python module's tests: PNG files written and read with zlib alone,
and the command line built beside the module (MENDORA_PROGRAM, else build/native's)."""

import os
import struct
import subprocess
import zlib

import numpy as np
import pytest

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PROGRAM = os.environ.get("MENDORA_PROGRAM",
                         os.path.join(TOP, "build", "native", "tools", "mendora", "mendora"))
DEMO = os.path.join(TOP, "demo")
COLOUR_TYPES = {1: 0, 2: 4, 3: 2, 4: 6}  # channels -> PNG colour type


def write_png(path, samples):
    """Writes an H x W x C (C 1 to 4) uint8 or uint16 array as a PNG, rows unfiltered."""
    samples = np.asarray(samples)
    if samples.ndim == 2:
        samples = samples[:, :, None]
    height, width, channels = samples.shape
    depth = 16 if samples.dtype == np.uint16 else 8
    rows = samples.astype(">u2" if depth == 16 else np.uint8).reshape(height, -1)
    raw = b"".join(b"\0" + row.tobytes() for row in rows)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data)))

    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(
            ">IIBBBBB", width, height, depth, COLOUR_TYPES[channels], 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def read_png(path):
    """The samples of a non-interlaced PNG as an H x W x C array (uint8 or uint16)."""
    with open(path, "rb") as source:
        data = source.read()
    position, idat = 8, b""
    while position < len(data):
        length, kind = struct.unpack(">I4s", data[position:position + 8])
        body = data[position + 8:position + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        position += 12 + length
    assert interlace == 0 and depth in (8, 16)
    channels = {0: 1, 4: 2, 2: 3, 6: 4}[colour]
    step = channels * depth // 8
    stride = width * step
    raw = zlib.decompress(idat)
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - step] if i >= step else 0
            up, corner = previous[i], previous[i - step] if i >= step else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc
                                      else corner)) & 255
        rows.append(bytes(line))
        previous = line
    dtype = ">u2" if depth == 16 else np.uint8
    return np.frombuffer(b"".join(rows), dtype=dtype).reshape(height, width, channels).astype(
        np.uint16 if depth == 16 else np.uint8)


def textured(height, width, channels=3, seed=7, sixteen=False):
    """A smooth pattern with noise: texture a fill can copy from."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:height, 0:width]
    base = np.stack([(x * 5 + y * 3 + 40 * c) % 256 for c in range(channels)], axis=2)
    noisy = np.clip(base + rng.integers(-20, 21, base.shape), 0, 255)
    if sixteen:
        return (noisy * 257 + rng.integers(-100, 101, base.shape)).clip(0, 65535).astype(
            np.uint16)
    return noisy.astype(np.uint8)


def disc(height, width, cx, cy, r):
    y, x = np.mgrid[0:height, 0:width]
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def run_program(*arguments):
    """Runs the command line; returns (status, standard error)."""
    done = subprocess.run([PROGRAM] + [str(a) for a in arguments], capture_output=True,
                          text=True)
    return done.returncode, done.stderr


@pytest.fixture(scope="session", autouse=True)
def program_built():
    if not os.access(PROGRAM, os.X_OK):
        pytest.exit("the command line %s is not built (cmake --build build/native)" % PROGRAM, 2)
