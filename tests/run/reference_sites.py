#!/usr/bin/env python3
"""Hand-made sites that refer to their images in every form real exports use, optimized with
tolvane-cli and compared in headless Chromium with the originals.

Usage:
    python3 tests/run/reference_sites.py TOLVANE_CLI SOURCE_DIR [--keep FOLDER] [--only NAME]

For each site: a copy is optimized with `tolvane-cli optimize --yes`; then
  - tests/browser/compare_sites.py must find every page identical, with the same image bytes
    and no image that fails to load;
  - the copies the site expects to go are gone, those it expects to stay are there;
  - `tolvane-cli check` lists the same references pointing at nothing before and after.
Exit status 0 when every site passes, 1 when one fails, 77 when Chromium is missing.
"""

import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

from plan_check import plan_problems, planned


def png(key):
    """A small solid PNG whose colour follows key, so a wrong image shows on a screenshot."""
    h = zlib.crc32(key.encode("utf-8"))
    colour = bytes([(h >> 16) & 255, (h >> 8) & 255, h & 255])
    width = height = 24
    raw = b"".join(b"\x00" + colour * width for _ in range(height))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def page(body, head=""):
    return ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">" + head + "</head>\n<body>\n"
            + body + "\n</body></html>\n")


# Each site: files (path -> text or ("image", key)) and the copies that must stay in place
# although identical copies exist; a run removes every other copy from where it was.
SITES = {}


def site(name, files, stays=()):
    gone = [p for p, content in files.items() if isinstance(content, tuple) and p not in stays]
    SITES[name] = {"files": files, "gone": gone, "stays": list(stays)}


def images(paths, key):
    return {p: ("image", key) for p in paths}


site("encoded-names", {
    "index.html": page(
        '<img src="A_files/Crayon_BK_v4%20%2801%29.png">\n'
        '<img src="A_files/Edgar&#32;Crest.jpg">\n'
        "<img src='A_files/Edgar%27s.png'> <img src=\"A_files/Edgar's.png\">\n"
        '<img src="A_files/Tom%20&amp;%20Jerry.gif">\n'
        '<img src="26_GitHub%E2%80%99s_Page_files/Caf%c3%a9.png">\n'
        '<img src="26_GitHub&rsquo;s_Page_files/Caf&eacute;.png">\n'),
    "B.html": page(
        '<img src="B_files/Crayon_BK_v4 (01).png"><img src="B_files/Edgar Crest.jpg">'
        "<img src=\"B_files/Edgar's.png\"><img src=\"B_files/Tom &amp; Jerry.gif\">"
        '<img src="B_files/Caf\u00e9.png">'),
    **images(["A_files/Crayon_BK_v4 (01).png", "B_files/Crayon_BK_v4 (01).png"], "crayon"),
    **images(["A_files/Edgar Crest.jpg", "B_files/Edgar Crest.jpg"], "crest"),
    **images(["A_files/Edgar's.png", "B_files/Edgar's.png"], "edgar"),
    **images(["A_files/Tom & Jerry.gif", "B_files/Tom & Jerry.gif"], "tom"),
    **images(["26_GitHub\u2019s_Page_files/Caf\u00e9.png", "B_files/Caf\u00e9.png"], "cafe"),
})

site("one-folder-three-spellings", {
    "index.html": page('<img src="Q&A_files/x.png"><img src="Q&amp;A_files/x.png">'
                       '<img src="Q%26A_files/x.png"><img src="R&amp;D_files/x.png">'),
    **images(["Q&A_files/x.png", "R&D_files/x.png"], "x"),
})

site("scripts-and-stylesheets", {
    "index.html": page('<a href="A.html">A</a>'),
    "A.html": page('<img id="i1"><div class="bg"></div>'
                   '<script>document.getElementById("i1").src = "A_files\\/a.png";</script>'
                   '<img id="i2"><script src="A_files/A.js"></script>',
                   head='<link rel="stylesheet" href="A_files/A.css">'),
    "A_files/A.js": 'document.getElementById("i2").src = "A_files/b.png";\n',
    "A_files/A.css": ".bg { width: 24px; height: 24px; background: url(backgroundimage_1.png) }\n",
    "B.html": page('<img src="B_files/a.png"><img src="B_files/b.png">'
                   '<div style="width:24px;height:24px;background-image:url(\'B_files/backgroundimage_1.png\')"></div>'),
    **images(["A_files/a.png", "B_files/a.png"], "a"),
    **images(["A_files/b.png", "B_files/b.png"], "b"),
    **images(["A_files/backgroundimage_1.png", "B_files/backgroundimage_1.png"], "bg"),
})

site("page-folder-of-another-name", {
    "index.html": page('<img id="w"><img src="Welcome_files/w.png">'
                       '<img src="Other_files/o.png"><script src="Welcome_files/Welcome.js"></script>'),
    "Welcome_files/Welcome.js": "document.getElementById('w').src = 'Welcome_files\\/w.png';\n",
    "Other.html": page('<img src="Other_files/o.png"><img src="Welcome_files/w.png">'),
    "about/index.html": page('<img src="Welcome_files/w.png"><img src="../Other_files/o.png">'),
    **images(["Welcome_files/w.png", "about/Welcome_files/w.png"], "w"),
    **images(["Other_files/o.png", "about/Other_files/o.png"], "o"),
})

