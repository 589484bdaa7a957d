/* SPDX-License-Identifier: BSD-2-Clause */
/* The C interface from C99: conformance bytes and pixels through every layout, files, progress
 * and cancelling, and every refusal with its status and a message naming the cause.
 * capi_test DATA_DIR SCRATCH_DIR */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "varnic/varnic_c.h"

static int failures = 0;

#define CHECK(cond)                                                   \
  do {                                                                \
    if (!(cond)) {                                                    \
      fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #cond); \
      failures++;                                                     \
    }                                                                 \
  } while (0)

/* A failed call: its status, and a message holding `words`. */
static void expect_failure(varnic_status got, varnic_status wanted, const char* words, int line) {
  const char* message = varnic_error_message();
  if (got != wanted || strstr(message, words) == NULL) {
    fprintf(stderr, "line %d: got %s \"%s\", wanted %s with \"%s\"\n", line, varnic_status_name(got), message,
            varnic_status_name(wanted), words);
    failures++;
  }
}
#define FAILS(call, wanted, words) expect_failure((call), (wanted), (words), __LINE__)

static const char* data_dir;
static const char* scratch_dir;

static char* path_of(const char* name) {
  static char path[4096];
  snprintf(path, sizeof path, "%s/%s", data_dir, name);
  return path;
}

static uint8_t* slurp(const char* name, size_t* size) {
  FILE* f = fopen(path_of(name), "rb");
  uint8_t* bytes = NULL;
  long length = -1;
  if (f != NULL && fseek(f, 0, SEEK_END) == 0 && (length = ftell(f)) > 0 && fseek(f, 0, SEEK_SET) == 0) {
    bytes = malloc((size_t)length);
    if (bytes != NULL && fread(bytes, 1, (size_t)length, f) != (size_t)length) length = -1;
  }
  if (f != NULL) fclose(f);
  if (bytes == NULL || length <= 0) {
    fprintf(stderr, "cannot read %s\n", path_of(name));
    exit(2);
  }
  *size = (size_t)length;
  return bytes;
}

static varnic_picture read_picture(const char* name) {
  varnic_picture picture;
  if (varnic_read_picture_file(NULL, path_of(name), &picture, NULL, NULL) != VARNIC_OK) {
    fprintf(stderr, "%s: %s\n", name, varnic_error_message());
    exit(2);
  }
  return picture;
}

/* Encodes and compares with the expected file byte for byte. */
static void expect_bytes(const varnic_encoder* encoder, const varnic_picture* picture, const char* expected_name) {
  size_t expected_size = 0;
  uint8_t* expected = slurp(expected_name, &expected_size);
  uint8_t* data = NULL;
  size_t size = 0;
  const varnic_status status = varnic_encode(encoder, picture, &data, &size);
  CHECK(status == VARNIC_OK);
  if (status == VARNIC_OK && (size != expected_size || memcmp(data, expected, size) != 0)) {
    fprintf(stderr, "%s: %zu bytes differ from the expected %zu\n", expected_name, size, expected_size);
    failures++;
  }
  varnic_free(data);
  free(expected);
}

/* Sample c (0 red, 1 green, 2 blue) of pixel x of row y counted from the top, in any layout. */
static int sample(const varnic_picture* p, uint32_t x, uint32_t y, int c) {
  const size_t pixel = p->format == VARNIC_GREY8 ? 1 : 3;
  const size_t stride = p->stride != 0 ? p->stride : pixel * p->width;
  const uint8_t* row = p->pixels + stride * (p->bottom_up ? p->height - 1 - y : y);
  return row[pixel * x + (pixel == 1 ? 0 : (size_t)(p->format == VARNIC_BGR24 ? 2 - c : c))];
}

static int same_pixels(const varnic_picture* a, const varnic_picture* b) {
  uint32_t x, y;
  int c;
  if (a->width != b->width || a->height != b->height) return 0;
  for (y = 0; y < a->height; ++y)
    for (x = 0; x < a->width; ++x)
      for (c = 0; c < 3; ++c)
        if (sample(a, x, y, c) != sample(b, x, y, c)) return 0;
  return 1;
}

