#!/usr/bin/env python3
"""Writes examples/sample-site/, a small exported website with duplicate images.

Usage:
    python3 examples/make-sample-site.py [OUTPUT_FOLDER]

OUTPUT_FOLDER defaults to examples/sample-site beside this script; it is replaced as a whole.
Only the Python standard library is used; the images are real PNG and GIF files, drawn here.

What the site holds (the duplicates Tolvane should find are marked):
    index.html                         links to every page, shows assets/welcome.png
    assets/welcome.png, assets/divider.gif  (the latter a copy outside any page folder)
    About.html  Gallery.html  Contact.html  Travel.html  Recipes.html
    Blog/Entry1.html  Blog/Entry2.html (pages in a subfolder)
    X_files/       each page's folder: its images and its script X_files/X.js, which sets
                   one image's source from the escaped form "X_files\\/name"
    logo.png       three identical copies (About, Gallery, Contact)
    divider.gif    identical in Travel, Recipes and assets/
    Photo.PNG      identical in Gallery and Travel (upper-case extension)
    shapeimage_1.png  identical in Blog/Entry1 and Blog/Entry2 (set by their scripts),
                   different in Recipes
    shapeimage_2.png  same name, different content in About and Gallery
    banner.png     a different picture on every page that has one
    nav_link_1.png, nav_rollover_1.png  identical on every page, never touched by Tolvane
"""

import os
import shutil
import struct
import sys
import zlib

# ---------------------------------------------------------------- image writers


def png_bytes(width, height, pixel):
    """An 8-bit RGB PNG; pixel(x, y) gives (r, g, b)."""
    rows = bytearray()
    for y in range(height):
        rows.append(0)  # filter: none
        for x in range(width):
            rows.extend(pixel(x, y))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


def gif_bytes(width, height, pixel):
    """A GIF89a with a global palette of the picture's colours (at most 64).

    The LZW stream sends every pixel as a literal code and clears the table before it
    would grow a bit wider: valid for every decoder, and simple."""
    colours = []
    indices = []
    for y in range(height):
        for x in range(width):
            c = tuple(pixel(x, y))
            if c not in colours:
                colours.append(c)
            indices.append(colours.index(c))
    if len(colours) > 64:
        raise ValueError("too many colours for this GIF writer")
    min_code = 6
    palette = b"".join(bytes(c) for c in colours) + b"\0\0\0" * (64 - len(colours))
    clear, end = 1 << min_code, (1 << min_code) + 1
    width_bits = min_code + 1
    codes = []
    for i, index in enumerate(indices):
        if i % ((1 << min_code) - 2) == 0:
            codes.append(clear)
        codes.append(index)
    codes.append(end)
    bits, nbits, data = 0, 0, bytearray()
    for code in codes:
        bits |= code << nbits
        nbits += width_bits
        while nbits >= 8:
            data.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8
    if nbits:
        data.append(bits & 0xFF)
    blocks = bytearray()
    for start in range(0, len(data), 255):
        part = data[start:start + 255]
        blocks.append(len(part))
        blocks.extend(part)
    blocks.append(0)
    screen = struct.pack("<HHBBB", width, height, 0x80 | 0x70 | (min_code - 1), 0, 0)
    image = b"," + struct.pack("<HHHHB", 0, 0, width, height, 0)
    return b"GIF89a" + screen + palette + image + bytes([min_code]) + bytes(blocks) + b";"


# ---------------------------------------------------------------- pictures


def gradient(c1, c2):
    def pixel(x, y):
        t = x / 95.0
        return [int(a + (b - a) * t) for a, b in zip(c1, c2)]
    return pixel


def circle(fg, bg, size):
    r = size / 2 - 3
    def pixel(x, y):
        d = (x - size / 2 + 0.5) ** 2 + (y - size / 2 + 0.5) ** 2
        return fg if d <= r * r else bg
    return pixel


