# SPDX-License-Identifier: BSD-2-Clause
"""varnic: wavelet picture compression to and from .cod files, over libvarnic's C interface.

    >>> import numpy, varnic
    >>> picture = numpy.zeros((48, 64, 3), numpy.uint8)   # rows x columns x RGB
    >>> data = varnic.encode(picture, quality=60)          # the .cod file's bytes
    >>> varnic.decode(data, reduce=1).shape                # half size
    (24, 32, 3)

Pictures are numpy arrays of uint8: H x W for grey, H x W x 3 for RGB (``bgr=True`` for blue
first). Arrays whose pixels are packed within each row are used where they lie, whatever the row
distance or order (a flipped or cropped view, or BGR read back to front, costs no copy); others
are copied once. Every call releases the GIL while the library works, so threads run in
parallel. Failures raise VarnicError subclasses carrying the library's message.

``varnic.pillow`` teaches Pillow the format; ``varnic.batch`` converts collections with Dask.
"""
from __future__ import annotations

import ctypes
import os
import threading
from dataclasses import dataclass
from typing import Any, Mapping, Optional, Sequence, Union

import numpy as np
import numpy.typing as npt

from . import _lib
from ._lib import lib

__all__ = [
    "encode", "decode", "decode_to_file", "info", "read", "write", "file_bytes", "write_file", "decoded_size",
    "is_cod", "Info",
    "CancelToken",
    "VarnicError", "InvalidArgument", "PictureTooSmall", "NotCompressedFile", "VersionTooLow",
    "VersionTooHigh", "InvalidFile", "LimitExceeded", "OutOfMemory", "Cancelled", "InternalError",
    "FileError", "__version__",
]

__version__: str = lib.varnic_version().decode()

Array = npt.NDArray[np.uint8]
Buffer = Union[bytes, bytearray, memoryview, np.ndarray]
PathLike = Union[str, "os.PathLike[str]"]


class VarnicError(Exception):
    """A call the library refused; `status` is its stable name ("invalid-file", ...)."""

    def __init__(self, status: str, message: str) -> None:
        super().__init__(message)
        self.status = status


class InvalidArgument(VarnicError, ValueError):
    """An option or a picture description is out of range."""


class PictureTooSmall(VarnicError, ValueError):
    """A side of 1 or 2 pixels: not even one wavelet level fits."""


class NotCompressedFile(VarnicError, ValueError):
    """The data is not a .cod file."""


class VersionTooLow(VarnicError, ValueError):
    """A .cod file older than version 2.3."""


class VersionTooHigh(VarnicError, ValueError):
    """A .cod file newer than version 2.5."""


class InvalidFile(VarnicError, ValueError):
    """Damaged data, or data breaking its format's limits."""


class LimitExceeded(VarnicError):
    """More pixels than the limit, or a target size or PSNR that no quality reaches."""


class OutOfMemory(VarnicError, MemoryError):
    pass


class Cancelled(VarnicError):
    """A CancelToken or a progress callback stopped the call."""


class InternalError(VarnicError):
    pass


class FileError(VarnicError, OSError):
    """A file cannot be opened, read or written."""


_ERRORS = (None, InvalidArgument, PictureTooSmall, NotCompressedFile, VersionTooLow, VersionTooHigh, InvalidFile,
           LimitExceeded, OutOfMemory, Cancelled, InternalError, FileError)


def _check(status: int) -> None:
    if status == 0:
        return
    message = lib.varnic_error_message().decode("utf-8", "backslashreplace")
    error = _ERRORS[status] if 0 < status < len(_ERRORS) else VarnicError
    raise error(_lib.STATUS_NAMES[status] if status < len(_lib.STATUS_NAMES) else str(status), message)


class CancelToken:
    """Stops the calls it is passed to (``cancel=token``) from any thread: after cancel(), they
    raise Cancelled at their next progress point, and calls given it later at once."""

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self._handles: dict[int, Any] = {}  # handle -> its set_cancel function
        self._cancelled = False

    def cancel(self) -> None:
        with self._lock:
            self._cancelled = True
            for handle, setter in self._handles.items():
                setter(handle, 1)

    @property
    def cancelled(self) -> bool:
        return self._cancelled

    def _attach(self, setter: Any, handle: int) -> None:
        with self._lock:
            self._handles[handle] = setter
            if self._cancelled:
                setter(handle, 1)

    def _detach(self, setter: Any, handle: int) -> None:
        with self._lock:
            self._handles.pop(handle, None)