static int calls = 0;
static int count_progress(void* user, varnic_stage stage, int done, int total) {
  (void)stage;
  calls++;
  CHECK(done >= 1 && done <= total);
  return user != NULL && calls >= *(const int*)user;
}

static void test_encoding(void) {
  /* A bitmap as read: bottom-up, blue first. */
  varnic_picture rgb = read_picture("conformance/pics/astronaut_256x192.bmp");
  varnic_picture grey = read_picture("conformance/pics/camera_256x256_g.bmp");
  const size_t stride = 3 * rgb.width + 5;
  uint8_t* copy = calloc(stride * rgb.height, 1);
  varnic_picture top_down = {copy, rgb.width, rgb.height, stride, VARNIC_RGB24, 0};
  varnic_encoder* encoder = NULL;
  uint32_t x, y;
  int c;
  CHECK(rgb.format == VARNIC_BGR24 && rgb.bottom_up && grey.format == VARNIC_GREY8);
  expect_bytes(NULL, &rgb, "conformance/cod/astronaut_q50.cod");

  /* The same picture top-down, red first, with padding after each row. */
  for (y = 0; y < rgb.height; ++y)
    for (x = 0; x < rgb.width; ++x)
      for (c = 0; c < 3; ++c) copy[y * stride + 3 * x + (uint32_t)c] = (uint8_t)sample(&rgb, x, y, c);
  expect_bytes(NULL, &top_down, "conformance/cod/astronaut_q50.cod");

  CHECK(varnic_encoder_create(&encoder) == VARNIC_OK);
  CHECK(varnic_encoder_set_quality(encoder, 10) == VARNIC_OK);
  expect_bytes(encoder, &grey, "conformance/cod/camera_q10.cod");
  CHECK(varnic_encoder_set_quality(encoder, 70) == VARNIC_OK && varnic_encoder_set_levels(encoder, 3) == VARNIC_OK &&
        varnic_encoder_set_dropped_levels(encoder, 1, 2, 2) == VARNIC_OK);
  expect_bytes(encoder, &rgb, "conformance/cod/astronaut_L3_drop.cod");
  CHECK(varnic_encoder_set_dropped_levels(encoder, -1, -1, -1) == VARNIC_OK &&
        varnic_encoder_set_levels(encoder, 0) == VARNIC_OK && varnic_encoder_set_quality(encoder, 40) == VARNIC_OK &&
        varnic_encoder_set_comment(encoder, "conformance", 11) == VARNIC_OK);
  expect_bytes(encoder, &rgb, "conformance/cod/astronaut_comment.cod");

  /* Two reports per plane; a callback's stop and the cancel flag both cancel. */
  {
    uint8_t* data = NULL;
    size_t size = 0;
    const int stop_at = 2;
    CHECK(varnic_encoder_set_progress(encoder, count_progress, NULL) == VARNIC_OK);
    CHECK(varnic_encode(encoder, &rgb, &data, &size) == VARNIC_OK && calls == 6);
    varnic_free(data);
    calls = 0;
    CHECK(varnic_encoder_set_progress(encoder, count_progress, (void*)&stop_at) == VARNIC_OK);
    FAILS(varnic_encode(encoder, &rgb, &data, &size), VARNIC_ERROR_CANCELLED, "ancel");
    CHECK(calls == stop_at);
    CHECK(varnic_encoder_set_progress(encoder, NULL, NULL) == VARNIC_OK);
    varnic_encoder_set_cancel(encoder, 1);
    FAILS(varnic_encode(encoder, &rgb, &data, &size), VARNIC_ERROR_CANCELLED, "ancel");
    varnic_encoder_set_cancel(encoder, 0);
    CHECK(varnic_encode(encoder, &rgb, &data, &size) == VARNIC_OK);
    varnic_free(data);
  }

  /* A target size: the file fits, and a target no quality reaches is refused. */
  {
    uint8_t* data = NULL;
    size_t size = 0;
    CHECK(varnic_encoder_set_target_size(encoder, 5000) == VARNIC_OK);
    CHECK(varnic_encode(encoder, &rgb, &data, &size) == VARNIC_OK && size <= 5000 && size > 4000);
    varnic_free(data);
    CHECK(varnic_encoder_set_target_size(encoder, 100) == VARNIC_OK);
    FAILS(varnic_encode(encoder, &rgb, &data, &size), VARNIC_ERROR_LIMIT_EXCEEDED, "cannot reach 100 bytes");
  }
  varnic_encoder_destroy(encoder);
  free(copy);
  varnic_free(rgb.pixels);
  varnic_free(grey.pixels);
}

