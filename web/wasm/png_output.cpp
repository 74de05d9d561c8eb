#include "web/wasm/png_output.h"

#include <spng.h>

namespace vellum::web {

bool writePngToMemory(const uint8_t* rows, uint32_t width, uint32_t height, PngKind kind,
                      const uint8_t* paletteRgbx, void** png, size_t* size, std::string* error) {
  *png = nullptr;
  *size = 0;
  const uint32_t channels = kind == PngKind::Paletted ? 1 : kind == PngKind::Rgb ? 3 : 4;
  const uint64_t rowBytes = uint64_t(width) * channels;
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  if (ctx == nullptr) {
    *error = "not enough memory";
    return false;
  }
  spng_ihdr ihdr{};
  ihdr.width = width;
  ihdr.height = height;
  ihdr.bit_depth = 8;
  ihdr.color_type = uint8_t(kind);
  int rc = spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
  if (rc == 0) rc = spng_set_ihdr(ctx, &ihdr);
  if (rc == 0 && kind == PngKind::Paletted) {
    spng_plte plte{};
    plte.n_entries = 256;
    for (uint32_t i = 0; i < 256; ++i) {
      plte.entries[i].red = paletteRgbx[4 * i];
      plte.entries[i].green = paletteRgbx[4 * i + 1];
      plte.entries[i].blue = paletteRgbx[4 * i + 2];
    }
    rc = spng_set_plte(ctx, &plte);
  }
  // Row by row, as `vellum decode` feeds its encoder.
  if (rc == 0) rc = spng_encode_image(ctx, nullptr, 0, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
  for (uint32_t y = 0; rc == 0 && y < height; ++y) {
    rc = spng_encode_row(ctx, rows + y * rowBytes, size_t(rowBytes));
    if (rc == SPNG_EOI && y + 1 == height) rc = 0;
  }
  if (rc == 0) {
    int bufferError = 0;
    *png = spng_get_png_buffer(ctx, size, &bufferError);
    rc = bufferError;
  }
  spng_ctx_free(ctx);
  if (rc != 0 || *png == nullptr) {
    *error = std::string("PNG encoder: ") + spng_strerror(rc);
    return false;
  }
  return true;
}

}  // namespace vellum::web