site("blog-and-nested-pages", {
    "index.html": page('<img src="Top_files/x.png"><a href="Blog/Entries/E.html">E</a>'),
    "a/b/c/P.html": page('<img src="P_files/x.png"><img src="../../../Top_files/x.png">'
                         '<img id="s"><script src="P_files/P.js"></script>'),
    "a/b/c/P_files/P.js": 'document.getElementById("s").src = "P_files\\/x.png";\n',
    "Blog/Entries/E.html": page('<img src="E_files/x.png">'),
    "Blog/Entries/E.xml": '<?xml version="1.0"?>\n<entry><img src="E_files/x.png"/></entry>\n',
    "Blog/feed.xml": ('<?xml version="1.0"?>\n<rss><channel><item><description>'
                      '&lt;img src=&quot;Entries/E_files/x.png&quot;&gt;</description>'
                      '<enclosure url="Entries/E_files/x.png" type="image/png"/></item></channel></rss>\n'),
    **images(["Top_files/x.png", "a/b/c/P_files/x.png", "Blog/Entries/E_files/x.png"], "x"),
})

site("base-href", {
    "index.html": page('<img src="A_files/a.png">', head='<base href="sub/">'),
    "B.html": page('<img src="B_files/a.png">'),
    **images(["sub/A_files/a.png", "B_files/a.png"], "a"),
})

site("guard", {
    "index.html": page('<img src="A_files/a.png"><img src="B_files/b.png"><img src="C_files/c.png">'),
    # A name a script puts together at run time: every copy of a.png stays.
    "A.html": page('<img id="a"><script>var dir = "A_files/"; '
                   'document.getElementById("a").src = dir + "a.png";</script>'),
    "A2.html": page('<img src="A2_files/a.png">'),
    # A page that is not UTF-8 shows a copy of b.png: it stays, the others go.
    "B.html": "<html><head><meta charset=\"iso-8859-1\"></head><body>caf\xe9 "
              "<img src=\"B_files/b.png\"></body></html>\n",
    "B2.html": page('<img src="B2_files/b.png">'),
    "B3.html": page('<img src="B3_files/b.png">'),
    # A read-only page keeps its copy of c.png.
    "C.html": page('<img src="C_files/c.png">'),
    "C2.html": page('<img src="C2_files/c.png">'),
    "C3.html": page('<img src="C3_files/c.png">'),
    **images(["A_files/a.png", "A2_files/a.png"], "a"),
    **images(["B_files/b.png", "B2_files/b.png", "B3_files/b.png"], "b"),
    **images(["C_files/c.png", "C2_files/c.png", "C3_files/c.png"], "c"),
}, stays=["A_files/a.png", "A2_files/a.png", "B_files/b.png", "C_files/c.png"])
READ_ONLY = {"guard": ["C.html"]}
LATIN1 = {"guard": ["B.html"]}


def write_site(name, root):
    shape = SITES[name]
    for relative, content in shape["files"].items():
        path = os.path.join(root, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if isinstance(content, tuple):
            data = png(content[1])
        elif relative in LATIN1.get(name, []):
            data = content.encode("latin-1")
        else:
            data = content.encode("utf-8")
        with open(path, "wb") as f:
            f.write(data)
    for relative in READ_ONLY.get(name, []):
        os.chmod(os.path.join(root, relative), 0o444)


def broken_section(output):
    lines = output.splitlines()
    if "No reference points at nothing." in lines:
        return []
    start = next(i for i, line in enumerate(lines) if line.startswith("References that point at nothing"))
    section = []
    for line in lines[start + 1:]:
        if not line.startswith("  "):
            break
        section.append(line)
    return section


def check_site(name, cli, compare, work):
    before = os.path.join(work, name, "before")
    after = os.path.join(work, name, "after")
    write_site(name, before)
    shutil.copytree(before, after, symlinks=True)
    problems = []
    checked_before = subprocess.run([cli, "check", after], capture_output=True, text=True)
    plan = planned(cli, after)
    run = subprocess.run([cli, "optimize", "--yes", after], capture_output=True, text=True)
    problems += plan_problems(plan, after)
    expect_status = 1 if SITES[name]["stays"] else 0
    if run.returncode != expect_status:
        problems.append("optimize exited with %d, not %d:\n%s%s" % (run.returncode, expect_status, run.stdout, run.stderr))
    for relative in SITES[name]["gone"]:
        if os.path.exists(os.path.join(after, relative)):
            problems.append("%s was not removed" % relative)
    for relative in SITES[name]["stays"]:
        if not os.path.exists(os.path.join(after, relative)):
            problems.append("%s was removed" % relative)
    checked_after = subprocess.run([cli, "check", after], capture_output=True, text=True)
    if broken_section(checked_before.stdout) != broken_section(checked_after.stdout):
        problems.append("references pointing at nothing changed:\nbefore:\n%s\nafter:\n%s" % (
            checked_before.stdout, checked_after.stdout))
    compared = subprocess.run([sys.executable, compare, before, after], capture_output=True, text=True)
    if compared.returncode != 0:
        problems.append("the browser sees a difference:\n" + compared.stdout + compared.stderr)
    return problems, run.stdout


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cli")
    parser.add_argument("source")
    parser.add_argument("--keep")
    parser.add_argument("--only")
    args = parser.parse_args()
    if not shutil.which("chromium") and not os.path.exists("/usr/bin/chromium"):
        print("SKIPPED: chromium is not installed, no browser comparison")
        return 77
    compare = os.path.join(args.source, "tests", "browser", "compare_sites.py")
    work = args.keep or tempfile.mkdtemp(prefix="tolvane-reference-sites-")
    # Each run's record for undo stays in the test's own folder.
    os.environ["XDG_DATA_HOME"] = os.path.join(work, "data")
    failed = 0
    try:
        for name in SITES:
            if args.only and name != args.only:
                continue
            problems, log = check_site(name, args.cli, compare, work)
            if problems:
                failed += 1
                print("FAIL %s" % name)
                for problem in problems:
                    print("  " + problem.replace("\n", "\n  "))
                print("  run log:\n    " + log.replace("\n", "\n    "))
            else:
                print("ok   %s" % name)
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
