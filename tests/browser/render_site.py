#!/usr/bin/env python3
"""Renders every page of a website in headless Chromium and reports broken images.

Usage:
    python3 tests/browser/render_site.py SITE OUT [--timeout SECONDS] [--budget MS]
                                         [--chromium PATH] [--jobs N] [--strict]

For each .html file below SITE (sorted by relative path) it writes
    OUT/screenshots/<relative path>.png    the page as a 1024x768 window shows it
and writes OUT/report.json with, per page, every image of the page in document order:
its resolved address relative to SITE, whether it failed to load (not complete or
naturalWidth 0, which includes an image whose script never set a source), and the MD5 of
the file it loaded. A summary goes to stdout.

SITE is never changed: the image check renders a temporary copy of the site in which every
page carries an extra script that, once the page and its images have loaded, writes what it
found into the page; Chromium's --dump-dom reads it back. Pages are opened by file:// URL.

Exit status: 0 when every page was rendered (1 with --strict if any image is broken),
2 for usage errors or a missing Chromium, 3 when Chromium failed on a page.
"""

import argparse
import concurrent.futures
import hashlib
import html
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import urllib.parse
import urllib.request

DEFAULT_CHROMIUM = "/usr/bin/chromium"
PROBE_ID = "__tolvane_render_probe__"

# Waits until every image is complete (loaded or failed), including those a page script sets
# on load, then records each image in document order.
PROBE_SCRIPT = """
<script>
(function () {
  function report() {
    var images = [];
    for (var i = 0; i < document.images.length; i++) {
      var img = document.images[i];
      images.push({src: img.currentSrc || img.src || "",
                   attribute: img.getAttribute("src"),
                   broken: !img.complete || img.naturalWidth === 0,
                   width: img.naturalWidth, height: img.naturalHeight});
    }
    var pre = document.createElement("pre");
    pre.id = "%(id)s";
    pre.style.display = "none";
    pre.textContent = JSON.stringify(images);
    document.documentElement.appendChild(pre);
  }
  window.addEventListener("load", function () {
    var tries = 0;
    (function poll() {
      var pending = false;
      for (var i = 0; i < document.images.length; i++)
        if (!document.images[i].complete) pending = true;
      if (pending && ++tries < 50) { setTimeout(poll, 100); return; }
      report();
    })();
  });
})();
</script>
""" % {"id": PROBE_ID}


class RenderError(Exception):
    pass


class SetupError(RenderError):
    """Chromium or the site is missing: nothing was rendered."""


def chromium_path(requested=None):
    path = requested or os.environ.get("CHROMIUM") or DEFAULT_CHROMIUM
    if not (os.path.isfile(path) and os.access(path, os.X_OK)):
        found = shutil.which(path) if not os.path.isabs(path) else None
        if not found:
            raise SetupError("Chromium not found at %s (install the Debian package 'chromium', "
                              "or pass --chromium PATH)" % path)
        path = found
    return path


def find_pages(site):
    pages = []
    for folder, dirs, files in os.walk(site):
        dirs.sort()
        for name in files:
            if name.lower().endswith(".html"):
                pages.append(os.path.relpath(os.path.join(folder, name), site).replace(os.sep, "/"))
    return sorted(pages)


def run_chromium(chromium, args, url, timeout):
    """Runs one headless Chromium on url; returns its stdout. Kills it on timeout."""
    profile = tempfile.mkdtemp(prefix="tolvane-chromium-")
    command = [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
               "--no-first-run", "--disable-background-networking",
               "--disable-component-update", "--disable-sync", "--user-data-dir=" + profile,
               "--hide-scrollbars", "--window-size=1024,768"] + args + [url]
    try:
        process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   stdin=subprocess.DEVNULL, start_new_session=True)
        try:
            out, err = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.communicate()
            raise RenderError("Chromium did not finish %s within %s s" % (url, timeout))
        if process.returncode != 0:
            raise RenderError("Chromium failed on %s (exit %d): %s" % (
                url, process.returncode, err.decode("utf-8", "replace").strip()[-500:]))
        return out.decode("utf-8", "replace")
    finally:
        shutil.rmtree(profile, ignore_errors=True)


def with_retry(action, attempts=2):
    for attempt in range(attempts):
        try:
            return action()
        except RenderError:
            if attempt + 1 == attempts:
                raise


def inject_probe(path):
    with open(path, "rb") as page:
        data = page.read()
    probe = PROBE_SCRIPT.encode("utf-8")
    matches = list(re.finditer(rb"</body\s*>", data, re.IGNORECASE))
    if matches:
        at = matches[-1].start()
        data = data[:at] + probe + data[at:]
    else:
        data += probe
    with open(path, "wb") as page:
        page.write(data)


