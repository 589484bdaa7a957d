# SPDX-License-Identifier: BSD-2-Clause
"""The Python package against varnic-cli: the same bytes, the same pixels, the same messages;
layouts used in place, threads, cancelling, files, the Pillow plugin and hostile input."""
import json
import os
import random
import shlex
import subprocess
import threading

import numpy as np
import pytest
from PIL import Image

import varnic
import varnic.pillow  # noqa: F401  (registers the plugin)

CLI = os.environ["VARNIC_CLI"]
DATA = os.path.join(os.environ["VARNIC_TEST_DATA"], "conformance")
with open(os.path.join(DATA, "manifest.json")) as f:
    CASES = [c for c in json.load(f)["cases"] if "options" in c]
CODS = sorted(os.listdir(os.path.join(DATA, "cod")))
ASTRONAUT = os.path.join(DATA, "pics", "astronaut_256x192.bmp")


def cli(*args):
    return subprocess.run([CLI, *args], capture_output=True)


def read_pnm(path):
    """P5/P6 with maxval 255, parsed here so that the check does not go through the library."""
    with open(path, "rb") as f:
        data = f.read()
    kind, width, height, _maxval, pixels = data.split(maxsplit=4)
    shape = (int(height), int(width)) + ((3,) if kind == b"P6" else ())
    return np.frombuffer(pixels, np.uint8).reshape(shape)


def keyword_options(options):
    """`varnic-cli compress` options as encode()'s keywords."""
    args, out = shlex.split(options), {}
    for flag, value in zip(args[::2], args[1::2]):
        if flag == "-q":
            out["quality"] = int(value)
        elif flag == "--type":
            out["image_type"] = value
        elif flag == "--levels":
            out["levels"] = int(value)
        elif flag == "--dropped":
            out["dropped"] = [int(v) for v in value.split(",")]
        elif flag == "--comment":
            out["comment"] = value
        else:
            raise AssertionError(flag)
    return out


@pytest.mark.parametrize("case", CASES, ids=[c["case"] for c in CASES])
def test_encode_gives_the_cli_bytes(case, tmp_path):
    picture = varnic.read(os.path.join(DATA, "pics", case["picture"]))
    out = tmp_path / "cli.cod"
    run = cli("compress", os.path.join(DATA, "pics", case["picture"]), "-o", str(out), "--quiet",
              *shlex.split(case["options"]))
    if case.get("refused"):
        with pytest.raises(varnic.PictureTooSmall) as error:
            varnic.encode(picture, **keyword_options(case["options"]))
        assert str(error.value) in run.stderr.decode()
        return
    assert run.returncode == 0, run.stderr
    assert varnic.encode(picture, **keyword_options(case["options"])) == out.read_bytes()


@pytest.mark.parametrize("name", CODS)
def test_decode_gives_the_cli_pixels(name, tmp_path):
    data = open(os.path.join(DATA, "cod", name), "rb").read()
    header = varnic.info(data)
    assert varnic.info(os.path.join(DATA, "cod", name)) == header
    for reduce in {0, 1, header.levels - 1}:
        out = tmp_path / "cli" / ("%d.%s" % (reduce, "pgm" if header.grey else "ppm"))
        out.parent.mkdir(exist_ok=True)
        run = cli("decompress", os.path.join(DATA, "cod", name), "-o", str(out), "--reduce", str(reduce), "--quiet")
        assert run.returncode == 0, run.stderr
        np.testing.assert_array_equal(varnic.decode(data, reduce), read_pnm(out))
        assert varnic.decode_to_file(data, tmp_path / out.name, reduce) == out.stat().st_size
        assert (tmp_path / out.name).read_bytes() == out.read_bytes()


def test_photographs_are_turned_unless_kept(tmp_path):
    pixels = np.zeros((16, 32, 3), np.uint8)
    exif = Image.Exif()
    exif[0x0112] = 6  # the stored rows are to be turned a quarter clockwise
    path = tmp_path / "turned.jpg"
    Image.fromarray(pixels).save(path, exif=exif)
    assert varnic.read(path).shape == (32, 16, 3)
    assert varnic.read(path, keep_orientation=True).shape == (16, 32, 3)
    assert varnic.read(path.read_bytes(), keep_orientation=True).shape == (16, 32, 3)


