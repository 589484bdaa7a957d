#!/usr/bin/python3
# SPDX-License-Identifier: BSD-2-Clause
"""Checks of the comparison harness itself: measurement, pictures, verdicts."""

import importlib.machinery
import importlib.util
import os
import tempfile
import unittest

import numpy as np
from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
_loader = importlib.machinery.SourceFileLoader("compare", os.path.join(HERE, "compare"))
_spec = importlib.util.spec_from_loader("compare", _loader)
compare = importlib.util.module_from_spec(_spec)
_loader.exec_module(compare)

PY = "/usr/bin/python3"


class MeasurementTest(unittest.TestCase):
    def test_peak_memory_is_the_childs_own(self):
        # This interpreter holds numpy, skimage and matplotlib (well over 50 MiB);
        # a tiny child must not report that inherited resident set.
        _, _, small = compare.run_measured(["true"])
        self.assertLess(small / 1024, 20)
        _, _, big = compare.run_measured(
            [PY, "-c", "b = bytearray(160 << 20); b[::4096] = b'x' * len(b[::4096])"])
        self.assertGreater(big / 1024, 160)
        self.assertLess(big / 1024, 220)

    def test_wall_time_covers_the_whole_process_and_cpu_time_only_work(self):
        # Bounds are loose: the machine may be busy with builds.
        wall, cpu, _ = compare.run_measured([PY, "-c", "import time; time.sleep(0.6)"])
        self.assertGreaterEqual(wall, 0.6)
        self.assertLess(wall, 10.0)
        self.assertLess(cpu, 0.45)
        spin = "import time\nt = time.process_time()\nwhile time.process_time() - t < 0.3: pass"
        _, cpu, _ = compare.run_measured([PY, "-c", spin])
        self.assertGreaterEqual(cpu, 0.3)
        self.assertLess(cpu, 1.5)

    def test_failing_command_raises_with_its_status_and_message(self):
        with self.assertRaises(compare.CodecFailure) as ctx:
            compare.run_measured([PY, "-c", "import sys; sys.stderr.write('boom'); sys.exit(3)"])
        self.assertIn("exited with 3", str(ctx.exception))
        self.assertIn("boom", str(ctx.exception))

    def test_best_of_runs_takes_the_fastest_and_the_largest_peak(self):
        counter = os.path.join(tempfile.mkdtemp(), "n")
        # Later runs work longer and hold less memory: the minimum times are the
        # first run's, and so is the peak.
        prog = ("import os, time\n"
                "p = %r\n"
                "n = int(open(p).read()) if os.path.exists(p) else 0\n"
                "open(p, 'w').write(str(n + 1))\n"
                "b = bytearray((100 - 40 * n) << 20); b[::4096] = b'x' * len(b[::4096])\n"
                "t = time.process_time()\n"
                "while time.process_time() - t < 0.1 + 0.6 * n: pass\n" % counter)
        wall, cpu, peak = compare.run_best([PY, "-c", prog], 3)
        self.assertLess(cpu, 0.6)
        self.assertLessEqual(cpu, wall)
        self.assertGreater(peak / 1024, 100)


