# SPDX-License-Identifier: BSD-2-Clause
"""ctypes bindings of libvarnic's C interface (include/varnic/varnic_c.h).

ctypes releases the GIL for the length of every call into the library, so threads encode and
decode in parallel; a progress callback takes the GIL back while it runs.
"""
from __future__ import annotations

import ctypes
import os
from typing import Callable, Optional

# The ABI this module was written against (VARNIC_ABI_VERSION): the library's must be the same.
ABI_VERSION = 1
_SONAME = "libvarnic.so.%d" % ABI_VERSION

STATUS_NAMES = (
    "ok", "invalid-argument", "picture-too-small", "not-compressed-file", "version-too-low",
    "version-too-high", "invalid-file", "limit-exceeded", "out-of-memory", "cancelled",
    "internal-error", "file-error",
)
CANCELLED = STATUS_NAMES.index("cancelled")

GREY8, RGB24, BGR24 = 0, 1, 2
FILE_KINDS = ("unknown", "bmp", "tga", "png", "pnm", "cod", "jpeg", "tiff", "webp")
STAGES = ("encode-plane", "decode-plane", "synthesis-level")
MAX_COMMENT_BYTES = 2047


class Picture(ctypes.Structure):
    _fields_ = [
        ("pixels", ctypes.c_void_p),
        ("width", ctypes.c_uint32),
        ("height", ctypes.c_uint32),
        ("stride", ctypes.c_size_t),
        ("format", ctypes.c_int),
        ("bottom_up", ctypes.c_int),
    ]


class InfoStruct(ctypes.Structure):
    _fields_ = [
        ("width", ctypes.c_uint32),
        ("height", ctypes.c_uint32),
        ("grey", ctypes.c_int),
        ("version_major", ctypes.c_int),
        ("version_minor", ctypes.c_int),
        ("coded", ctypes.c_int),
        ("levels", ctypes.c_int),
        ("dropped", ctypes.c_int * 3),
        ("file_bytes", ctypes.c_uint64),
        ("header_bytes", ctypes.c_uint64),
        ("plane_bytes", ctypes.c_uint64 * 3),
        ("comment_length", ctypes.c_size_t),
        ("comment", ctypes.c_char * (MAX_COMMENT_BYTES + 1)),
    ]


PROGRESS = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int)


def _candidates() -> list[str]:
    """Where the library may be, first found wins: VARNIC_LIBRARY (a build tree's library), a copy
    inside the package (pip install), the library `make install` put beside this package, then the
    system's search by SONAME (the Debian package)."""
    here = os.path.dirname(os.path.abspath(__file__))
    found = [os.environ.get("VARNIC_LIBRARY", ""), os.path.join(here, _SONAME)]
    try:
        from . import _installed  # written by `make install`
        found.append(os.path.normpath(os.path.join(here, _installed.LIBRARY)))
    except ImportError:
        pass
    return [path for path in found if path and os.path.exists(path)] + [_SONAME]