def test_png_level_reaches_the_writer(tmp_path):
    data = varnic.encode(varnic.read(ASTRONAUT))
    stored, smallest = (varnic.decode_to_file(data, tmp_path / ("%d.png" % level), png_level=level) for level in (0, 9))
    assert smallest < stored
    np.testing.assert_array_equal(varnic.read(tmp_path / "0.png"), varnic.read(tmp_path / "9.png"))
    with pytest.raises(varnic.InvalidArgument, match="PNG level 10"):
        varnic.decode_to_file(data, tmp_path / "x.png", png_level=10)


def test_pictures_are_used_in_place_whatever_their_layout():
    rgb = varnic.read(ASTRONAUT)
    expected = varnic.encode(rgb)
    padded = np.zeros((rgb.shape[0], rgb.shape[1] + 3, 3), np.uint8)
    padded[:, :-3] = rgb
    bgr_flipped = np.ascontiguousarray(rgb[::-1, :, ::-1])
    for view, bgr in [(padded[:, :-3], False), (bgr_flipped[::-1], True), (bgr_flipped[::-1, :, ::-1], False),
                      (np.asfortranarray(rgb), False)]:
        assert varnic.encode(view, bgr=bgr) == expected
    # Decoding into a caller's flipped, padded array gives the same pixels.
    out = np.zeros_like(padded)[::-1, :-3]
    assert varnic.decode(expected, out=out) is out
    np.testing.assert_array_equal(out, varnic.decode(expected))
    np.testing.assert_array_equal(varnic.decode(expected, bgr=True), varnic.decode(expected)[..., ::-1])


def test_files_round_trip_and_report_notices(tmp_path):
    grey = varnic.read(os.path.join(DATA, "pics", "camera_256x256_g.bmp"))
    for ext in ("png", "bmp", "tga", "pgm"):
        path = tmp_path / ("x." + ext)
        assert varnic.write(path, grey) == path.stat().st_size
        np.testing.assert_array_equal(varnic.read(path), grey)
        np.testing.assert_array_equal(varnic.read(path.read_bytes(), name=path.name), grey)
    assert varnic.write(tmp_path / "x.cod", grey, quality=10) > 0
    assert (tmp_path / "x.cod").read_bytes() == open(os.path.join(DATA, "cod", "camera_q10.cod"), "rb").read()
    with pytest.raises(varnic.FileError):
        varnic.write(tmp_path / "x.cod", grey, overwrite=False)
    notices = []
    bmp = bytearray((tmp_path / "x.bmp").read_bytes())
    bmp[54:58] = b"\x00\x00\xff\x00"  # the first colour of the grey ramp made red: a palette picture
    assert varnic.read(bytes(bmp), notices=notices).shape == (256, 256, 3) and "palette" in notices[0]


def test_settings_are_refused_with_the_library_message(tmp_path):
    grey = varnic.read(os.path.join(DATA, "pics", "camera_9x5_g.bmp"))
    for options, words in [({"quality": 100}, "uality"), ({"levels": 7}, "evels"), ({"threads": 0}, "threads: 0"),
                           ({"quant_steps": {"i": [1, 2]}}, "I quantization vector"), ({"comment": "x" * 2048}, "2047"),
                           ({"target_size": 10, "target_psnr": 30}, "not both"), ({"image_type": "sky"}, "image_type")]:
        with pytest.raises(varnic.InvalidArgument, match=words):
            varnic.encode(grey, **options)
    with pytest.raises(TypeError):
        varnic.encode(grey.astype(np.uint16))
    # The message is the one varnic-cli prints for the same file.
    data = open(os.path.join(DATA, "cod", "astronaut_q50.cod"), "rb").read()
    (tmp_path / "cut.cod").write_bytes(data[:2000])
    with pytest.raises(varnic.InvalidFile) as error:
        varnic.decode(data[:2000])
    assert str(error.value) and str(error.value) in cli("decompress", str(tmp_path / "cut.cod"), "-o",
                                                        str(tmp_path / "cut.ppm")).stderr.decode()
    with pytest.raises(varnic.LimitExceeded, match="limit of 1000"):
        varnic.decode(data, max_pixels=1000)


