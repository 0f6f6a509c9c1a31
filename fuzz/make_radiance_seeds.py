#!/usr/bin/env python3
"""Writes the small seed files of fuzz_rgbe and fuzz_fits into fuzz/corpus/{rgbe,fits}."""
import math, os, struct

here = os.path.dirname(os.path.abspath(__file__))

def rgbe_header(w, h, extra=b"", order=b"-Y %d +X %d"):
    return b"#?RADIANCE\n" + extra + b"FORMAT=32-bit_rle_rgbe\n\n" + (order % (h, w)) + b"\n"

def pattern(w, h):
    px = []
    for y in range(h):
        for x in range(w):
            if x < w // 3:
                px.append((200, 100, 50, 120 + y))
            else:
                px.append((128 + (x * 5) % 128, (x * 3 + y) % 256, x % 17, 110 + x % 30))
    return px

def rle_row(row):
    w = len(row)
    out = bytearray([2, 2, w >> 8, w & 255])
    for c in range(4):
        comp = [p[c] for p in row]
        x = 0
        while x < w:
            run = 1
            while x + run < w and run < 127 and comp[x + run] == comp[x]:
                run += 1
            if run >= 3:
                out += bytes([128 + run, comp[x]]); x += run; continue
            lit = 0
            while x + lit < w and lit < 128:
                if x + lit + 2 < w and comp[x + lit] == comp[x + lit + 1] == comp[x + lit + 2]:
                    break
                lit += 1
            out += bytes([lit] + comp[x:x + lit]); x += lit
    return bytes(out)

def write(folder, name, data):
    path = os.path.join(here, "corpus", folder)
    os.makedirs(path, exist_ok=True)
    assert len(data) < 20000, name
    with open(os.path.join(path, name), "wb") as f:
        f.write(data)

# Radiance RGBE
w, h = 24, 4
px = pattern(w, h)
write("rgbe", "flat_24x4.hdr", rgbe_header(w, h) + b"".join(bytes(p) for p in px))
write("rgbe", "rle_24x4.hdr", rgbe_header(w, h) + b"".join(rle_row(px[y * w:(y + 1) * w]) for y in range(h)))
old = bytearray(rgbe_header(40, 2))
for y in range(2):
    old += bytes([10, 20, 30, 129]) + bytes([1, 1, 1, 3]) + bytes([1, 1, 1, 0]) + bytes([1, 1, 1, 0])
    # 1 + 3 + 0 + 0 pixels so far: finish the row with flat pixels
    old += b"".join(bytes([128 + i, 64, 32, 130]) for i in range(36))
write("rgbe", "oldrle_40x2.hdr", bytes(old))
write("rgbe", "crlf_primaries_3x2.hdr",
      b"VIEW= -vtv\r\n#?RADIANCE\r\nPRIMARIES= 0.64 0.33 0.30 0.60 0.15 0.06 0.3127 0.3290\r\n"
      b"FORMAT=32-bit_rle_rgbe\r\nEXPOSURE=1.0\r\n\r\n-Y   2  +X   3\r\n" + bytes(range(100, 124)))
write("rgbe", "flipped_2x2.hdr", b"#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n+Y 2 -X 2\n" + bytes([128, 0, 0, 129]) * 4)
write("rgbe", "single_1x1.hdr", rgbe_header(1, 1) + bytes([1, 1, 1, 0]))
big_w, big_h = 300, 6
bp = pattern(big_w, big_h)
write("rgbe", "rle_300x6.hdr", rgbe_header(big_w, big_h) + b"".join(rle_row(bp[y * big_w:(y + 1) * big_w]) for y in range(big_h)))

# FITS
def card(text):
    assert len(text) <= 80
    return text.ljust(80).encode()

def fits(cards, data):
    head = b"".join(card(c) for c in cards) + card("END")
    head += b" " * ((-len(head)) % 2880)
    data += b"\0" * ((-len(data)) % 2880)
    return head + data

def kv(key, value):
    return "%-8s= %20s" % (key, value)

base = ["SIMPLE  =                    T"]
vals16 = [(x * 37 + y * 101) % 4000 - 1000 for y in range(6) for x in range(8)]
write("fits", "int16_8x6.fits", fits(base + [kv("BITPIX", 16), kv("NAXIS", 2), kv("NAXIS1", 8), kv("NAXIS2", 6),
                                          kv("EXPTIME", "6.5D+01"), kv("SNAPSHOT", 5), kv("FOCALLEN", 1000),
                                          kv("APTDIA", 250), "TELESCOP= 'UK Schmidt - Doubl'  / telescope",
                                          "INSTRUME= 'Photographic Plate'", "DATE-OBS= '1990-12-22T13:49:00'",
                                          "TIME-OBS= '13:49:00'"],
                                    b"".join(struct.pack(">h", v) for v in vals16)))
write("fits", "int32_4x3x3.fits", fits(base + [kv("BITPIX", 32), kv("NAXIS", 3), kv("NAXIS1", 4), kv("NAXIS2", 3),
                                            kv("NAXIS3", 3)],
                                      b"".join(struct.pack(">i", i * 100000 - 300000) for i in range(36))))
floats = [math.sin(i) * 10 for i in range(30)] + [float("nan"), float("inf")]
write("fits", "float_8x4.fits", fits(base + [kv("BITPIX", -32), kv("NAXIS", 2), kv("NAXIS1", 8), kv("NAXIS2", 4)],
                                    b"".join(struct.pack(">f", v) for v in floats)))
write("fits", "const_2x2.fits", fits(base + [kv("BITPIX", 16), kv("NAXIS", 2), kv("NAXIS1", 2), kv("NAXIS2", 2)],
                                    struct.pack(">4h", 7, 7, 7, 7)))
write("fits", "bitpix8.fits", fits(base + [kv("BITPIX", 8), kv("NAXIS", 2), kv("NAXIS1", 2), kv("NAXIS2", 2)],
                                  b"\1\2\3\4"))