def stripes(c1, c2, width, diagonal):
    def pixel(x, y):
        k = (x + y) if diagonal else x
        return c1 if (k // width) % 2 == 0 else c2
    return pixel


def checker(c1, c2, cell):
    return lambda x, y: c1 if ((x // cell) + (y // cell)) % 2 == 0 else c2


def triangle(fg, bg, w, h):
    def pixel(x, y):
        half = (y + 1) * w / (2.0 * h)
        return fg if abs(x - w / 2) <= half else bg
    return pixel


def landscape(w, h):
    def pixel(x, y):
        if (x - w * 0.75) ** 2 + (y - h * 0.25) ** 2 < (h * 0.12) ** 2:
            return (255, 220, 40)  # sun
        hill = h * 0.6 + 8 * ((x / w - 0.4) ** 2) * h
        if y > hill:
            return (40, 150, 60)
        return (120, 180, 240)
    return pixel


def envelope(w, h):
    def pixel(x, y):
        if x in (0, w - 1) or y in (0, h - 1):
            return (60, 60, 60)
        if abs(y - x * (h / w)) < 1.5 or abs(y - (w - 1 - x) * (h / w)) < 1.5:
            if y < h / 2 + 2:
                return (60, 60, 60)
        return (250, 245, 225)
    return pixel


def dots(fg, bg, w):
    return lambda x, y: fg if (x % 6 in (1, 2) and y in (3, 4)) else bg


def nav_button(fill, edge):
    return lambda x, y: edge if x in (0, 79) or y in (0, 19) else (
        (255, 255, 255) if 30 <= x <= 49 and 8 <= y <= 11 else fill)


# ---------------------------------------------------------------- the site

NAV_LINK = png_bytes(80, 20, nav_button((70, 110, 170), (30, 50, 90)))
NAV_ROLLOVER = png_bytes(80, 20, nav_button((230, 140, 40), (120, 60, 10)))
LOGO = png_bytes(48, 48, circle((30, 160, 70), (255, 255, 255), 48))
DIVIDER = gif_bytes(96, 8, dots((150, 40, 40), (255, 250, 240), 96))
PHOTO = png_bytes(80, 60, landscape(80, 60))
BLOG_SHAPE = png_bytes(64, 48, checker((200, 40, 160), (250, 230, 250), 8))

# Each page: title, text, [(name, bytes, width, height)], name the script sets.
PAGES = {
    "About": ("About us", "We are a small family that likes to travel, cook and take pictures.",
              [("banner.png", png_bytes(96, 32, gradient((250, 150, 30), (250, 230, 120))), 96, 32),
               ("logo.png", LOGO, 48, 48),
               ("shapeimage_2.png", png_bytes(64, 48, stripes((220, 30, 30), (255, 220, 220), 6, True)), 64, 48)],
              "banner.png"),
    "Gallery": ("Gallery", "A few of our favourite pictures from last summer.",
                [("banner.png", png_bytes(96, 32, gradient((110, 40, 160), (220, 180, 250))), 96, 32),
                 ("logo.png", LOGO, 48, 48),
                 ("shapeimage_2.png", png_bytes(64, 48, stripes((30, 60, 220), (210, 225, 255), 5, False)), 64, 48),
                 ("Photo.PNG", PHOTO, 80, 60)],
                "banner.png"),
    "Contact": ("Contact", "Write to us; we answer every letter, slowly.",
                [("banner.png", png_bytes(96, 32, gradient((20, 130, 130), (170, 240, 230))), 96, 32),
                 ("logo.png", LOGO, 48, 48),
                 ("envelope.gif", gif_bytes(48, 32, envelope(48, 32)), 48, 32)],
                "banner.png"),
    "Travel": ("Travel", "Maps and views from the roads we took.",
               [("divider.gif", DIVIDER, 96, 8),
                ("Photo.PNG", PHOTO, 80, 60),
                ("map.png", png_bytes(64, 64, checker((90, 90, 90), (240, 240, 200), 16)), 64, 64)],
               "divider.gif"),
    "Recipes": ("Recipes", "Bread, soup and a cake that never fails.",
                [("banner.png", png_bytes(96, 32, gradient((120, 70, 30), (240, 200, 150))), 96, 32),
                 ("divider.gif", DIVIDER, 96, 8),
                 ("shapeimage_1.png", png_bytes(48, 48, triangle((240, 200, 0), (40, 40, 80), 48, 48)), 48, 48)],
                "banner.png"),
    "Blog/Entry1": ("First entry", "The blog begins: a checkered flag for a start.",
                    [("shapeimage_1.png", BLOG_SHAPE, 64, 48),
                     ("photo1.png", png_bytes(32, 32, circle((250, 90, 20), (30, 30, 30), 32)), 32, 32)],
                    "shapeimage_1.png"),
    "Blog/Entry2": ("Second entry", "Still here, with the same flag and a new picture.",
                    [("shapeimage_1.png", BLOG_SHAPE, 64, 48),
                     ("photo2.png", png_bytes(32, 32, stripes((0, 170, 200), (255, 255, 255), 4, False)), 32, 32)],
                    "shapeimage_1.png"),
}

STYLE = ("body { font-family: sans-serif; background: #fdfbf7; color: #222; margin: 24px; }\n"
         "h1 { font-size: 22px; } img { margin: 4px; vertical-align: middle; }\n")


def page_html(path, title, text, images, scripted):
    folder, name = os.path.split(path)
    up = "../" * len(folder.split("/")) if folder else ""
    files = name + "_files/"
    lines = [
        "<!DOCTYPE html>", "<html>", "<head>", '<meta charset="utf-8">',
        "<title>%s</title>" % title, "<style>\n%s</style>" % STYLE,
        '<script type="text/javascript" src="%s%s.js"></script>' % (files, name),
        "</head>", "<body>",
        '<a href="%sindex.html"><img src="%snav_link_1.png" '
        "onmouseover=\"this.src='%snav_rollover_1.png'\" "
        "onmouseout=\"this.src='%snav_link_1.png'\" width=\"80\" height=\"20\" alt=\"Home\"></a>"
        % (up, files, files, files),
        "<h1>%s</h1>" % title, "<p>%s</p>" % text,
    ]
    for image, _, w, h in images:
        if image == scripted:
            lines.append('<img id="scripted" width="%d" height="%d" alt="">' % (w, h))
        else:
            lines.append('<img src="%s%s" width="%d" height="%d" alt="">' % (files, image, w, h))
    lines += ["<p>Last updated in spring.</p>", "</body>", "</html>", ""]
    return "\n".join(lines)


def page_script(name, scripted):
    return ("// Sets the page's script-driven picture once the page has loaded.\n"
            "function pageLoaded() {\n"
            "    document.getElementById('scripted').src = \"%s_files\\/%s\";\n"
            "}\n"
            "window.addEventListener('load', pageLoaded);\n" % (name, scripted))


def index_html():
    links = "\n".join('<li><a href="%s.html">%s</a></li>' % (path, PAGES[path][0])
                      for path in PAGES)
    return ("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>Home</title>\n"
            "<style>\n%s</style>\n</head>\n<body>\n<h1>Welcome</h1>\n"
            '<img src="assets/welcome.png" width="96" height="64" alt="Welcome">\n'
            "<ul>\n%s\n</ul>\n</body>\n</html>\n" % (STYLE, links))


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(data if isinstance(data, bytes) else data.encode("utf-8"))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    site = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else os.path.join(here, "sample-site")
    if os.path.exists(site):
        shutil.rmtree(site)
    write(os.path.join(site, "index.html"), index_html())
    write(os.path.join(site, "assets", "welcome.png"),
          png_bytes(96, 64, lambda x, y: (40 + x * 2, 90 + y, 200 - x)))
    write(os.path.join(site, "assets", "divider.gif"), DIVIDER)
    for path, (title, text, images, scripted) in PAGES.items():
        name = os.path.basename(path)
        folder = os.path.join(site, path + "_files")
        write(os.path.join(site, path + ".html"), page_html(path, title, text, images, scripted))
        write(os.path.join(folder, name + ".js"), page_script(name, scripted))
        write(os.path.join(folder, "nav_link_1.png"), NAV_LINK)
        write(os.path.join(folder, "nav_rollover_1.png"), NAV_ROLLOVER)
        for image, data, _, _ in images:
            write(os.path.join(folder, image), data)
    print("Wrote", site)


if __name__ == "__main__":
    main()
