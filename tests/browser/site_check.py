#!/usr/bin/env python3
"""Sites optimized with tolvane-cli, checked as a reader would see them.

Usage: python3 tests/browser/site_check.py TOLVANE_CLI SOURCE_DIR [--keep FOLDER] [--only NAME]

The sites: hand-made ones that refer to their images in every form real exports use, generated
ones whose names need encoding with pages nested several levels deep, and the sample site. For
each, a copy is optimized with `optimize --yes`; then
  - every copy had one fate in `scan --json` (kept, removed or left in place), and the site
    after the run is what that plan said;
  - the copies a hand-made site expects to go are gone, those it expects to stay are there,
    and `check` lists the same references pointing at nothing before and after;
  - every marked reference of a generated site, decoded here with Python's own HTML and URL
    decoders, leads to the bytes it led to before, and a new scan finds no duplicate;
  - in headless Chromium every page looks the same before and after: identical screenshots,
    each with a strip that shows every image of the page again (those below the fold, and
    those that failed to load, framed).
Exit status 0 when all pass, 1 when one fails, 77 when the rest passed but Chromium is missing.
"""

import argparse, concurrent.futures, hashlib, html, json, os, random, re, shutil, struct, subprocess, sys
import tempfile, urllib.parse, urllib.request, zlib

CHROMIUM = os.environ.get("CHROMIUM") or shutil.which("chromium")


def png(key):
    """A small solid PNG whose colour follows key, so a wrong image shows on a screenshot."""
    h = zlib.crc32(key.encode("utf-8"))
    raw = b"".join(b"\x00" + bytes([(h >> 16) & 255, (h >> 8) & 255, h & 255]) * 24 for _ in range(24))
    chunk = lambda kind, body: (struct.pack(">I", len(body)) + kind + body
                                + struct.pack(">I", zlib.crc32(kind + body)))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 24, 24, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def page(body, head=""):
    return '<!DOCTYPE html>\n<html><head><meta charset="utf-8">%s</head>\n<body>\n%s\n</body></html>\n' % (head, body)


def images(paths, key):
    return {p: png(key) for p in paths}


