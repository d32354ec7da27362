"""Artwork of the Burnwright icon: a processor chip with a flame on it.

Shapes are drawn in order on a 48 x 48 unit canvas; later shapes cover earlier
ones. make_icon.py renders them at 48, 32 and 16 pixels.
"""

PIN = (200, 202, 208)
PIN_SHADE = (150, 152, 160)
RIM = (120, 124, 134)
BODY = (44, 48, 58)
MARK = (160, 164, 176)
FLAME_OUTER = (228, 40, 24)
FLAME_MIDDLE = (255, 140, 0)
FLAME_CORE = (255, 236, 96)

BODY_LO, BODY_HI = 10.0, 38.0
PIN_OUT = 3.0
PIN_CENTRES = (15.0, 21.0, 27.0, 33.0)
PIN_HALF = 1.6


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def teardrop(cx, cy, r, tip_y, lean=0.0):
    """A flame: a circle of radius r at (cx, cy) drawn up to a point at tip_y.
    lean moves the upper part sideways (units at the tip)."""
    def inside(x, y):
        if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
            return True
        if not (tip_y <= y <= cy):
            return False
        t = (y - tip_y) / (cy - tip_y)          # 0 at the tip, 1 at the circle's centre
        centre = cx + lean * (1.0 - t) ** 2
        return abs(x - centre) <= r * t ** 0.75
    return inside


def pins():
    shapes = []
    for c in PIN_CENTRES:
        lo, hi = c - PIN_HALF, c + PIN_HALF
        shapes.append((rect(PIN_OUT, lo, BODY_LO, hi), PIN))              # left
        shapes.append((rect(BODY_HI, lo, 48.0 - PIN_OUT, hi), PIN))       # right
        shapes.append((rect(lo, PIN_OUT, hi, BODY_LO), PIN))              # top
        shapes.append((rect(lo, BODY_HI, hi, 48.0 - PIN_OUT), PIN))       # bottom
        # the lower half of each side pin is shaded
        shapes.append((rect(PIN_OUT, c, BODY_LO, hi), PIN_SHADE))
        shapes.append((rect(BODY_HI, c, 48.0 - PIN_OUT, hi), PIN_SHADE))
        shapes.append((rect(c, PIN_OUT, hi, BODY_LO), PIN_SHADE))
        shapes.append((rect(c, BODY_HI, hi, 48.0 - PIN_OUT), PIN_SHADE))
    return shapes


SHAPES = pins() + [
    (rect(BODY_LO, BODY_LO, BODY_HI, BODY_HI), RIM),
    (rect(BODY_LO + 2.0, BODY_LO + 2.0, BODY_HI - 2.0, BODY_HI - 2.0), BODY),
    (circle(15.5, 15.5, 1.6), MARK),
    (teardrop(24.0, 29.0, 7.5, 12.0, lean=2.0), FLAME_OUTER),
    (teardrop(24.0, 30.5, 5.0, 18.5, lean=1.5), FLAME_MIDDLE),
    (teardrop(24.0, 32.0, 2.6, 25.0, lean=0.8), FLAME_CORE),
]
