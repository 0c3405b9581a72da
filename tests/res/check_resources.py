#!/usr/bin/python3
"""Read Kavrelo.exe's resources back and check the icon set and version block.

    check_resources.py KAVRELO_EXE [--icons DIR] [--sheet OUT.png]

--icons DIR    also require the RT_ICON data to equal DIR/icon<id>.bin
--sheet PNG    draw the eight images, as decoded here, onto a contact sheet

Prints one line per failed check and exits 1 if any failed.

The resource tree and the version block are read with pefile, the images
decoded and the sheet drawn with Pillow; only the icon group (which pefile
does not parse) and each image's BITMAPINFOHEADER are unpacked here.
"""

import argparse
import math
import os
import struct
import sys

import pefile
from PIL import Image as PILImage

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
    """An icon DIB decoded with Pillow: the colour bitmap (palette indices or
    BGRA) and the AND mask (True = transparent), rows top first."""

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
        and_at = offset + xor_stride * h
        # DIB rows are stored bottom-up: orientation -1.
        mask = PILImage.frombuffer("1", (w, h), data[and_at:], "raw", "1", and_stride, -1)
        self.mask = [[bool(mask.getpixel((x, y))) for x in range(w)] for y in range(h)]
        if bits == 8:
            xor = PILImage.frombuffer("P", (w, h), data[offset:and_at], "raw", "P", xor_stride, -1)
            palette = PILImage.frombuffer("RGB", (colours, 1), data[40:offset], "raw", "BGRX", 0, 1)
            self.palette = [palette.getpixel((i, 0)) for i in range(colours)]
            self.xor_raw = [[xor.getpixel((x, y)) for x in range(w)] for y in range(h)]
            beyond = sum(1 for xrow in self.xor_raw for i in xrow if i >= colours)
            if not check(beyond == 0, "%s: %d pixels index past the %d-entry palette"
                         % (label, beyond, colours)):
                return
        else:
            xor = PILImage.frombuffer("RGBA", (w, h), data[offset:and_at], "raw", "BGRA", xor_stride, -1)
            # Kept as (b, g, r, a), as stored.
            self.xor_raw = [[(lambda p: (p[2], p[1], p[0], p[3]))(xor.getpixel((x, y))) for x in range(w)]
                            for y in range(h)]
        self.ok = True

    def rgba(self, x, y):
        """Straight colour and alpha, as the icon appears over a background."""
        if self.bits == 8:
            if self.mask[y][x]:
                return (0, 0, 0, 0)
            return tuple(self.palette[self.xor_raw[y][x]]) + (255,)
        b, g, r, a = self.xor_raw[y][x]
        return (r, g, b, a)

    def picture(self):
        """The icon as a Pillow RGBA image."""
        img = PILImage.new("RGBA", (self.width, self.height))
        img.putdata([self.rgba(x, y) for y in range(self.height) for x in range(self.width)])
        return img


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

