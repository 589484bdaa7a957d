#!/usr/bin/python3
# SPDX-License-Identifier: BSD-2-Clause
"""Rate-distortion study of the optimizing encoder on photos from Debian packages.

Makes a tuning set and a check set of photos (skimage's bundled pictures, centre crops of at most
512x512, written as PNG into the work directory, never into the tree) and codes each with the
classic encoder, every optimization level (and level 2 tuned for SSIM) and the peers: cjpeg (plain
and -optimize) and cwebp (default method and -m 6) at q20..q80; JPEG 2000 (opj_compress, lossy
9/7) at the rates cjpeg reached; HTJ2K, JPEG XL and AVIF at settings searched so that their files
are about as large as cjpeg's. A peer whose tools are absent is skipped and named. Prints per set:

- PSNR (over RGB) BD-rate of each level against every anchor;
- SSIM (skimage, RGB) BD-rate of level 2 and level 2 --tune ssim against cjpeg and cwebp;
- per picture the largest mean error of a channel, the PSNR at quality 99 and the encode CPU time
  against the classic encoder at the same quality;

then the goals with the measured values over every picture run.

    /usr/bin/python3 bench/optimize/study.py --cli build/cli/varnic-cli --work build/optstudy
"""
import argparse
import datetime
import os
import shutil
import subprocess
import sys

import numpy as np
from PIL import Image
from skimage.metrics import structural_similarity

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from rdmath import bd_rate, psnr  # noqa: E402

SETS = {
    "tuning": ["coffee", "chelsea", "rocket", "moon"],
    "check": ["motorcycle_left", "retina", "hubble_deep_field", "grass"],
}
CROP = 512
ANCHOR_QUALITIES = list(range(20, 81, 10))
OPT_QUALITIES = list(range(5, 100, 8))
TOP_QUALITY = 99
LEVEL_CURVES = {"O1": ["-O", "1"], "O2": ["-O", "2"], "O3": ["-O", "3"],
                "O2ssim": ["-O", "2", "--tune", "ssim"]}
SSIM_CURVES = ["O2", "O2ssim"]
SSIM_ANCHORS = ["cjpeg", "cwebp"]


class Peer:
    """One peer's command lines. `mode` says how its points are chosen: "quality" runs the anchor
    qualities, "rate" asks for the bits per pixel cjpeg reached, "matched" searches `ladder` (file
    size monotone in the setting, growing if `grows`) for files as large as cjpeg's."""

    def __init__(self, name, ext, tools, mode, source, decoded, encode, decode, ladder=None, grows=True):
        self.name, self.ext, self.tools, self.mode = name, ext, tools, mode
        self.source, self.decoded = source, decoded  # "png" or "pnm" (.ppm or .pgm by the picture)
        self.encode, self.decode = encode, decode
        self.ladder, self.grows = ladder, grows

    def available(self):
        return all(shutil.which(t) for t in self.tools)


def peers():
    return [
        Peer("cjpeg", ".jpg", ["cjpeg", "djpeg"], "quality", "pnm", "pnm",
             lambda s, i, o: ["cjpeg", "-quality", str(s), "-outfile", o, i],
             lambda i, o: ["djpeg", "-outfile", o, i]),
        Peer("cjpeg-opt", ".jpg", ["cjpeg", "djpeg"], "quality", "pnm", "pnm",
             lambda s, i, o: ["cjpeg", "-optimize", "-quality", str(s), "-outfile", o, i],
             lambda i, o: ["djpeg", "-outfile", o, i]),
        Peer("cwebp", ".webp", ["cwebp", "dwebp"], "quality", "png", "pnm",
             lambda s, i, o: ["cwebp", "-quiet", "-q", str(s), i, "-o", o],
             lambda i, o: ["dwebp", "-quiet", i, "-ppm", "-o", o]),
        Peer("cwebp-m6", ".webp", ["cwebp", "dwebp"], "quality", "png", "pnm",
             lambda s, i, o: ["cwebp", "-quiet", "-m", "6", "-q", str(s), i, "-o", o],
             lambda i, o: ["dwebp", "-quiet", i, "-ppm", "-o", o]),
        Peer("j2k", ".j2k", ["opj_compress", "opj_decompress"], "rate", "pnm", "pnm",
             lambda s, i, o: ["opj_compress", "-i", i, "-o", o, "-I", "-r", "%.4f" % s],
             lambda i, o: ["opj_decompress", "-i", i, "-o", o]),
        Peer("htj2k", ".j2c", ["ojph_compress", "ojph_expand"], "matched", "pnm", "pnm",
             lambda s, i, o: ["ojph_compress", "-i", i, "-o", o, "-qstep", "%.5f" % s],
             lambda i, o: ["ojph_expand", "-i", i, "-o", o],
             ladder=[0.001 * 1.12 ** k for k in range(55)], grows=False),
        Peer("jxl", ".jxl", ["cjxl", "djxl"], "matched", "png", "png",
             lambda s, i, o: ["cjxl", i, o, "-d", "%.4f" % s, "--num_threads=0", "--quiet"],
             lambda i, o: ["djxl", i, o, "--num_threads=0", "--quiet"],
             ladder=[0.05 * 1.15 ** k for k in range(45)], grows=False),
        Peer("avif", ".avif", ["avifenc", "avifdec"], "matched", "png", "png",
             lambda s, i, o: ["avifenc", "--min", str(s), "--max", str(s), i, o],
             lambda i, o: ["avifdec", i, o], ladder=list(range(64)), grows=False),
    ]


