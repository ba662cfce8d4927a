#!/usr/bin/env python3
"""Draws the portal's icons (small GIF pictures) into portal/site/gifs/.

Every picture is drawn here from simple shapes; run again after changing a
drawing. Type icons are named after the file type names the component asks
for ("gifs/<type name>.jpg"); the server answers them with their real
content type.
"""
import math
import os
import sys

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "portal", "site", "gifs")

PALETTE = [
    (255, 255, 255),  # 0 background (transparent)
    (40, 40, 40),     # 1 ink
    (42, 93, 176),    # 2 blue
    (240, 176, 32),   # 3 yellow
    (200, 48, 48),    # 4 red
    (60, 150, 70),    # 5 green
    (150, 150, 150),  # 6 grey
    (230, 230, 230),  # 7 light grey
    (255, 255, 255),  # 8 white (opaque)
    (120, 80, 160),   # 9 purple
    (212, 208, 200),  # 10 button face
    (250, 240, 200),  # 11 paper
]


def gif(width, height, pixels, transparent=True):
    """pixels: list of rows of palette indexes."""
    out = bytearray(b"GIF89a")
    out += bytes([width & 255, width >> 8, height & 255, height >> 8, 0xF3, 0, 0])
    pal = PALETTE + [(0, 0, 0)] * (16 - len(PALETTE))
    for r, g, b in pal:
        out += bytes([r, g, b])
    if transparent:
        out += bytes([0x21, 0xF9, 4, 1, 0, 0, 0, 0])
    out += bytes([0x2C, 0, 0, 0, 0, width & 255, width >> 8, height & 255, height >> 8, 0])
    # LZW with 4-bit colours: 5-bit codes kept fixed by a clear code every
    # 12 pixels (clear 16, end 17).
    out.append(4)
    acc = bits = 0
    data = bytearray()

    def put(code):
        nonlocal acc, bits
        acc |= code << bits
        bits += 5
        while bits >= 8:
            data.append(acc & 255)
            acc >>= 8
            bits -= 8

    flat = [p for row in pixels for p in row]
    for i, p in enumerate(flat):
        if i % 12 == 0:
            put(16)
        put(p)
    put(17)
    if bits:
        data.append(acc & 255)
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out += bytes([0, 0x3B])
    return bytes(out)


