"""The running tool window carries the executable's own icon, as Windows loads
it: the images Wine hands to the X window (_NET_WM_ICON) are the icon set's
32 x 32 image (the big icon) and its 16 x 16 image (the small one, in the title
bar), pixel for pixel, not the system's default icon nor one image scaled."""

import io
import os
import struct

from PIL import Image

import driver as d

ICONS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "res", "icons")
# The icon set's 32-bit images the window's icons come from at 96 dpi (on a
# true-colour screen): SM_CXICON and SM_CXSMICON.
IMAGES = {32: "icon30006.bin", 16: "icon30008.bin"}


def icon_argb(size):
    """The icon set's 32-bit image of this size as ARGB numbers, top row first,
    as Pillow reads it out of a one-image .ico."""
    with open(os.path.join(ICONS, IMAGES[size]), "rb") as f:
        data = f.read()
    ico = struct.pack("<3H4B2H2I", 0, 1, 1, size, size, 0, 0, 1, 32, len(data), 22) + data
    img = Image.open(io.BytesIO(ico))
    img.load()
    assert img.size == (size, size), (IMAGES[size], img.size)
    return [a << 24 | r << 16 | g << 8 | b for r, g, b, a in img.getdata()]


def x_icons(session, xid):
    """The images of an X window's _NET_WM_ICON: [(size, [ARGB, ...])]."""
    values = session.x.property(xid, "_NET_WM_ICON")
    if values is None or isinstance(values, bytes):
        return []
    values = [int(v) for v in values]
    images, i = [], 0
    while i + 2 <= len(values):
        w, hgt = values[i], values[i + 1]
        images.append(((w, hgt), values[i + 2:i + 2 + w * hgt]))
        i += 2 + w * hgt
    return images


def test_title_bar_icon_comes_from_the_executable(session):
    tool = session.tool()
    # The icon handles themselves are not readable from another process
    # under Wine; the X window's icon is.
    xid = session.xid(tool.info(), tool.proc)
    assert xid is not None, "no X window for the tool window"
    want = {size: icon_argb(size) for size in IMAGES}
    images = []

    def carries_both():
        images[:] = x_icons(session, xid)
        return all(((size, size), pixels) in images for size, pixels in want.items())

    try:
        d.poll(carries_both, what="the icon set's images in the X window's _NET_WM_ICON")
    except d.Timeout:
        pass  # said below, image by image
    sizes = [size for size, _ in images]
    d.log("X window icon sizes:", sizes)
    for size in sorted(IMAGES, reverse=True):
        assert ((size, size), want[size]) in images, \
            "no image of the window's icon is the icon set's %d x %d %s (the window's images: %s)" % (
                size, size, IMAGES[size], sizes)
