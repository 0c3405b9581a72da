#!/usr/bin/python3
"""Read Kavrelo.exe's resources back and check the icon set and version block.

    check_resources.py KAVRELO_EXE [--icons DIR] [--sheet OUT.png]

--icons DIR    also require the RT_ICON data to equal DIR/icon<id>.bin
--sheet PNG    draw the eight images, as decoded here, onto a contact sheet

Prints one line per failed check and exits 1 if any failed.
"""

import argparse
import math
import os
import struct
import sys
import zlib

import pefile

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
LANG_NEUTRAL = 0
LANG_ZH_CN = 0x0804

# Icon id -> (size, bits per pixel), in the group's order.
EXPECTED_ICONS = [
    (30001, 48, 8), (30002, 32, 8), (30003, 24, 8), (30004, 16, 8),
    (30005, 48, 32), (30006, 32, 32), (30007, 24, 32), (30008, 16, 32),
]

EXPECTED_STRINGS = {
    "CompanyName": "Pelloria",
    "ProductName": "Kavrelo",
    "FileVersion": "1.00",
    "ProductVersion": "1.00",
    "InternalName": "Kavrelo",
    "OriginalFilename": "Kavrelo.exe",
}

failures = []


def check(ok, message):
    if not ok:
        failures.append(message)
    return ok


# --- resource tree ----------------------------------------------------------

def resource_tree(pe):
    """{type id: {name id: {lang id: bytes}}} (string names kept as str)."""
    tree = {}
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    if root is None:
        return tree
    for t in root.entries:
        tkey = t.id if t.name is None else str(t.name)
        names = tree.setdefault(tkey, {})
        for n in t.directory.entries:
            nkey = n.id if n.name is None else str(n.name)
            langs = names.setdefault(nkey, {})
            for lang in n.directory.entries:
                entry = lang.data.struct
                langs[lang.id] = pe.get_data(entry.OffsetToData, entry.Size)
    return tree


# --- icon images ------------------------------------------------------------

