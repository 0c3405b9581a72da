#!/usr/bin/python3
"""Read Kavrelo.exe's resources back and check the icon set and version block.

    check_resources.py KAVRELO_EXE --icons DIR [--sheet OUT.png]

--icons DIR    the committed icon files: the icon group and every image must
               equal DIR/group1.bin and DIR/icon<id>.bin
--sheet PNG    draw the eight images onto a contact sheet

Prints one line per failed check and exits 1 if any failed.

pefile reads the resource tree and the version block; Pillow reads each image,
wrapped with its directory entry into a one-image .ico.  Only the icon group's
directory (GRPICONDIR), which pefile does not parse, is unpacked here.
"""

import argparse
import io
import os
import struct
import sys

import pefile
from PIL import BmpImagePlugin, Image

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
LANG_NEUTRAL = 0
LANG_ZH_CN = 0x0804

# The icon group's entries, in order: icon id, size, bits per pixel.
EXPECTED_ICONS = [
    (30001, 48, 8), (30002, 32, 8), (30003, 24, 8), (30004, 16, 8),
    (30005, 48, 32), (30006, 32, 32), (30007, 24, 32), (30008, 16, 32),
]
# How Pillow reads the colour bits of an image of that depth: palette indices,
# or blue, green, red and a fourth byte (the alpha, which the .ico reader adds).
RAW_MODE = {8: "P", 32: "BGRX"}

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


def resource_tree(pe):
    """{type id: {name id: {lang id: bytes}}} (string names kept as str)."""
    tree = {}
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for t in root.entries if root else []:
        names = tree.setdefault(t.id if t.name is None else str(t.name), {})
        for n in t.directory.entries:
            langs = names.setdefault(n.id if n.name is None else str(n.name), {})
            for lang in n.directory.entries:
                entry = lang.data.struct
                langs[lang.id] = pe.get_data(entry.OffsetToData, entry.Size)
    return tree


# --- icon images ------------------------------------------------------------

def group_entries(data):
    """The icon group's entries: [(icon id, (width, height, colours, reserved,
    planes, bits, bytes), the entry's first 12 bytes)]."""
    if not check(len(data) >= 6, "icon group: too short"):
        return []
    reserved, kind, count = struct.unpack_from("<3H", data)
    check((reserved, kind) == (0, 1), "icon group: header is %d,%d, not 0,1" % (reserved, kind))
    if not check(len(data) == 6 + 14 * count,
                 "icon group: %d bytes for %d entries" % (len(data), count)):
        return []
    return [(struct.unpack_from("<H", data, at + 12)[0],
             struct.unpack_from("<4B2HI", data, at), data[at:at + 12])
            for at in range(6, len(data), 14)]


def picture(entry, data, bits=None):
    """The image as Pillow's .ico reader makes it, RGBA: a one-image .ico of its
    group entry (with `bits` as its bits per pixel, if given) and its data."""
    if bits is not None:
        entry = entry[:6] + struct.pack("<H", bits) + entry[8:]
    img = Image.open(io.BytesIO(struct.pack("<3H", 0, 1, 1) + entry + struct.pack("<I", 22) + data))
    img.load()
    return img


