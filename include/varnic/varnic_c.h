/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * varnic's C interface (C99, for C and for every language with a C foreign-function interface):
 * compress pictures held in memory into .cod streams, decode .cod streams whole or reduced, read
 * their header without decoding, and read and write picture files (bitmap, Targa, PNG, PNM, .cod;
 * JPEG, TIFF and WebP read) by path or from memory. libvarnic exports these functions and nothing else.
 *
 * Calls. Every call that can fail returns a varnic_status, VARNIC_OK (0) on success. After a
 * failure varnic_error_message() gives the cause in a sentence ("quality 120 is out of range
 * 0..99"); out-parameters are written only on success. Memory the library hands over (compressed
 * bytes, pixels, notices) is released with varnic_free(); a handle with its destroy function.
 * No call keeps a pointer it was given once it returns.
 *
 * Threads. Every call is reentrant and the library keeps no global state: threads may encode and
 * decode at once. A handle may serve several calls at once while nobody changes its settings;
 * varnic_encoder_set_cancel() and varnic_decoder_set_cancel() may be called from any thread at
 * any time. Error messages are kept per thread.
 *
 * Enumerations are ints with named values, so that a value from another language that is none of
 * them is refused with a message instead of being undefined.
 *
 * Pictures in memory (varnic_picture): rows of pixels `stride` bytes apart, the first row in
 * memory being the top row, or the bottom row when `bottom_up` is set (the order of bitmap files).
 * Compressed streams are whole .cod files.
 */
#ifndef VARNIC_VARNIC_C_H
#define VARNIC_VARNIC_C_H

#include <stddef.h>
#include <stdint.h>

#include "varnic/version.h"

#if defined(__GNUC__)
#define VARNIC_C_API __attribute__((visibility("default")))
#else
#define VARNIC_C_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The library's ABI version: a program built against this header runs with a library whose
 * varnic_abi_version() equals VARNIC_ABI_VERSION (version.h), the N of its file name
 * libvarnic.so.N. New functions keep the number; a changed function or structure raises it. */
VARNIC_C_API int varnic_abi_version(void);
/* The library's release, "MAJOR.MINOR.PATCH" (VARNIC_VERSION_STRING of the header may be older). */
VARNIC_C_API const char* varnic_version(void);

/* --- Status and errors ------------------------------------------------------------------------ */

enum {
  VARNIC_OK = 0,
  VARNIC_ERROR_INVALID_ARGUMENT = 1,    /* an option or a picture description is out of range */
  VARNIC_ERROR_PICTURE_TOO_SMALL = 2,   /* a side of 1 or 2 pixels: not even one wavelet level fits */
  VARNIC_ERROR_NOT_COMPRESSED_FILE = 3, /* the first bytes are not a .cod file's */
  VARNIC_ERROR_VERSION_TOO_LOW = 4,     /* a .cod file older than version 2.3 */
  VARNIC_ERROR_VERSION_TOO_HIGH = 5,    /* a .cod file newer than version 2.5 */
  VARNIC_ERROR_INVALID_FILE = 6,        /* damaged data, or data breaking its format's limits */
  VARNIC_ERROR_LIMIT_EXCEEDED = 7,      /* more pixels than the limit, or a target not reachable */
  VARNIC_ERROR_OUT_OF_MEMORY = 8,
  VARNIC_ERROR_CANCELLED = 9,           /* the progress callback or the cancel flag stopped the call */
  VARNIC_ERROR_INTERNAL = 10,
  VARNIC_ERROR_FILE = 11                /* a file cannot be opened, read or written */
};
typedef int varnic_status;

/* A stable identifier of the status such as "invalid-argument", for logs and scripts. */
VARNIC_C_API const char* varnic_status_name(varnic_status status);
/* The cause of the last failed call made by this thread (a static "" before any). Valid until
 * this thread's next call into the library. */
VARNIC_C_API const char* varnic_error_message(void);

/* Releases memory the library handed over: compressed bytes, pixels, notices. NULL is ignored. */
VARNIC_C_API void varnic_free(void* memory);