def file_md5(path):
    digest = hashlib.md5()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def describe_image(image, copy_root, site):
    """Turns the probe's record into site-relative terms, with the loaded file's MD5."""
    src = image.get("src") or ""
    entry = {"src": src, "attribute": image.get("attribute"), "broken": bool(image.get("broken")),
             "width": image.get("width"), "height": image.get("height"), "path": None, "md5": None}
    if src.startswith("file://"):
        path = urllib.request.url2pathname(urllib.parse.urlparse(src).path)
        relative = os.path.relpath(path, copy_root)
        if not relative.startswith(".."):
            entry["path"] = relative.replace(os.sep, "/")
            entry["src"] = entry["path"]
            original = os.path.join(site, relative)
            if os.path.isfile(original) and not entry["broken"]:
                entry["md5"] = file_md5(original)
    return entry


def probe_page(chromium, copy_root, site, page, timeout, budget):
    url = "file://" + urllib.request.pathname2url(os.path.join(copy_root, page))
    dom = run_chromium(chromium, ["--virtual-time-budget=%d" % budget, "--dump-dom"], url, timeout)
    match = re.search(r'<pre id="%s"[^>]*>(.*?)</pre>' % PROBE_ID, dom, re.DOTALL)
    if not match:
        raise RenderError("the image check did not report on %s (page script error or timeout)"
                          % page)
    images = json.loads(html.unescape(match.group(1)))
    return [describe_image(image, copy_root, site) for image in images]


def screenshot_page(chromium, site, page, target, timeout, budget):
    os.makedirs(os.path.dirname(target), exist_ok=True)
    if os.path.exists(target):
        os.remove(target)
    url = "file://" + urllib.request.pathname2url(os.path.join(site, page))
    run_chromium(chromium, ["--virtual-time-budget=%d" % budget, "--screenshot=" + target],
                 url, timeout)
    if not os.path.isfile(target) or os.path.getsize(target) == 0:
        raise RenderError("Chromium wrote no screenshot of %s" % page)


def render_site(site, out, chromium=None, timeout=60, budget=5000, log=print, jobs=1):
    """Renders every page of site into out; returns the report (also written to
    out/report.json). Raises RenderError when Chromium is missing or fails on a page."""
    site = os.path.abspath(site)
    if not os.path.isdir(site):
        raise SetupError("not a folder: %s" % site)
    chromium = chromium_path(chromium)
    pages = find_pages(site)
    os.makedirs(out, exist_ok=True)
    report = {"site": site, "pages": {}}
    work = tempfile.mkdtemp(prefix="tolvane-render-")

    def render_page(page):
        shot = os.path.join(out, "screenshots", page + ".png")
        with_retry(lambda: screenshot_page(chromium, site, page, shot, timeout, budget))
        images = with_retry(lambda: probe_page(chromium, copy_root, site, page, timeout, budget))
        broken = [i for i, image in enumerate(images) if image["broken"]]
        return {"screenshot": os.path.relpath(shot, out), "images": images, "broken": broken}

    try:
        copy_root = os.path.join(work, os.path.basename(site) or "site")
        shutil.copytree(site, copy_root, symlinks=True)
        for page in pages:
            inject_probe(os.path.join(copy_root, page))
        with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, jobs)) as pool:
            for page, entry in zip(pages, pool.map(render_page, pages)):
                report["pages"][page] = entry
                images, broken = entry["images"], entry["broken"]
                log("%-40s %2d images, %s" % (page, len(images), "%d broken: %s" % (
                    len(broken), ", ".join(images[i]["src"] or "(no source)" for i in broken))
                    if broken else "all loaded"))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    with open(os.path.join(out, "report.json"), "w", encoding="utf-8") as f:
        json.dump(report, f, indent=1, sort_keys=True)
    return report


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("site", help="root folder of the website")
    parser.add_argument("out", help="folder for screenshots/ and report.json")
    parser.add_argument("--timeout", type=float, default=60, help="seconds per Chromium run")
    parser.add_argument("--budget", type=int, default=5000,
                        help="virtual milliseconds a page gets to load and run its scripts")
    parser.add_argument("--chromium", help="Chromium executable (default %s or $CHROMIUM)"
                        % DEFAULT_CHROMIUM)
    parser.add_argument("--jobs", type=int, default=2, help="Chromium instances at once")
    parser.add_argument("--strict", action="store_true", help="exit 1 if any image is broken")
    args = parser.parse_args(argv)
    try:
        report = render_site(args.site, args.out, args.chromium, args.timeout, args.budget,
                             jobs=args.jobs)
    except RenderError as e:
        print("render_site: %s" % e, file=sys.stderr)
        return 2 if isinstance(e, SetupError) else 3
    broken = sum(len(p["broken"]) for p in report["pages"].values())
    print("%d pages rendered, %d broken images" % (len(report["pages"]), broken))
    return 1 if args.strict and broken else 0


if __name__ == "__main__":
    sys.exit(main())
