#!/usr/bin/env python3
"""Draws the client's tray icons and its banner bitmap.

    python3 client/resources/draw_images.py <output folder>

writes into the folder:

    connected.ico     icon 107: connected; also the window's small icon
    disconnected.ico  icon 136: disconnected; the tray icon most of the time
    banner.bmp        bitmap 132: the main window's banner, 307 x 91, 24-bit
    warning.bmp       bitmap 142: the browser warning window, 563 x 289, 24-bit;
                      the key colour RGB(70, 147, 135) marks its holes
    close.bmp         bitmap 143: the warning's close button, 55 x 55
    close_hover.bmp   bitmap 144: the same under the pointer

Everything is drawn here from scratch with Pillow; the only outside input is
the DejaVu font from Debian's fonts-dejavu-core. The output is deterministic:
the same bytes on every run.

The small icon sizes (16, 20, 24) are laid out on the pixel grid by hand, so
the shield's straight edges, the check mark and the "off" badge stay crisp in
the notification area instead of being a blurred copy of the 256 px picture.
"""

import io
import os
import struct
import sys

try:
    from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont
except ImportError:
    sys.exit("draw_images.py: Pillow is missing; install it with "
             "'apt-get install python3-pil' and run this with /usr/bin/python3")

FONT_DIR = "/usr/share/fonts/truetype/dejavu"
FONT_BOLD = os.path.join(FONT_DIR, "DejaVuSans-Bold.ttf")
FONT_REGULAR = os.path.join(FONT_DIR, "DejaVuSans.ttf")

ICON_SIZES = (16, 20, 24, 32, 48, 256)

# Brand colours.
TEAL = (0, 150, 136)
TEAL_LIGHT = (38, 196, 178)
TEAL_DARK = (0, 105, 94)
TEAL_EDGE = (0, 64, 57)
GREY_LIGHT = (178, 182, 184)
GREY_DARK = (122, 126, 128)
GREY_EDGE = (62, 64, 66)
RED = (226, 46, 46)
RED_EDGE = (140, 18, 18)
WHITE = (255, 255, 255)
AMBER = (255, 196, 38)


# --------------------------------------------------------------------------
# Geometry

def _quad(p0, p1, p2, n):
    return [((1 - t) ** 2 * p0[0] + 2 * (1 - t) * t * p1[0] + t * t * p2[0],
             (1 - t) ** 2 * p0[1] + 2 * (1 - t) * t * p1[1] + t * t * p2[1])
            for t in (i / n for i in range(1, n + 1))]


def _cubic(p0, p1, p2, p3, n):
    out = []
    for i in range(1, n + 1):
        t = i / n
        a, b, c, d = (1 - t) ** 3, 3 * (1 - t) ** 2 * t, 3 * (1 - t) * t * t, t ** 3
        out.append((a * p0[0] + b * p1[0] + c * p2[0] + d * p3[0],
                    a * p0[1] + b * p1[1] + c * p2[1] + d * p3[1]))
    return out


def shield_outline(box, shoulder, corner, waist=0.46):
    """The shield's outline as a closed polygon inside box (x0, y0, x1, y1).

    shoulder: how far the top corners sit below the top centre (fraction of
    the height; 0 gives a flat top). corner: radius of the rounded top
    corners, in the same units as box. waist: where the straight sides end
    and the curve towards the point begins (fraction of the height).
    """
    x0, y0, x1, y1 = box
    w, h = x1 - x0, y1 - y0

    def p(u, v):
        return (x0 + u * w, y0 + v * h)

    cu, cv = corner / w, corner / h
    s = shoulder
    # Right half, top centre clockwise down to the point.
    right = [p(0.5, 0.0)]
    right += _quad(p(0.5, 0.0), p(0.80, 0.0), p(1.0 - cu, s), 12)
    right += _quad(p(1.0 - cu, s), p(1.0, s), p(1.0, s + cv), 6)
    right.append(p(1.0, waist))
    right += _cubic(p(1.0, waist), p(1.0, 0.74), p(0.74, 0.90), p(0.5, 1.0), 24)
    # Mirror for the left half, point back up to the top centre.
    left = [(2 * (x0 + 0.5 * w) - x, y) for (x, y) in reversed(right[:-1])]
    return right + left