static void test_decoding(void) {
  size_t size = 0;
  uint8_t* file = slurp("conformance/cod/astronaut_q50.cod", &size);
  varnic_picture expected = read_picture("conformance/decoded/astronaut_q50.bmp");
  varnic_picture picture, layout;
  varnic_decoder* decoder = NULL;
  varnic_info info;
  uint8_t* buffer = malloc((3 * (size_t)expected.width + 7) * expected.height);

  CHECK(varnic_decode(NULL, file, size, &picture) == VARNIC_OK);
  CHECK(picture.width == 256 && picture.height == 192 && picture.format == VARNIC_RGB24 && picture.stride == 0 &&
        !picture.bottom_up && same_pixels(&picture, &expected));
  varnic_free(picture.pixels);

  /* Into the caller's buffer, blue first and bottom-up with padded rows. */
  CHECK(varnic_decoder_create(&decoder) == VARNIC_OK);
  CHECK(varnic_decoder_set_colour_format(decoder, VARNIC_BGR24) == VARNIC_OK);
  CHECK(varnic_decode_layout(decoder, file, size, &layout) == VARNIC_OK && layout.format == VARNIC_BGR24);
  layout.pixels = buffer;
  layout.stride = 3 * (size_t)expected.width + 7;
  layout.bottom_up = 1;
  CHECK(varnic_decode_into(decoder, file, size, &layout) == VARNIC_OK && same_pixels(&layout, &expected));

  CHECK(varnic_decoder_set_reduce(decoder, 2) == VARNIC_OK);
  CHECK(varnic_decode_layout(decoder, file, size, &layout) == VARNIC_OK && layout.width == 64 && layout.height == 48);
  CHECK(varnic_decode(decoder, file, size, &picture) == VARNIC_OK && picture.width == 64);
  varnic_free(picture.pixels);
  varnic_decoder_set_cancel(decoder, 1);
  FAILS(varnic_decode(decoder, file, size, &picture), VARNIC_ERROR_CANCELLED, "ancel");
  varnic_decoder_destroy(decoder);

  free(file);
  file = slurp("conformance/cod/astronaut_comment.cod", &size);
  CHECK(varnic_read_info(NULL, file, size, &info) == VARNIC_OK);
  CHECK(info.width == 256 && info.height == 192 && !info.grey && info.version_major == 2 && info.version_minor == 5 &&
        info.levels == 5 && info.coded && info.file_bytes == size && info.comment_length == 11 &&
        strcmp(info.comment, "conformance") == 0);
  memset(&info, 0, sizeof info);
  CHECK(varnic_read_info_file(NULL, path_of("conformance/cod/astronaut_comment.cod"), &info) == VARNIC_OK &&
        info.width == 256 && info.file_bytes == size && strcmp(info.comment, "conformance") == 0);
  free(file);
  free(buffer);
  varnic_free(expected.pixels);
}