class Picture:
    def __init__(self, name, path, work):
        self.name, self.png = name, path
        self.ref = np.asarray(Image.open(path))
        self.grey = self.ref.ndim == 2
        self.pixels = self.ref.shape[0] * self.ref.shape[1]
        self.pnm = os.path.join(work, name + (".pgm" if self.grey else ".ppm"))
        if not os.path.exists(self.pnm):
            Image.open(path).save(self.pnm, format="PPM")
        self.out = os.path.join(work, "out", name)
        os.makedirs(self.out, exist_ok=True)

    def ext(self, kind):
        return ".png" if kind == "png" else ".pgm" if self.grey else ".ppm"


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
    """CPU seconds (user + system) of one whole process; wait4 keeps sub-tick precision."""
    proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    if os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit("study: %s failed: %s" % (" ".join(argv), err[-300:]))
    return usage.ru_utime + usage.ru_stime


def measure(pic, coded, decoded, seconds, ssim=False):
    img = np.asarray(Image.open(decoded).convert("L" if pic.grey else "RGB"))
    err = img.astype(np.float64) - pic.ref
    mean = err.reshape(-1, 3).mean(axis=0) if err.ndim == 3 else np.array([err.mean()])
    row = {"bpp": 8.0 * os.path.getsize(coded) / pic.pixels, "psnr": psnr(pic.ref, img),
           "mean_error": mean.tolist(), "seconds": seconds}
    if ssim:
        s = structural_similarity(pic.ref, img, data_range=255, channel_axis=None if pic.grey else 2)
        row["ssim"] = float(s)
        row["ssim_db"] = float(-10 * np.log10(max(1 - s, 1e-10)))
    return row


def varnic_point(cli, pic, tag, quality, extra, repeat, ssim=False):
    cod = os.path.join(pic.out, "%s_q%d.cod" % (tag, quality))
    out = cod[:-4] + ".png"
    # The fastest of `repeat` runs: the machine is shared and the small pictures code in tens of ms.
    seconds = min(run([cli, "compress", pic.png, "-o", cod, "-f", "--quiet", "-q", str(quality)] + extra)
                  for _ in range(repeat))
    run([cli, "decompress", cod, "-o", out, "-f", "--quiet"])
    return measure(pic, cod, out, seconds, ssim)


def peer_point(peer, pic, setting, ssim):
    coded = os.path.join(pic.out, "%s_%s%s" % (peer.name, ("%.4f" % setting).rstrip("0").rstrip("."), peer.ext))
    decoded = coded + "_d" + pic.ext(peer.decoded)
    source = pic.png if peer.source == "png" else pic.pnm
    seconds = run(peer.encode(setting, source, coded))
    run(peer.decode(coded, decoded))
    return measure(pic, coded, decoded, seconds, ssim)


