# SPDX-License-Identifier: BSD-2-Clause
"""Rate-distortion arithmetic shared by the benchmark scripts: PSNR and the Bjontegaard rate."""
import numpy as np


def psnr(reference, decoded):
    """PSNR in dB over every sample (all three channels of a colour picture)."""
    mse = np.mean((np.asarray(reference, np.float64) - np.asarray(decoded, np.float64)) ** 2)
    return float("inf") if mse == 0 else 10 * np.log10(255.0 ** 2 / mse)


def bd_rate(anchor, test, key="psnr"):
    """Mean bit-rate difference of `test` against `anchor` in percent at equal quality (negative:
    test needs fewer bits), over the quality range both curves cover. Each curve is a list of
    {"bpp", key} points, the quality in dB (PSNR by default); log-rate is fitted as a cubic in it
    (fewer points: lower order)."""
    def fit(points):
        pts = sorted((p[key], np.log(p["bpp"])) for p in points if np.isfinite(p[key]))
        x = np.array([p[0] for p in pts])
        y = np.array([p[1] for p in pts])
        return np.polyfit(x, y, min(3, len(x) - 1)), x.min(), x.max()
    pa, lo_a, hi_a = fit(anchor)
    pt, lo_t, hi_t = fit(test)
    lo, hi = max(lo_a, lo_t), min(hi_a, hi_t)
    if hi <= lo:
        return float("nan")
    ia, it = np.polyint(pa), np.polyint(pt)
    diff = ((np.polyval(it, hi) - np.polyval(it, lo)) - (np.polyval(ia, hi) - np.polyval(ia, lo))) / (hi - lo)
    return float((np.exp(diff) - 1) * 100)