# Hand-made sites: files (path -> text or bytes) and the copies that stay though identical
# copies exist; every other image that has a twin goes.
HAND = {
    "encoded-names": ({
        "index.html": page(
            '<img src="A_files/Crayon_BK_v4%20%2801%29.png">\n<img src="A_files/Edgar&#32;Crest.jpg">\n'
            "<img src='A_files/Edgar%27s.png'> <img src=\"A_files/Edgar's.png\">\n"
            '<img src="A_files/Tom%20&amp;%20Jerry.gif">\n<img src="26_GitHub%E2%80%99s_Page_files/Caf%c3%a9.png">\n'
            '<img src="26_GitHub&rsquo;s_Page_files/Caf&eacute;.png">\n'),
        "B.html": page('<img src="B_files/Crayon_BK_v4 (01).png"><img src="B_files/Edgar Crest.jpg">'
                       "<img src=\"B_files/Edgar's.png\"><img src=\"B_files/Tom &amp; Jerry.gif\">"
                       '<img src="B_files/Caf\u00e9.png">'),
        **images(["A_files/Crayon_BK_v4 (01).png", "B_files/Crayon_BK_v4 (01).png"], "crayon"),
        **images(["A_files/Edgar Crest.jpg", "B_files/Edgar Crest.jpg"], "crest"),
        **images(["A_files/Edgar's.png", "B_files/Edgar's.png"], "edgar"),
        **images(["A_files/Tom & Jerry.gif", "B_files/Tom & Jerry.gif"], "tom"),
        **images(["26_GitHub\u2019s_Page_files/Caf\u00e9.png", "B_files/Caf\u00e9.png"], "cafe")}, []),
    "one-folder-three-spellings": ({
        "index.html": page('<img src="Q&A_files/x.png"><img src="Q&amp;A_files/x.png">'
                           '<img src="Q%26A_files/x.png"><img src="R&amp;D_files/x.png">'),
        **images(["Q&A_files/x.png", "R&D_files/x.png"], "x")}, []),
    "scripts-and-stylesheets": ({
        "index.html": page('<a href="A.html">A</a>'),
        "A.html": page('<img id="i1"><div class="bg"></div><img id="i2"><script src="A_files/A.js"></script>'
                       '<script>document.getElementById("i1").src = "A_files\\/a.png";</script>',
                       head='<link rel="stylesheet" href="A_files/A.css">'),
        "A_files/A.js": 'document.getElementById("i2").src = "A_files/b.png";\n',
        "A_files/A.css": ".bg { width: 24px; height: 24px; background: url(backgroundimage_1.png) }\n",
        "B.html": page('<img src="B_files/a.png"><img src="B_files/b.png"><div style="width:24px;'
                       "height:24px;background-image:url('B_files/backgroundimage_1.png')\"></div>"),
        **images(["A_files/a.png", "B_files/a.png"], "a"), **images(["A_files/b.png", "B_files/b.png"], "b"),
        **images(["A_files/backgroundimage_1.png", "B_files/backgroundimage_1.png"], "bg")}, []),
    "page-folder-of-another-name": ({
        "index.html": page('<img id="w"><img src="Welcome_files/w.png"><img src="Other_files/o.png">'
                           '<script src="Welcome_files/Welcome.js"></script>'),
        "Welcome_files/Welcome.js": "document.getElementById('w').src = 'Welcome_files\\/w.png';\n",
        "Other.html": page('<img src="Other_files/o.png"><img src="Welcome_files/w.png">'),
        "about/index.html": page('<img src="Welcome_files/w.png"><img src="../Other_files/o.png">'),
        **images(["Welcome_files/w.png", "about/Welcome_files/w.png"], "w"),
        **images(["Other_files/o.png", "about/Other_files/o.png"], "o")}, []),
    "blog-and-nested-pages": ({
        "index.html": page('<img src="Top_files/x.png"><a href="Blog/Entries/E.html">E</a>'),
        "a/b/c/P.html": page('<img src="P_files/x.png"><img src="../../../Top_files/x.png">'
                             '<img id="s"><script src="P_files/P.js"></script>'),
        "a/b/c/P_files/P.js": 'document.getElementById("s").src = "P_files\\/x.png";\n',
        "Blog/Entries/E.html": page('<img src="E_files/x.png">'),
        "Blog/Entries/E.xml": '<?xml version="1.0"?>\n<entry><img src="E_files/x.png"/></entry>\n',
        "Blog/feed.xml": '<?xml version="1.0"?>\n<rss><channel><item><description>&lt;img src=&quot;'
                         'Entries/E_files/x.png&quot;&gt;</description><enclosure url="Entries/E_files/'
                         'x.png" type="image/png"/></item></channel></rss>\n',
        **images(["Top_files/x.png", "a/b/c/P_files/x.png", "Blog/Entries/E_files/x.png"], "x")}, []),
    "base-href": ({"index.html": page('<img src="A_files/a.png">', head='<base href="sub/">'),
                   "B.html": page('<img src="B_files/a.png">'), **images(["sub/A_files/a.png", "B_files/a.png"], "a")}, []),
    # Copies that must stay: a name a script puts together at run time; a page that is not
    # UTF-8 keeps its copy, the others go.
    "guard": ({
        "index.html": page('<img src="A_files/a.png"><img src="B_files/b.png">'),
        "A.html": page('<img id="a"><script>var dir = "A_files/"; document.getElementById("a").src = dir + "a.png";</script>'),
        "B.html": ('<html><head><meta charset="iso-8859-1"></head><body>caf\xe9 <img src="B_files/b.png"></body></html>\n'
                   ).encode("latin-1"),
        "A2.html": page('<img src="A2_files/a.png">'), "B2.html": page('<img src="B2_files/b.png">'),
        "B3.html": page('<img src="B3_files/b.png">'), **images(["A_files/a.png", "A2_files/a.png"], "a"),
        **images(["B_files/b.png", "B2_files/b.png", "B3_files/b.png"], "b")},
        ["A_files/a.png", "A2_files/a.png", "B_files/b.png"]),
}

# Generated sites: names that need encoding, written as some exporter might (any subset of
# the encodable characters percent-encoded, in either case; character references in pages);
# each reference beside a marker so that it can be found and decoded here on its own.
PIECES = ["photo", "Crayon (01)", "Tom & Jerry", "Edgar's", "Caf\u00e9", "GitHub\u2019s", "a b",
          "x+y", "100%", "no#1", "semi;colon", "eq=1", "\u65e5\u672c"]
FOLDERS = ["Blog", "\u00dcber uns", "Q&A", "2019", "a b", "Edgar's"]
MARKERS = [re.compile(r'<img data-ref="(r\d+)" src="([^"]*)">'), re.compile(r'ref\["(r\d+)"\] = "([^"]*)";'),
           re.compile(r'/\*(r\d+)\*/ \.c\w+ \{ background: url\("([^"]*)"\) \}')]


def encode_url(path, rng, markup):
    out = []
    lower = rng.random() < 0.3
    for ch in path:
        if ch != "/" and (ch in '%#?"<>\\' or (ord(ch) > 127 or ch in " ()&'+;=,") and rng.random() < 0.5):
            text = urllib.parse.quote(ch, safe="")
            out.append(text.lower() if lower else text)
        elif markup and ch == "&":
            out.append(rng.choice(["&amp;", "&#38;", "&#x26;", "&"]))
        elif markup and ch == "'":
            out.append(rng.choice(["&#39;", "&apos;", "'"]))
        else:
            out.append(ch)
    text = "".join(out)
    return "./" + text if not text.startswith("../") and rng.random() < 0.2 else text


