#!/usr/bin/env python3
"""Generated sites whose names need encoding, with pages nested several levels deep: after
`tolvane-cli optimize --yes`, every reference still leads to a file with the bytes it led to
before, and no duplicate is left.

Usage:
    python3 tests/run/encoded_sites.py TOLVANE_CLI [--seeds N] [--keep FOLDER]

Each reference is written beside a marker (data-ref="K" in pages, ref["K"] in scripts, /*K*/
in stylesheets), so this check finds and decodes it on its own, with Python's HTML and URL
decoders, independently of the code under test. Exit status 0 when every site passes.
"""

import argparse
import html
import json
import os
import posixpath
import random
import re
import shutil
import subprocess
import sys
import tempfile
import urllib.parse

from plan_check import plan_problems, planned

NAME_PIECES = ["photo", "Crayon (01)", "Tom & Jerry", "Edgar's", "Caf\u00e9", "GitHub\u2019s",
               "a b", "x+y", "100%", "no#1", "semi;colon", "eq=1", "\u65e5\u672c"]
FOLDER_PIECES = ["Blog", "\u00dcber uns", "Q&A", "2019", "a b", "Edgar's"]
EXTENSIONS = [".png", ".jpg", ".JPG", ".gif", ".jpeg"]
# Must always be encoded in a URL; the rest of the reserved ones are encoded at random.
MUST = set('%#?"<>\\')
MAY = set(" ()&'+;=,")


def encode_url(path, rng, markup):
    """Writes a relative path the way some exporter might: percent-encoding any subset of the
    characters that may be encoded, in either hex case, and in pages character references."""
    out = []
    lower = rng.random() < 0.3
    for ch in path:
        if ch == "/":
            out.append("/")
            continue
        encode = ch in MUST or (ord(ch) > 127 or ch in MAY) and rng.random() < 0.5
        if encode:
            text = urllib.parse.quote(ch, safe="")
            out.append(text.lower() if lower else text)
        elif markup and ch == "&":
            out.append(rng.choice(["&amp;", "&#38;", "&#x26;", "&"]))
        elif markup and ch == "'":
            out.append(rng.choice(["&#39;", "&apos;", "'"]))
        elif markup and ch == " " and rng.random() < 0.3:
            out.append("&#32;")
        else:
            out.append(ch)
    text = "".join(out)
    if not text.startswith("../") and rng.random() < 0.2:
        text = "./" + text
    return text


def content_for(key):
    return ("image %s\n" % key).encode("utf-8") * 4


def generate(root, seed):
    rng = random.Random(seed)
    shared = ["%s %d%s" % (rng.choice(NAME_PIECES), i, rng.choice(EXTENSIONS)) for i in range(6)]
    pages = []
    for p in range(12):
        depth = rng.choice([0, 0, 1, 2, 3])
        folder = "/".join(rng.choice(FOLDER_PIECES) + str(d) for d in range(depth))
        stem = "%s page %d" % (rng.choice(NAME_PIECES), p)
        pages.append((folder, stem))
    references = {}  # key -> (file, base folder, content key)
    files = {}
    texts = {}
    key = 0

    def ref_key():
        nonlocal key
        key += 1
        return "r%d" % key

    for folder, stem in pages:
        page_path = posixpath.join(folder, stem + ".html") if folder else stem + ".html"
        page_folder = posixpath.join(folder, stem + "_files") if folder else stem + "_files"
        own = rng.sample(shared, 3)
        for name in own:
            files[posixpath.join(page_folder, name)] = "shared " + name
        local = "shapeimage_%d.png" % rng.randint(1, 3)
        files[posixpath.join(page_folder, local)] = "local " + page_path
        html_parts, script_parts, css_parts = [], [], []
        for name in own + [local]:
            target = stem + "_files/" + name
            content = files[posixpath.join(page_folder, name)]
            k = ref_key()
            html_parts.append('<img data-ref="%s" src="%s">' % (k, encode_url(target, rng, True)))
            references[k] = (page_path, folder, content)
            k = ref_key()
            script_parts.append('ref["%s"] = "%s";' % (k, encode_url(target, rng, False).replace("/", "\\/")))
            references[k] = (posixpath.join(page_folder, stem + ".js"), folder, content)
            k = ref_key()
            css_parts.append('/*%s*/ .c%s { background: url("%s") }' % (k, k, encode_url(name, rng, False)))
            references[k] = (posixpath.join(page_folder, stem + ".css"), page_folder, content)
        # A page refers to another page's folder too.
        other_folder, other_stem = rng.choice(pages)
        other_files = posixpath.join(other_folder, other_stem + "_files") if other_folder else other_stem + "_files"
        texts.setdefault("later", []).append((page_path, folder, other_files))
        texts[page_path] = html_parts
        texts[posixpath.join(page_folder, stem + ".js")] = script_parts
        texts[posixpath.join(page_folder, stem + ".css")] = css_parts
    # Cross references, now that every page folder's images are known.
    for page_path, folder, other_files in texts.pop("later"):
        candidates = [p for p in files if posixpath.dirname(p) == other_files]
        target = rng.choice(candidates)
        relative = posixpath.relpath(target, folder or ".")
        k = ref_key()
        texts[page_path].append('<img data-ref="%s" src="%s">' % (k, encode_url(relative, rng, True)))
        references[k] = (page_path, folder, files[target])

    os.makedirs(root)
    with open(os.path.join(root, "index.html"), "w", encoding="utf-8") as f:
        f.write("<html><body>index</body></html>\n")
    for path, content in files.items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(content_for(content))
    for path, parts in texts.items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w", encoding="utf-8") as f:
            f.write("\n".join(parts) + "\n")
    return references


