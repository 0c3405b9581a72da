"""Looks at X windows from within the process, for the benchmarks and the
tests: the windows of a program (by _NET_WM_PID, which Wine sets to the
process id of the Windows program), their names, places, properties and
pixels, the pointer and the keyboard focus.  Built on python-xlib
(python3-xlib); one connection serves every look.

A window may go away between being listed and being read: every reading of
one that is gone gives None (or leaves it out of a list) instead of failing.
Input (pointer moves, keys, clicks) is not sent from here: the driver
(driver.py) sends it through XTEST, as an input device's comes.
"""

import Xlib.display
import Xlib.error
import Xlib.X

# What a request about a window that is gone (or not what it was) raises.
GONE = (Xlib.error.BadWindow, Xlib.error.BadDrawable, Xlib.error.BadMatch)


class Display:
    def __init__(self, name=None):
        self.d = Xlib.display.Display(name)
        self.display_name = self.d.get_display_name()
        self.root = self.d.screen().root
        self._atoms = {}
        # Requests that get no reply report their errors here; a window gone
        # meanwhile is no error of the caller's.
        self.d.set_error_handler(lambda error, request: None)

    def close(self):
        if self.d is not None:
            self.d.close()
            self.d = None

    def atom(self, name):
        if name not in self._atoms:
            self._atoms[name] = self.d.intern_atom(name)
        return self._atoms[name]

    def window(self, xid):
        return self.d.create_resource_object("window", int(xid))

    # --- properties ---------------------------------------------------------

    def property(self, xid, name):
        """The value of a window's property (a sequence of numbers, or bytes
        for 8-bit data), or None when it is not set or the window is gone."""
        try:
            p = self.window(xid).get_full_property(self.atom(name), Xlib.X.AnyPropertyType)
        except GONE:
            return None
        return None if p is None else p.value

    def cardinal(self, xid, name):
        """The first number of a 32-bit property, or None."""
        v = self.property(xid, name)
        if v is None or isinstance(v, (bytes, str)) or len(v) < 1:
            return None
        return int(v[0])

    def pid(self, xid):
        return self.cardinal(xid, "_NET_WM_PID")

    def opacity(self, xid):
        """_NET_WM_WINDOW_OPACITY, or None when it is not set."""
        return self.cardinal(xid, "_NET_WM_WINDOW_OPACITY")

    def name(self, xid):
        """The window's name (_NET_WM_NAME, else WM_NAME), or None."""
        for prop in ("_NET_WM_NAME", "WM_NAME"):
            v = self.property(xid, prop)
            if v is not None:
                return v.decode("utf-8", "replace") if isinstance(v, bytes) else str(v)
        return None

    # --- the tree -----------------------------------------------------------

    def children(self, xid=None):
        """The children of a window (the root's by default), bottom first."""
        w = self.root if xid is None else self.window(xid)
        try:
            return [c.id for c in w.query_tree().children]
        except GONE:
            return []

    def all_windows(self):
        """Every window below the root, parents before their children."""
        out, todo = [], self.children()
        while todo:
            xid = todo.pop(0)
            out.append(xid)
            todo[0:0] = self.children(xid)
        return out

    def windows_of(self, pid):
        """Every window, at any depth, that carries the process id."""
        return [xid for xid in self.all_windows() if self.pid(xid) == pid]

    def geometry(self, xid):
        """{"x", "y"} (on the screen), {"width", "height"} of a window, or
        None when it is gone."""
        try:
            w = self.window(xid)
            g = w.get_geometry()
            at = w.translate_coords(self.root, 0, 0)
        except GONE:
            return None
        # translate_coords gives the root's origin in the window: negate it.
        return {"x": -at.x, "y": -at.y, "width": g.width, "height": g.height}

    def mapped_window_of(self, pid, min_size=100):
        """A top-level window of the process that is viewable and at least
        min_size both ways, as (xid, width, height); (None, 0, 0) when there
        is none yet."""
        for xid in self.children():
            if self.pid(xid) != pid:
                continue
            try:
                w = self.window(xid)
                a = w.get_attributes()
                g = w.get_geometry()
            except GONE:
                continue
            if a.map_state == Xlib.X.IsViewable and g.width >= min_size and g.height >= min_size:
                return xid, g.width, g.height
        return None, 0, 0

    # --- pixels, pointer, focus ---------------------------------------------

    def green(self, xid, width, height):
        """The green channel of every pixel of a window (a 32-bit visual), or
        None when the window cannot be read."""
        try:
            img = self.window(xid).get_image(0, 0, width, height, Xlib.X.ZPixmap, 0xFFFFFFFF)
        except GONE:
            return None
        if len(img.data) != width * height * 4:
            raise ValueError("expected 32 bits per pixel, got %d bytes for %d x %d"
                             % (len(img.data), width, height))
        return img.data[1::4]  # B G R X, little-endian

    def pointer(self):
        """The pointer's place on the screen."""
        p = self.root.query_pointer()
        return p.root_x, p.root_y

    def focus(self):
        """The window that has the keyboard focus (its id; 1 for
        PointerRoot, 0 for none)."""
        f = self.d.get_input_focus().focus
        return f if isinstance(f, int) else f.id


_shared = None


def display():
    """The process's one connection to $DISPLAY, opened at first use."""
    global _shared
    if _shared is None:
        _shared = Display()
    return _shared
