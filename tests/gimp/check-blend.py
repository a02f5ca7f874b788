#!/usr/bin/env python3
"""Checks a fill over a feathered selection for scripts/test-gimp, pixel by pixel.

    check-blend.py WIDTH HEIGHT BEFORE FILL AFTER STRENGTH [WITHIN]

BEFORE, FILL and AFTER are raw 8-bit RGB files of WIDTH x HEIGHT: the layer before the fill,
`mendora fill`'s result over the same selection (every nonzero pixel filled), and the layer GIMP
handed out after the fill. STRENGTH is a plain PGM (P2) of the selection's 8-bit values over the
part of the layer it covers, placed by a comment line "# at X Y" (its left and top column).

Every pixel must be: the old one where nothing is selected, the fill's where the selection is
255, and where it is k in between round((255 * old + (fill - old) * k) / 255) per channel, the
nearest value (an exact half cannot occur). WITHIN (default 0) allows that much difference,
for a layer of higher precision than the 8 bits compared: its selection is finer than k (a
value read as 255 or 0 may be partial), and its blend is rounded twice. Prints the counts of fully and
partly selected pixels checked and of wrong ones; exits 1 when a pixel is wrong or either
kind is missing.
"""
import sys


def read_strength(path):
    with open(path) as source:
        lines = source.read().splitlines()
    at = (0, 0)
    numbers = []
    for line in lines:
        if line.startswith("# at "):
            at = tuple(int(v) for v in line.split()[2:4])
        elif not line.startswith("#"):
            numbers.extend(line.split())
    assert numbers[0] == "P2", "not a plain PGM"
    width, height = int(numbers[1]), int(numbers[2])
    values = [int(v) for v in numbers[4:]]
    assert len(values) == width * height, "short PGM"
    return at, width, height, values


def main():
    width, height = int(sys.argv[1]), int(sys.argv[2])
    before, fill, after = (open(p, "rb").read() for p in sys.argv[3:6])
    (x0, y0), sw, sh, values = read_strength(sys.argv[6])
    within = int(sys.argv[7]) if len(sys.argv) > 7 else 0
    strength = bytearray(width * height)
    for y in range(sh):
        for x in range(sw):
            strength[(y0 + y) * width + x0 + x] = values[y * sw + x]
    full = partial = wrong = 0
    for i in range(width * height):
        k = strength[i]
        for c in range(3):
            old, new, got = before[3 * i + c], fill[3 * i + c], after[3 * i + c]
            # floor(x + 1/2) of x = (255 * old + (new - old) * k) / 255, in integers
            want = (2 * (255 * old + (new - old) * k) + 255) // 510
            if abs(got - want) > within:
                wrong += 1
                if wrong <= 5:
                    print("pixel %d, %d channel %d: selected %d, old %d, fill %d: %d, not %d"
                          % (i % width, i // width, c, k, old, new, got, want))
        full += k == 255
        partial += 0 < k < 255
    print("fully selected %d, partly selected %d, wrong values %d" % (full, partial, wrong))
    return 0 if wrong == 0 and full > 0 and partial > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