class _Handle:
    """An encoder or decoder handle for one call, with its progress callback and cancel token."""

    def __init__(self, kind: str, progress: _lib.ProgressFunction, cancel: Optional[CancelToken]) -> None:
        self._prefix = "varnic_" + kind
        handle = ctypes.c_void_p()
        _check(getattr(lib, self._prefix + "_create")(ctypes.byref(handle)))
        self.handle = handle.value
        self._cancel = cancel
        self._setter = getattr(lib, self._prefix + "_set_cancel")
        self.error: Optional[BaseException] = None
        if progress is not None:
            def report(_user: Any, stage: int, done: int, total: int) -> int:
                try:
                    progress(_lib.STAGES[stage], done, total)
                    return 0
                except BaseException as e:  # stops the call; raised again once it returns
                    self.error = e
                    return 1
            self._report = _lib.PROGRESS(report)  # kept alive as long as the handle
            self.set("progress", self._report, None)
        if cancel is not None:
            cancel._attach(self._setter, self.handle)

    def set(self, setting: str, *values: Any) -> None:
        _check(getattr(lib, "%s_set_%s" % (self._prefix, setting))(self.handle, *values))

    def run(self, status: int) -> None:
        """Raises the progress callback's exception before the status it caused."""
        if self.error is not None and status == _lib.CANCELLED:
            raise self.error
        _check(status)

    def __enter__(self) -> "_Handle":
        return self

    def __exit__(self, *_: Any) -> None:
        if self._cancel is not None:
            self._cancel._detach(self._setter, self.handle)
        getattr(lib, self._prefix + "_destroy")(self.handle)


_IMAGE_TYPES = {"other": 0, "landscape": 1, "faces": 2}


def _encoder(quality: int = 50, optimize: int = 0, image_type: str = "other", levels: Optional[int] = None,
             quant_steps: Optional[Mapping[str, Sequence[int]]] = None, thresholds: Optional[Sequence[int]] = None,
             dropped: Optional[Sequence[int]] = None, comment: Union[str, bytes] = b"", threads: int = 1,
             target_size: Optional[int] = None, target_psnr: Optional[float] = None,
             max_pixels: Optional[int] = None, progress: _lib.ProgressFunction = None,
             cancel: Optional[CancelToken] = None) -> _Handle:
    """An encoder handle with these settings; every setting is checked by the library."""
    if image_type not in _IMAGE_TYPES:
        raise InvalidArgument("invalid-argument", "image_type must be one of %s, got %r" % (", ".join(_IMAGE_TYPES), image_type))
    encoder = _Handle("encoder", progress, cancel)
    try:
        def ints(values: Sequence[int]) -> Any:
            return (ctypes.c_int * len(values))(*values)
        encoder.set("quality", quality)
        encoder.set("image_type", _IMAGE_TYPES[image_type])
        encoder.set("levels", levels or 0)
        for channel, name in enumerate("yiq"):
            steps = (quant_steps or {}).get(name)
            if steps is not None:
                encoder.set("quant_steps", channel, ints(steps), len(steps))
        unknown = set(quant_steps or {}) - set("yiq")
        if unknown:
            raise InvalidArgument("invalid-argument", "quant_steps has channels y, i and q, not %s" % ", ".join(sorted(unknown)))
        if thresholds is not None:
            encoder.set("thresholds", ints(thresholds), len(thresholds))
        if dropped is not None:
            encoder.set("dropped_levels", *dropped)
        encoder.set("optimize", int(optimize))
        text = comment.encode() if isinstance(comment, str) else bytes(comment)
        encoder.set("comment", text, len(text))
        encoder.set("threads", threads)
        if target_size is not None:
            encoder.set("target_size", target_size)
        if target_psnr is not None:
            encoder.set("target_psnr", float(target_psnr))
        encoder.set("max_pixels", max_pixels or 0)
    except BaseException:
        encoder.__exit__()
        raise
    return encoder


def _decoder(reduce: int = 0, bgr: bool = False, threads: int = 1, max_pixels: Optional[int] = None,
             progress: _lib.ProgressFunction = None, cancel: Optional[CancelToken] = None) -> _Handle:
    decoder = _Handle("decoder", progress, cancel)
    try:
        decoder.set("reduce", reduce)
        decoder.set("colour_format", _lib.BGR24 if bgr else _lib.RGB24)
        decoder.set("threads", threads)
        decoder.set("max_pixels", max_pixels or 0)
    except BaseException:
        decoder.__exit__()
        raise
    return decoder


