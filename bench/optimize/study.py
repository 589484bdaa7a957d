#!/usr/bin/python3
# SPDX-License-Identifier: BSD-2-Clause
"""Rate-distortion study of the optimizing encoder on photos from Debian packages.

Makes a tuning set and a check set of photos (skimage's bundled pictures, centre crops of at most
512x512, written as PNG into the work directory, never into the tree), encodes each with the
classic encoder, every optimization level and cjpeg, decodes with varnic-cli, and prints per set:
BD-rate of each curve against the classic encoder and against cjpeg over the q20..q80 range of
the anchor, the mean colour error per channel, the best PSNR reached and the encode-time ratio.

    /usr/bin/python3 bench/optimize/study.py --cli build/cli/varnic-cli --work build/optstudy
"""
import argparse
import json
import os
import subprocess
import sys
import time

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from rdmath import bd_rate, psnr  # noqa: E402

SETS = {
    "tuning": ["coffee", "chelsea", "rocket", "moon"],
    "check": ["motorcycle_left", "retina", "hubble_deep_field", "grass"],
}
CROP = 512
ANCHOR_QUALITIES = list(range(20, 81, 10))
OPT_QUALITIES = list(range(5, 100, 8))


def make_pictures(work):
    from skimage import data, io
    paths = {}
    os.makedirs(work, exist_ok=True)
    for names in SETS.values():
        for name in names:
            path = os.path.join(work, name + ".png")
            if not os.path.exists(path):
                loader = getattr(data, name, None)
                img = np.asarray(loader() if loader else io.imread(os.path.join(data.data_dir, name + ".png")))
                if img.ndim == 3:
                    img = img[..., :3]
                top, left = max(0, (img.shape[0] - CROP) // 2), max(0, (img.shape[1] - CROP) // 2)
                Image.fromarray(np.ascontiguousarray(img[top:top + CROP, left:left + CROP])).save(path)
            paths[name] = path
    return paths


def run(argv):
    start = time.process_time()
    t0 = os.times()
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    t1 = os.times()
    return (t1.children_user - t0.children_user) + (t1.children_system - t0.children_system)


def point(cli, src, work, tag, quality, extra):
    cod = os.path.join(work, "%s_%s_q%d.cod" % (os.path.basename(src)[:-4], tag, quality))
    out = cod[:-4] + ".png"
    seconds = run([cli, "compress", src, "-o", cod, "-f", "--quiet", "-q", str(quality)] + extra)
    run([cli, "decompress", cod, "-o", out, "-f", "--quiet"])
    return os.path.getsize(cod), out, seconds


def jpeg_point(src, work, quality):
    ppm = os.path.join(work, os.path.basename(src)[:-4] + ".pnm")
    if not os.path.exists(ppm):
        Image.open(src).save(ppm, format="PPM")
    jpg = os.path.join(work, "%s_jpeg_q%d.jpg" % (os.path.basename(src)[:-4], quality))
    seconds = run(["cjpeg", "-quality", str(quality), "-outfile", jpg, ppm])
    out = jpg[:-4] + "_d.pnm"
    run(["djpeg", "-outfile", out, jpg])
    return os.path.getsize(jpg), out, seconds


def curve(ref, points):
    rows = []
    for size, decoded, seconds in points:
        img = np.asarray(Image.open(decoded)).astype(np.float64)
        err = img - ref
        mean = err.reshape(-1, err.shape[-1]).mean(axis=0) if err.ndim == 3 else np.array([err.mean()])
        rows.append({"bpp": 8.0 * size / (ref.shape[0] * ref.shape[1]), "psnr": psnr(ref, img),
                     "mean_error": mean.tolist(), "seconds": seconds})
    return rows


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", default="build/cli/varnic-cli")
    ap.add_argument("--work", default="build/optstudy")
    ap.add_argument("--levels", default="1,2,3")
    ap.add_argument("--sets", default="tuning,check")
    ap.add_argument("--json")
    args = ap.parse_args()
    pics = make_pictures(os.path.join(args.work, "pics"))
    levels = [int(v) for v in args.levels.split(",")]
    results = {}
    chosen = args.sets.split(",")
    for set_name, names in SETS.items():
        if set_name not in chosen:
            continue
        for name in names:
            src = pics[name]
            ref = np.asarray(Image.open(src)).astype(np.float64)
            tmp = os.path.join(args.work, "out")
            os.makedirs(tmp, exist_ok=True)
            r = {"set": set_name,
                 "classic": curve(ref, [point(args.cli, src, tmp, "c", q, []) for q in ANCHOR_QUALITIES]),
                 "classic_all": curve(ref, [point(args.cli, src, tmp, "c", q, []) for q in OPT_QUALITIES]),
                 "jpeg": curve(ref, [jpeg_point(src, tmp, q) for q in ANCHOR_QUALITIES])}
            for level in levels:
                r["O%d" % level] = curve(ref, [point(args.cli, src, tmp, "O%d" % level, q, ["-O", str(level)])
                                             for q in OPT_QUALITIES])
            results[name] = r
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1)
    for set_name in chosen:
        print("== %s set" % set_name)
        print("%-18s %8s %9s %9s %9s %9s %8s %9s" % ("picture", "curve", "vs class.", "vs cjpeg", "max |mean|",
                                                   "best dB", "time x", "class dB"))
        totals = {}
        for name, r in results.items():
            if r["set"] != set_name:
                continue
            for level in levels:
                key = "O%d" % level
                vs_c = bd_rate(r["classic"], r[key])
                vs_j = bd_rate(r["jpeg"], r[key])
                worst = max(abs(m) for row in r[key] for m in row["mean_error"])
                ratio = np.mean([a["seconds"] / max(b["seconds"], 1e-3) for a, b in zip(r[key], r["classic_all"])])
                totals.setdefault(key, []).append((vs_c, vs_j))
                print("%-18s %8s %8.1f%% %8.1f%% %9.2f %9.2f %8.2f %9.2f" % (
                    name, key, vs_c, vs_j, worst, max(p["psnr"] for p in r[key]), ratio,
                    max(p["psnr"] for p in r["classic_all"])))
        for key, v in totals.items():
            print("%-18s %8s %8.1f%% %8.1f%%" % ("mean", key, np.mean([a for a, _ in v]), np.mean([b for _, b in v])))


if __name__ == "__main__":
    main()