class PictureTest(unittest.TestCase):
    def test_mirror_tiling_is_continuous_and_exact_in_size(self):
        tile = np.arange(12, dtype=np.uint8).reshape(3, 4)
        out = compare.mirror_tile(tile, 10)
        self.assertEqual(out.shape, (10, 10))
        np.testing.assert_array_equal(out[:3, :4], tile)
        # Across each join the neighbouring columns/rows are equal (mirror), so
        # no hard edge appears.
        np.testing.assert_array_equal(out[:3, 3], out[:3, 4])
        np.testing.assert_array_equal(out[2, :4], out[3, :4])
        np.testing.assert_array_equal(out[:3, 8:10], tile[:, :2])

    def test_mirror_tiling_keeps_colour_planes(self):
        tile = np.zeros((2, 2, 3), dtype=np.uint8)
        tile[..., 2] = 200
        out = compare.mirror_tile(tile, 5)
        self.assertEqual(out.shape, (5, 5, 3))
        self.assertTrue(np.all(out[..., 2] == 200) and np.all(out[..., :2] == 0))

    def test_grey_bmp_with_a_grey_ramp_loads_as_one_plane(self):
        d = tempfile.mkdtemp()
        grey = np.arange(64, dtype=np.uint8).reshape(8, 8)
        Image.fromarray(grey, "L").save(os.path.join(d, "g.bmp"))
        np.testing.assert_array_equal(compare.load_pixels(os.path.join(d, "g.bmp")), grey)
        pal = Image.fromarray(grey, "P")
        pal.putpalette([0, 0, 0, 255, 0, 0] + [7] * (254 * 3))
        pal.save(os.path.join(d, "p.bmp"))
        self.assertEqual(compare.load_pixels(os.path.join(d, "p.bmp")).shape, (8, 8, 3))

    def test_decoded_picture_of_another_size_is_a_failure(self):
        d = tempfile.mkdtemp()
        Image.fromarray(np.zeros((8, 6), np.uint8), "L").save(os.path.join(d, "x.pgm"))
        with self.assertRaises(compare.CodecFailure):
            compare.read_decoded(os.path.join(d, "x.pgm"), np.zeros((8, 8), np.uint8))

    def test_metrics_use_the_full_byte_range(self):
        ref = np.full((32, 32, 3), 100, np.uint8)
        off = ref + 1  # every sample off by one: MSE 1
        psnr, ssim = compare.quality_metrics(ref, off)
        self.assertAlmostEqual(psnr, 20 * np.log10(255), places=6)
        self.assertLessEqual(ssim, 1.0)
        with np.errstate(divide="ignore"):
            self.assertAlmostEqual(compare.quality_metrics(ref, ref.copy())[1], 1.0)


def row(codec, setting, bpp, enc, dec, enc_mib=50.0, dec_mib=50.0, picture="big"):
    return {"picture": picture, "codec": codec, "setting": setting, "bpp": bpp,
            "enc_mps": enc, "dec_mps": dec, "enc_mib": enc_mib, "dec_mib": dec_mib}


class Big:
    name = "big"
    raw_bytes = 4096 * 4096 * 3