def _picture(array: Any, bgr: bool = False, writable: bool = False) -> tuple[_lib.Picture, np.ndarray]:
    """The C description of an H x W or H x W x 3 uint8 array, and the array it points into (kept
    alive by the caller). Rows of packed pixels are used in place; others are copied once."""
    a = np.asarray(array)
    if a.dtype != np.uint8:
        raise TypeError("pictures are uint8 arrays, not %s" % a.dtype)
    if a.ndim == 3 and a.shape[2] == 1:
        a = a[:, :, 0]
    if a.ndim not in (2, 3) or (a.ndim == 3 and a.shape[2] != 3):
        raise ValueError("a picture is H x W (grey) or H x W x 3 (colour), not %s" % (a.shape,))
    pixel = 1 if a.ndim == 2 else 3
    height, width = a.shape[:2]
    fmt = _lib.GREY8 if pixel == 1 else (_lib.BGR24 if bgr else _lib.RGB24)
    offset = 0
    reversed_channels = pixel == 3 and a.strides[1:] == (3, -1)
    if reversed_channels:  # the other colour order read back to front, e.g. picture[..., ::-1]
        fmt = _lib.RGB24 if bgr else _lib.BGR24
        offset = -2
    packed = a.strides[1] == pixel and (pixel == 1 or a.strides[2] == 1 or reversed_channels)
    if not packed or abs(a.strides[0]) < width * pixel or (writable and not a.flags.writeable):
        if writable:
            raise ValueError("the output array must be writable with its pixels packed within each row")
        a = np.ascontiguousarray(a)
        fmt = _lib.GREY8 if pixel == 1 else (_lib.BGR24 if bgr else _lib.RGB24)
        offset = 0
    stride = a.strides[0]
    address = a.ctypes.data + offset
    if stride < 0 and height > 0:
        address += stride * (height - 1)
    return _lib.Picture(address, width, height, abs(stride), fmt, 1 if stride < 0 else 0), a


def _bytes(data: Buffer) -> tuple[int, int, np.ndarray]:
    """Address and size of bytes-like data, without a copy where the buffer is contiguous."""
    try:
        view = np.frombuffer(data, dtype=np.uint8)
    except (TypeError, ValueError):
        view = np.frombuffer(bytes(data), dtype=np.uint8)
    return view.ctypes.data, view.size, view


class _LibraryMemory:
    """Pixels the library allocated, freed when the last array viewing them goes."""

    def __init__(self, address: int, shape: tuple[int, ...]) -> None:
        self._address = address
        self.__array_interface__ = {"shape": shape, "typestr": "|u1", "data": (address, False), "version": 3}

    def __del__(self) -> None:
        lib.varnic_free(self._address)


def _take(picture: _lib.Picture, bgr: bool = False) -> Array:
    """A view, top row first, in the colour order asked for, of a picture the library handed over
    in the layout of its file (rows bottom-up, blue first, padded): no copy."""
    pixel = 1 if picture.format == _lib.GREY8 else 3
    stride = picture.stride or picture.width * pixel
    rows = np.asarray(_LibraryMemory(picture.pixels, (picture.height, stride)))
    view = rows[:, :picture.width * pixel].reshape((picture.height, picture.width) + ((3,) if pixel == 3 else ()))
    if picture.bottom_up:
        view = view[::-1]
    if pixel == 3 and (picture.format == _lib.BGR24) != bgr:
        view = view[..., ::-1]
    return view


def encode(array: Any, quality: int = 50, *, optimize: int = 0, bgr: bool = False, **options: Any) -> bytes:
    """Compresses a picture into the bytes of a .cod file.

    quality 0..99 (higher is better and larger); optimize 0 (the classic encoder) .. 3 (the
    optimizing encoder, slower, smaller); further options: image_type ("other", "landscape",
    "faces"), levels 1..6, quant_steps {"y"|"i"|"q": 3*levels+1 numbers 0..125}, thresholds
    (levels+1 numbers), dropped (Y, I, Q levels not coded), comment (str or bytes, at most 2047
    bytes), threads, target_size (bytes) or target_psnr (dB) instead of the quality, max_pixels,
    progress (called with stage, done, total; raise to stop), cancel (a CancelToken).
    """
    picture, keep = _picture(array, bgr)
    with _encoder(quality=quality, optimize=optimize, **options) as encoder:
        data = ctypes.c_void_p()
        size = ctypes.c_size_t()
        encoder.run(lib.varnic_encode(encoder.handle, ctypes.byref(picture), ctypes.byref(data), ctypes.byref(size)))
    try:
        return ctypes.string_at(data.value, size.value)
    finally:
        lib.varnic_free(data)
        del keep