def check_image(label, fields, entry, data, size, bits):
    """The image and its group entry; returns the picture, or None."""
    width, height, colours, reserved, planes, ebits, nbytes = fields
    check((width, height, ebits) == (size % 256, size % 256, bits),
          "%s: group entry says %dx%d %d-bit, expected %dx%d %d-bit"
          % (label, width, height, ebits, size, size, bits))
    check((colours, reserved, planes) == (0, 0, 1),
          "%s: group entry colours/reserved/planes are %d/%d/%d, expected 0/0/1"
          % (label, colours, reserved, planes))
    check(nbytes == len(data), "%s: group entry says %d bytes, the image has %d"
          % (label, nbytes, len(data)))
    try:
        dib = BmpImagePlugin.DibImageFile(io.BytesIO(data))
        img = picture(entry, data)
    except Exception as e:  # whatever Pillow cannot read is a broken image
        check(False, "%s: Pillow cannot read it: %s" % (label, e))
        return None
    raw = dib.tile[0][3][0]
    if not check(raw == RAW_MODE[bits] and img.size == (size, size),
                 "%s: image is %dx%d, colour bits read as %r; expected %dx%d %d-bit"
                 % (label, img.width, img.height, raw, size, size, bits)):
        return None
    if bits == 8:
        check(len(dib.palette.palette) == 4 * 256,
              "%s: palette has %d entries, not 256" % (label, len(dib.palette.palette) // 4))

    px = img.load()
    pixels = list(img.getdata())
    # Where the AND mask is set (or alpha is 0) the colour bits are XORed onto
    # the screen wherever the mask is used: they must be black.
    stray = sum(1 for p in pixels if p[3] == 0 and p[:3] != (0, 0, 0))
    check(stray == 0, "%s: %d transparent pixels have colour" % (label, stray))
    if bits == 32:
        check(any(0 < p[3] < 255 for p in pixels),
              "%s: no partly transparent pixel: the alpha channel is not used" % label)
        # The AND mask, for whatever draws without alpha, marks the fully
        # transparent pixels.  Pillow reads it when the entry names no depth.
        mask = list(picture(entry, data, bits=0).getdata())
        wrong = sum(1 for p, m in zip(pixels, mask) if (p[3] == 0) != (m[3] == 0))
        check(wrong == 0, "%s: AND mask disagrees with alpha at %d pixels" % (label, wrong))

    # The artwork, a round light-blue badge with a glossy highlight on top:
    # transparent corners and an opaque light-blue centre (a mask turned
    # inside out or colour channels swapped fail here), and near-white
    # highlight pixels only in the upper half (rows stored upside down fail).
    corners = [px[x, y][3] for x in (0, size - 1) for y in (0, size - 1)]
    check(corners == [0] * 4, "%s: corners are not transparent (alpha %s)" % (label, corners))
    r, g, b, a = px[size // 2, size // 2]
    check(a == 255 and b > r + 40 and b >= g and g > 120,
          "%s: centre pixel %s is not opaque light blue" % (label, (r, g, b, a)))
    white = [y for y in range(size) for x in range(size)
             if px[x, y][3] == 255 and min(px[x, y][:3]) >= 215]
    check(white and max(white) < size // 2,
          "%s: no highlight in the upper half (near-white pixels in rows %s)"
          % (label, sorted(set(white))))
    return img


def check_icons(tree, icons_dir):
    """The icon group and its images; returns the pictures read."""
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
    data = group.get(LANG_NEUTRAL)
    if data is None:
        return []
    with open(os.path.join(icons_dir, "group1.bin"), "rb") as f:
        check(f.read() == data, "icon group 1 differs from the committed group1.bin")

    entries = group_entries(data)
    check([e[0] for e in entries] == [i for i, _, _ in EXPECTED_ICONS],
          "icon group lists icons %s, expected 30001..30008 in order" % [e[0] for e in entries])
    pictures = []
    for (icon_id, fields, entry), (_, size, bits) in zip(entries, EXPECTED_ICONS):
        label = "icon %d" % icon_id
        image = icons.get(icon_id, {}).get(LANG_NEUTRAL)
        if not check(image is not None, "icon group names icon %d, which is not there" % icon_id):
            pictures.append(None)
            continue
        path = os.path.join(icons_dir, "icon%d.bin" % icon_id)
        if os.path.exists(path):
            with open(path, "rb") as f:
                check(f.read() == image, "%s: differs from the committed icon%d.bin" % (label, icon_id))
        else:
            check(False, "%s: no committed icon%d.bin" % (label, icon_id))
        pictures.append(check_image(label, fields, entry, image, size, bits))
    return pictures


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

def contact_sheet(path, pictures):
    """8-bit row and 32-bit row, each at 4x and 1x, on a light and a dark band."""
    scale, cell = 4, 48 * 4 + 16
    sizes = (48, 32, 24, 16)
    width = 4 * cell + sum(s + 8 for s in sizes) + 8
    band_h = 2 * cell
    sheet = Image.new("RGB", (width, 2 * band_h))
    for band, bg in enumerate([(240, 240, 240), (40, 44, 56)]):
        sheet.paste(bg, (0, band * band_h, width, (band + 1) * band_h))
        for i, img in enumerate(pictures):
            if img is None:
                continue
            top = band * band_h + (i // 4) * cell
            col = i % 4
            big = img.resize((img.width * scale, img.height * scale), Image.NEAREST)
            sheet.paste(big, (col * cell + (cell - big.width) // 2, top + (cell - big.height) // 2), big)
            sx = 4 * cell + 8 + sum(s + 8 for s in sizes[:col])
            sheet.paste(img, (sx, top + (cell - img.height) // 2), img)
    sheet.save(path)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("exe")
    ap.add_argument("--icons", required=True, help="folder with the committed icon files")
    ap.add_argument("--sheet", help="write a PNG contact sheet of the icons here")
    args = ap.parse_args()

    pe = pefile.PE(args.exe, fast_load=True)
    pe.parse_data_directories(directories=[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    tree = resource_tree(pe)

    check(RT_MANIFEST not in tree, "the executable has a manifest (RT_MANIFEST)")
    pictures = check_icons(tree, args.icons)

    versions = tree.get(RT_VERSION, {})
    check(list(versions) == [1], "RT_VERSION ids are %s, expected only 1" % list(versions))
    version = versions.get(1, {})
    check(list(version) == [LANG_ZH_CN],
          "RT_VERSION 1 is filed under languages %s, expected only 0x0804"
          % [hex(lang) for lang in version])
    if version:
        check_version(pe, version.get(LANG_ZH_CN, next(iter(version.values()))))

    if args.sheet:
        contact_sheet(args.sheet, pictures)

    for f in failures:
        print("FAIL:", f)
    if failures:
        print("%d check(s) failed in %s" % (len(failures), args.exe))
        return 1
    print("OK: icon group, %d images and version block of %s" % (len(pictures), args.exe))
    return 0


if __name__ == "__main__":
    sys.exit(main())
