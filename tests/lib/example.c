/* A program that uses libvellum as an outside project would: encode a small indexed image
 * as a BLP file in memory, open it again, describe it, decode level 0 and a thumbnail, and
 * check the pixels. Built against the installed library (pkg-config and find_package). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vellum/vellum.h>

static int fail(const char *what, int status) {
  fprintf(stderr, "example: %s: %s\n", what, vellum_status_text(status));
  return 1;
}

int main(void) {
  enum { W = 64, H = 32 };
  /* 16 colours; each pixel an index, so the file keeps the palette and every colour. */
  static uint8_t palette[16 * 4], indices[W * H], rgba[W * H * 4];
  for (int i = 0; i < 16; ++i) {
    palette[4 * i + 0] = (uint8_t)(i * 17);
    palette[4 * i + 1] = (uint8_t)(255 - i * 13);
    palette[4 * i + 2] = (uint8_t)(i * i);
    palette[4 * i + 3] = 255;
  }
  for (int i = 0; i < W * H; ++i) {
    indices[i] = (uint8_t)((i % W / 4 + i / W) % 16);
    memcpy(rgba + 4 * i, palette + 4 * indices[i], 4);
  }
  vellum_image image = {W, H, VELLUM_LAYOUT_INDICES, indices, W, palette, 16, 0};
  vellum_encode_options options;
  vellum_encode_defaults(&options);
  options.content_type = VELLUM_BLP2_PALETTED8;
  void *bytes = NULL;
  size_t size = 0;
  int status = vellum_encode(&image, &options, NULL, NULL, &bytes, &size);
  if (status != VELLUM_OK) return fail("encode", status);

  vellum_file *file = NULL;
  status = vellum_open_memory(bytes, size, &file);
  if (status != VELLUM_OK) return fail("open", status);
  vellum_info info;
  vellum_get_info(file, &info);
  if (strcmp(info.signature, "BLP2") != 0 || info.content != VELLUM_CONTENT_PALETTED || info.width != W ||
      info.height != H || info.level_count != 7 || info.layout != VELLUM_LAYOUT_INDICES) {
    fprintf(stderr, "example: unexpected info %s %d %ux%u levels %u\n", info.signature, info.content, info.width,
            info.height, info.level_count);
    return 1;
  }
  static uint8_t decoded[W * H * 4];
  vellum_damage damage;
  status = vellum_decode_level(file, 0, VELLUM_LAYOUT_RGBA, decoded, W * 4, &damage);
  if (status != VELLUM_OK) return fail("decode", status);
  /* The palette is the image's own: every colour comes back exactly. */
  for (int i = 0; i < W * H * 4; ++i) {
    if (decoded[i] != rgba[i]) {
      fprintf(stderr, "example: byte %d is %u, not %u\n", i, decoded[i], rgba[i]);
      return 1;
    }
  }
  uint32_t tw = 0, th = 0;
  static uint8_t thumb[16 * 16 * 3];
  status = vellum_thumbnail(file, 16, VELLUM_LAYOUT_RGB, thumb, 16 * 3, &tw, &th, NULL);
  if (status != VELLUM_OK || tw != 16 || th != 8) return fail("thumbnail", status);
  vellum_close(file);
  vellum_free(bytes);
  printf("libvellum %s: %s %s %ux%u, %u levels\n", vellum_version(), info.signature, info.content_name, info.width,
         info.height, info.level_count);
  return 0;
}