/* --- Pictures --------------------------------------------------------------------------------- */

enum {
  VARNIC_GREY8 = 0, /* one byte per pixel, 0 black .. 255 white */
  VARNIC_RGB24 = 1, /* red, green, blue */
  VARNIC_BGR24 = 2  /* blue, green, red (the order of bitmap and Targa files) */
};
typedef int varnic_pixel_format;

typedef struct varnic_picture {
  uint8_t* pixels;            /* the first row in memory; never written by the calls that read it */
  uint32_t width;
  uint32_t height;
  size_t stride;              /* bytes from one row in memory to the next; 0: rows packed */
  varnic_pixel_format format;
  int bottom_up;              /* non-zero: the first row in memory is the picture's bottom row */
} varnic_picture;

/* Called from the calling thread as the work proceeds: encoding twice per plane (after the
 * transform, after the coding: done = 1 .. 2 x planes); decoding once when every plane is decoded,
 * then once per synthesis level. Return 0 to go on, anything else to stop the call, which then
 * fails with VARNIC_ERROR_CANCELLED. */
enum {
  VARNIC_STAGE_ENCODE_PLANE = 0,
  VARNIC_STAGE_DECODE_PLANE = 1,
  VARNIC_STAGE_SYNTHESIS_LEVEL = 2
};
typedef int varnic_stage;
typedef int (*varnic_progress_fn)(void* user, varnic_stage stage, int done, int total);

/* The library's ranges and defaults, for a program's own checks and fields (the setters apply
 * them and say which one a value breaks). */
#define VARNIC_MIN_QUALITY 0
#define VARNIC_MAX_QUALITY 99
#define VARNIC_DEFAULT_QUALITY 50
#define VARNIC_MIN_LEVELS 1
#define VARNIC_MAX_LEVELS 6
#define VARNIC_DEFAULT_LEVELS 5
#define VARNIC_MAX_QUANT_STEP 125   /* quantization steps 0..125 */
#define VARNIC_MAX_THRESHOLD 65535  /* dead-zone thresholds 0..65535 */
#define VARNIC_MAX_OPTIMIZE 3       /* optimizer levels 0..3, 0 the classic encoder */
#define VARNIC_MAX_COMMENT_BYTES 2047
#define VARNIC_MAX_THREADS 256      /* worker threads per call, 1..256 */
/* Largest picture (width x height) a call accepts or allocates for unless told otherwise: 2^28
 * pixels, a 16384 x 16384 picture. */
#define VARNIC_DEFAULT_MAX_PIXELS ((uint64_t)1 << 28)

/* --- Encoding --------------------------------------------------------------------------------- */

/* Encoder settings. Each setter checks the settings as they would become and refuses a change
 * that breaks a rule (VARNIC_ERROR_INVALID_ARGUMENT, the settings left as they were), so a
 * handle always holds settings that encode accepts. */
typedef struct varnic_encoder varnic_encoder;

VARNIC_C_API varnic_status varnic_encoder_create(varnic_encoder** encoder);
VARNIC_C_API void varnic_encoder_destroy(varnic_encoder* encoder);

enum {
  VARNIC_TYPE_OTHER = 0,
  VARNIC_TYPE_LANDSCAPE = 1,
  VARNIC_TYPE_FACES = 2
};
typedef int varnic_image_type;
enum { VARNIC_CHANNEL_Y = 0, VARNIC_CHANNEL_I = 1, VARNIC_CHANNEL_Q = 2 };
typedef int varnic_channel;

/* VARNIC_MIN_QUALITY..VARNIC_MAX_QUALITY, default 50: higher is better quality and larger files.
 * The quality and the image type derive every per-level setting that is not given below. */
VARNIC_C_API varnic_status varnic_encoder_set_quality(varnic_encoder* encoder, int quality);
VARNIC_C_API varnic_status varnic_encoder_set_image_type(varnic_encoder* encoder, varnic_image_type type);
/* Wavelet levels 1..6; 0 returns to the default, 5. A picture too small for them is coded with
 * the largest count that fits. */
