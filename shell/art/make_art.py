#!/usr/bin/env python3
"""Draws the tool-bar images (19 of 20 x 16 in one strip, magenta = transparent) and the three
tray icons (16 x 16): run it after changing a picture and check the files in."""
import os
import struct

W, H = 20, 16
KEY = (255, 0, 255)
BLACK, WHITE, GREY, DARK = (0, 0, 0), (255, 255, 255), (192, 192, 192), (96, 96, 96)
BLUE, NAVY, GREEN, RED = (40, 90, 220), (0, 0, 128), (0, 150, 40), (210, 30, 30)
YELLOW, ORANGE, BROWN, PAPER = (250, 220, 40), (240, 140, 20), (150, 90, 30), (255, 255, 230)


class Canvas:
    def __init__(self, w, h, bg=KEY):
        self.w, self.h = w, h
        self.px = [[bg] * w for _ in range(h)]

    def set(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def fill(self, x0, y0, x1, y1, c):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.set(x, y, c)

    def box(self, x0, y0, x1, y1, c, inside=None):
        if inside:
            self.fill(x0, y0, x1, y1, inside)
        for x in range(x0, x1 + 1):
            self.set(x, y0, c)
            self.set(x, y1, c)
        for y in range(y0, y1 + 1):
            self.set(x0, y, c)
            self.set(x1, y, c)

    def line(self, x0, y0, x1, y1, c):
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
        err = dx + dy
        while True:
            self.set(x0, y0, c)
            if x0 == x1 and y0 == y1:
                return
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy

    def circle(self, cx, cy, r, c, inside=None):
        for y in range(cy - r, cy + r + 1):
            for x in range(cx - r, cx + r + 1):
                d = (x - cx) ** 2 + (y - cy) ** 2
                if inside and d <= (r - 1) ** 2:
                    self.set(x, y, inside)
                elif (r - 1) ** 2 < d <= r * r + 1:
                    self.set(x, y, c)


def envelope(c, x, y, w=12, h=9, ink=NAVY):
    c.box(x, y, x + w - 1, y + h - 1, ink, WHITE)
    c.line(x, y, x + w // 2 - 1, y + h // 2, ink)
    c.line(x + w - 1, y, x + w // 2, y + h // 2, ink)


def arrow_down(c, x, y, col, n=7):
    c.fill(x - 1, y, x + 1, y + n - 4, col)
    for i in range(4):
        c.fill(x - 3 + i, y + n - 4 + i, x + 3 - i, y + n - 4 + i, col)


def arrow_up(c, x, y, col, n=7):
    for i in range(4):
        c.fill(x - i, y + i, x + i, y + i, col)
    c.fill(x - 1, y + 4, x + 1, y + n - 1, col)


def arrow_right(c, x, y, col):
    c.fill(x, y - 1, x + 4, y + 1, col)
    for i in range(4):
        c.fill(x + 4 + i, y - 3 + i, x + 4 + i, y + 3 - i, col)


def arrow_left(c, x, y, col):
    for i in range(4):
        c.fill(x + i, y - i, x + i, y + i, col)
    c.fill(x + 4, y - 1, x + 8, y + 1, col)


def page(c, x, y, w=10, h=13):
    c.box(x, y, x + w - 1, y + h - 1, DARK, WHITE)
    for ly in range(y + 3, y + h - 2, 2):
        c.line(x + 2, ly, x + w - 3, ly, GREY)


def cross(c, x, y, col, n=5):
    for d in range(-n, n + 1):
        for t in (0, 1):
            c.set(x + d + t, y + d, col)
            c.set(x + d + t, y - d, col)


def draw_buttons():
    imgs = [Canvas(W, H) for _ in range(19)]
    # 1 receive: envelope, green arrow down into it
    c = imgs[0]; envelope(c, 1, 6); arrow_down(c, 15, 0, GREEN, 9)
    # 2 send: envelope, blue arrow up out of it
    c = imgs[1]; envelope(c, 1, 6); arrow_up(c, 15, 0, BLUE, 9)
    # 3 send and receive: both arrows
    c = imgs[2]; envelope(c, 0, 7, 11, 8); arrow_up(c, 13, 0, BLUE, 8); arrow_down(c, 17, 7, GREEN, 9)
    # 4 new message: page with a yellow star
    c = imgs[3]; page(c, 2, 2)
    for d in range(-3, 4):
        c.set(15 + d, 4, ORANGE); c.set(15, 4 + d, ORANGE); c.set(15 + d, 4 + d, YELLOW); c.set(15 + d, 4 - d, YELLOW)
    # 5 reply: envelope and an arrow back to the left
    c = imgs[4]; envelope(c, 7, 6); arrow_left(c, 0, 4, RED)
    # 6 forward: envelope and an arrow on to the right
    c = imgs[5]; envelope(c, 0, 6); arrow_right(c, 10, 4, GREEN)
    # 7 attach: paper clip
    c = imgs[6]
    c.line(8, 2, 8, 12, DARK); c.line(12, 4, 12, 14, DARK); c.line(9, 1, 11, 1, DARK)
    c.line(10, 4, 10, 11, DARK); c.line(8, 12, 9, 14, DARK); c.line(11, 14, 11, 15, DARK)
    c.set(12, 3, DARK); c.set(9, 13, DARK); c.set(10, 15, DARK)
    # 8 sort: funnel with mail dropping through
    c = imgs[7]
    for i in range(6):
        c.fill(3 + i, 3 + i, 16 - i, 3 + i, BLUE)
    c.fill(9, 9, 10, 14, BLUE); envelope(c, 5, 0, 9, 3)
    # 9 search: magnifier
    c = imgs[8]; c.circle(8, 6, 5, DARK, (200, 230, 255))
    for i in range(5):
        c.fill(11 + i, 10 + i, 12 + i, 10 + i, BROWN)
    # 10 periodic receive: clock
    c = imgs[9]; c.circle(10, 8, 7, DARK, WHITE); c.line(10, 8, 10, 3, BLACK); c.line(10, 8, 13, 10, RED)
    # 11 address book: book with a person
    c = imgs[10]; c.box(4, 1, 15, 14, NAVY, (120, 160, 230)); c.fill(5, 1, 5, 14, NAVY)
    c.circle(11, 5, 2, WHITE, WHITE); c.fill(8, 9, 14, 11, WHITE)
    # 12 shortcut list: a key cap with "K"
    c = imgs[11]; c.box(3, 2, 16, 14, DARK, GREY); c.fill(4, 3, 15, 11, WHITE)
    c.line(7, 4, 7, 10, BLACK); c.line(8, 7, 11, 4, BLACK); c.line(8, 7, 11, 10, BLACK)
    # 13 delete: envelope with a red cross
    c = imgs[12]; envelope(c, 0, 5); cross(c, 14, 8, RED, 4)
    # 14 abort: red stop sign
    c = imgs[13]; c.circle(10, 8, 7, RED, RED); c.fill(6, 7, 14, 9, WHITE)
    # 15 close other tabs: tab shape with a cross
    c = imgs[14]; c.box(1, 6, 18, 14, DARK, WHITE); c.box(3, 2, 10, 6, DARK, (255, 200, 120))
    cross(c, 12, 10, RED, 3)
    # 16 mail checker: envelope with a green tick
    c = imgs[15]; envelope(c, 0, 6)
    for i in range(3):
        c.fill(12 + i, 7 + i, 13 + i, 7 + i, GREEN)
    for i in range(6):
        c.fill(14 + i, 9 - i, 15 + i, 9 - i, GREEN)
    # 17 to tray: arrow down into a tray
    c = imgs[16]; c.box(2, 11, 17, 14, DARK, GREY); c.fill(4, 12, 15, 12, DARK); arrow_down(c, 10, 1, BLUE, 10)
    # 18 print: printer
    c = imgs[17]; c.box(5, 1, 14, 6, DARK, WHITE); c.box(1, 6, 18, 12, DARK, GREY)
    c.box(5, 10, 14, 15, DARK, WHITE); c.set(16, 8, GREEN)
    # 19 empty trash: bin
    c = imgs[18]; c.fill(4, 2, 15, 3, DARK); c.fill(8, 1, 11, 1, DARK); c.box(5, 4, 14, 15, DARK, GREY)
    for x in (7, 9, 11, 13):
        c.line(x - (1 if x == 13 else 0), 6, x - (1 if x == 13 else 0), 13, DARK)
    return imgs


def write_bmp(path, rows):
    h, w = len(rows), len(rows[0])
    stride = (w * 3 + 3) & ~3
    data = b""
    for row in reversed(rows):
        line = b"".join(bytes((b, g, r)) for (r, g, b) in row)
        data += line + b"\0" * (stride - len(line))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def write_ico(path, canvas):
    w, h = canvas.w, canvas.h
    xor = b""
    for row in reversed(canvas.px):
        xor += b"".join(bytes((b, g, r, 0 if (r, g, b) == KEY else 255)) for (r, g, b) in row)
    mask_stride = ((w + 31) // 32) * 4
    mask = b""
    for row in reversed(canvas.px):
        bits = 0
        for x, p in enumerate(row):
            if p == KEY:
                bits |= 1 << (mask_stride * 8 - 1 - x)
        mask += bits.to_bytes(mask_stride, "big")
    info = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = info + xor + mask
    head = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", w, h, 0, 0, 1, 32, len(image), 22)
    with open(path, "wb") as f:
        f.write(head + image)


def tray(kind):
    c = Canvas(16, 16)
    envelope(c, 1, 4, 14, 10)
    if kind == "busy":
        arrow_down(c, 12, 0, GREEN, 8)
    elif kind == "new":
        c.circle(12, 3, 3, RED, RED)
    return c


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    imgs = draw_buttons()
    strip = [sum((img.px[y] for img in imgs), []) for y in range(H)]
    write_bmp(os.path.join(here, "toolbar.bmp"), strip)
    for kind in ("normal", "busy", "new"):
        write_ico(os.path.join(here, "tray_%s.ico" % kind), tray(kind))


if __name__ == "__main__":
    main()
