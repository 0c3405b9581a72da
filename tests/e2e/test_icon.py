"""The running tool window carries the executable's own icon in its title bar:
the images Wine hands to the X window (_NET_WM_ICON) are those of the icon
set, pixel for pixel, not the system's default icon."""

import os
import struct

import harness as h

ICONS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "res", "icons")
# The 32-bit images of the icon set, by size.
IMAGES = {48: "icon30005.bin", 32: "icon30006.bin", 24: "icon30007.bin", 16: "icon30008.bin"}


def icon_argb(size):
    """The ARGB pixels, top row first, of the icon set's 32-bit image."""
    with open(os.path.join(ICONS, IMAGES[size]), "rb") as f:
        data = f.read()
    header, width, height, _, bits = struct.unpack_from("<IiiHH", data)
    assert (width, height, bits) == (size, 2 * size, 32), (width, height, bits)
    rows = []
    for y in range(size):
        start = header + y * size * 4
        row = struct.unpack_from("<%dI" % size, data, start)  # BGRA in memory = ARGB as a number
        rows.append(row)
    rows.reverse()  # stored bottom-up
    return [p for row in rows for p in row]


def x_icons(xid):
    """The images of an X window's _NET_WM_ICON: {size: [ARGB, ...]}."""
    values = h.xdisplay().property(xid, "_NET_WM_ICON")
    if values is None or isinstance(values, bytes):
        return {}
    values = [int(v) for v in values]
    images, i = {}, 0
    while i + 2 <= len(values):
        w, hgt = values[i], values[i + 1]
        images[w] = values[i + 2:i + 2 + w * hgt]
        i += 2 + w * hgt
    return images


class WindowIcon(h.WineTestCase):
    def test_title_bar_icon_comes_from_the_executable(self):
        tool = h.Tool(self.probe)
        self.addCleanup(tool.stop)
        info = tool.info()
        # The icon handles themselves are not readable from another process
        # under Wine; the X window's icon is.

        xid = h.xid_of(info, tool.proc)
        self.assertIsNotNone(xid, "no X window for the tool window")
        images = h.poll(lambda: x_icons(xid) or None, what="_NET_WM_ICON on the tool window")
        h.log("X window icon sizes:", sorted(images))
        matched = [size for size, pixels in images.items()
                   if size in IMAGES and pixels == icon_argb(size)]
        self.assertTrue(matched, "no title-bar image equals an image of the icon set (sizes %s)"
                        % sorted(images))
        self.assertIn(16, matched, "the small title-bar icon is not the icon set's 16 x 16 image")


if __name__ == "__main__":
    h.main()
