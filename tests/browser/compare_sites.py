#!/usr/bin/env python3
"""Renders two versions of a website in headless Chromium and tells whether they look the same.

Usage:
    python3 tests/browser/compare_sites.py BEFORE AFTER [--keep FOLDER] [--timeout SECONDS]
                                           [--budget MS] [--chromium PATH] [--jobs N]

Both sites are rendered page by page with render_site.py (beside this script; neither site is
changed). The comparison fails when
  - a page of BEFORE is missing from AFTER (or AFTER has a page BEFORE had not),
  - a page's screenshot differs (compared by decoded pixels),
  - a page shows a different number of images,
  - an image that loaded before is broken after,
  - an image loads a file with other bytes than before.
A summary is printed; with --keep the screenshots and reports stay in FOLDER/before and
FOLDER/after.

Exit status: 0 when the sites render the same, 1 when they differ, 2 for usage errors or a
missing Chromium, 3 when Chromium failed on a page.
"""

import argparse
import os
import shutil
import struct
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import render_site  # noqa: E402


def png_pixels(path):
    """Decodes an 8-bit, non-interlaced RGB or RGBA PNG to (width, height, channels, rows)."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("%s is not a PNG file" % path)
    pos, idat, header = 8, bytearray(), None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            break
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    channels = {2: 3, 6: 4, 0: 1, 4: 2}.get(colour)
    if depth != 8 or interlace != 0 or channels is None:
        raise ValueError("%s: unsupported PNG layout" % path)
    raw = zlib.decompress(bytes(idat))
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                predictor = left if pa <= pb and pa <= pc else (up if pb <= pc else corner)
                line[i] = (line[i] + predictor) & 0xFF
        rows.append(bytes(line))
        previous = line
    return width, height, channels, rows


def screenshot_difference(before, after):
    """None when the two screenshots show the same pixels, else a description."""
    with open(before, "rb") as a, open(after, "rb") as b:
        if a.read() == b.read():
            return None
    w1, h1, c1, rows1 = png_pixels(before)
    w2, h2, c2, rows2 = png_pixels(after)
    if (w1, h1, c1) != (w2, h2, c2):
        return "screenshot size %dx%d became %dx%d" % (w1, h1, w2, h2)
    changed = 0
    for r1, r2 in zip(rows1, rows2):
        if r1 != r2:
            changed += sum(1 for x in range(w1) if r1[x * c1:(x + 1) * c1] != r2[x * c1:(x + 1) * c1])
    return ("screenshot differs in %d pixels" % changed) if changed else None


def compare_reports(before, after, before_out, after_out):
    """Returns a list of (page, problem) for every difference that matters."""
    problems = []
    pages_before, pages_after = before["pages"], after["pages"]
    for page in sorted(set(pages_before) - set(pages_after)):
        problems.append((page, "page missing after"))
    for page in sorted(set(pages_after) - set(pages_before)):
        problems.append((page, "page only after"))
    for page in sorted(set(pages_before) & set(pages_after)):
        b, a = pages_before[page], pages_after[page]
        difference = screenshot_difference(os.path.join(before_out, b["screenshot"]),
                                           os.path.join(after_out, a["screenshot"]))
        if difference:
            problems.append((page, difference))
        if len(b["images"]) != len(a["images"]):
            problems.append((page, "%d images before, %d after" % (len(b["images"]),
                                                                   len(a["images"]))))
            continue
        for i, (ib, ia) in enumerate(zip(b["images"], a["images"])):
            label = "image %d (%s, after: %s)" % (i + 1, ib["src"] or "no source",
                                                   ia["src"] or "no source")
            if ia["broken"] and not ib["broken"]:
                problems.append((page, label + " is broken after, loaded before"))
            elif ib["md5"] and ia["md5"] and ib["md5"] != ia["md5"]:
                problems.append((page, label + " loads other bytes after"))
    return problems


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("before", help="the site as it was")
    parser.add_argument("after", help="the site as it is now")
    parser.add_argument("--keep", help="keep screenshots and reports in this folder")
    parser.add_argument("--timeout", type=float, default=60, help="seconds per Chromium run")
    parser.add_argument("--budget", type=int, default=5000,
                        help="virtual milliseconds a page gets to load and run its scripts")
    parser.add_argument("--chromium", help="Chromium executable")
    parser.add_argument("--jobs", type=int, default=2, help="Chromium instances at once")
    args = parser.parse_args(argv)

    work = args.keep or tempfile.mkdtemp(prefix="tolvane-compare-")
    before_out, after_out = os.path.join(work, "before"), os.path.join(work, "after")
    for folder in (before_out, after_out):
        shutil.rmtree(folder, ignore_errors=True)
    try:
        try:
            print("Rendering %s" % args.before)
            before = render_site.render_site(args.before, before_out, args.chromium,
                                             args.timeout, args.budget, jobs=args.jobs)
            print("Rendering %s" % args.after)
            after = render_site.render_site(args.after, after_out, args.chromium,
                                            args.timeout, args.budget, jobs=args.jobs)
        except render_site.RenderError as e:
            print("compare_sites: %s" % e, file=sys.stderr)
            return 2 if isinstance(e, render_site.SetupError) else 3
        problems = compare_reports(before, after, before_out, after_out)
        pages = len(set(before["pages"]) | set(after["pages"]))
        if problems:
            print("\nDIFFERENT: %d problems on %d of %d pages" % (
                len(problems), len({p for p, _ in problems}), pages))
            for page, problem in problems:
                print("  %s: %s" % (page, problem))
            if args.keep:
                print("Screenshots and reports are in %s" % work)
            return 1
        print("\nSAME: %d pages render identically, every image that loaded before loads the "
              "same bytes after" % pages)
        return 0
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