class Image:
    """A decoded icon DIB: straight RGBA rows, top first, plus the AND mask."""

    def __init__(self, label, data):
        self.label = label
        self.ok = False
        if not check(len(data) >= 40, "%s: shorter than a BITMAPINFOHEADER" % label):
            return
        (size, width, height, planes, bits, compression, size_image,
         _, _, clr_used, _) = struct.unpack_from("<IiiHHIIiiII", data)
        self.width, self.height, self.bits = width, height // 2, bits
        self.clr_used = clr_used
        check(size == 40, "%s: biSize is %d, not 40" % (label, size))
        check(height == 2 * width,
              "%s: biHeight %d is not twice biWidth %d" % (label, height, width))
        check(planes == 1, "%s: biPlanes is %d" % (label, planes))
        check(compression == 0, "%s: biCompression is %d, not BI_RGB" % (label, compression))
        if not check(bits in (8, 32), "%s: %d bits per pixel" % (label, bits)):
            return
        w = h = width
        colours = (clr_used or 256) if bits == 8 else 0
        xor_stride = ((w * bits + 31) // 32) * 4
        and_stride = ((w + 31) // 32) * 4
        offset = 40 + 4 * colours
        need = offset + xor_stride * h + and_stride * h
        if not check(len(data) == need,
                     "%s: %d bytes of image data, expected %d" % (label, len(data), need)):
            return
        check(size_image in (0, need - offset),
              "%s: biSizeImage %d does not match the bitmaps" % (label, size_image))
        self.palette = [struct.unpack_from("<4B", data, 40 + 4 * i)[2::-1]
                        for i in range(colours)]
        and_at = offset + xor_stride * h
        self.xor_raw = []      # per pixel: palette index or (b, g, r, a)
        self.mask = []         # True = transparent
        for y in range(h):
            row = h - 1 - y    # DIB rows are stored bottom-up
            xrow, mrow = [], []
            for x in range(w):
                if bits == 8:
                    xrow.append(data[offset + row * xor_stride + x])
                else:
                    xrow.append(struct.unpack_from("<4B", data, offset + row * xor_stride + 4 * x))
                byte = data[and_at + row * and_stride + x // 8]
                mrow.append(bool(byte & (0x80 >> (x % 8))))
            self.xor_raw.append(xrow)
            self.mask.append(mrow)
        if bits == 8:
            beyond = sum(1 for xrow in self.xor_raw for i in xrow if i >= colours)
            if not check(beyond == 0, "%s: %d pixels index past the %d-entry palette"
                         % (label, beyond, colours)):
                return
        self.ok = True

    def rgba(self, x, y):
        """Straight colour and alpha, as the icon appears over a background."""
        if self.bits == 8:
            if self.mask[y][x]:
                return (0, 0, 0, 0)
            return tuple(self.palette[self.xor_raw[y][x]]) + (255,)
        b, g, r, a = self.xor_raw[y][x]
        return (r, g, b, a)


def luma(c):
    return 0.299 * c[0] + 0.587 * c[1] + 0.114 * c[2]


def check_image(img, size, bits):
    label = img.label
    check(img.width == size and img.height == size,
          "%s: image is %dx%d, expected %dx%d" % (label, img.width, img.height, size, size))
    check(img.bits == bits, "%s: image has %d bits per pixel, expected %d" % (label, img.bits, bits))
    if img.width != size or img.bits != bits:
        return
    n = size * size
    transparent = sum(m for row in img.mask for m in row)
    c = size / 2.0

    # Round badge, transparent around it: pixels well inside the circle are
    # opaque, pixels whose centre is outside it are transparent.
    inside_bad = outside_bad = 0
    for y in range(size):
        for x in range(size):
            d = math.hypot(x + 0.5 - c, y + 0.5 - c) / c
            if d < 0.85 and img.mask[y][x]:
                inside_bad += 1
            if d > 1.0 and not img.mask[y][x]:
                outside_bad += 1
    check(0 < transparent < n, "%s: AND mask is all %s" % (
        label, "transparent" if transparent else "opaque"))
    check(inside_bad == 0, "%s: %d pixels inside the badge are masked out" % (label, inside_bad))
    check(outside_bad == 0, "%s: %d pixels outside the badge are not masked" % (label, outside_bad))

    if bits == 8:
        check(len(img.palette) == 256,
              "%s: palette has %d entries, expected 256" % (label, len(img.palette)))
        check(img.clr_used in (0, 256), "%s: biClrUsed is %d" % (label, img.clr_used))
        distinct = len(set(img.palette))
        check(distinct >= 32, "%s: palette has only %d distinct colours" % (label, distinct))
        # Under a set AND bit the colour bits are XORed onto the background:
        # they must be black, or the screen shows through inverted.
        bad = sum(1 for y in range(size) for x in range(size)
                  if img.mask[y][x] and tuple(img.palette[img.xor_raw[y][x]]) != (0, 0, 0))
        check(bad == 0, "%s: %d transparent pixels have non-black colour bits" % (label, bad))
    else:
        alphas = [img.xor_raw[y][x][3] for y in range(size) for x in range(size)]
        partial = sum(1 for a in alphas if 0 < a < 255)
        check(partial > 0, "%s: no partly transparent pixels (edge not anti-aliased)" % label)
        check(alphas.count(255) > n // 2, "%s: fewer than half the pixels are opaque" % label)
        mismatched = sum(1 for y in range(size) for x in range(size)
                         if img.mask[y][x] != (img.xor_raw[y][x][3] == 0))
        check(mismatched == 0,
              "%s: AND mask disagrees with alpha at %d pixels" % (label, mismatched))
        stray = sum(1 for y in range(size) for x in range(size)
                    if img.xor_raw[y][x][3] == 0 and img.xor_raw[y][x][:3] != (0, 0, 0))
        check(stray == 0, "%s: %d fully transparent pixels have colour" % (label, stray))

    # The artwork: light blue body, darker rim, highlight on the upper half.
    r = size / 2.0
    centre = img.rgba(int(c), int(c))
    check(centre[2] > centre[0] + 40 and centre[2] >= centre[1] and luma(centre) > 150,
          "%s: centre colour %s is not light blue" % (label, centre[:3]))
    rim, body = [], []
    for y in range(size):
        for x in range(size):
            p = img.rgba(x, y)
            if p[3] < 128:
                continue
            d = math.hypot(x + 0.5 - c, y + 0.5 - c) / r
            if 0.8 < d < 0.92:
                rim.append(luma(p))
            elif d < 0.6:
                body.append(luma(p))
    if check(rim and body, "%s: no opaque rim or body pixels" % label):
        check(sum(rim) / len(rim) + 25 < sum(body) / len(body),
              "%s: rim is not darker than the body" % label)
    high = img.rgba(int(c), int(c - 0.62 * r))
    check(luma(high) > luma(centre) + 5 and min(high[:3]) > 180,
          "%s: no bright highlight above the centre (%s vs centre %s)"
          % (label, high[:3], centre[:3]))


# --- version block ----------------------------------------------------------

def parse_block(data, pos):
    """One version-info node at pos: (key, value bytes, type, children, end)."""
    length, value_len, vtype = struct.unpack_from("<HHH", data, pos)
    end = pos + length
    p = pos + 6
    key_end = p
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[p:key_end].decode("utf-16-le")
    p = (key_end + 2 + 3) & ~3
    vbytes = value_len * 2 if vtype == 1 else value_len
    value = data[p:p + vbytes]
    p = (p + vbytes + 3) & ~3
    children = []
    while p < end:
        child = parse_block(data, p)
        children.append(child)
        p = (child[4] + 3) & ~3
    return key, value, vtype, children, end


def check_version(data):
    try:
        key, value, _, children, end = parse_block(data, 0)
    except (struct.error, UnicodeDecodeError, IndexError) as e:
        check(False, "version: cannot parse the block (%s)" % e)
        return
    check(key == "VS_VERSION_INFO", "version: root key is %r" % key)
    check(end <= len(data), "version: root length runs past the resource")
    if not check(len(value) == 52, "version: fixed part is %d bytes, not 52" % len(value)):
        return
    (sig, struc, fv_ms, fv_ls, pv_ms, pv_ls, mask, flags, os_, ftype, subtype,
     date_ms, date_ls) = struct.unpack("<13I", value)
    del mask  # FILEFLAGSMASK only says which flag bits are meaningful
    check(sig == 0xFEEF04BD, "version: bad signature %#x" % sig)
    check(struc == 0x00010000, "version: structure version %#x" % struc)
    check((fv_ms, fv_ls) == (0x00010000, 0), "version: FILEVERSION is %#x,%#x, not 1,0,0,0" % (fv_ms, fv_ls))
    check((pv_ms, pv_ls) == (0x00010000, 0), "version: PRODUCTVERSION is %#x,%#x, not 1,0,0,0" % (pv_ms, pv_ls))
    check(flags == 0, "version: FILEFLAGS is %#x" % flags)
    check(os_ == 4, "version: FILEOS is %#x, not VOS__WINDOWS32" % os_)
    check(ftype == 1, "version: FILETYPE is %d, not VFT_APP" % ftype)
    check(subtype == 0, "version: FILESUBTYPE is %d" % subtype)
    check((date_ms, date_ls) == (0, 0), "version: file date is set")

    by_key = {}
    for child in children:
        check(child[0] not in by_key, "version: two %s blocks" % child[0])
        by_key[child[0]] = child
    check(sorted(by_key) == ["StringFileInfo", "VarFileInfo"],
          "version: top-level blocks are %s" % sorted(by_key))

    sfi = by_key.get("StringFileInfo")
    if sfi:
        tables = sfi[3]
        check([t[0] for t in tables] == ["080404B0"],
              "version: string tables are %s, expected only 080404B0" % [t[0] for t in tables])
        for table in tables[:1]:
            strings = {}
            for s in table[3]:
                text = s[1].decode("utf-16-le")
                check(s[2] == 1, "version: %s is not a text value" % s[0])
                check(text.endswith("\0"), "version: %s is not NUL-terminated" % s[0])
                check(s[0] not in strings, "version: %s appears twice" % s[0])
                strings[s[0]] = text.rstrip("\0")
            check(strings == EXPECTED_STRINGS,
                  "version: strings are %s, expected %s" % (strings, EXPECTED_STRINGS))

    vfi = by_key.get("VarFileInfo")
    if vfi:
        check([v[0] for v in vfi[3]] == ["Translation"],
              "version: VarFileInfo holds %s" % [v[0] for v in vfi[3]])
        for var in vfi[3][:1]:
            pairs = [struct.unpack_from("<HH", var[1], i) for i in range(0, len(var[1]) - 3, 4)]
            check(pairs == [(0x0804, 0x04B0)],
                  "version: Translation is %s, expected [(0x0804, 0x04B0)]"
                  % [(hex(a), hex(b)) for a, b in pairs])


# --- contact sheet ----------------------------------------------------------

def write_png(path, width, height, rows):
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    raw = b"".join(b"\0" + bytes(v for px in row for v in px) for row in rows)
    png = (b"\x89PNG\r\n\x1a\n"
           + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))
    with open(path, "wb") as f:
        f.write(png)


def contact_sheet(path, images):
    """8-bit row and 32-bit row, each at 4x and 1x, on a light and a dark band."""
    scale, cell = 4, 48 * 4 + 16
    small_w = sum(s + 8 for s in (48, 32, 24, 16)) + 8
    width = 4 * cell + small_w
    band_h = 2 * cell
    height = 2 * band_h
    backgrounds = [(240, 240, 240), (40, 44, 56)]
    rows = [[backgrounds[y // band_h]] * width for y in range(height)]
    for band, bg in enumerate(backgrounds):
        for i, img in enumerate(images):
            if not img.ok:
                continue
            depth_row, col = i // 4, i % 4
            top = band * band_h + depth_row * cell
            ox = col * cell + (cell - img.width * scale) // 2
            oy = top + (cell - img.height * scale) // 2
            sx = 4 * cell + 8 + sum(s + 8 for s in (48, 32, 24, 16)[:col])
            sy = top + (cell - img.height) // 2
            for y in range(img.height):
                for x in range(img.width):
                    r, g, b, a = img.rgba(x, y)
                    px = tuple((v * a + w * (255 - a) + 127) // 255
                               for v, w in zip((r, g, b), bg))
                    for dy in range(scale):
                        row = rows[oy + y * scale + dy]
                        for dx in range(scale):
                            row[ox + x * scale + dx] = px
                    rows[sy + y][sx + x] = px
    write_png(path, width, height, rows)


# --- main -------------------------------------------------------------------

def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("exe")
    ap.add_argument("--icons", help="folder with the committed icon<id>.bin files")
    ap.add_argument("--sheet", help="write a PNG contact sheet of the icons here")
    args = ap.parse_args()

    pe = pefile.PE(args.exe, fast_load=True)
    pe.parse_data_directories(directories=[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    tree = resource_tree(pe)

    check(RT_MANIFEST not in tree, "the executable has a manifest (RT_MANIFEST)")

    icons = tree.get(RT_ICON, {})
    check(sorted(icons) == [i for i, _, _ in EXPECTED_ICONS],
          "RT_ICON ids are %s, expected 30001..30008" % sorted(icons))
    for icon_id, langs in sorted(icons.items()):
        check(list(langs) == [LANG_NEUTRAL],
              "RT_ICON %s is filed under languages %s, expected only 0" % (icon_id, list(langs)))

    groups = tree.get(RT_GROUP_ICON, {})
    check(list(groups) == [1], "RT_GROUP_ICON ids are %s, expected only 1" % list(groups))
    group = groups.get(1, {})
    check(list(group) == [LANG_NEUTRAL],
          "RT_GROUP_ICON 1 is filed under languages %s, expected only 0" % list(group))

    images = []
    data = group.get(LANG_NEUTRAL)
    if data is not None and check(len(data) >= 6, "icon group: too short"):
        reserved, kind, count = struct.unpack_from("<HHH", data)
        check((reserved, kind) == (0, 1), "icon group: header is %d,%d, not 0,1" % (reserved, kind))
        check(count == len(EXPECTED_ICONS), "icon group: %d entries, expected 8" % count)
        check(len(data) == 6 + 14 * count, "icon group: %d bytes for %d entries" % (len(data), count))
        for i in range(min(count, (len(data) - 6) // 14)):
            w, h, colours, res, planes, bits, nbytes, nid = struct.unpack_from("<4BHHIH", data, 6 + 14 * i)
            label = "icon %d" % nid
            if i < len(EXPECTED_ICONS):
                eid, size, ebits = EXPECTED_ICONS[i]
                check(nid == eid, "icon group entry %d names icon %d, expected %d" % (i + 1, nid, eid))
                check((w, h, bits) == (size % 256, size % 256, ebits),
                      "icon group entry %d says %dx%d %d-bit, expected %dx%d %d-bit"
                      % (i + 1, w, h, bits, size, size, ebits))
            check(colours == 0 and res == 0 and planes == 1,
                  "%s: group entry colours/reserved/planes are %d/%d/%d, expected 0/0/1"
                  % (label, colours, res, planes))
            image = icons.get(nid, {}).get(LANG_NEUTRAL)
            if not check(image is not None, "icon group entry %d: no RT_ICON %d" % (i + 1, nid)):
                continue
            check(nbytes == len(image), "%s: group entry says %d bytes, resource has %d"
                  % (label, nbytes, len(image)))
            if args.icons:
                with open(os.path.join(args.icons, "icon%d.bin" % nid), "rb") as f:
                    check(f.read() == image, "%s: differs from the committed icon%d.bin" % (label, nid))
            img = Image(label, image)
            images.append(img)
            if img.ok and i < len(EXPECTED_ICONS):
                check_image(img, EXPECTED_ICONS[i][1], EXPECTED_ICONS[i][2])

    versions = tree.get(RT_VERSION, {})
    check(list(versions) == [1], "RT_VERSION ids are %s, expected only 1" % list(versions))
    version = versions.get(1, {})
    check(list(version) == [LANG_ZH_CN],
          "RT_VERSION 1 is filed under languages %s, expected only 0x0804"
          % [hex(lang) for lang in version])
    if version:
        check_version(version.get(LANG_ZH_CN, next(iter(version.values()))))

    if args.sheet:
        contact_sheet(args.sheet, images)

    for f in failures:
        print("FAIL:", f)
    if failures:
        print("%d check(s) failed in %s" % (len(failures), args.exe))
        return 1
    print("OK: icon group, %d images and version block of %s" % (len(images), args.exe))
    return 0


if __name__ == "__main__":
    sys.exit(main())
