#!/usr/bin/env python3
"""Draws bitmap 104 of the configuration dialog: the printer with the two
position adjustment arrows, as a 247 x 143 pixel, 24-bit BMP.

Usage: make-dialog-bitmap.py OUTPUT.bmp
Only the standard library; the output is byte-for-byte reproducible.
"""
import struct
import sys

WIDTH, HEIGHT = 247, 143
WHITE = (255, 255, 255)
BLACK = (0, 0, 0)
GREY = (160, 160, 160)
LIGHT = (215, 215, 215)
DARK = (90, 90, 90)
BLUE = (0, 70, 200)
RED = (200, 30, 30)
PAPER = (250, 250, 235)

# 5 x 7 glyphs for the few characters the picture needs.
GLYPHS = {
    "V": ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    "H": ["10001", "10001", "10001", "11111", "10001", "10001", "10001"],
    "e": ["00000", "00000", "01110", "10001", "11111", "10000", "01110"],
    "r": ["00000", "00000", "10110", "11001", "10000", "10000", "10000"],
    "t": ["01000", "01000", "11100", "01000", "01000", "01001", "00110"],
    "i": ["00100", "00000", "01100", "00100", "00100", "00100", "01110"],
    "c": ["00000", "00000", "01110", "10000", "10000", "10001", "01110"],
    "a": ["00000", "00000", "01110", "00001", "01111", "10001", "01111"],
    "l": ["01100", "00100", "00100", "00100", "00100", "00100", "01110"],
    "o": ["00000", "00000", "01110", "10001", "10001", "10001", "01110"],
    "z": ["00000", "00000", "11111", "00010", "00100", "01000", "11111"],
    "n": ["00000", "00000", "10110", "11001", "10001", "10001", "10001"],
    "+": ["00000", "00100", "00100", "11111", "00100", "00100", "00000"],
    "-": ["00000", "00000", "00000", "11111", "00000", "00000", "00000"],
}


class Canvas:
    def __init__(self):
        self.pixels = [[WHITE] * WIDTH for _ in range(HEIGHT)]

    def put(self, x, y, colour):
        if 0 <= x < WIDTH and 0 <= y < HEIGHT:
            self.pixels[y][x] = colour

    def rect(self, x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, colour)

    def frame(self, x0, y0, x1, y1, colour):
        for x in range(x0, x1 + 1):
            self.put(x, y0, colour)
            self.put(x, y1, colour)
        for y in range(y0, y1 + 1):
            self.put(x0, y, colour)
            self.put(x1, y, colour)

    def line(self, x0, y0, x1, y1, colour, width=1):
        steps = max(abs(x1 - x0), abs(y1 - y0), 1)
        half = width // 2
        for i in range(steps + 1):
            x = round(x0 + (x1 - x0) * i / steps)
            y = round(y0 + (y1 - y0) * i / steps)
            for dy in range(-half, width - half):
                for dx in range(-half, width - half):
                    self.put(x + dx, y + dy, colour)

    def arrow(self, x0, y0, x1, y1, colour):
        """A shaft from (x0, y0) to (x1, y1) with its head at (x1, y1)."""
        self.line(x0, y0, x1, y1, colour, 2)
        dx, dy = x1 - x0, y1 - y0
        length = (dx * dx + dy * dy) ** 0.5
        ux, uy = dx / length, dy / length
        for side in (-1, 1):
            hx = x1 - 9 * ux + side * 5 * -uy
            hy = y1 - 9 * uy + side * 5 * ux
            self.line(x1, y1, round(hx), round(hy), colour, 2)

    def text(self, x, y, words, colour, scale=1):
        for ch in words:
            glyph = GLYPHS.get(ch)
            if glyph is None:
                x += 4 * scale
                continue
            for row, bits in enumerate(glyph):
                for col, bit in enumerate(bits):
                    if bit == "1":
                        self.rect(x + col * scale, y + row * scale,
                                  x + col * scale + scale - 1, y + row * scale + scale - 1, colour)
            x += 6 * scale

    def bmp(self):
        stride = (WIDTH * 3 + 3) // 4 * 4
        rows = bytearray()
        for y in range(HEIGHT - 1, -1, -1):  # bottom-up
            row = bytearray()
            for (r, g, b) in self.pixels[y]:
                row += bytes((b, g, r))
            row += b"\0" * (stride - len(row))
            rows += row
        header_size = 14 + 40
        file_header = struct.pack("<2sIHHI", b"BM", header_size + len(rows), 0, 0, header_size)
        info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
        return file_header + info + bytes(rows)


def draw():
    c = Canvas()
    # The printer: body, top cover, paper slot with a label coming out, panel.
    c.rect(20, 30, 120, 95, LIGHT)
    c.frame(20, 30, 120, 95, DARK)
    c.rect(26, 20, 114, 30, GREY)
    c.frame(26, 20, 114, 30, DARK)
    c.rect(36, 70, 104, 74, DARK)           # output slot
    c.rect(42, 74, 98, 88, PAPER)           # label leaving the printer
    c.frame(42, 74, 98, 88, GREY)
    c.rect(100, 40, 112, 46, (60, 160, 60))  # status lamp
    c.frame(100, 40, 112, 46, DARK)

    # Both arrows start from one point to the printer's lower right.
    ox, oy = 200, 98
    c.rect(ox - 2, oy - 2, ox + 2, oy + 2, BLACK)
    # Vertical: up and to the left towards the printer, + at the printer's end.
    c.arrow(ox, oy, 130, 52, BLUE)
    c.text(122, 36, "+", BLUE, 2)
    c.text(206, 100, "-", BLUE, 2)
    c.text(166, 56, "Vertical", BLUE)
    # Horizontal: down and to the left, + at its lower left end.
    c.arrow(ox, oy, 140, 130, RED)
    c.text(124, 126, "+", RED, 2)
    c.text(206, 84, "-", RED, 2)
    c.text(176, 124, "Horizontal", RED)
    return c


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with open(sys.argv[1], "wb") as out:
        out.write(draw().bmp())


if __name__ == "__main__":
    main()