def _load() -> ctypes.CDLL:
    errors = []
    for path in _candidates():
        try:
            lib = ctypes.CDLL(path)
            break
        except OSError as e:
            errors.append(str(e))
    else:
        raise ImportError("libvarnic (%s) not found: %s; set VARNIC_LIBRARY to its path" % (_SONAME, "; ".join(errors)))
    lib.varnic_abi_version.restype = ctypes.c_int
    abi = lib.varnic_abi_version()
    if abi != ABI_VERSION:
        raise ImportError("libvarnic's ABI version %d does not serve this package (%d)" % (abi, ABI_VERSION))

    c_int, c_size, c_u64, ptr = ctypes.c_int, ctypes.c_size_t, ctypes.c_uint64, ctypes.c_void_p
    out_ptr = ctypes.POINTER(ctypes.c_void_p)
    picture = ctypes.POINTER(Picture)
    signatures = {
        "varnic_version": (ctypes.c_char_p, []),
        "varnic_status_name": (ctypes.c_char_p, [c_int]),
        "varnic_error_message": (ctypes.c_char_p, []),
        "varnic_free": (None, [ptr]),
        "varnic_encoder_create": (c_int, [out_ptr]),
        "varnic_encoder_destroy": (None, [ptr]),
        "varnic_encoder_set_quality": (c_int, [ptr, c_int]),
        "varnic_encoder_set_image_type": (c_int, [ptr, c_int]),
        "varnic_encoder_set_levels": (c_int, [ptr, c_int]),
        "varnic_encoder_set_quant_steps": (c_int, [ptr, c_int, ctypes.POINTER(c_int), c_size]),
        "varnic_encoder_set_thresholds": (c_int, [ptr, ctypes.POINTER(c_int), c_size]),
        "varnic_encoder_set_dropped_levels": (c_int, [ptr, c_int, c_int, c_int]),
        "varnic_encoder_set_optimize": (c_int, [ptr, c_int]),
        "varnic_encoder_set_comment": (c_int, [ptr, ctypes.c_char_p, c_size]),
        "varnic_encoder_set_threads": (c_int, [ptr, c_int]),
        "varnic_encoder_set_target_size": (c_int, [ptr, c_u64]),
        "varnic_encoder_set_target_psnr": (c_int, [ptr, ctypes.c_double]),
        "varnic_encoder_set_max_pixels": (c_int, [ptr, c_u64]),
        "varnic_encoder_set_progress": (c_int, [ptr, PROGRESS, ptr]),
        "varnic_encoder_set_cancel": (None, [ptr, c_int]),
        "varnic_encode": (c_int, [ptr, picture, out_ptr, ctypes.POINTER(c_size)]),
        "varnic_decoder_create": (c_int, [out_ptr]),
        "varnic_decoder_destroy": (None, [ptr]),
        "varnic_decoder_set_reduce": (c_int, [ptr, c_int]),
        "varnic_decoder_set_png_level": (c_int, [ptr, c_int]),
        "varnic_decoder_set_keep_orientation": (c_int, [ptr, c_int]),
        "varnic_decoder_set_keep_colours": (c_int, [ptr, c_int]),
        "varnic_decoder_set_colour_format": (c_int, [ptr, c_int]),
        "varnic_decoder_set_threads": (c_int, [ptr, c_int]),
        "varnic_decoder_set_max_pixels": (c_int, [ptr, c_u64]),
        "varnic_decoder_set_progress": (c_int, [ptr, PROGRESS, ptr]),
        "varnic_decoder_set_cancel": (None, [ptr, c_int]),
        "varnic_read_info": (c_int, [ptr, ptr, c_size, ctypes.POINTER(InfoStruct)]),
        "varnic_read_info_file": (c_int, [ptr, ctypes.c_char_p, ctypes.POINTER(InfoStruct)]),
        "varnic_decode_layout": (c_int, [ptr, ptr, c_size, picture]),
        "varnic_decode_into": (c_int, [ptr, ptr, c_size, picture]),
        "varnic_sniff_kind": (c_int, [ptr, c_size, ctypes.c_char_p]),
        "varnic_kind_from_extension": (c_int, [ctypes.c_char_p]),
        "varnic_read_picture_file": (c_int, [ptr, ctypes.c_char_p, picture, ctypes.POINTER(c_int), out_ptr]),
        "varnic_read_picture": (c_int, [ptr, ptr, c_size, ctypes.c_char_p, picture, ctypes.POINTER(c_int), out_ptr]),
        "varnic_write_picture_file": (c_int, [ptr, ctypes.c_char_p, picture, c_int, c_int, ctypes.POINTER(c_u64)]),
        "varnic_write_picture": (c_int, [ptr, picture, c_int, out_ptr, ctypes.POINTER(c_size)]),
        "varnic_write_file": (c_int, [ctypes.c_char_p, ptr, c_size, c_int]),
        "varnic_decode_to_file": (c_int, [ptr, ptr, c_size, ctypes.c_char_p, c_int, c_int, ctypes.POINTER(c_u64)]),
    }
    for name, (restype, argtypes) in signatures.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    return lib


lib = _load()

ProgressFunction = Optional[Callable[[str, int, int], object]]