def matched_settings(peer, pic, targets):
    """Per target size, the ladder setting whose file is closest (one search, shared probes)."""
    sizes = {}
    probe = os.path.join(pic.out, "probe" + peer.ext)
    source = pic.png if peer.source == "png" else pic.pnm

    def size(k):
        if k not in sizes:
            run(peer.encode(peer.ladder[k], source, probe))
            sizes[k] = os.path.getsize(probe)
        return sizes[k]

    chosen = []
    for target in targets:
        lo, hi = 0, len(peer.ladder) - 1
        while hi - lo > 1:
            mid = (lo + hi) // 2
            if (size(mid) < target) == peer.grows:
                lo = mid
            else:
                hi = mid
        k = min((lo, hi), key=lambda j: abs(size(j) - target))
        if peer.ladder[k] not in chosen:
            chosen.append(peer.ladder[k])
    return chosen


def study_picture(cli, pic, available, repeat):
    r = {"classic": [varnic_point(cli, pic, "c", q, [], 1) for q in ANCHOR_QUALITIES],
         "classic_all": [varnic_point(cli, pic, "c", q, [], repeat) for q in OPT_QUALITIES],
         "top": {"classic": varnic_point(cli, pic, "c", TOP_QUALITY, [], 1)["psnr"]}}
    for key, extra in LEVEL_CURVES.items():
        timed = repeat if key in ("O2", "O3") else 1
        r[key] = [varnic_point(cli, pic, key, q, extra, timed, key in SSIM_CURVES) for q in OPT_QUALITIES]
    for key in ("O2", "O3"):
        r["top"][key] = varnic_point(cli, pic, key, TOP_QUALITY, LEVEL_CURVES[key], 1)["psnr"]
    for peer in available:
        if peer.mode == "quality":
            settings = ANCHOR_QUALITIES
        else:
            if peer.mode == "rate":  # opj_compress -r takes the ratio to the raw bits
                settings = [(8 if pic.grey else 24) / row["bpp"] for row in r["cjpeg"]]
            else:
                settings = matched_settings(peer, pic, [row["bpp"] * pic.pixels / 8 for row in r["cjpeg"]])
        r[peer.name] = [peer_point(peer, pic, s, peer.name in SSIM_ANCHORS) for s in settings]
    return r


def mean_row(label, key, values):
    return "%-18s %-7s" % (label, key) + "".join("%+10.1f%%" % np.nanmean(v) for v in values)


def report(set_name, results, anchors, levels):
    print("== %s set" % set_name)
    print("PSNR BD-rate (negative: fewer bytes at equal PSNR)")
    print("%-18s %-7s" % ("picture", "curve") + "".join("%11s" % a for a in anchors))
    totals = {}
    for name, r in results.items():
        for key in levels:
            vals = [bd_rate(r[a], r[key]) for a in anchors]
            totals.setdefault(key, []).append(vals)
            print("%-18s %-7s" % (name, key) + "".join("%+10.1f%%" % v for v in vals))
    for key, v in totals.items():
        print(mean_row("mean", key, np.array(v).T))
    print("SSIM BD-rate (SSIM as -10 log10(1 - SSIM))")
    print("%-18s %-7s" % ("picture", "curve") + "".join("%11s" % a for a in SSIM_ANCHORS))
    totals = {}
    for name, r in results.items():
        for key in SSIM_CURVES:
            vals = [bd_rate(r[a], r[key], key="ssim_db") for a in SSIM_ANCHORS]
            totals.setdefault(key, []).append(vals)
            print("%-18s %-7s" % (name, key) + "".join("%+10.1f%%" % v for v in vals))
    for key, v in totals.items():
        print(mean_row("mean", key, np.array(v).T))
    print("Per picture: largest |mean error| of a channel (levels 1-3), PSNR at q%d, encode time x classic"
          % TOP_QUALITY)
    print("%-18s %10s %9s %9s %9s %8s %8s %8s" % ("picture", "max |mean|", "class dB", "O2 dB", "O3 dB",
                                                 "O1 x", "O2 x", "O3 x"))
    for name, r in results.items():
        worst = max(abs(m) for key in levels for row in r[key] for m in row["mean_error"])
        print("%-18s %10.2f %9.2f %9.2f %9.2f %8.2f %8.2f %8.2f" % (
            name, worst, r["top"]["classic"], r["top"]["O2"], r["top"]["O3"],
            *(time_ratio(r, key) for key in ("O1", "O2", "O3"))))


