#!/usr/bin/python3
"""Memory benchmark: peak resident memory of folianto-convert must not grow with the page count.

Generates its inputs with Debian tools (ImageMagick), then converts the same kind of page 10 times and
--pages times (1000 by default) and reports, from this one run, the peak resident set of each
conversion and the ratio between them, for A4 300-dpi photos to DCT and A4 300-dpi scans to G4, and
the peak for 12-megapixel photos to DCT. Targets: the long job within 1.2x the short one; the
12-megapixel job under 150 MiB. Not a test: CI does not run it.

Usage: bench/memory.py [--pages N] [--out DIR] [--convert PATH]   (build first with scripts/build)
"""
import argparse
import os
import platform
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench  # noqa: E402  (the shared corpus: 12-megapixel photos and A4 scans)

SMALL_JOB = 10
RATIO_TARGET = 1.2
TWELVE_MP_TARGET_MIB = 150


def make_a4_photos(d):
    """A4 at 300 dpi (2480 x 3508), photographic content that DCT has to work for."""
    photos = []
    for i in range(3):
        p = os.path.join(d, f"a4photo{i}.jpg")
        if bench.missing(p):
            subprocess.run([bench.IM, "-seed", str(40 + i), "-size", "2480x3508", "plasma:", "-blur", "0x1",
                            "-density", "300", "-units", "PixelsPerInch", "-quality", "92", p], check=True)
        photos.append(p)
    return photos


def machine():
    model = ""
    try:
        with open("/proc/cpuinfo") as f:
            model = next((line.split(":", 1)[1].strip() for line in f if line.startswith("model name")), "")
    except OSError:
        pass
    return f"{platform.node()}: {model or platform.processor()}, {os.cpu_count()} logical CPUs, Linux {platform.release()}"


def convert(binary, compression, inputs, out):
    """One conversion; returns (seconds, peak RSS in MiB, output MiB). The output is removed after."""
    if os.path.exists(out):
        os.remove(out)
    cmd = [binary, "--quiet", "--force", "--compression", compression, "--paper", "A4", "-o", out, "--"] + inputs
    seconds, peak = bench.run(cmd)
    size = os.path.getsize(out) / (1 << 20) if os.path.exists(out) else 0.0
    if size == 0:
        sys.exit(f"no output from: {' '.join(cmd[:8])} ...")
    os.remove(out)
    return seconds, peak, size


def pages(files, n):
    return [files[i % len(files)] for i in range(n)]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--pages", type=int, default=1000)
    ap.add_argument("--out", default=os.path.join(bench.ROOT, "bench", "out"))
    ap.add_argument("--convert", default=bench.CONVERT_BIN)
    a = ap.parse_args()
    if not os.path.exists(a.convert):
        sys.exit("build first: scripts/build")
    corpus = os.path.join(a.out, "corpus")
    twelve_mp, scans, _multi, _gif = bench.make_corpus(corpus)
    a4_photos = make_a4_photos(corpus)
    work = os.path.join(a.out, "work")
    os.makedirs(work, exist_ok=True)
    out = os.path.join(work, "memory.pdf")

    print(machine())
    print(f"binary: {a.convert}")
    print(f"\n{'job':34} {'pages':>6} {'seconds':>8} {'peak MiB':>9} {'output MiB':>11}")
    ratios = []
    for title, files, compression in [("A4 300-dpi photos -> DCT", a4_photos, "dct"),
                                      ("A4 300-dpi scans -> G4", scans, "g4")]:
        peaks = []
        for n in (SMALL_JOB, a.pages):
            seconds, peak, size = convert(a.convert, compression, pages(files, n), out)
            peaks.append(peak)
            print(f"{title:34} {n:6} {seconds:8.1f} {peak:9.1f} {size:11.1f}")
        ratios.append((title, peaks[1] / peaks[0]))
    n12 = SMALL_JOB * 2
    seconds, peak12, size = convert(a.convert, "dct", pages(twelve_mp, n12), out)
    print(f"{'12-megapixel photos -> DCT':34} {n12:6} {seconds:8.1f} {peak12:9.1f} {size:11.1f}")

    print()
    for title, ratio in ratios:
        verdict = "ok" if ratio <= RATIO_TARGET else "OVER TARGET"
        print(f"{title}: peak {a.pages} pages / {SMALL_JOB} pages = {ratio:.2f}x (target <= {RATIO_TARGET}x) {verdict}")
    verdict = "ok" if peak12 < TWELVE_MP_TARGET_MIB else "OVER TARGET"
    print(f"12-megapixel photos: peak {peak12:.1f} MiB (target < {TWELVE_MP_TARGET_MIB} MiB) {verdict}")


if __name__ == "__main__":
    main()