def test_threads_keep_their_own_errors_and_results():
    rgb = varnic.read(ASTRONAUT)
    expected = varnic.encode(rgb, quality=30)
    problems = []

    def work(options, words):
        for _ in range(20):
            try:
                varnic.encode(rgb, **options)
                problems.append("%s accepted" % options)
            except varnic.InvalidArgument as e:
                if words not in str(e):
                    problems.append("%s: %s" % (options, e))
            if varnic.encode(rgb, quality=30) != expected:
                problems.append("bytes differ")
    threads = [threading.Thread(target=work, args=a) for a in (({"quality": 100}, "uality"), ({"levels": 9}, "evels"))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert problems == []


def test_progress_and_cancelling():
    rgb = varnic.read(ASTRONAUT)
    stages = []
    varnic.encode(rgb, progress=lambda stage, done, total: stages.append((stage, done, total)))
    assert stages == [("encode-plane", k, 6) for k in range(1, 7)]

    class Stop(Exception):
        pass

    def stop(*_):
        raise Stop()
    with pytest.raises(Stop):
        varnic.decode(varnic.encode(rgb), reduce=1, progress=stop)
    token = varnic.CancelToken()
    token.cancel()
    with pytest.raises(varnic.Cancelled):
        varnic.encode(rgb, cancel=token)
    with pytest.raises(varnic.Cancelled):
        varnic.decode(varnic.encode(rgb), cancel=token)


def test_pillow_opens_drafts_and_saves(tmp_path):
    path = os.path.join(DATA, "cod", "astronaut_comment.cod")
    data = open(path, "rb").read()
    with Image.open(path) as im:
        assert (im.format, im.mode, im.size, im.info["comment"]) == ("COD", "RGB", (256, 192), b"conformance")
        np.testing.assert_array_equal(np.asarray(im), varnic.decode(data))
    with Image.open(path) as im:
        assert im.draft("RGB", (70, 40)) == ("RGB", (0, 0, 128.0, 96.0))  # at least the size asked for
        assert im.size == (128, 96)
        np.testing.assert_array_equal(np.asarray(im), varnic.decode(data, reduce=1))
    with Image.open(os.path.join(DATA, "cod", "camera_q50.cod")) as im:
        im.thumbnail((64, 64))
        assert (im.mode, im.size) == ("L", (64, 64))
    with Image.open(ASTRONAUT) as im:
        im.save(tmp_path / "saved.cod", quality=60, optimize=2, comment="from Pillow")
        expected = varnic.encode(np.asarray(im), quality=60, optimize=2, comment="from Pillow")
    assert (tmp_path / "saved.cod").read_bytes() == expected
    with pytest.raises(OSError, match="mode RGBA"):
        Image.new("RGBA", (8, 8)).save(tmp_path / "x.cod")


def test_hostile_files_raise_and_never_crash():
    rng = random.Random(1)
    for name in ("astronaut_comment.cod", "camera_q50.cod", "astronaut_comment_v23.cod"):
        data = open(os.path.join(DATA, "cod", name), "rb").read()
        mutants = [data[:n] for n in range(0, len(data), max(1, len(data) // 97))]
        for _ in range(150):
            mutant = bytearray(data)
            for _ in range(rng.randint(1, 4)):
                at = rng.randrange(min(len(data), 400) if rng.random() < 0.7 else len(data))
                mutant[at] = rng.randrange(256)
            mutants.append(bytes(mutant))
        for mutant in mutants:
            for call in (lambda: varnic.decode(mutant, max_pixels=1 << 20), lambda: varnic.info(mutant),
                         lambda: varnic.read(mutant, max_pixels=1 << 20)):
                try:
                    call()
                except varnic.VarnicError as e:
                    assert str(e) and e.status != "internal-error", (name, e)