static void test_files(void) {
  varnic_picture grey = read_picture("conformance/pics/camera_9x5_g.bmp");
  varnic_picture again;
  varnic_file_kind kind = VARNIC_FILE_UNKNOWN;
  char* notices = NULL;
  uint8_t* data = NULL;
  size_t size = 0, cod_size = 0;
  uint64_t written = 0;
  char path[4096];
  uint8_t* cod = slurp("conformance/cod/astronaut_q50.cod", &cod_size);

  /* PNG in memory and back; a .cod file by path, refused a second time without replace. */
  CHECK(varnic_write_picture(NULL, &grey, VARNIC_FILE_PNG, &data, &size) == VARNIC_OK);
  CHECK(varnic_read_picture(NULL, data, size, NULL, &again, &kind, &notices) == VARNIC_OK);
  CHECK(kind == VARNIC_FILE_PNG && notices == NULL && again.format == VARNIC_GREY8 && same_pixels(&again, &grey));
  CHECK(varnic_sniff_kind(data, 16, NULL) == VARNIC_FILE_PNG && varnic_sniff_kind(cod, 16, NULL) == VARNIC_FILE_COD);
  varnic_free(data);
  varnic_free(again.pixels);
  snprintf(path, sizeof path, "%s/capi_test.cod", scratch_dir);
  remove(path);
  CHECK(varnic_kind_from_extension(path) == VARNIC_FILE_COD && strcmp(varnic_kind_extension(VARNIC_FILE_COD), ".cod") == 0);
  CHECK(varnic_write_picture_file(NULL, path, &grey, VARNIC_FILE_UNKNOWN, 0, &written) == VARNIC_OK && written > 60);
  FAILS(varnic_write_picture_file(NULL, path, &grey, VARNIC_FILE_UNKNOWN, 0, NULL), VARNIC_ERROR_FILE, "exists");
  CHECK(varnic_read_picture_file(NULL, path, &again, &kind, NULL) == VARNIC_OK && kind == VARNIC_FILE_COD &&
        again.width == 9 && again.height == 5);
  varnic_free(again.pixels);

  /* A .cod file decoded straight into a bitmap gives the decoder's pixels. */
  snprintf(path, sizeof path, "%s/capi_test.bmp", scratch_dir);
  CHECK(varnic_decode_to_file(NULL, cod, cod_size, path, VARNIC_FILE_UNKNOWN, 1, &written) == VARNIC_OK);
  CHECK(varnic_read_picture_file(NULL, path, &again, NULL, NULL) == VARNIC_OK && written == 54 + 256 * 192 * 3);
  {
    varnic_picture expected = read_picture("conformance/decoded/astronaut_q50.bmp");
    CHECK(same_pixels(&again, &expected));
    varnic_free(expected.pixels);
  }
  varnic_free(again.pixels);
  remove(path);

  /* A palette bitmap is expanded with a notice. */
  {
    static const uint8_t kPalette2x1[] = {
        'B', 'M', 66, 0, 0, 0, 0, 0, 0, 0, 62, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 8, 0,
        0, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 0, 255, 0, 0, 0,
        0, 1, 0, 0};
    CHECK(varnic_read_picture(NULL, kPalette2x1, sizeof kPalette2x1, NULL, &again, &kind, &notices) == VARNIC_OK);
    CHECK(kind == VARNIC_FILE_BMP && again.format != VARNIC_GREY8 && notices != NULL && strstr(notices, "palette"));
    CHECK(sample(&again, 0, 0, 0) == 255 && sample(&again, 0, 0, 2) == 0 && sample(&again, 1, 0, 0) == 0 &&
          sample(&again, 1, 0, 2) == 255);
    varnic_free(again.pixels);
    varnic_free(notices);
  }
  free(cod);
  varnic_free(grey.pixels);
}