def _scaled(points, k):
    return [(x * k, y * k) for (x, y) in points]


# --------------------------------------------------------------------------
# Painting helpers (all on a supersampled canvas)

def _vertical_gradient(size, top, bottom, y0=0, y1=None):
    w, h = size
    y1 = h if y1 is None else y1
    col = Image.new("RGB", (1, h))
    for y in range(h):
        t = min(1.0, max(0.0, (y - y0) / max(1, y1 - y0)))
        col.putpixel((0, y), tuple(round(a + (b - a) * t) for a, b in zip(top, bottom)))
    return col.resize((w, h), Image.NEAREST)


def _mask_polygon(size, points):
    m = Image.new("L", size, 0)
    ImageDraw.Draw(m).polygon(points, fill=255)
    return m


def _inner_band(mask, points, width):
    """The band `width` wide just inside the polygon's edge."""
    band = Image.new("L", mask.size, 0)
    d = ImageDraw.Draw(band)
    closed = points + [points[0]]
    d.line(closed, fill=255, width=max(1, round(2 * width)), joint="curve")
    r = width
    for (x, y) in points:
        d.ellipse((x - r, y - r, x + r, y + r), fill=255)
    return ImageChops.multiply(band, mask)


def _stroke(draw, points, width, fill):
    """A polyline with round joins and caps."""
    draw.line(points, fill=fill, width=max(1, round(width)), joint="curve")
    r = width / 2
    for (x, y) in (points[0], points[-1]):
        draw.ellipse((x - r, y - r, x + r, y + r), fill=fill)


def _paint(canvas, colour_or_image, mask):
    if isinstance(colour_or_image, tuple):
        colour_or_image = Image.new("RGB", canvas.size, colour_or_image)
    layer = colour_or_image.convert("RGBA")
    layer.putalpha(mask)
    canvas.alpha_composite(layer)


def _downsample(img, size):
    # Pillow resizes RGBA with premultiplied alpha, so edges stay clean.
    return img.resize((size, size), Image.BOX)


# --------------------------------------------------------------------------
# Icons

# Per-size layout, in icon pixels. Sizes up to 24 are placed on the pixel
# grid by hand: the shield's sides and top sit on pixel boundaries, the
# outline is a whole pixel, the check mark is at least two pixels thick and
# the badge's bar is exactly two pixels high.
#   box:      shield bounds (x0, y0, x1, y1)
#   shoulder: drop of the top corners (fraction of height)
#   corner:   radius of the top corners
#   edge:     width of the darker outline
#   check:    check mark points (x, y) and stroke width
#   badge:    "off" badge centre x, y, radius, bar half-width, bar height,
#             clear gap around it, badge edge width
LAYOUT = {
    16: dict(box=(1, 0.5, 15, 15.75), shoulder=0.0, corner=1.2, edge=1.0,
             check=([(4.3, 7.9), (6.9, 10.5), (11.9, 5.0)], 2.3),
             badge=(12.0, 12.0, 4.0, 2.5, 2.0, 1.0, 0.9)),
    20: dict(box=(1.5, 1, 18.5, 19.5), shoulder=0.03, corner=1.5, edge=1.1,
             check=([(5.4, 10.0), (8.6, 13.2), (14.7, 6.4)], 2.7),
             badge=(15.0, 15.0, 5.0, 3.0, 2.0, 1.2, 1.0)),
    24: dict(box=(2, 1, 22, 23.25), shoulder=0.04, corner=1.8, edge=1.2,
             check=([(6.6, 11.8), (10.3, 15.5), (17.4, 7.6)], 3.1),
             badge=(18.0, 18.0, 6.0, 3.5, 2.0, 1.3, 1.1)),
    32: dict(box=(2.5, 1.5, 29.5, 31), shoulder=0.05, corner=2.4, edge=1.5,
             check=([(8.9, 15.8), (13.8, 20.7), (23.2, 10.4)], 4.0),
             badge=(24.0, 24.0, 8.0, 4.5, 3.0, 1.6, 1.3)),
    48: dict(box=(4, 2, 44, 46.5), shoulder=0.06, corner=3.5, edge=2.0,
             check=([(13.4, 23.6), (20.6, 30.8), (34.6, 15.6)], 5.6),
             badge=(36.0, 36.0, 12.0, 7.0, 4.0, 2.2, 1.8)),
    256: dict(box=(20, 10, 236, 250), shoulder=0.07, corner=18, edge=8.0,
              check=([(71, 126), (110, 165), (185, 82)], 28.0),
              badge=(192.0, 192.0, 62.0, 36.0, 20.0, 10.0, 8.0)),
}