VARNIC_C_API varnic_status varnic_encoder_set_levels(varnic_encoder* encoder, int levels);
/* The full settings, replacing the derived ones: a channel's quantization steps (3 x levels + 1
 * numbers 0..125, per subband, finest level first), the dead-zone thresholds (levels + 1 numbers
 * 0..65535) and the finest levels not coded at all per channel (each below the level count).
 * count 0 (values NULL), or -1 for every dropped count, returns to the derived values. */
VARNIC_C_API varnic_status varnic_encoder_set_quant_steps(varnic_encoder* encoder, varnic_channel channel,
                                                          const int* steps, size_t count);
VARNIC_C_API varnic_status varnic_encoder_set_thresholds(varnic_encoder* encoder, const int* thresholds, size_t count);
VARNIC_C_API varnic_status varnic_encoder_set_dropped_levels(varnic_encoder* encoder, int y, int i, int q);
/* 0 (default): the classic encoder. 1..3: the optimizing encoder (1 at most about twice the
 * classic time, 2 about ten times, 3 also tries level counts); it chooses steps, thresholds and
 * dropped levels itself, so they cannot be given with it. */
VARNIC_C_API varnic_status varnic_encoder_set_optimize(varnic_encoder* encoder, int level);
/* Stored in the file as given: at most VARNIC_MAX_COMMENT_BYTES bytes. */
VARNIC_C_API varnic_status varnic_encoder_set_comment(varnic_encoder* encoder, const char* comment, size_t length);
/* 1..VARNIC_MAX_THREADS, default 1. The bytes written never depend on it. */
VARNIC_C_API varnic_status varnic_encoder_set_threads(varnic_encoder* encoder, int threads);
/* Instead of the quality: the highest quality whose file has at most `bytes` bytes, or the
 * lowest whose decoded picture reaches `db` decibels of PSNR (at least 1; over RGB, or grey for
 * grey pictures). One target at a time; 0 clears it. A target that no quality reaches fails with
 * VARNIC_ERROR_LIMIT_EXCEEDED. */
VARNIC_C_API varnic_status varnic_encoder_set_target_size(varnic_encoder* encoder, uint64_t bytes);
VARNIC_C_API varnic_status varnic_encoder_set_target_psnr(varnic_encoder* encoder, double db);
/* 0 returns to VARNIC_DEFAULT_MAX_PIXELS. */
VARNIC_C_API varnic_status varnic_encoder_set_max_pixels(varnic_encoder* encoder, uint64_t pixels);
VARNIC_C_API varnic_status varnic_encoder_set_progress(varnic_encoder* encoder, varnic_progress_fn progress,
                                                       void* user);
/* Non-zero: every call using this handle stops at its next progress point with
 * VARNIC_ERROR_CANCELLED (a call starting meanwhile stops at once) until it is cleared with 0. */
VARNIC_C_API void varnic_encoder_set_cancel(varnic_encoder* encoder, int cancel);

/* Compresses `picture` (grey or colour, any stride and row order) into a .cod stream in
 * library-owned memory: *data (free with varnic_free) of *size bytes. encoder NULL: defaults. */
VARNIC_C_API varnic_status varnic_encode(const varnic_encoder* encoder, const varnic_picture* picture,
                                         uint8_t** data, size_t* size);

/* --- Decoding --------------------------------------------------------------------------------- */

typedef struct varnic_decoder varnic_decoder;

VARNIC_C_API varnic_status varnic_decoder_create(varnic_decoder** decoder);
VARNIC_C_API void varnic_decoder_destroy(varnic_decoder* decoder);
/* Decode at 1/2^reduce of the size by stopping the synthesis early: 0 <= reduce < the file's
 * levels (checked against each file). The picture is ceil(W / 2^reduce) x ceil(H / 2^reduce). */