MARKERS = [
    re.compile(r'<img data-ref="(r\d+)" src="([^"]*)">'),
    re.compile(r'ref\["(r\d+)"\] = "([^"]*)";'),
    re.compile(r'/\*(r\d+)\*/ \.c\w+ \{ background: url\("([^"]*)"\) \}'),
]


def resolve(root, file, base, written):
    """The file a written reference leads to, decoded the way a browser would."""
    text = written
    if file.endswith(".html"):
        text = html.unescape(text)
    text = text.replace("\\/", "/")
    path = urllib.parse.unquote(text, errors="strict")
    return os.path.normpath(os.path.join(root, base, path))


def check(root, references):
    problems = []
    found = {}
    for dirpath, _, names in os.walk(root):
        for name in names:
            if not name.endswith((".html", ".js", ".css")):
                continue
            full = os.path.join(dirpath, name)
            with open(full, encoding="utf-8") as f:
                text = f.read()
            for marker in MARKERS:
                for k, written in marker.findall(text):
                    found[k] = (os.path.relpath(full, root).replace(os.sep, "/"), written)
    for k, (file, base, content) in references.items():
        if k not in found:
            problems.append("%s: reference %s is gone" % (file, k))
            continue
        target = resolve(root, file, base, found[k][1])
        try:
            with open(target, "rb") as f:
                data = f.read()
        except OSError:
            problems.append("%s: %s leads to nothing" % (file, found[k][1]))
            continue
        if data != content_for(content):
            problems.append("%s: %s leads to other bytes" % (file, found[k][1]))
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cli")
    parser.add_argument("--seeds", type=int, default=6)
    parser.add_argument("--keep")
    args = parser.parse_args()
    work = args.keep or tempfile.mkdtemp(prefix="tolvane-encoded-sites-")
    # Each run's record for undo stays in the test's own folder.
    os.environ["XDG_DATA_HOME"] = os.path.join(work, "data")
    failed = 0
    try:
        for seed in range(1, args.seeds + 1):
            root = os.path.join(work, "site-%d" % seed)
            references = generate(root, seed)
            problems = check(root, references)
            if problems:
                print("FAIL seed %d: the generated site itself is wrong" % seed)
                print("  " + "\n  ".join(problems[:10]))
                failed += 1
                continue
            plan = planned(args.cli, root)
            run = subprocess.run([args.cli, "optimize", "--yes", root], capture_output=True, text=True)
            problems += plan_problems(plan, root)
            if run.returncode != 0:
                problems.append("optimize exited with %d:\n%s%s" % (run.returncode, run.stdout[-3000:], run.stderr))
            problems += check(root, references)
            rescan = subprocess.run([args.cli, "scan", "--json", root], capture_output=True, text=True)
            groups = json.loads(rescan.stdout)["groups"] if rescan.returncode == 0 else None
            if groups:
                problems.append("duplicates left: %s" % [g["copies"] for g in groups])
            if problems:
                failed += 1
                print("FAIL seed %d (%s)" % (seed, root))
                print("  " + "\n  ".join(p.replace("\n", "\n  ") for p in problems[:20]))
            else:
                print("ok   seed %d: %d references" % (seed, len(references)))
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
