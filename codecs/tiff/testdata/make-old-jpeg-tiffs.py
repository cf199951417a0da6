#!/usr/bin/python3
"""Writes the old-style JPEG TIFFs of this folder (fuzz seeds) from the cjpeg files beside it:
old-jpeg-tag-tables.tif   YCbCr 2x1, tables in JPEGQTables/JPEGDCTables/JPEGACTables, a strip per MCU row
old-jpeg-tables-stream.tif YCbCr 2x1, a tables-only stream at JPEGInterchangeFormat, the scan header in
                           the first strip
old-jpeg-tag-tile.tif      YCbCr 2x2, tables in tags, one 48 x 48 tile of a 40 x 44 image
Run it from this folder: /usr/bin/python3 make-old-jpeg-tiffs.py"""
import struct


def split(jpeg):
    """Header segments (without a restart interval), scan header, tables by kind and id, components,
    coded data cut at its restart markers, all coded data."""
    at, header, parts = 2, bytearray(b"\xff\xd8"), {"q": {}, "dc": {}, "ac": {}, "comps": []}
    while True:
        m = jpeg[at + 1]
        length = struct.unpack(">H", jpeg[at + 2:at + 4])[0]
        seg = jpeg[at:at + 2 + length]
        at += 2 + length
        if m == 0xDA:
            scan = seg
            for i in range(seg[4]):
                parts["comps"][i][3:5] = [seg[6 + 2 * i] >> 4, seg[6 + 2 * i] & 15]
            break
        if m != 0xDD:
            header += seg
        if m == 0xDB:
            for k in range(4, len(seg), 65):
                parts["q"][seg[k] & 15] = seg[k + 1:k + 65]
        if m == 0xC4:
            k = 4
            while k < len(seg):
                n = sum(seg[k + 1:k + 17])
                parts["ac" if seg[k] >> 4 else "dc"][seg[k] & 15] = seg[k + 1:k + 17 + n]
                k += 17 + n
        if m == 0xC0:
            for i in range(seg[9]):
                parts["comps"].append([seg[11 + 3 * i] >> 4, seg[11 + 3 * i] & 15, seg[12 + 3 * i], 0, 0])
    coded = jpeg[at:jpeg.rindex(b"\xff\xd9")]
    intervals, cur, i = [], bytearray(), 0
    while i < len(coded):
        if coded[i] == 0xFF and 0xD0 <= coded[i + 1] <= 0xD7:
            intervals.append(bytes(cur))
            cur = bytearray()
            i += 2
            continue
        cur.append(coded[i])
        i += 1
    intervals.append(bytes(cur))
    return bytes(header), scan, parts, intervals, coded


def tiff(width, height, rows, blocks, tags, tail, tiled=False):
    """Little-endian TIFF: blocks first, then the directory, then tail; tags maps tag -> (type, values),
    values given as functions of the tail's offset."""
    out = bytearray(b"II*\x00\x00\x00\x00\x00")
    offsets = []
    for b in blocks:
        offsets.append(len(out))
        out += b
        out += b"\x00" * (len(out) & 1)
    entries = dict(tags)
    entries.update({256: (4, [width]), 257: (4, [height]), 258: (3, [8, 8, 8]), 259: (3, [6]), 262: (3, [6]),
                    277: (3, [3]), 284: (3, [1])})
    if tiled:
        entries.update({322: (3, [48]), 323: (3, [48]), 324: (4, offsets), 325: (4, [len(b) for b in blocks])})
    else:
        entries.update({278: (4, [rows]), 273: (4, offsets), 279: (4, [len(b) for b in blocks])})
    size = {3: 2, 4: 4}
    # Directory, its out-of-line values, then the tail.
    dir_at = len(out)
    n = len(entries)
    values_at = dir_at + 2 + 12 * n + 4
    extra = sum(size[t] * len(v) for t, v in entries.values() if size[t] * len(v) > 4)
    tail_at = values_at + extra
    out[4:8] = struct.pack("<I", dir_at)
    out += struct.pack("<H", n)
    blob = bytearray()
    for tag in sorted(entries):
        t, vals = entries[tag]
        vals = [v(tail_at) if callable(v) else v for v in vals]
        data = b"".join(struct.pack("<H" if t == 3 else "<I", v) for v in vals)
        if len(data) <= 4:
            out += struct.pack("<HHI", tag, t, len(vals)) + data.ljust(4, b"\x00")
        else:
            out += struct.pack("<HHII", tag, t, len(vals), values_at + len(blob))
            blob += data
    out += struct.pack("<I", 0) + blob + tail
    return bytes(out)


def table_tags(parts):
    """JPEGQTables, JPEGDCTables, JPEGACTables and the tail that holds the tables."""
    tail, placed, tags = bytearray(), {}, {519: [], 520: [], 521: []}
    for h, v, q, dc, ac in parts["comps"]:
        for tag, kind, tid in ((519, "q", q), (520, "dc", dc), (521, "ac", ac)):
            if (kind, tid) not in placed:
                placed[(kind, tid)] = len(tail)
                tail += parts[kind][tid]
            tags[tag].append(lambda base, off=placed[(kind, tid)]: base + off)
    return {tag: (4, vals) for tag, vals in tags.items()}, bytes(tail)


def main():
    header, scan, parts, intervals, coded = split(open("old-jpeg-ycc21-rst.jpg", "rb").read())
    tags, tail = table_tags(parts)
    tags[530] = (3, [2, 1])
    open("old-jpeg-tag-tables.tif", "wb").write(tiff(48, 48, 8, intervals, tags, tail))
    stream_tags = {513: (4, [lambda base: base]), 514: (4, [len(header)]), 530: (3, [2, 1])}
    blocks = [scan + intervals[0]] + intervals[1:]
    open("old-jpeg-tables-stream.tif", "wb").write(tiff(48, 48, 8, blocks, stream_tags, header))

    header, scan, parts, intervals, coded = split(open("old-jpeg-ycc22.jpg", "rb").read())
    tags, tail = table_tags(parts)
    tags[530] = (3, [2, 2])
    open("old-jpeg-tag-tile.tif", "wb").write(tiff(40, 44, 48, [coded], tags, tail, tiled=True))


main()
