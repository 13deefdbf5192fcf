#!/usr/bin/env python3
"""Scan benchmark: `tolvane-cli scan --json` against the walk alone (`find -type f`), the
reading no scan can avoid (`cat` of the eligible images whose name and size occur more than
once) and `jdupes -r`, on generated sites, measured alternately in one run with a warm cache.

Sites: the generator's medium (about 17,000 images, 0.9 GB) and large (about 90,000 images,
2.8 GB) presets, each also with every image of one name at the same size. Each site is
checked first (scan --json equals the generator's expected groups; tolvane-scan-stats: no
file read that name or size rules out, no byte read twice, one MD5 per group), then timed,
then its peak memory is taken with /usr/bin/time -v, then it is deleted.

Usage: bench/scan/bench_scan.py [--bin build/bin] [--sites medium,large] [--rounds 5]
                                [--work DIR]
"""
import argparse
import collections
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

SUFFIXES = (".png", ".jpg", ".jpeg", ".gif", ".tiff")


def eligible(name):
    return (name.lower().endswith(SUFFIXES) and "_rollover_" not in name
            and "_link_" not in name)


def timed(argv):
    start = time.perf_counter()
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def peak_rss_mib(argv):
    done = subprocess.run(["/usr/bin/time", "-v"] + argv, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True, check=True)
    kib = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", done.stderr).group(1))
    return kib / 1024


def unavoidable_reads(site, list_path):
    """Writes the NUL-separated list of eligible images whose name and size occur more than
    once; returns (files, bytes)."""
    by_key = collections.defaultdict(list)
    for folder, _, files in os.walk(site):
        for name in files:
            path = os.path.join(folder, name)
            if eligible(name) and os.path.isfile(path) and not os.path.islink(path):
                by_key[(name, os.path.getsize(path))].append(path)
    chosen = [(p, k[1]) for k, paths in by_key.items() if len(paths) > 1 for p in paths]
    with open(list_path, "wb") as f:
        for path, _ in chosen:
            f.write(path.encode() + b"\0")
    return len(chosen), sum(size for _, size in chosen)


def bench_site(args, work, preset, uniform):
    label = preset + (" uniform sizes" if uniform else "")
    site = os.path.join(work, "site")
    expected = os.path.join(work, "expected.json")
    gen = [os.path.join(args.bin, "tolvane-gensite"), "--preset", preset, "--expected",
           expected, site] + (["--uniform-sizes"] if uniform else []) + \
          (["--pages", str(args.pages)] if args.pages else [])
    print(f"\n== {label}: {' '.join(gen)}", flush=True)
    subprocess.run(gen, check=True)
    cli = os.path.join(args.bin, "tolvane-cli")
    try:
        scan = [cli, "scan", "--json", site]
        out = subprocess.run(scan, check=True, stdout=subprocess.PIPE).stdout
        # The grouping only: each group's plan (keep, move, remove, stays, references) is
        # the run's, not the generator's.
        found = json.loads(out)
        for group in found["groups"]:
            for key in ("keep", "move", "remove", "stays", "references"):
                group.pop(key, None)
        with open(expected, "rb") as f:
            same = found == json.loads(f.read())
        print(f"scan --json equals the generator's expected groups: {'yes' if same else 'NO'}")
        stats = subprocess.run([os.path.join(args.bin, "tolvane-scan-stats"), site],
                               stdout=subprocess.PIPE, text=True)
        print(stats.stdout, end="")
        list_path = os.path.join(work, "unavoidable.list")
        files, size = unavoidable_reads(site, list_path)
        print(f"unavoidable reading: {files} files, {size / 1e6:.0f} MB")

        cases = {
            "scan": scan,
            "walk (find -type f)": ["find", site, "-type", "f"],
            "read (cat)": ["xargs", "-0", "-a", list_path, "cat"],
            "jdupes -r": ["jdupes", "-r", site],
        }
        times = {name: [] for name in cases}
        for argv in cases.values():  # warm the cache
            timed(argv)
        for _ in range(args.rounds):
            for name, argv in cases.items():
                times[name].append(timed(argv))
        med = {name: statistics.median(t) for name, t in times.items()}
        for name, m in med.items():
            print(f"{name:22s} median {m:7.3f} s   (runs: {', '.join(f'{t:.3f}' for t in times[name])})")
        vs_jdupes = med["scan"] / med["jdupes -r"]
        vs_floor = med["scan"] / (med["walk (find -type f)"] + med["read (cat)"])
        rss = peak_rss_mib(scan)
        rss_jdupes = peak_rss_mib(["jdupes", "-r", site])
        print(f"scan / jdupes -r:        {vs_jdupes:.2f}  (goal <= 0.8)")
        print(f"scan / (walk + read):    {vs_floor:.2f}  (goal <= 1.3)")
        print(f"peak memory: scan {rss:.1f} MiB (goal < 64), jdupes -r {rss_jdupes:.1f} MiB")
        return {"site": label, "groups equal": same, "checks": stats.returncode == 0,
                "scan": med["scan"], "walk": med["walk (find -type f)"],
                "read": med["read (cat)"], "jdupes": med["jdupes -r"],
                "vs jdupes": vs_jdupes, "vs walk+read": vs_floor, "rss MiB": rss}
    finally:
        shutil.rmtree(site, ignore_errors=True)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bin", default=os.path.join(here, "..", "..", "build", "bin"))
    parser.add_argument("--sites", default="medium,large")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--work", default=None, help="folder for the generated sites")
    parser.add_argument("--pages", type=int, default=0, help="fewer pages, for a trial run")
    args = parser.parse_args()

    rows = []
    for preset in args.sites.split(","):
        for uniform in (False, True):
            work = tempfile.mkdtemp(prefix="tolvane-scan-bench-", dir=args.work)
            try:
                rows.append(bench_site(args, work, preset, uniform))
            finally:
                shutil.rmtree(work, ignore_errors=True)

    print("\nsite                  scan s  walk s  read s  jdupes s  /jdupes  /(walk+read)  peak MiB  checks")
    for r in rows:
        print(f"{r['site']:21s} {r['scan']:6.3f}  {r['walk']:6.3f}  {r['read']:6.3f}  {r['jdupes']:8.3f}"
              f"  {r['vs jdupes']:7.2f}  {r['vs walk+read']:12.2f}  {r['rss MiB']:8.1f}  "
              f"{'ok' if r['groups equal'] and r['checks'] else 'FAILED'}")
    return 0 if all(r["groups equal"] and r["checks"] for r in rows) else 1


if __name__ == "__main__":
    sys.exit(main())