VARNIC_C_API varnic_status varnic_decoder_set_reduce(varnic_decoder* decoder, int reduce);
/* VARNIC_RGB24 (default) or VARNIC_BGR24 for colour files; grey files always give VARNIC_GREY8. */
VARNIC_C_API varnic_status varnic_decoder_set_colour_format(varnic_decoder* decoder, varnic_pixel_format format);
VARNIC_C_API varnic_status varnic_decoder_set_threads(varnic_decoder* decoder, int threads);
VARNIC_C_API varnic_status varnic_decoder_set_max_pixels(varnic_decoder* decoder, uint64_t pixels);
/* The deflate level, 0 (stored) .. 9 (smallest, slowest), of the PNG files varnic_decode_to_file
 * writes; the default is 1, fast. The Windows build's PNG encoder has no level and does not use it. */
VARNIC_C_API varnic_status varnic_decoder_set_png_level(varnic_decoder* decoder, int level);
/* For photographs read through the decoder (varnic_read_picture*): keep 0, the default, turns the
 * picture as its EXIF orientation says and converts its samples to sRGB from an embedded colour
 * profile or a PNG's gAMA/cHRM; keep 1 leaves the stored rows, or the stored values (CMYK is
 * converted whatever this says). */
VARNIC_C_API varnic_status varnic_decoder_set_keep_orientation(varnic_decoder* decoder, int keep);
VARNIC_C_API varnic_status varnic_decoder_set_keep_colours(varnic_decoder* decoder, int keep);
VARNIC_C_API varnic_status varnic_decoder_set_progress(varnic_decoder* decoder, varnic_progress_fn progress,
                                                       void* user);
VARNIC_C_API void varnic_decoder_set_cancel(varnic_decoder* decoder, int cancel);

/* Header facts of a .cod stream, read without decoding any coefficient. */
typedef struct varnic_info {
  uint32_t width;
  uint32_t height;
  int grey;                    /* one plane (8-bit grey) rather than three (24-bit colour) */
  int version_major;           /* 2 */
  int version_minor;           /* 3, 4 or 5 */
  int coded;                   /* 0: the file carries no coefficients and decodes flat */
  int levels;
  int dropped[3];              /* Y, I, Q (I and Q carry no meaning for grey pictures) */
  uint64_t file_bytes;
  uint64_t header_bytes;       /* magic and header, up to the first plane's data */
  uint64_t plane_bytes[3];     /* coded bytes of Y, I, Q (0 for absent planes) */
  size_t comment_length;       /* empty before version 2.5 */
  char comment[VARNIC_MAX_COMMENT_BYTES + 1];  /* the comment's bytes, then a NUL */
} varnic_info;

/* decoder NULL: defaults (for the pixel limit). */
VARNIC_C_API varnic_status varnic_read_info(const varnic_decoder* decoder, const uint8_t* data, size_t size,
                                            varnic_info* info);
/* The same from a path, reading only the header and the planes' symbol tables: a few kilobytes
 * whatever the file's size. */
VARNIC_C_API varnic_status varnic_read_info_file(const varnic_decoder* decoder, const char* path, varnic_info* info);
/* The picture a decode of `data` gives with these settings: width, height and format, rows packed
 * top-down (pixels NULL). */
VARNIC_C_API varnic_status varnic_decode_layout(const varnic_decoder* decoder, const uint8_t* data, size_t size,
                                                varnic_picture* layout);
/* Decodes into library-owned pixels, rows packed top-down: free picture->pixels with varnic_free. */
VARNIC_C_API varnic_status varnic_decode(const varnic_decoder* decoder, const uint8_t* data, size_t size,
                                         varnic_picture* picture);
/* Decodes into the caller's pixels. width, height and format must be those varnic_decode_layout
 * gives; stride (at least a row's bytes) and row order are the caller's choice. */
VARNIC_C_API varnic_status varnic_decode_into(const varnic_decoder* decoder, const uint8_t* data, size_t size,
                                              const varnic_picture* picture);

/* --- Picture files ---------------------------------------------------------------------------- */