def check_version(pe, data):
    """The version block as pefile reads it (data: the resource's bytes)."""
    infos = getattr(pe, "VS_VERSIONINFO", None)
    fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
    if not check(infos and fixed, "version: pefile finds no version block"):
        return
    check(len(infos) == 1, "version: %d version blocks" % len(infos))
    check(infos[0].Key == b"VS_VERSION_INFO", "version: root key is %r" % infos[0].Key)
    if not check(infos[0].ValueLength == 52,
                 "version: fixed part is %d bytes, not 52" % infos[0].ValueLength):
        return
    f = fixed[0]
    check(f.Signature == 0xFEEF04BD, "version: bad signature %#x" % f.Signature)
    check(f.StrucVersion == 0x00010000, "version: structure version %#x" % f.StrucVersion)
    check((f.FileVersionMS, f.FileVersionLS) == (0x00010000, 0),
          "version: FILEVERSION is %#x,%#x, not 1,0,0,0" % (f.FileVersionMS, f.FileVersionLS))
    check((f.ProductVersionMS, f.ProductVersionLS) == (0x00010000, 0),
          "version: PRODUCTVERSION is %#x,%#x, not 1,0,0,0" % (f.ProductVersionMS, f.ProductVersionLS))
    # FILEFLAGSMASK only says which flag bits are meaningful.
    check(f.FileFlags == 0, "version: FILEFLAGS is %#x" % f.FileFlags)
    check(f.FileOS == 4, "version: FILEOS is %#x, not VOS__WINDOWS32" % f.FileOS)
    check(f.FileType == 1, "version: FILETYPE is %d, not VFT_APP" % f.FileType)
    check(f.FileSubtype == 0, "version: FILESUBTYPE is %d" % f.FileSubtype)
    check((f.FileDateMS, f.FileDateLS) == (0, 0), "version: file date is set")

    blocks = [b.Key for b in pe.FileInfo[0]] if getattr(pe, "FileInfo", None) else []
    check(sorted(blocks) == [b"StringFileInfo", b"VarFileInfo"],
          "version: top-level blocks are %s" % sorted(blocks))
    for block in pe.FileInfo[0] if blocks else []:
        if block.Key == b"StringFileInfo":
            tables = [t.LangID for t in block.StringTable]
            check(tables == [b"080404B0"],
                  "version: string tables are %s, expected only 080404B0" % tables)
            for table in block.StringTable[:1]:
                strings = {}
                for key, value in table.entries.items():
                    name = key.decode("utf-16-le" if b"\0" in key else "ascii", "replace")
                    strings[name] = value.decode("utf-8", "replace")
                    # A String's header ends just before its key: wValueLength
                    # (in characters, the NUL included), then wType (1: text).
                    key_at, value_at = table.entries_offsets[key]
                    value_len, value_type = struct.unpack("<HH", pe.__data__[key_at - 4:key_at])
                    length = table.entries_lengths[key][1]
                    end = value_at + 2 * length
                    check(value_type == 1, "version: %s is not a text value" % name)
                    check(value_len == length + 1 and pe.__data__[end:end + 2] == b"\0\0",
                          "version: %s is not NUL-terminated" % name)
                    # pefile keeps one value a key: count the keys themselves.
                    raw_key = name.encode("utf-16-le") + b"\0\0"
                    check(data.count(raw_key) == 1, "version: %s appears twice" % name)
                check(strings == EXPECTED_STRINGS,
                      "version: strings are %s, expected %s" % (strings, EXPECTED_STRINGS))
        elif block.Key == b"VarFileInfo":
            names = [list(v.entry) for v in block.Var]
            check(names == [[b"Translation"]], "version: VarFileInfo holds %s" % names)
            for var in block.Var[:1]:
                pairs = var.entry.get(b"Translation", "")
                check(pairs == "0x0804 0x04b0",
                      "version: Translation is %r, expected [(0x0804, 0x04B0)]" % pairs)


# --- contact sheet ----------------------------------------------------------

def contact_sheet(path, images):
    """8-bit row and 32-bit row, each at 4x and 1x, on a light and a dark band."""
    scale, cell = 4, 48 * 4 + 16
    small_w = sum(s + 8 for s in (48, 32, 24, 16)) + 8
    width = 4 * cell + small_w
    band_h = 2 * cell
    sheet = PILImage.new("RGB", (width, 2 * band_h))
    for band, bg in enumerate([(240, 240, 240), (40, 44, 56)]):
        sheet.paste(bg, (0, band * band_h, width, (band + 1) * band_h))
        for i, img in enumerate(images):
            if not img.ok:
                continue
            depth_row, col = i // 4, i % 4
            top = band * band_h + depth_row * cell
            picture = img.picture()
            big = picture.resize((img.width * scale, img.height * scale), PILImage.NEAREST)
            sheet.paste(big, (col * cell + (cell - big.width) // 2, top + (cell - big.height) // 2), big)
            sx = 4 * cell + 8 + sum(s + 8 for s in (48, 32, 24, 16)[:col])
            sheet.paste(picture, (sx, top + (cell - img.height) // 2), picture)
    sheet.save(path)


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
        check_version(pe, version.get(LANG_ZH_CN, next(iter(version.values()))))

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