class Canvas:
    def __init__(self, w=16, h=16):
        self.w, self.h = w, h
        self.p = [[0] * w for _ in range(h)]

    def dot(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.p[int(y)][int(x)] = c

    def rect(self, x0, y0, x1, y1, c, fill=None):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                edge = x in (x0, x1) or y in (y0, y1)
                if edge:
                    self.dot(x, y, c)
                elif fill is not None:
                    self.dot(x, y, fill)

    def line(self, x0, y0, x1, y1, c):
        n = max(abs(x1 - x0), abs(y1 - y0), 1)
        for i in range(n + 1):
            self.dot(round(x0 + (x1 - x0) * i / n), round(y0 + (y1 - y0) * i / n), c)

    def circle(self, cx, cy, r, c, fill=None):
        for y in range(self.h):
            for x in range(self.w):
                d = math.hypot(x - cx, y - cy)
                if fill is not None and d < r - 0.5:
                    self.dot(x, y, fill)
                elif abs(d - r) < 0.6:
                    self.dot(x, y, c)

    def save(self, name, transparent=True):
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(gif(self.w, self.h, self.p, transparent))


def envelope(c=Canvas(), colour=11, flap=1, mark=None):
    c.rect(1, 4, 14, 12, 1, colour)
    c.line(1, 4, 8, 9, flap)
    c.line(14, 4, 8, 9, flap)
    if mark is not None:
        c.circle(13, 4, 2, mark, mark)
    return c


def arrow(direction, colour=2):
    c = Canvas()
    if direction in ("left", "right"):
        for i in range(6):
            x = 2 + i if direction == "left" else 13 - i
            c.line(x, 8 - i, x, 8 + i, colour)
        x0, x1 = (8, 14) if direction == "left" else (1, 7)
        c.rect(x0, 6, x1, 10, colour, colour)
    else:
        for i in range(6):
            y = 2 + i if direction == "up" else 13 - i
            c.line(8 - i, y, 8 + i, y, colour)
        y0, y1 = (8, 14) if direction == "up" else (1, 7)
        c.rect(6, y0, 10, y1, colour, colour)
    return c


def page(fold=6, lines=True, colour=8, band=None):
    c = Canvas()
    c.rect(3, 1, 12, 14, 1, colour)
    c.line(12 - fold // 2, 1, 12, 1 + fold // 2, 1)
    if lines:
        for y in (5, 7, 9, 11):
            c.line(5, y, 10, y, 6)
    if band is not None:
        c.rect(4, 10, 11, 13, band, band)
    return c


def main():
    os.makedirs(OUT, exist_ok=True)
    envelope(Canvas()).save("Mail.gif")
    envelope(Canvas()).save("InboxMessage.gif")
    envelope(Canvas(), colour=3, mark=4).save("NewInboxMessage.gif")
    envelope(Canvas(), colour=8).save("Email.gif")
    c = envelope(Canvas())
    c.rect(4, 1, 11, 3, 2, 2)
    c.save("openmail.gif")
    c = Canvas()
    c.rect(1, 6, 14, 14, 1, 2)
    c.rect(4, 2, 11, 7, 1, 11)
    c.save("Inbox.gif")
    c = page()
    c.line(9, 9, 14, 4, 4)
    c.line(10, 9, 14, 5, 4)
    c.save("new.gif")
    arrow("left").save("previous.gif")
    arrow("right").save("next.gif")
    arrow("up").save("up.gif")
    c = arrow("left", 5)
    c.save("reply.gif")
    c = arrow("left", 5)
    c.line(1, 2, 1, 14, 5)
    c.save("replytoall.gif")
    arrow("right", 5).save("forward.gif")
    c = Canvas()
    c.line(3, 3, 12, 12, 4)
    c.line(4, 3, 13, 12, 4)
    c.line(12, 3, 3, 12, 4)
    c.line(13, 3, 4, 12, 4)
    c.save("delete.gif")
    c = Canvas()
    c.circle(8, 8, 5, 5)
    c.line(11, 2, 13, 4, 5)
    c.line(13, 1, 13, 4, 5)
    c.save("refresh.gif")
    c = Canvas()
    c.circle(6, 6, 4, 1, 7)
    c.line(9, 9, 14, 14, 1)
    c.line(10, 9, 14, 13, 1)
    c.save("Find.gif")
    c = Canvas()
    c.rect(7, 2, 8, 10, 4, 4)
    c.rect(7, 12, 8, 13, 4, 4)
    c.save("Important.gif")
    arrow("down", 2).save("Low.gif")
    c = Canvas()
    c.rect(6, 2, 10, 12, 1)
    c.rect(8, 4, 8, 13, 1)
    c.line(6, 12, 8, 14, 1)
    c.line(10, 12, 8, 14, 1)
    c.save("Attachment.gif")
    Canvas().save("null.gif")
    c = Canvas()
    c.circle(5, 5, 3, 1, 11)
    c.rect(1, 9, 9, 13, 1, 2)
    c.line(11, 7, 14, 10, 5)
    c.line(11, 11, 14, 7, 5)
    c.save("CheckNames.gif")
    c = Canvas()
    c.rect(1, 2, 14, 11, 1, 2)
    c.rect(3, 4, 12, 9, 7, 7)
    c.rect(5, 12, 10, 14, 1, 6)
    c.save("My_Computer.gif")
    c = Canvas()
    c.rect(3, 1, 11, 14, 1, 9)
    c.dot(9, 8, 3)
    c.line(12, 8, 15, 8, 4)
    c.save("Logout.gif")
    c = Canvas()
    c.rect(1, 4, 14, 13, 1, 3)
    c.rect(1, 2, 6, 4, 1, 3)
    c.save("folder.gif")
    c = Canvas(88, 21)
    c.rect(0, 0, 87, 20, 6, 10)
    c.save("grey_button.gif", transparent=False)
    c = Canvas(32, 32)
    c.circle(16, 16, 14, 2, 2)
    c.rect(8, 10, 23, 21, 8, 11)
    c.line(8, 10, 16, 16, 1)
    c.line(23, 10, 16, 16, 1)
    c.save("pendrellogo.gif")

    # File type icons: a page with a coloured band per type.
    page().save("Default.gif")
    # Names as the shell stand-in gives them, blanks as "_" and slashes as "-".
    types = {
        "Text_Document": 6, "PDF_Document": 4, "HTML_Document": 2, "Internet_Shortcut": 2,
        "GIF_Image": 5, "PNG_Image": 5, "JPEG_Image": 5, "Wave_Sound": 9,
        "Microsoft_Word_Document": 2, "Microsoft_Excel_Worksheet": 5,
        "Compressed_(zipped)_Folder": 3, "Internet_E-Mail_Message": 3, "Application": 1,
        "CSV_File": 5, "ICS_File": 3, "File": 6,
    }
    for name, band in types.items():
        page(band=band).save(name + ".jpg")


if __name__ == "__main__":
    sys.exit(main())
