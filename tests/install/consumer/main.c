/* SPDX-License-Identifier: BSD-2-Clause */
/* A program outside the project: encodes a picture it makes, decodes it and checks the result. */
#include <stdio.h>
#include <string.h>
#include <varnic/varnic_c.h>

int main(void) {
  uint8_t pixels[24][40][3];
  varnic_picture picture = {&pixels[0][0][0], 40, 24, 0, VARNIC_RGB24, 0};
  varnic_picture decoded;
  varnic_encoder* encoder = NULL;
  varnic_info info;
  uint8_t* data = NULL;
  size_t size = 0;
  int x, y, c;
  for (y = 0; y < 24; ++y)
    for (x = 0; x < 40; ++x)
      for (c = 0; c < 3; ++c) pixels[y][x][c] = (uint8_t)(x * 6 + y * 4 + c * 40);

  if (varnic_encoder_create(&encoder) != VARNIC_OK || varnic_encoder_set_quality(encoder, 90) != VARNIC_OK ||
      varnic_encoder_set_comment(encoder, "consumer", 8) != VARNIC_OK ||
      varnic_encode(encoder, &picture, &data, &size) != VARNIC_OK) {
    fprintf(stderr, "encode: %s\n", varnic_error_message());
    return 1;
  }
  if (varnic_read_info(NULL, data, size, &info) != VARNIC_OK || varnic_decode(NULL, data, size, &decoded) != VARNIC_OK ||
      info.comment_length != 8 || decoded.width != 40 || decoded.height != 24) {
    fprintf(stderr, "round trip failed: %s\n", varnic_error_message());
    return 1;
  }
  if (varnic_decode(NULL, data, 0, &decoded) != VARNIC_ERROR_NOT_COMPRESSED_FILE ||
      strcmp(varnic_version(), VARNIC_VERSION_STRING) != 0 || varnic_abi_version() != VARNIC_ABI_VERSION)
    return 1;
  printf("varnic %s: %zu bytes, %s for an empty file\n", varnic_version(), size,
         varnic_status_name(VARNIC_ERROR_NOT_COMPRESSED_FILE));
  varnic_free(data);
  varnic_encoder_destroy(encoder);
  return 0;
}