class VerdictTest(unittest.TestCase):
    def targets(self, rows, linear=()):
        return {t[0].split(" (")[0]: t for t in compare.speed_targets(rows, Big, list(linear))}

    def test_ratios_compare_with_the_opj_rate_closest_to_ours(self):
        rows = [row("varnic", 50, 0.50, 6.0, 9.0),
                row("jpeg2000", 0.30, 0.30, 100.0, 100.0),  # far rate: must be ignored
                row("jpeg2000", 0.49, 0.49, 2.0, 3.0),
                row("webp", 75, 1.0, 4.0, 20.0),
                row("webp", 50, 0.8, 1.0, 20.0)]
        t = self.targets(rows)
        self.assertEqual(t["encode ≥ 3.0× opj_compress"][2], "pass")     # 6/2 = 3.0
        self.assertEqual(t["decode ≥ 3.0× opj_decompress"][2], "pass")   # 9/3 = 3.0
        self.assertEqual(t["encode ≥ 1.5× cwebp -q 75"][2], "pass")      # 6/4 = 1.5
        rows[0]["enc_mps"] = 5.9
        t = self.targets(rows)
        self.assertEqual(t["encode ≥ 3.0× opj_compress"][2], "FAIL")
        self.assertEqual(t["encode ≥ 1.5× cwebp -q 75"][2], "FAIL")

    def test_memory_limit_is_four_times_the_raw_picture(self):
        rows = [row("varnic", 50, 0.5, 1, 1, enc_mib=192.0, dec_mib=192.5)]
        t = self.targets(rows)
        self.assertEqual(t["encode peak memory ≤ 192 MiB"][2], "pass")
        self.assertEqual(t["decode peak memory ≤ 192 MiB"][2], "FAIL")

    def test_missing_measurements_are_reported_not_judged(self):
        t = self.targets([row("jpeg", 75, 1.0, 50, 50)])
        self.assertTrue(all(v[2] == "not measured" for v in t.values()))

    def test_linearity_compares_the_largest_with_the_smallest_picture(self):
        linear = [dict(row("varnic", 50, 0.5, 10.0, 20.0), mp=1.0),
                  dict(row("varnic", 50, 0.5, 9.0, 20.0), mp=4.0),
                  dict(row("varnic", 50, 0.5, 7.4, 15.0), mp=16.0)]
        t = self.targets([row("varnic", 50, 0.5, 7.4, 15.0)], linear)
        self.assertEqual(t["encode cost linear in pixels"][2], "FAIL")   # 0.74 < 0.75
        self.assertEqual(t["decode cost linear in pixels"][2], "pass")   # 0.75

    def test_thread_rows_judge_the_encode_speed_up_and_identical_output(self):
        t = {"threads": 2, "enc_speedup": 1.6, "dec_speedup": 1.1, "enc_wall_s": (3.2, 2.0),
             "dec_wall_s": (2.2, 2.0), "same_file": True, "same_picture": True}
        verdicts = [v for _, _, v in compare.thread_targets(t)]
        self.assertEqual(verdicts, ["pass", "—", "pass"])
        t.update(enc_speedup=1.59, same_picture=False)
        verdicts = [v for _, _, v in compare.thread_targets(t)]
        self.assertEqual(verdicts, ["FAIL", "—", "FAIL"])

    def test_files_compare_by_content(self):
        d = tempfile.mkdtemp()
        paths = [os.path.join(d, n) for n in "abc"]
        for path, data in zip(paths, (b"xyz", b"xyz", b"xyw")):
            with open(path, "wb") as f:
                f.write(data)
        self.assertTrue(compare.same_bytes(paths[0], paths[1]))
        self.assertFalse(compare.same_bytes(paths[0], paths[2]))


class BdRateTest(unittest.TestCase):
    def test_half_the_rate_at_every_psnr_is_minus_fifty_percent(self):
        anchor = [{"bpp": b, "psnr": 30 + 6 * np.log2(b)} for b in (0.25, 0.5, 1, 2)]
        half = [{"bpp": p["bpp"] / 2, "psnr": p["psnr"]} for p in anchor]
        self.assertAlmostEqual(compare.bd_rate(anchor, half), -50.0, places=3)
        self.assertAlmostEqual(compare.bd_rate(half, anchor), 100.0, places=3)

    def test_curves_that_share_no_psnr_range_give_nan(self):
        low = [{"bpp": 0.1, "psnr": 20}, {"bpp": 0.2, "psnr": 22}]
        high = [{"bpp": 1, "psnr": 40}, {"bpp": 2, "psnr": 42}]
        self.assertTrue(np.isnan(compare.bd_rate(low, high)))

    def test_table_uses_anchor_points_within_q20_to_q80_only(self):
        rows = [{"picture": "p", "codec": "varnic", "setting": q, "bpp": b, "psnr": d}
                for q, b, d in ((10, 0.05, 5), (20, 0.2, 26), (50, 0.4, 28), (80, 0.8, 30), (90, 9, 60))]
        rows += [{"picture": "p", "codec": "varnic-O1", "setting": q, "bpp": b / 2, "psnr": d}
                 for q, b, d in ((20, 0.2, 26), (50, 0.4, 28), (80, 0.8, 30))]
        pic = type("P", (), {"name": "p"})()
        (entry,) = compare.bd_table([pic], rows)
        self.assertAlmostEqual(entry["varnic"], -50.0, places=3)
        self.assertTrue(np.isnan(entry["jpeg"]))


if __name__ == "__main__":
    unittest.main()