enum {
  VARNIC_FILE_UNKNOWN = 0,
  VARNIC_FILE_BMP = 1,
  VARNIC_FILE_TGA = 2,  /* no signature: known by its extension, .tga */
  VARNIC_FILE_PNG = 3,
  VARNIC_FILE_PNM = 4,  /* PGM and PPM */
  VARNIC_FILE_COD = 5,
  /* Photographs, read only; a build without their libraries refuses them with a message. */
  VARNIC_FILE_JPEG = 6,
  VARNIC_FILE_TIFF = 7,  /* the first page */
  VARNIC_FILE_WEBP = 8
};
typedef int varnic_file_kind;

/* By the name's extension, case-insensitive. */
VARNIC_C_API varnic_file_kind varnic_kind_from_extension(const char* path);
/* By the first bytes (16 are enough); Targa, which has no signature, by name_hint's extension
 * (NULL allowed). */
VARNIC_C_API varnic_file_kind varnic_sniff_kind(const uint8_t* data, size_t size, const char* name_hint);
/* ".bmp", ...; "" for VARNIC_FILE_UNKNOWN. */
VARNIC_C_API const char* varnic_kind_extension(varnic_file_kind kind);

/* Reads a picture file of any kind the library knows (by content; Targa by name_hint's or the
 * path's extension) into library-owned pixels, laid out as the file stores them so that the
 * picture is copied once: grey as VARNIC_GREY8, colour as VARNIC_BGR24, bitmap rows bottom-up and
 * padded (a .cod file is decoded into the same layout). Palettes are expanded and transparency is
 * blended over white. The decoder (NULL allowed) gives the pixel limit. `kind` (NULL allowed)
 * receives the file's kind; `notices` (NULL allowed) one line per conversion the picture needed
 * ("16-bit samples reduced to 8 bits"), in library-owned memory, or NULL when there was none.
 * Free picture->pixels and *notices with varnic_free. */
VARNIC_C_API varnic_status varnic_read_picture_file(const varnic_decoder* decoder, const char* path,
                                                    varnic_picture* picture, varnic_file_kind* kind, char** notices);
VARNIC_C_API varnic_status varnic_read_picture(const varnic_decoder* decoder, const uint8_t* data, size_t size,
                                               const char* name_hint, varnic_picture* picture,
                                               varnic_file_kind* kind, char** notices);

/* Writes `picture` as a file of `kind` (VARNIC_FILE_UNKNOWN: by the path's extension), atomically:
 * the file appears complete or not at all, and a failure leaves an existing file as it was.
 * replace 0 never replaces an existing file. A .cod file is encoded with `encoder` (NULL:
 * defaults); the other kinds ignore it. *bytes_written (NULL allowed) receives the file's size. */
VARNIC_C_API varnic_status varnic_write_picture_file(const varnic_encoder* encoder, const char* path,
                                                     const varnic_picture* picture, varnic_file_kind kind,
                                                     int replace, uint64_t* bytes_written);
/* The same file's bytes in library-owned memory (free *data with varnic_free). */
VARNIC_C_API varnic_status varnic_write_picture(const varnic_encoder* encoder, const varnic_picture* picture,
                                                varnic_file_kind kind, uint8_t** data, size_t* size);
/* Decodes a .cod stream into a picture file of `kind` (VARNIC_FILE_UNKNOWN: by the path's
 * extension) with the decoder's settings, written atomically; a bitmap row by row as the decoder
 * finishes them, so that the picture is never whole in memory. The cancel flag is looked at when
 * the call starts and at each progress report. */
VARNIC_C_API varnic_status varnic_decode_to_file(const varnic_decoder* decoder, const uint8_t* data, size_t size,
                                                 const char* path, varnic_file_kind kind, int replace,
                                                 uint64_t* bytes_written);
/* Writes bytes the caller holds (a .cod stream, a picture file) with the same rules: atomically,
 * and never replacing an existing file when replace is 0. */
VARNIC_C_API varnic_status varnic_write_file(const char* path, const uint8_t* data, size_t size, int replace);

#ifdef __cplusplus
}
#endif

#endif /* VARNIC_VARNIC_C_H */
