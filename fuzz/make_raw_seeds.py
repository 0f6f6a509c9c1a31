#!/usr/bin/env python3
"""Writes small camera-RAW seeds for fuzz_raw into fuzz/corpus/raw: uncompressed DNG files made here
from scratch (a 16-bit Bayer mosaic, an 8-bit one with an embedded preview, and a demosaiced linear
one), so the corpus holds no third-party photograph.
Usage: fuzz/make_raw_seeds.py [output folder, default: corpus/raw next to this script]
"""
import os
import struct
import sys


def tiff(entries_by_ifd, blobs):
    """Little-endian TIFF: entries_by_ifd[0] is IFD0, the others are its SubIFDs. Each entry is
    (tag, type, values) where values are numbers or a blob name; blobs maps names to bytes."""
    sizes = {1: 1, 2: 1, 3: 2, 4: 4, 5: 8, 7: 1, 10: 8}
    fmt = {1: 'B', 2: 'B', 3: 'H', 4: 'I', 5: 'II', 7: 'B', 10: 'ii'}
    out = bytearray(b'II*\0' + struct.pack('<I', 8))
    ifd_sizes = [2 + 12 * (len(e) + (1 if i == 0 and len(entries_by_ifd) > 1 else 0)) + 4
                 for i, e in enumerate(entries_by_ifd)]
    ifd_offsets = []
    pos = 8
    for s in ifd_sizes:
        ifd_offsets.append(pos)
        pos += s
    extra = bytearray()
    blob_offsets = {}
    for name, data in blobs.items():
        blob_offsets[name] = pos + len(extra)
        extra += data
        if len(extra) % 2:
            extra += b'\0'
    pos += len(extra)
    for i, entries in enumerate(entries_by_ifd):
        entries = list(entries)
        if i == 0 and len(entries_by_ifd) > 1:
            entries.append((330, 4, ifd_offsets[1:]))  # SubIFDs
        entries.sort(key=lambda e: e[0])
        body = bytearray(struct.pack('<H', len(entries)))
        for tag, typ, values in entries:
            if isinstance(values, str) and typ != 2:
                values = [blob_offsets[values]]
            if typ == 2:
                raw = values.encode() + b'\0'
                count = len(raw)
            else:
                flat = []
                for v in values:
                    flat.extend(v if isinstance(v, tuple) else [v])
                raw = struct.pack('<' + fmt[typ] * len(values), *flat)
                count = len(values)
            if len(raw) <= 4:
                body += struct.pack('<HHI', tag, typ, count) + raw.ljust(4, b'\0')
            else:
                body += struct.pack('<HHII', tag, typ, count, pos)
                extra += raw
                pos += len(raw)
                if len(raw) % 2:
                    extra += b'\0'
                    pos += 1
        body += struct.pack('<I', 0)
        out += body
    return bytes(out + extra)


def common(model):
    return [(271, 2, 'Halvora'), (272, 2, model), (50706, 1, [1, 4, 0, 0]), (50708, 2, 'Halvora ' + model),
            (50721, 10, [(10000, 10000), (0, 1), (0, 1), (0, 1), (10000, 10000), (0, 1), (0, 1), (0, 1),
                         (10000, 10000)]),
            (50778, 3, [21]), (50728, 5, [(1, 2), (1, 1), (2, 3)])]


def bayer(width, height, bits):
    data = bytearray()
    top = (1 << bits) - 1
    for y in range(height):
        for x in range(width):
            v = (x * 37 + y * 91 + (x * y) % 13 * 50) % (top + 1)
            data += struct.pack('<H', v) if bits == 16 else bytes([v])
    return bytes(data)


def raw_ifd(width, height, bits, photometric, samples, strip):
    return [(254, 4, [0]), (256, 4, [width]), (257, 4, [height]), (258, 3, [bits] * samples), (259, 3, [1]),
            (262, 3, [photometric]), (273, 4, strip), (277, 3, [samples]), (278, 4, [height]),
            (279, 4, [width * height * samples * bits // 8]), (284, 3, [1])]


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                                 'corpus', 'raw')
    os.makedirs(folder, exist_ok=True)
    seeds = {}
    w, h = 32, 24
    mosaic = raw_ifd(w, h, 16, 32803, 1, 'pixels') + [(33421, 3, [2, 2]), (33422, 1, [0, 1, 1, 2]),
                                                      (50717, 4, [65535])]
    seeds['bayer16.dng'] = tiff([common('Bayer16') + raw_ifd(4, 4, 8, 2, 3, 'thumb')[1:] + [(254, 4, [1])],
                                 mosaic], {'pixels': bayer(w, h, 16), 'thumb': bytes(range(48))})
    mosaic8 = raw_ifd(w, h, 8, 32803, 1, 'pixels') + [(33421, 3, [2, 2]), (33422, 1, [1, 0, 2, 1])]
    seeds['bayer8.dng'] = tiff([common('Bayer8') + raw_ifd(4, 4, 8, 2, 3, 'thumb')[1:] + [(254, 4, [1])],
                                mosaic8], {'pixels': bayer(w, h, 8), 'thumb': bytes(range(48))})
    linear = raw_ifd(16, 12, 16, 34892, 3, 'pixels') + [(50717, 4, [65535])]
    seeds['linear.dng'] = tiff([common('Linear') + raw_ifd(4, 4, 8, 2, 3, 'thumb')[1:] + [(254, 4, [1])],
                                linear], {'pixels': bayer(16 * 3, 12, 16), 'thumb': bytes(range(48))})
    for name, data in seeds.items():
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(data)
        print(name, len(data))


if __name__ == '__main__':
    main()