static void test_refusals(void) {
  static uint8_t tiny[4] = {1, 2, 3, 4};
  const varnic_picture two_by_two = {tiny, 2, 2, 0, VARNIC_GREY8, 0};
  const varnic_picture bad_format = {tiny, 2, 2, 0, (varnic_pixel_format)7, 0};
  varnic_picture rgb = read_picture("conformance/pics/astronaut_64x48.bmp");
  varnic_picture out;
  varnic_encoder* encoder = NULL;
  varnic_decoder* decoder = NULL;
  varnic_info info;
  uint8_t* data = NULL;
  size_t size = 0, cod_size = 0;
  uint8_t* cod = slurp("conformance/cod/astronaut_q50.cod", &cod_size);
  const int five[5] = {1, 2, 3, 4, 5};
  char long_comment[VARNIC_MAX_COMMENT_BYTES + 1];
  int s;

  CHECK(varnic_encoder_create(&encoder) == VARNIC_OK && varnic_decoder_create(&decoder) == VARNIC_OK);
  FAILS(varnic_encoder_create(NULL), VARNIC_ERROR_INVALID_ARGUMENT, "encoder");
  FAILS(varnic_encode(encoder, NULL, &data, &size), VARNIC_ERROR_INVALID_ARGUMENT, "picture");
  FAILS(varnic_encode(encoder, &two_by_two, &data, &size), VARNIC_ERROR_PICTURE_TOO_SMALL, "");
  FAILS(varnic_encode(encoder, &bad_format, &data, &size), VARNIC_ERROR_INVALID_ARGUMENT, "pixel format 7");

  /* Each setter refuses a value encode would refuse, and leaves the settings as they were. */
  FAILS(varnic_encoder_set_quality(encoder, 100), VARNIC_ERROR_INVALID_ARGUMENT, "uality");
  FAILS(varnic_encoder_set_levels(encoder, 7), VARNIC_ERROR_INVALID_ARGUMENT, "evels");
  FAILS(varnic_encoder_set_image_type(encoder, (varnic_image_type)3), VARNIC_ERROR_INVALID_ARGUMENT, "ype");
  FAILS(varnic_encoder_set_optimize(encoder, 4), VARNIC_ERROR_INVALID_ARGUMENT, "optimi");
  FAILS(varnic_encoder_set_threads(encoder, 0), VARNIC_ERROR_INVALID_ARGUMENT, "threads: 0 is below the minimum 1");
  FAILS(varnic_encoder_set_quant_steps(encoder, VARNIC_CHANNEL_I, five, 5), VARNIC_ERROR_INVALID_ARGUMENT,
        "I quantization vector: 16 numbers are needed");
  FAILS(varnic_encoder_set_quant_steps(encoder, (varnic_channel)3, five, 5), VARNIC_ERROR_INVALID_ARGUMENT, "channel 3");
  FAILS(varnic_encoder_set_thresholds(encoder, five, 5), VARNIC_ERROR_INVALID_ARGUMENT, "thresholds: 6 numbers");
  FAILS(varnic_encoder_set_dropped_levels(encoder, 0, 5, 0), VARNIC_ERROR_INVALID_ARGUMENT, "dropped levels of I");
  memset(long_comment, 'x', sizeof long_comment);
  FAILS(varnic_encoder_set_comment(encoder, long_comment, sizeof long_comment), VARNIC_ERROR_INVALID_ARGUMENT, "2047");
  CHECK(varnic_encoder_set_target_size(encoder, 1000) == VARNIC_OK);
  FAILS(varnic_encoder_set_target_psnr(encoder, 30), VARNIC_ERROR_INVALID_ARGUMENT, "not both");
  CHECK(varnic_encoder_set_target_size(encoder, 0) == VARNIC_OK);
  FAILS(varnic_encoder_set_target_psnr(encoder, -3), VARNIC_ERROR_INVALID_ARGUMENT, "PSNR");
  CHECK(varnic_encoder_set_optimize(encoder, 1) == VARNIC_OK);
  FAILS(varnic_encoder_set_dropped_levels(encoder, 0, 0, 0), VARNIC_ERROR_INVALID_ARGUMENT, "optimi");
  CHECK(varnic_encoder_set_optimize(encoder, 0) == VARNIC_OK && varnic_encoder_set_max_pixels(encoder, 1000) == VARNIC_OK);
  FAILS(varnic_encode(encoder, &rgb, &data, &size), VARNIC_ERROR_LIMIT_EXCEEDED, "3072 pixels");
  FAILS(varnic_decoder_set_reduce(decoder, -1), VARNIC_ERROR_INVALID_ARGUMENT, "reduce -1");
  FAILS(varnic_decoder_set_colour_format(decoder, VARNIC_GREY8), VARNIC_ERROR_INVALID_ARGUMENT, "colour format");
  FAILS(varnic_decoder_set_threads(decoder, 257), VARNIC_ERROR_INVALID_ARGUMENT, "threads: 257");
  FAILS(varnic_decoder_set_png_level(decoder, 10), VARNIC_ERROR_INVALID_ARGUMENT, "PNG level 10");

  /* Files: not .cod, versions out of range, truncated, over the pixel limit, reduced too far,
   * decoded into a buffer of the wrong shape, missing. */
  FAILS(varnic_decode(NULL, tiny, sizeof tiny, &out), VARNIC_ERROR_NOT_COMPRESSED_FILE, "");
  cod[5] = '2';
  FAILS(varnic_read_info(NULL, cod, cod_size, &info), VARNIC_ERROR_VERSION_TOO_LOW, "");
  cod[5] = '6';
  FAILS(varnic_decode(NULL, cod, cod_size, &out), VARNIC_ERROR_VERSION_TOO_HIGH, "");
  cod[5] = '5';
  FAILS(varnic_decode(NULL, cod, cod_size / 2, &out), VARNIC_ERROR_INVALID_FILE, "");
  CHECK(varnic_decoder_set_max_pixels(decoder, 1000) == VARNIC_OK);
  FAILS(varnic_decode(decoder, cod, cod_size, &out), VARNIC_ERROR_LIMIT_EXCEEDED, "limit of 1000");
  CHECK(varnic_decoder_set_max_pixels(decoder, 0) == VARNIC_OK && varnic_decoder_set_reduce(decoder, 5) == VARNIC_OK);
  FAILS(varnic_decode_layout(decoder, cod, cod_size, &out), VARNIC_ERROR_INVALID_ARGUMENT, "reduce 5");
  FAILS(varnic_decode_into(NULL, cod, cod_size, &rgb), VARNIC_ERROR_INVALID_ARGUMENT, "decodes to 256x192 RGB");
  FAILS(varnic_read_picture_file(NULL, "/nonexistent/x.png", &out, NULL, NULL), VARNIC_ERROR_FILE,
        "/nonexistent/x.png: Cannot Open File (No such file or directory)");
  FAILS(varnic_read_info_file(NULL, "/nonexistent/x.cod", &info), VARNIC_ERROR_FILE, "/nonexistent/x.cod: ");
  FAILS(varnic_write_picture(NULL, &rgb, (varnic_file_kind)9, &data, &size), VARNIC_ERROR_INVALID_ARGUMENT, "kind 9");

  /* Every status has its own name. */
  for (s = VARNIC_OK; s <= VARNIC_ERROR_FILE; ++s) {
    int t;
    for (t = VARNIC_OK; t < s; ++t) CHECK(strcmp(varnic_status_name(s), varnic_status_name(t)) != 0);
    CHECK(strcmp(varnic_status_name(s), "unknown") != 0);
  }
  varnic_encoder_destroy(encoder);
  varnic_decoder_destroy(decoder);
  varnic_free(rgb.pixels);
  free(cod);
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: capi_test DATA_DIR SCRATCH_DIR\n");
    return 2;
  }
  data_dir = argv[1];
  scratch_dir = argv[2];
  CHECK(varnic_abi_version() == VARNIC_ABI_VERSION && strcmp(varnic_version(), VARNIC_VERSION_STRING) == 0);
  test_encoding();
  test_decoding();
  test_files();
  test_refusals();
  printf("capi_test: %d failures\n", failures);
  return failures == 0 ? 0 : 1;
}