def generated(seed):
    """Files and the marked references: key -> (file, folder it resolves from, bytes)."""
    rng = random.Random(seed)
    shared = ["%s %d%s" % (rng.choice(PIECES), i, rng.choice([".png", ".jpg", ".JPG", ".gif", ".jpeg"]))
              for i in range(6)]
    pages = [("/".join(rng.choice(FOLDERS) + str(d) for d in range(rng.choice([0, 0, 1, 2, 3]))),
              "%s page %d" % (rng.choice(PIECES), p)) for p in range(8)]
    files, texts, refs = {"index.html": page("index")}, {}, {}
    join = lambda *parts: "/".join(p for p in parts if p)
    for folder, stem in pages:
        html_path, own = join(folder, stem + ".html"), join(folder, stem + "_files")
        parts = {html_path: [], join(own, stem + ".js"): [], join(own, stem + ".css"): []}
        for name in rng.sample(shared, 3) + ["shapeimage_%d.png" % rng.randint(1, 3)]:
            data = png(name if name in shared else html_path)
            files[join(own, name)] = data
            for file, base, form, markup in [(html_path, folder, '<img data-ref="%s" src="%s">', True),
                                             (join(own, stem + ".js"), folder, 'ref["%s"] = "%s";', False),
                                             (join(own, stem + ".css"), own, '/*%s*/ .c%s { background: url("%s") }', False)]:
                key = "r%d" % (len(refs) + 1)
                target = name if file.endswith(".css") else stem + "_files/" + name
                written = encode_url(target, rng, markup)
                written = written.replace("/", "\\/") if file.endswith(".js") else written
                parts[file].append(form % ((key, key, written) if file.endswith(".css") else (key, written)))
                refs[key] = (file, base, data)
        texts.update(parts)
    for folder, stem in pages:  # each page shows an image of another page's folder too
        other = join(*rng.choice(pages)) + "_files"
        target = rng.choice(sorted(p for p in files if p.rsplit("/", 1)[0] == other))
        key = "r%d" % (len(refs) + 1)
        written = encode_url(os.path.relpath(target, folder or "."), rng, True)
        texts[join(folder, stem + ".html")].append('<img data-ref="%s" src="%s">' % (key, written))
        refs[key] = (join(folder, stem + ".html"), folder, files[target])
    files.update({path: "\n".join(lines) + "\n" for path, lines in texts.items()})
    return files, refs


def marked_problems(root, refs):
    found = {}
    for folder, _, names in os.walk(root):
        for name in (n for n in names if n.endswith((".html", ".js", ".css"))):
            with open(os.path.join(folder, name), encoding="utf-8") as f:
                text = f.read()
            for marker in MARKERS:
                found.update(dict(marker.findall(text)))
    problems = []
    for key, (file, base, data) in refs.items():
        text = found.get(key, "").replace("\\/", "/")
        path = urllib.parse.unquote(html.unescape(text) if file.endswith(".html") else text, errors="strict")
        target = os.path.normpath(os.path.join(root, base, path))
        if key not in found or not os.path.isfile(target) or open(target, "rb").read() != data:
            problems.append("%s: reference %s (%s) no longer leads to its bytes" % (file, key, found.get(key)))
    return problems


def plan_problems(groups, root):
    """Where the site after the run differs from what `scan --json` said the run would do."""
    problems = []
    for g in groups:
        fates = g["remove"] + [s["path"] for s in g["stays"]] + ([g["move"]] if g["move"] else [])
        if sorted(fates) != sorted(g["copies"]) or g["keep"] in g["remove"]:
            problems.append("the plan of %s gives its copies %s, not one fate each" % (g["name"], fates))
        kept = os.path.join(root, g["keep"]) if g["keep"] else None
        if kept and (not os.path.isfile(kept) or hashlib.md5(open(kept, "rb").read()).hexdigest() != g["md5"]):
            problems.append("the plan keeps %s, which does not hold the group's bytes" % g["keep"])
        for path in g["remove"] + ([g["move"]] if g["move"] and g["move"] != g["keep"] else []):
            if os.path.lexists(os.path.join(root, path)):
                problems.append("the plan removes %s, which is still there" % path)
        problems += ["%s should stay, and is gone" % s["path"] for s in g["stays"]
                     if not os.path.isfile(os.path.join(root, s["path"]))]
    return problems