def decoded_size(data: Buffer, reduce: int = 0) -> tuple[int, int]:
    """(width, height) that decode(data, reduce) gives, from the header alone."""
    address, size, _keep = _bytes(data)
    with _decoder(reduce=reduce) as decoder:
        layout = _lib.Picture()
        _check(lib.varnic_decode_layout(decoder.handle, address, size, ctypes.byref(layout)))
    return layout.width, layout.height


def decode(data: Buffer, reduce: int = 0, *, out: Optional[np.ndarray] = None, bgr: bool = False, threads: int = 1,
           max_pixels: Optional[int] = None, progress: _lib.ProgressFunction = None,
           cancel: Optional[CancelToken] = None) -> Array:
    """Decodes .cod bytes into an H x W (grey) or H x W x 3 array, at 1/2^reduce of the size
    (0 <= reduce < the file's levels). `out`, when given, is filled in place and returned: an
    array of that shape whose pixels are packed within each row (rows may be flipped)."""
    address, size, _keep = _bytes(data)
    with _decoder(reduce, bgr, threads, max_pixels, progress, cancel) as decoder:
        layout = _lib.Picture()
        _check(lib.varnic_decode_layout(decoder.handle, address, size, ctypes.byref(layout)))
        shape = (layout.height, layout.width) + (() if layout.format == _lib.GREY8 else (3,))
        if out is None:
            out = np.empty(shape, np.uint8)
        elif out.shape != shape or out.dtype != np.uint8:
            raise ValueError("the file decodes to a %s uint8 array, out is %s %s" % (shape, out.shape, out.dtype))
        target, _ = _picture(out, bgr, writable=True)
        decoder.run(lib.varnic_decode_into(decoder.handle, address, size, ctypes.byref(target)))
    return out


@dataclass(frozen=True)
class Info:
    """Header facts of a .cod file."""

    width: int
    height: int
    grey: bool
    version: tuple[int, int]        # (2, 3) .. (2, 5)
    coded: bool                     # False: no coefficients, the picture decodes flat
    levels: int
    dropped: tuple[int, int, int]   # Y, I, Q
    comment: bytes                  # as stored (empty before version 2.5)
    file_bytes: int
    header_bytes: int
    plane_bytes: tuple[int, int, int]

    @property
    def comment_text(self) -> str:
        """The comment as text: UTF-8, or Latin-1 for bytes that are not UTF-8."""
        try:
            return self.comment.decode("utf-8")
        except UnicodeDecodeError:
            return self.comment.decode("latin-1")


def info(source: Union[PathLike, Buffer], *, max_pixels: Optional[int] = None) -> Info:
    """The header facts of a .cod file, from its bytes or its path, without decoding the picture.
    From a path only the header and the planes' symbol tables are read, whatever the file's size."""
    raw = _lib.InfoStruct()
    with _decoder(max_pixels=max_pixels) as decoder:
        if isinstance(source, (str, os.PathLike)):
            _check(lib.varnic_read_info_file(decoder.handle, os.fsencode(source), ctypes.byref(raw)))
        else:
            address, size, _keep = _bytes(source)
            _check(lib.varnic_read_info(decoder.handle, address, size, ctypes.byref(raw)))
    return Info(raw.width, raw.height, bool(raw.grey), (raw.version_major, raw.version_minor), bool(raw.coded),
                raw.levels, tuple(raw.dropped), ctypes.string_at(raw.comment, raw.comment_length), raw.file_bytes,
                raw.header_bytes, tuple(raw.plane_bytes))


def _notices(text: Optional[int], into: Optional[list[str]]) -> None:
    if text:
        try:
            if into is not None:
                into.extend(ctypes.string_at(text).decode("utf-8", "backslashreplace").splitlines())
        finally:
            lib.varnic_free(text)


