#!/usr/bin/env python3
"""Writes resources/gif_wait.gif, the converter's wait animation: ten 220 x 19 frames of a grey bar
with a moving stripe pattern inside transparent white margins, 32 greys, endless loop, delay 10,
disposal 2 (restore to background), transparent index 0. Deterministic: the same bytes every run."""
import os
import struct

WIDTH, HEIGHT, FRAMES = 220, 19, 10
DARKEST, LIGHTEST = 0x96, 0xF8  # the greys' range, as byte values


def palette():
    # 0 white (transparent), 1 black, then thirty greys from 0x96 to 0xF8, not in order of brightness.
    greys = [DARKEST + round(i * (LIGHTEST - DARKEST) / 29) for i in range(30)]
    order = [greys[(i * 7) % 30] for i in range(30)]
    return [(255, 255, 255), (0, 0, 0)] + [(g, g, g) for g in order]


def index_of(colours, grey):
    return min(range(2, 32), key=lambda i: abs(colours[i][0] - grey))


def frame_pixels(colours, n):
    pixels = [0] * (WIDTH * HEIGHT)
    top, bottom, left, right = 3, 15, 4, 215  # the bar, inside transparent margins
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            if y in (top, bottom) or x in (left, right):
                grey = DARKEST  # the bar's frame
            else:
                # Diagonal stripes of period 22 that move 2.2 pixels a frame, shaded across the bar.
                phase = (x - y - n * 22 // 10) % 22
                grey = DARKEST + 16 + (phase * (LIGHTEST - DARKEST - 16)) // 21
            pixels[y * WIDTH + x] = index_of(colours, grey)
    return pixels


def lzw(pixels, min_code_size):
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    out, bits, nbits = bytearray(), 0, 0

    def put(code, width):
        nonlocal bits, nbits
        bits |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8

    table = {(i,): i for i in range(clear)}
    next_code, width = end + 1, min_code_size + 1
    put(clear, width)
    prefix = (pixels[0],)
    for p in pixels[1:]:
        candidate = prefix + (p,)
        if candidate in table:
            prefix = candidate
            continue
        put(table[prefix], width)
        if next_code < 4096:
            table[candidate] = next_code
            next_code += 1
            if next_code > (1 << width) and width < 12:
                width += 1
        else:
            put(clear, width)
            table = {(i,): i for i in range(clear)}
            next_code, width = end + 1, min_code_size + 1
        prefix = (p,)
    put(table[prefix], width)
    put(end, width)
    if nbits:
        out.append(bits & 0xFF)
    return bytes(out)


def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out.append(0)
    return bytes(out)


def main():
    colours = palette()
    gif = bytearray(b"GIF89a")
    gif += struct.pack("<HHBBB", WIDTH, HEIGHT, 0xF4, 0, 0)
    for r, g, b in colours:
        gif += bytes((r, g, b))
    gif += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"
    comment = b"Corvelline wait animation"
    gif += b"\x21\xFE" + sub_blocks(comment.ljust(26, b"."))
    for n in range(FRAMES):
        gif += b"\x21\xF9\x04\x09" + struct.pack("<H", 10) + b"\x00\x00"
        gif += b"\x2C" + struct.pack("<HHHHB", 0, 0, WIDTH, HEIGHT, 0)
        gif += b"\x05" + sub_blocks(lzw(frame_pixels(colours, n), 5))
    gif += b"\x3B"
    gif += bytes(9)  # the resource carries 9 zero bytes after the stream, never read
    target = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources", "gif_wait.gif")
    with open(target, "wb") as f:
        f.write(gif)


if __name__ == "__main__":
    main()
