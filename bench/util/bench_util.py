#!/usr/bin/env python3
"""Throughput of `tolvane-cli md5` and `tolvane-cli encrypt` on a 256 MiB file, against
md5sum and `openssl enc -aes-256-cbc` measured alternately in the same run (warm cache).

Usage: bench/util/bench_util.py [--cli build/bin/tolvane-cli] [--size-mib 256] [--rounds 7]
"""
import argparse
import os
import statistics
import subprocess
import tempfile
import time


def timed(argv, env=None):
    start = time.perf_counter()
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL, env=env)
    return time.perf_counter() - start


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", default=os.path.join(here, "..", "..", "build", "bin", "tolvane-cli"))
    parser.add_argument("--size-mib", type=int, default=256)
    parser.add_argument("--rounds", type=int, default=7)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="tolvane-bench-") as tmp:
        data = os.path.join(tmp, "data.bin")
        with open(data, "wb") as f:
            for _ in range(args.size_mib):
                f.write(os.urandom(1024 * 1024))
        out = os.path.join(tmp, "out.bin")
        key = "00" * 32
        env = dict(os.environ, TOLVANE_PASSPHRASE="")
        cases = {
            "tolvane md5": [args.cli, "md5", data],
            "md5sum": ["md5sum", data],
            "tolvane encrypt": [args.cli, "encrypt", data, out],
            "openssl enc": ["openssl", "enc", "-aes-256-cbc", "-K", key, "-iv", "0" * 32,
                            "-in", data, "-out", out],
        }
        times = {name: [] for name in cases}
        for name, argv in cases.items():  # warm-up, and the cache
            timed(argv, env)
        for _ in range(args.rounds):
            for name, argv in cases.items():
                times[name].append(timed(argv, env))
        medians = {name: statistics.median(t) for name, t in times.items()}
        mib = args.size_mib
        for name, m in medians.items():
            print(f"{name:16s} median {m:7.3f} s  {mib / m:8.1f} MiB/s")
        print(f"MD5 ratio (tolvane / md5sum):           {medians['tolvane md5'] / medians['md5sum']:.2f}")
        print(f"AES ratio (tolvane / openssl enc):      {medians['tolvane encrypt'] / medians['openssl enc']:.2f}")


if __name__ == "__main__":
    main()