def read(source: Union[PathLike, Buffer], *, name: Optional[str] = None, bgr: bool = False,
         max_pixels: Optional[int] = None, notices: Optional[list[str]] = None, keep_orientation: bool = False,
         keep_colours: bool = False) -> Array:
    """Reads a picture file (BMP, Targa, PNG, PNM, .cod; JPEG, TIFF, WebP) from a path, or from
    bytes-like data (`name` then gives the extension that tells a Targa file), into an H x W or
    H x W x 3 array.
    The array views the pixels where the file's reader left them (a bitmap's rows bottom-up and
    blue first give negative strides): np.ascontiguousarray() makes a packed copy when one is
    needed. Conversions the picture needed ("16-bit samples reduced to 8 bits") are appended to
    `notices` when a list is given. A photograph is turned as its EXIF orientation says and its
    samples converted to sRGB from its colour profile unless keep_orientation or keep_colours."""
    picture = _lib.Picture()
    text = ctypes.c_void_p()
    with _decoder(max_pixels=max_pixels) as decoder:
        decoder.set("keep_orientation", int(keep_orientation))
        decoder.set("keep_colours", int(keep_colours))
        if isinstance(source, (str, os.PathLike)):
            status = lib.varnic_read_picture_file(decoder.handle, os.fsencode(source), ctypes.byref(picture), None,
                                                  ctypes.byref(text))
        else:
            address, size, _keep = _bytes(source)
            status = lib.varnic_read_picture(decoder.handle, address, size, os.fsencode(name) if name else None,
                                             ctypes.byref(picture), None, ctypes.byref(text))
    _check(status)
    _notices(text.value, notices)
    return _take(picture, bgr)


def decode_to_file(data: Buffer, path: PathLike, reduce: int = 0, *, overwrite: bool = True, threads: int = 1,
                   max_pixels: Optional[int] = None, png_level: Optional[int] = None) -> int:
    """Decodes .cod bytes straight into a picture file, its kind by the extension, written
    atomically; a bitmap row by row, so that the picture is never whole in memory. png_level is
    the deflate level 0..9 of a PNG file (default 1, fast). Returns the file's size in bytes."""
    address, size, _keep = _bytes(data)
    written = ctypes.c_uint64()
    with _decoder(reduce, False, threads, max_pixels) as decoder:
        if png_level is not None:
            decoder.set("png_level", png_level)
        decoder.run(lib.varnic_decode_to_file(decoder.handle, address, size, os.fsencode(path), 0,
                                              1 if overwrite else 0, ctypes.byref(written)))
    return written.value


def write(path: PathLike, array: Any, *, overwrite: bool = True, bgr: bool = False, **options: Any) -> int:
    """Writes a picture file, its kind by the extension (.cod, .bmp, .tga, .png, .pnm/.ppm/.pgm),
    atomically: the file appears complete or not at all. overwrite=False never replaces a file.
    A .cod file takes encode's options. Returns the file's size in bytes."""
    picture, keep = _picture(array, bgr)
    written = ctypes.c_uint64()
    with _encoder(**options) as encoder:
        encoder.run(lib.varnic_write_picture_file(encoder.handle, os.fsencode(path), ctypes.byref(picture), 0,
                                                  1 if overwrite else 0, ctypes.byref(written)))
    del keep
    return written.value


def file_bytes(array: Any, kind: str, *, bgr: bool = False, **options: Any) -> bytes:
    """The bytes of a picture file of `kind` ("cod", "bmp", "tga", "png", "pnm") holding the picture;
    a .cod file takes encode's options."""
    if kind not in _lib.FILE_KINDS[1:6]:
        raise InvalidArgument("invalid-argument", "kind must be one of %s, got %r" % (", ".join(_lib.FILE_KINDS[1:6]), kind))
    picture, keep = _picture(array, bgr)
    data = ctypes.c_void_p()
    size = ctypes.c_size_t()
    with _encoder(**options) as encoder:
        encoder.run(lib.varnic_write_picture(encoder.handle, ctypes.byref(picture), _lib.FILE_KINDS.index(kind),
                                             ctypes.byref(data), ctypes.byref(size)))
    try:
        return ctypes.string_at(data.value, size.value)
    finally:
        lib.varnic_free(data)
        del keep


def write_file(path: PathLike, data: Buffer, *, overwrite: bool = True) -> None:
    """Writes bytes atomically (the file appears complete or not at all); overwrite=False never
    replaces an existing file, not even one another process creates meanwhile."""
    address, size, _keep = _bytes(data)
    _check(lib.varnic_write_file(os.fsencode(path), address, size, 1 if overwrite else 0))


def is_cod(prefix: bytes) -> bool:
    """Whether bytes start like a .cod file (16 bytes are enough)."""
    address, size, _keep = _bytes(prefix)
    return lib.varnic_sniff_kind(address, size, None) == _lib.FILE_KINDS.index("cod")