def time_ratio(r, key):
    return float(np.mean([a["seconds"] / max(b["seconds"], 1e-4) for a, b in zip(r[key], r["classic_all"])]))


def goals(results, sets, anchors):
    """Rows of (goal, per-set means, verdict on the mean over every picture)."""
    def per_set(fn):
        vals = {s: [fn(r) for r in results.values() if r["set"] == s] for s in sets}
        return vals, [v for s in sets for v in vals[s]]

    rows = []

    def mean_goal(label, fn, limit):
        vals, every = per_set(fn)
        m = float(np.nanmean(every))
        shown = "  ".join("%s %+.1f" % (s, np.nanmean(vals[s])) for s in sets if vals[s])
        rows.append((label, "%s  all %+.1f" % (shown, m), m <= limit))

    for anchor, limit in (("cjpeg", -30), ("htj2k", 0), ("cwebp", 10)):
        if anchor in anchors:
            mean_goal("-O 2 PSNR BD-rate vs %s <= %+d%%" % (anchor, limit),
                      lambda r, a=anchor: bd_rate(r[a], r["O2"]), limit)
    for anchor, limit in (("cjpeg", -25), ("cwebp", 15)):
        mean_goal("-O 2 --tune ssim SSIM BD-rate vs %s <= %+d%%" % (anchor, limit),
                  lambda r, a=anchor: bd_rate(r[a], r["O2ssim"], key="ssim_db"), limit)
    colour = [r for r in results.values() if not r["grey"]]
    for key in ("O2", "O3"):
        if colour:
            top = [r["top"][key] for r in colour]
            rows.append(("-O %s PSNR at q%d >= 50 dB (%d colour photos)" % (key[1], TOP_QUALITY, len(top)),
                         "%.2f..%.2f dB, short by %.2f at worst" % (min(top), max(top), 50 - min(top)),
                         min(top) >= 50))
    for key, limit in (("O2", 3), ("O3", 12)):
        vals, every = per_set(lambda r, k=key: time_ratio(r, k))
        rows.append(("-O %s encode time <= %dx classic" % (key[1], limit),
                     "  ".join("%s %.2f" % (s, np.mean(vals[s])) for s in sets if vals[s]) +
                     "  all %.2f (max %.2f)" % (np.mean(every), max(every)), np.mean(every) <= limit))
    print("== goals (means over every picture run; PSNR at q%d: every colour photo)" % TOP_QUALITY)
    for label, measured, ok in rows:
        print("%-48s %-44s %s" % (label, measured, "met" if ok else "NOT met"))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", default="build/cli/varnic-cli")
    ap.add_argument("--work", default="build/optstudy")
    ap.add_argument("--sets", default="tuning,check")
    ap.add_argument("--repeat", type=int, default=3, help="runs of each timed encode, the fastest kept")
    args = ap.parse_args()
    started, load_start = datetime.datetime.now(datetime.timezone.utc), os.getloadavg()
    pics = make_pictures(os.path.join(args.work, "pics"))
    available = [p for p in peers() if p.available()]
    skipped = [p for p in peers() if not p.available()]
    if any(p.name in ["cjpeg"] + SSIM_ANCHORS for p in skipped):
        sys.exit("study: cjpeg and cwebp are needed (scripts/install-deps.sh installs them)")
    anchors = ["classic"] + [p.name for p in available]
    levels = ["O1", "O2", "O3"]
    chosen = args.sets.split(",")
    results = {}
    for set_name in chosen:
        for name in SETS[set_name]:
            pic = Picture(name, pics[name], args.work)
            print("study: %s" % name, file=sys.stderr, flush=True)
            results[name] = dict(study_picture(args.cli, pic, available, args.repeat), set=set_name, grey=pic.grey)
    for set_name in chosen:
        report(set_name, {n: r for n, r in results.items() if r["set"] == set_name}, anchors, levels)
    goals(results, chosen, anchors)
    for p in skipped:
        print("skipped: %s (%s not installed)" % (p.name, " / ".join(p.tools)))
    print("run: %s UTC, %.0f s, load average %.2f %.2f %.2f at the start, %.2f %.2f %.2f at the end" % (
        started.strftime("%Y-%m-%d %H:%M"), (datetime.datetime.now(datetime.timezone.utc) - started).total_seconds(),
        *load_start, *os.getloadavg()))


if __name__ == "__main__":
    main()