def draw_shield(size, k, lay, top, bottom, edge_colour, gloss):
    """The bare shield on a transparent canvas of size*k pixels."""
    big = size * k
    box = tuple(v * k for v in lay["box"])
    pts = shield_outline(box, lay["shoulder"], lay["corner"] * k)
    canvas = Image.new("RGBA", (big, big), (0, 0, 0, 0))
    mask = _mask_polygon(canvas.size, pts)
    _paint(canvas, _vertical_gradient(canvas.size, top, bottom,
                                      round(box[1]), round(box[3])), mask)
    if gloss:
        # The classic split shield: the left half a shade lighter.
        half = Image.new("L", canvas.size, 0)
        ImageDraw.Draw(half).rectangle(
            (0, 0, round((box[0] + box[2]) / 2), big), fill=gloss)
        _paint(canvas, WHITE, ImageChops.multiply(half, mask))
    _paint(canvas, edge_colour, _inner_band(mask, pts, lay["edge"] * k))
    return canvas


def draw_connected(size):
    lay = LAYOUT[size]
    k = 16 if size < 256 else 4
    canvas = draw_shield(size, k, lay, TEAL_LIGHT, TEAL_DARK, TEAL_EDGE,
                         gloss=28 if size >= 32 else 0)
    pts, width = lay["check"]
    pts = _scaled(pts, k)
    if size >= 32:
        # A soft dark shadow under the check mark lifts it off the fill.
        shadow = Image.new("L", canvas.size, 0)
        off = lay["edge"] * k * 0.6
        _stroke(ImageDraw.Draw(shadow), [(x, y + off) for x, y in pts],
                width * k, 255)
        shadow = shadow.filter(ImageFilter.GaussianBlur(lay["edge"] * k * 0.6))
        _paint(canvas, TEAL_EDGE, shadow.point(lambda v: v * 110 // 255))
    check = Image.new("L", canvas.size, 0)
    _stroke(ImageDraw.Draw(check), pts, width * k, 255)
    _paint(canvas, WHITE, check)
    return _downsample(canvas, size)


def draw_disconnected(size):
    lay = LAYOUT[size]
    k = 16 if size < 256 else 4
    canvas = draw_shield(size, k, lay, GREY_LIGHT, GREY_DARK, GREY_EDGE,
                         gloss=30 if size >= 32 else 0)
    cx, cy, r, bar_w, bar_h, gap, edge = (v * k for v in lay["badge"])
    # Clear a ring around the badge so it reads as separate on any taskbar.
    hole = Image.new("L", canvas.size, 255)
    ImageDraw.Draw(hole).ellipse((cx - r - gap, cy - r - gap,
                                  cx + r + gap, cy + r + gap), fill=0)
    alpha = ImageChops.multiply(canvas.getchannel("A"), hole)
    canvas.putalpha(alpha)
    disc = Image.new("L", canvas.size, 0)
    ImageDraw.Draw(disc).ellipse((cx - r, cy - r, cx + r, cy + r), fill=255)
    inner = Image.new("L", canvas.size, 0)
    ImageDraw.Draw(inner).ellipse((cx - r + edge, cy - r + edge,
                                   cx + r - edge, cy + r - edge), fill=255)
    _paint(canvas, RED_EDGE, disc)
    _paint(canvas, _vertical_gradient(canvas.size, (244, 84, 72), (206, 30, 34),
                                      round(cy - r), round(cy + r)), inner)
    bar = Image.new("L", canvas.size, 0)
    ImageDraw.Draw(bar).rectangle((cx - bar_w, cy - bar_h / 2,
                                   cx + bar_w - 1, cy + bar_h / 2 - 1), fill=255)
    _paint(canvas, WHITE, bar)
    return _downsample(canvas, size)


def _ico_bmp_entry(img):
    """A 32-bit BGRA DIB with its AND mask, as old icon loaders expect."""
    w, h = img.size
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    px = img.load()
    rows = []
    for y in range(h - 1, -1, -1):
        rows.append(b"".join(bytes((px[x, y][2], px[x, y][1], px[x, y][0], px[x, y][3]))
                             for x in range(w)))
    mask_stride = ((w + 31) // 32) * 4
    mask_rows = []
    for y in range(h - 1, -1, -1):
        bits = bytearray(mask_stride)
        for x in range(w):
            if px[x, y][3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask_rows.append(bytes(bits))
    return header + b"".join(rows) + b"".join(mask_rows)


def _ico_png_entry(img):
    out = io.BytesIO()
    img.save(out, "PNG", optimize=False, compress_level=9)
    return out.getvalue()


def write_ico(path, images):
    """An .ico file: BMP entries for the small sizes, PNG for 256."""
    entries = []
    for img in images:
        data = _ico_png_entry(img) if img.width >= 256 else _ico_bmp_entry(img)
        entries.append((img.width, data))
    offset = 6 + 16 * len(entries)
    out = bytearray(struct.pack("<HHH", 0, 1, len(entries)))
    for size, data in entries:
        dim = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in entries:
        out += data
    with open(path, "wb") as f:
        f.write(out)


# --------------------------------------------------------------------------
# Banner

BANNER_W, BANNER_H = 307, 91
TITLE = "Veltrona VPN"
TAGLINE = "Secure. Private. Simple."
BADGE_TEXT = "FREE TRIAL"


def _font(path, size):
    if not os.path.isfile(path):
        sys.exit("draw_images.py: font %s is missing; install it with "
                 "'apt-get install fonts-dejavu-core'" % path)
    return ImageFont.truetype(path, size)


def _fit_font(path, text, max_width, start, smallest):
    for size in range(start, smallest - 1, -1):
        f = _font(path, size)
        if f.getbbox(text)[2] <= max_width:
            return f
    sys.exit("draw_images.py: %r does not fit in %d pixels" % (text, max_width))


def draw_banner():
    k = 4
    W, H = BANNER_W * k, BANNER_H * k

    # Background: a diagonal gradient from deep teal to the brand teal.
    bg = Image.new("RGB", (W, H))
    small = Image.new("RGB", (BANNER_W, BANNER_H))
    px = small.load()
    c0, c1 = (0, 78, 72), (0, 160, 144)
    for y in range(BANNER_H):
        for x in range(BANNER_W):
            t = min(1.0, max(0.0, 0.78 * x / BANNER_W + 0.22 * (1 - y / BANNER_H)))
            px[x, y] = tuple(round(a + (b - a) * t) for a, b in zip(c0, c1))
    bg = small.resize((W, H), Image.BILINEAR)
    canvas = bg.convert("RGBA")

    # Faint rings at the right: a quiet nod to a signal / globe.
    rings = Image.new("L", (W, H), 0)
    d = ImageDraw.Draw(rings)
    cx, cy = 300 * k, 100 * k
    for i, rad in enumerate((40, 62, 84, 106, 128)):
        rr = rad * k
        d.ellipse((cx - rr, cy - rr, cx + rr, cy + rr), outline=255, width=2 * k)
    _paint(canvas, WHITE, rings.point(lambda v: v * 22 // 255))

    # A soft light band along the top edge.
    sheen = _vertical_gradient((W, H), (60, 60, 60), (0, 0, 0), 0, H // 2).convert("L")
    _paint(canvas, WHITE, sheen)

    # The shield, white on the teal, with a teal check mark and a soft shadow.
    box = (14 * k, 12 * k, 68 * k, 80 * k)
    pts = shield_outline(box, 0.07, 4 * k)
    shadow = _mask_polygon((W, H), [(x + 1.5 * k, y + 2.5 * k) for x, y in pts])
    shadow = shadow.filter(ImageFilter.GaussianBlur(3 * k))
    _paint(canvas, (0, 40, 36), shadow.point(lambda v: v * 150 // 255))
    mask = _mask_polygon((W, H), pts)
    _paint(canvas, _vertical_gradient((W, H), (255, 255, 255), (208, 236, 232),
                                      box[1], box[3]), mask)
    half = Image.new("L", (W, H), 0)
    ImageDraw.Draw(half).rectangle(((box[0] + box[2]) // 2, 0, W, H), fill=20)
    _paint(canvas, TEAL_EDGE, ImageChops.multiply(half, mask))
    inner = shield_outline((box[0] + 5 * k, box[1] + 5 * k, box[2] - 5 * k, box[3] - 6 * k),
                           0.07, 2 * k)
    _paint(canvas, TEAL, _inner_band(_mask_polygon((W, H), inner), inner, 1.2 * k))
    check = Image.new("L", (W, H), 0)
    _stroke(ImageDraw.Draw(check),
            [(28 * k, 45 * k), (37 * k, 54 * k), (54 * k, 34 * k)], 6.5 * k, 255)
    _paint(canvas, TEAL_DARK, check)

    img = _downsample_banner(canvas)

    # Text is drawn at final size so FreeType's hinting keeps it sharp.
    text_x, right_margin = 82, 12
    max_w = BANNER_W - text_x - right_margin
    title_font = _fit_font(FONT_BOLD, TITLE, max_w, 30, 18)
    tag_font = _fit_font(FONT_REGULAR, TAGLINE, max_w, 14, 10)
    badge_font = _font(FONT_BOLD, 10)

    d = ImageDraw.Draw(img)
    title_y = 14
    _shadowed_text(img, (text_x, title_y), TITLE, title_font, WHITE)
    tb = d.textbbox((text_x, title_y), TITLE, font=title_font)
    tag_y = tb[3] + 6
    _shadowed_text(img, (text_x + 1, tag_y), TAGLINE, tag_font, (222, 246, 242))
    gb = d.textbbox((text_x + 1, tag_y), TAGLINE, font=tag_font)

    # "FREE TRIAL" pill under the tagline.
    bb = d.textbbox((0, 0), BADGE_TEXT, font=badge_font)
    pad_x, pad_y = 7, 3
    pill_x, pill_y = text_x + 1, gb[3] + 7
    pill_w = bb[2] - bb[0] + 2 * pad_x
    pill_h = bb[3] - bb[1] + 2 * pad_y
    pill = Image.new("RGBA", (pill_w * k, pill_h * k), (0, 0, 0, 0))
    ImageDraw.Draw(pill).rounded_rectangle((0, 0, pill_w * k - 1, pill_h * k - 1),
                                           radius=pill_h * k // 2, fill=AMBER + (255,))
    pill = pill.resize((pill_w, pill_h), Image.BOX)
    base = img.convert("RGBA")
    base.alpha_composite(pill, (pill_x, pill_y))
    img = base.convert("RGB")
    d = ImageDraw.Draw(img)
    d.text((pill_x + pad_x - bb[0], pill_y + pad_y - bb[1]), BADGE_TEXT,
           font=badge_font, fill=(60, 42, 0))

    bottom = pill_y + pill_h
    if bottom > BANNER_H - 6 or tb[2] > BANNER_W - right_margin or gb[2] > BANNER_W - right_margin:
        sys.exit("draw_images.py: banner text does not fit (bottom %d, right %d/%d)"
                 % (bottom, tb[2], gb[2]))
    return img


def _downsample_banner(canvas):
    return canvas.resize((BANNER_W, BANNER_H), Image.BOX).convert("RGB")


def _shadowed_text(img, xy, text, font, fill):
    x, y = xy
    shadow = Image.new("L", img.size, 0)
    ImageDraw.Draw(shadow).text((x + 1, y + 1), text, font=font, fill=255)
    shadow = shadow.filter(ImageFilter.GaussianBlur(1.2))
    layer = Image.new("RGB", img.size, (0, 36, 32))
    img.paste(layer, (0, 0), shadow.point(lambda v: v * 150 // 255))
    ImageDraw.Draw(img).text((x, y), text, font=font, fill=fill)


def write_bmp(path, img):
    """A plain 24-bit BI_RGB bottom-up BMP, as windres and LoadImage want."""
    w, h = img.size
    stride = (w * 3 + 3) & ~3
    px = img.load()
    data = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for x in range(w):
            r, g, b = px[x, y]
            row += bytes((b, g, r))
        row += b"\0" * (stride - len(row))
        data += row
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(data), 0, 0, 14 + len(info))
    with open(path, "wb") as f:
        f.write(head + info + data)


# --------------------------------------------------------------------------
# Browser warning window

WARN_W, WARN_H = 563, 289
# Pixels of this colour are holes in the warning window's shape; nothing
# else in the picture may use it.
KEY = (70, 147, 135)
WARN_RADIUS = 14
BAND_H = 56
# Where the real controls sit (window pixels); the picture leaves them free.
CLOSE_X, CLOSE_SIZE = 508, 55
YES_BUTTON = (187, 199, 190, 35)
NO_BUTTON = (442, 199, 105, 35)
CHECK_BOX = (396, 261)
WARN_TITLE = "Unprotected browsing"
WARN_HEADLINE = "Your web browser has started without protection."
WARN_LINES = ("Veltrona VPN is not connected, so the sites you visit can",
              "see your real IP address and your provider can see them.")
WARN_QUESTION = "Protect this browsing session now?"
WARN_CHECK_LABEL = "Don't warn me again"


def _not_key(colour):
    # A shade that is close to the key colour is nudged away from it.
    return (colour[0], colour[1], colour[2] + 1) if tuple(colour) == KEY else tuple(colour)


def _warning_triangle(size):
    """An amber warning sign with an exclamation mark, RGBA, size x size."""
    k = 8
    big = size * k
    canvas = Image.new("RGBA", (big, big), (0, 0, 0, 0))
    m = 0.06 * big
    pts = [(big / 2, m), (big - m, big - m * 1.4), (m, big - m * 1.4)]
    _paint(canvas, (150, 96, 0), _mask_polygon(canvas.size, pts))
    inner = [(big / 2, m + 0.09 * big), (big - m - 0.08 * big, big - m * 1.4 - 0.045 * big),
             (m + 0.08 * big, big - m * 1.4 - 0.045 * big)]
    _paint(canvas, _vertical_gradient(canvas.size, (255, 214, 80), (247, 166, 20),
                                      round(m), round(big - m)),
           _mask_polygon(canvas.size, inner))
    mark = Image.new("L", canvas.size, 0)
    d = ImageDraw.Draw(mark)
    cx = big / 2
    d.rounded_rectangle((cx - 0.055 * big, 0.33 * big, cx + 0.055 * big, 0.66 * big),
                        radius=0.05 * big, fill=255)
    d.ellipse((cx - 0.065 * big, 0.72 * big, cx + 0.065 * big, 0.85 * big), fill=255)
    _paint(canvas, (60, 40, 0), mark)
    return canvas.resize((size, size), Image.BOX)


def draw_warning():
    k = 4
    W, H = WARN_W * k, WARN_H * k
    canvas = Image.new("RGBA", (W, H), (0, 0, 0, 0))
    shape = Image.new("L", (W, H), 0)
    ImageDraw.Draw(shape).rounded_rectangle((0, 0, W - 1, H - 1), radius=WARN_RADIUS * k, fill=255)

    # Body: a soft light panel; title band: the brand's teal gradient.
    _paint(canvas, _vertical_gradient((W, H), (250, 252, 252), (226, 236, 235), BAND_H * k, H), shape)
    band = Image.new("L", (W, H), 0)
    ImageDraw.Draw(band).rectangle((0, 0, W, BAND_H * k), fill=255)
    small = Image.new("RGB", (WARN_W, BAND_H))
    px = small.load()
    for y in range(BAND_H):
        for x in range(WARN_W):
            t = min(1.0, max(0.0, 0.85 * x / WARN_W + 0.15 * (1 - y / BAND_H)))
            px[x, y] = tuple(round(a + (b - a) * t) for a, b in zip((0, 78, 72), (0, 122, 110)))
    band_img = Image.new("RGB", (W, H), (0, 0, 0))
    band_img.paste(small.resize((W, BAND_H * k), Image.BILINEAR), (0, 0))
    _paint(canvas, band_img, ImageChops.multiply(band, shape))
    # A thin darker line under the band and a frame round the whole window.
    line = Image.new("L", (W, H), 0)
    ImageDraw.Draw(line).rectangle((0, BAND_H * k, W, BAND_H * k + k), fill=255)
    _paint(canvas, TEAL_EDGE, ImageChops.multiply(line, shape))
    frame = Image.new("L", (W, H), 0)
    ImageDraw.Draw(frame).rounded_rectangle((0, 0, W - 1, H - 1), radius=WARN_RADIUS * k,
                                            outline=255, width=2 * k)
    _paint(canvas, TEAL_EDGE, ImageChops.multiply(frame, shape))

    # The small shield in the title band.
    box = (14 * k, 10 * k, 44 * k, 47 * k)
    pts = shield_outline(box, 0.07, 3 * k)
    _paint(canvas, WHITE, _mask_polygon((W, H), pts))
    inner = shield_outline((box[0] + 3 * k, box[1] + 3 * k, box[2] - 3 * k, box[3] - 4 * k), 0.07, 2 * k)
    _paint(canvas, TEAL, _mask_polygon((W, H), inner))
    img = canvas.resize((WARN_W, WARN_H), Image.BOX)

    # The warning sign beside the explanation.
    img.alpha_composite(_warning_triangle(84), (34, 84))
    alpha = img.getchannel("A")
    out = Image.new("RGB", img.size, KEY)
    # Edge pixels that are mostly inside belong to the window, the rest are holes.
    solid = alpha.point(lambda v: 255 if v >= 128 else 0)
    rgb = Image.new("RGB", img.size, (0, 78, 72))
    rgb.paste(img.convert("RGB"), (0, 0), alpha)
    out.paste(rgb, (0, 0), solid)

    d = ImageDraw.Draw(out)
    title_font = _font(FONT_BOLD, 20)
    _shadowed_text(out, (56, 15), WARN_TITLE, title_font, WHITE)
    text_x, right = 140, WARN_W - 22
    head_font = _fit_font(FONT_BOLD, WARN_HEADLINE, right - text_x, 16, 12)
    body_font = _fit_font(FONT_REGULAR, max(WARN_LINES, key=len), right - text_x, 14, 10)
    d.text((text_x, 80), WARN_HEADLINE, font=head_font, fill=(150, 30, 24))
    y = 80 + head_font.getbbox(WARN_HEADLINE)[3] + 10
    for text in WARN_LINES:
        d.text((text_x, y), text, font=body_font, fill=(46, 52, 54))
        y += body_font.getbbox("Ag")[3] + 5
    y += 6
    d.text((text_x, y), WARN_QUESTION, font=_font(FONT_BOLD, 14), fill=TEAL_DARK)
    bottom = y + _font(FONT_BOLD, 14).getbbox(WARN_QUESTION)[3]
    if bottom > YES_BUTTON[1] - 8:
        sys.exit("draw_images.py: warning text runs into the buttons (bottom %d)" % bottom)

    # A quiet separator above the check box row, and the check box's label.
    d.line((22, 248, WARN_W - 22, 248), fill=(200, 214, 212), width=1)
    label_font = _font(FONT_REGULAR, 12)
    lb = d.textbbox((0, 0), WARN_CHECK_LABEL, font=label_font)
    lx = CHECK_BOX[0] + 20
    ly = CHECK_BOX[1] + 8 - (lb[1] + lb[3]) // 2
    d.text((lx, ly), WARN_CHECK_LABEL, font=label_font, fill=(70, 76, 78))
    if lx + lb[2] > WARN_W - 12:
        sys.exit("draw_images.py: the check box label does not fit")

    # Nothing but the holes may carry the key colour.
    pxo = out.load()
    for yy in range(WARN_H):
        for xx in range(WARN_W):
            if solid.getpixel((xx, yy)) and pxo[xx, yy] == KEY:
                pxo[xx, yy] = _not_key(KEY)
    return out


def draw_close_button(warning, hover):
    """The close button over the warning's top-right corner, 55 x 55."""
    k = 8
    base = warning.crop((CLOSE_X, 0, CLOSE_X + CLOSE_SIZE, CLOSE_SIZE))
    big = base.resize((CLOSE_SIZE * k, CLOSE_SIZE * k), Image.NEAREST).convert("RGBA")
    c = CLOSE_SIZE * k / 2
    if hover:
        disc = Image.new("L", big.size, 0)
        r = 17 * k
        ImageDraw.Draw(disc).ellipse((c - r, c - r, c + r, c + r), fill=255)
        _paint(big, _vertical_gradient(big.size, (240, 80, 68), (200, 32, 32),
                                       round(c - r), round(c + r)), disc)
    cross = Image.new("L", big.size, 0)
    d = ImageDraw.Draw(cross)
    a = 7.5 * k
    width = (3.2 if hover else 2.6) * k
    _stroke(d, [(c - a, c - a), (c + a, c + a)], width, 255)
    _stroke(d, [(c - a, c + a), (c + a, c - a)], width, 255)
    _paint(big, WHITE, cross if hover else cross.point(lambda v: v * 225 // 255))
    out = big.resize((CLOSE_SIZE, CLOSE_SIZE), Image.BOX).convert("RGB")
    # The corner outside the window stays a hole, as in the warning itself.
    src, dst = base.load(), out.load()
    for y in range(CLOSE_SIZE):
        for x in range(CLOSE_SIZE):
            if src[x, y] == KEY:
                dst[x, y] = KEY
            elif dst[x, y] == KEY:
                dst[x, y] = _not_key(KEY)
    return out


# --------------------------------------------------------------------------

def main(argv):
    if len(argv) != 2:
        sys.exit("usage: python3 draw_images.py <output folder>")
    out = argv[1]
    os.makedirs(out, exist_ok=True)
    # Check the font first, so a missing package fails before anything is written.
    _font(FONT_BOLD, 10)
    _font(FONT_REGULAR, 10)
    write_ico(os.path.join(out, "connected.ico"), [draw_connected(s) for s in ICON_SIZES])
    write_ico(os.path.join(out, "disconnected.ico"), [draw_disconnected(s) for s in ICON_SIZES])
    write_bmp(os.path.join(out, "banner.bmp"), draw_banner())
    warning = draw_warning()
    write_bmp(os.path.join(out, "warning.bmp"), warning)
    write_bmp(os.path.join(out, "close.bmp"), draw_close_button(warning, hover=False))
    write_bmp(os.path.join(out, "close_hover.bmp"), draw_close_button(warning, hover=True))


if __name__ == "__main__":
    main(sys.argv)