# Once the page has loaded, a strip along the bottom shows every image of the page again at
# 16 x 16, a broken one with a red frame: the screenshot then shows images below the fold and
# those that failed to load too.
PROBE = ('<script>window.addEventListener("load", function () { setTimeout(function () {'
         ' var strip = document.createElement("div"); strip.style.cssText = "position:fixed;left:0;'
         'bottom:0;height:32px;width:100%;background:#fff;z-index:2147483647";'
         ' Array.from(document.images).forEach(function (i) { var c = new Image(16, 16);'
         ' c.src = i.currentSrc || i.src; if (!i.complete || !i.naturalWidth) c.style.outline = "3px solid red";'
         ' strip.appendChild(c); }); document.body.appendChild(strip); }, 300); });</script>')


def screenshots(site, work):
    """Each page's screenshot in headless Chromium, taken of a probed copy of the site."""
    probed = os.path.join(work, "probed-" + os.path.basename(site))
    shutil.rmtree(probed, ignore_errors=True)
    shutil.copytree(site, probed, symlinks=True)
    pages = [os.path.relpath(os.path.join(folder, name), probed)
             for folder, _, names in os.walk(probed) for name in names if name.endswith(".html")]

    def shoot(relative):
        with open(os.path.join(probed, relative), "ab") as f:
            f.write(PROBE.encode())
        shot, profile = os.path.join(probed, relative + ".shot.png"), os.path.join(probed, relative + ".profile")
        subprocess.run([CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                        "--user-data-dir=" + profile, "--hide-scrollbars", "--window-size=1024,800",
                        "--virtual-time-budget=3000", "--screenshot=" + shot,
                        "file://" + urllib.request.pathname2url(os.path.join(probed, relative))],
                       capture_output=True, timeout=120, check=True)
        with open(shot, "rb") as f:
            return f.read()

    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        return dict(zip(pages, pool.map(shoot, pages)))


def browser_problems(before, after):
    return ["%s: %s" % (page, "only before" if page not in after else "only after" if page not in before
                        else "looks different") for page in sorted(set(before) | set(after))
            if before.get(page) != after.get(page)]


def write(root, files):
    for relative, content in files.items():
        os.makedirs(os.path.dirname(os.path.join(root, relative)), exist_ok=True)
        with open(os.path.join(root, relative), "wb") as f:
            f.write(content if isinstance(content, bytes) else content.encode("utf-8"))


def broken_section(output):
    return (output + "References that point at nothing").split("References that point at nothing")[1].split("\n\n")[0]


def check(name, cli, work, source):
    before, after = os.path.join(work, name, "before"), os.path.join(work, name, "after")
    refs, stays = None, None
    if name in HAND:
        write(before, HAND[name][0])
        stays = HAND[name][1]
    elif name == "sample-site":
        shutil.copytree(os.path.join(source, "examples", "sample-site"), before)
    else:
        files, refs = generated(int(name.split("-")[-1]))
        write(before, files)
        problems = marked_problems(before, refs)
        if problems:
            return ["the generated site itself is wrong"] + problems
    shutil.copytree(before, after, symlinks=True)
    run = lambda *args: subprocess.run([cli] + list(args), capture_output=True, text=True)
    checked = run("check", after).stdout
    plan = json.loads(run("scan", "--json", after).stdout)["groups"]
    optimized = run("optimize", "--yes", after)
    problems = plan_problems(plan, after)
    if optimized.returncode != (1 if stays else 0):
        problems.append("optimize exited with %d:\n%s%s" % (optimized.returncode, optimized.stdout[-2000:], optimized.stderr))
    if stays is not None:
        copies = {p for g in plan for p in g["copies"]}
        problems += ["%s was removed" % p for p in stays if not os.path.exists(os.path.join(after, p))]
        problems += ["%s was not removed" % p for p in copies - set(stays) if os.path.exists(os.path.join(after, p))]
        if broken_section(checked) != broken_section(run("check", after).stdout):
            problems.append("references pointing at nothing changed")
    elif refs:
        problems += marked_problems(after, refs)
        left = json.loads(run("scan", "--json", after).stdout)["groups"]
        problems += ["duplicates left: %s" % g["copies"] for g in left]
    if CHROMIUM:
        problems += browser_problems(screenshots(before, work), screenshots(after, work))
    return problems


def main():
    parser = argparse.ArgumentParser()
    for name in ("cli", "source", "--keep", "--only"):
        parser.add_argument(name)
    args = parser.parse_args()
    work = args.keep or tempfile.mkdtemp(prefix="tolvane-site-check-")
    os.environ["XDG_DATA_HOME"] = os.path.join(work, "data")  # each run's record stays here
    failed = 0
    try:
        for name in list(HAND) + ["generated-%d" % seed for seed in range(1, 4)] + ["sample-site"]:
            if args.only and name != args.only:
                continue
            problems = check(name, args.cli, work, args.source)
            failed += bool(problems)
            print(("FAIL %s\n  " % name + "\n  ".join(p.replace("\n", "\n  ") for p in problems)) if problems else "ok   " + name)
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
    if not CHROMIUM and not failed:
        print("SKIPPED the browser comparison: chromium is not installed")
        return 77
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
