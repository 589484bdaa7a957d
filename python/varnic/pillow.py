# SPDX-License-Identifier: BSD-2-Clause
"""Pillow plugin for .cod files: ``import varnic.pillow`` registers it.

    >>> from PIL import Image
    >>> import varnic.pillow
    >>> im = Image.open("photo.cod")          # mode "RGB" or "L"; im.info["comment"] is bytes
    >>> im.draft("RGB", (200, 150))           # decode at 1/2, 1/4, ... of the size, like JPEG
    >>> im.save("copy.cod", quality=60, optimize=2)

Saving takes encode's options (quality, optimize, levels, image_type, comment, threads,
target_size, target_psnr, ...); the comment of an opened file is kept unless another is given.
No Pillow release loads plugins through package entry points, so the import is needed.
"""
from __future__ import annotations

from typing import Any, IO, Optional

import numpy as np
from PIL import Image, ImageFile

import varnic

FORMAT = "COD"
MIME_TYPE = "image/x-varnic-cod"
_SAVE_OPTIONS = ("levels", "image_type", "quant_steps", "thresholds", "dropped", "threads", "target_size",
                 "target_psnr", "max_pixels")


def _accept(prefix: bytes) -> bool:
    return varnic.is_cod(prefix[:16])


class CodImageFile(ImageFile.ImageFile):
    format = FORMAT
    format_description = "varnic wavelet picture"

    def _open(self) -> None:
        data = self.fp.read()
        try:
            header = varnic.info(data)
        except varnic.VarnicError as e:
            raise SyntaxError(str(e)) from e  # Pillow's way of saying "not this plugin's file"
        mode = "L" if header.grey else "RGB"
        # Pillow 10.1 made `mode` a read-only view of `_mode`.
        if isinstance(getattr(Image.Image, "mode", None), property):
            self._mode = mode
        else:
            self.mode = mode
        self._size = (header.width, header.height)
        self._levels = header.levels
        self.info["comment"] = header.comment
        self.tile = [("varnic", (0, 0) + self.size, 0, ())]

    def draft(self, mode: Optional[str], size: Optional[tuple[int, int]]) -> Optional[tuple[str, tuple]]:
        """Decodes at the smallest 1/2^k of the size that is still at least `size` (as JPEG's draft
        does); `mode` is not changed. Returns the mode and the original picture's box in the
        reduced one, or None when nothing changed."""
        if len(self.tile) != 1 or self.decoderconfig or not size:
            return None
        scale = min(self.size[0] // max(size[0], 1), self.size[1] // max(size[1], 1))
        reduce = 0
        while reduce + 1 < self._levels and 2 ** (reduce + 1) <= scale:
            reduce += 1
        original = self.size
        self.fp.seek(0)
        self._size = varnic.decoded_size(self.fp.read(), reduce)
        self.tile = [("varnic", (0, 0) + self.size, 0, ())]
        self.decoderconfig = (reduce,)
        return self.mode, (0, 0, original[0] / 2 ** reduce, original[1] / 2 ** reduce)


class CodDecoder(ImageFile.PyDecoder):
    _pulls_fd = True

    def decode(self, buffer: bytes) -> tuple[int, int]:
        reduce = self.args[0] if self.args else 0
        try:
            pixels = varnic.decode(self.fd.read(), reduce)
        except varnic.VarnicError as e:
            raise OSError(str(e)) from e
        self.set_as_raw(pixels.tobytes())
        return -1, 0


def _save(im: Image.Image, fp: IO[bytes], filename: Any) -> None:
    if im.mode not in ("RGB", "L"):
        raise OSError("cannot write mode %s as %s" % (im.mode, FORMAT))
    info = im.encoderinfo
    options = {name: info[name] for name in _SAVE_OPTIONS if name in info}
    comment = info.get("comment", im.info.get("comment", b""))
    fp.write(varnic.encode(np.asarray(im), quality=info.get("quality", 50), optimize=int(info.get("optimize", 0)),
                           comment=comment, **options))


Image.register_open(FORMAT, CodImageFile, _accept)
Image.register_save(FORMAT, _save)
Image.register_extension(FORMAT, ".cod")
Image.register_mime(FORMAT, MIME_TYPE)
Image.register_decoder("varnic", CodDecoder)
