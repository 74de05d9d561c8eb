#include "web/wasm/png_input.h"

#include <spng.h>

#include <cstring>
#include <new>

namespace vellum::web {

namespace {

// Ancillary chunks are not used; bound what libspng may hold of them (as `vellum`).
constexpr size_t kChunkLimit = size_t(64) << 20;

struct SpngContext {
  spng_ctx* ctx = nullptr;
  ~SpngContext() {
    if (ctx != nullptr) spng_ctx_free(ctx);
  }
};

std::string spngReason(int code) {
  if (code == SPNG_IO_EOF || code == SPNG_EOF) return "truncated PNG file";
  if (code == SPNG_ESIGNATURE) return "not a PNG file";
  return std::string("corrupt PNG file (") + spng_strerror(code) + ")";
}

std::unique_ptr<uint8_t[]> allocate(uint64_t bytes) {
  if (bytes == 0 || bytes > SIZE_MAX) return nullptr;
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size_t(bytes)]);
}

// The whole image as 8-bit R, G, B, A with transparency applied; 16-bit samples keep
// their high byte (libspng delivers them host-endian).
int decodeRgba8(spng_ctx* ctx, const spng_ihdr& ihdr, std::unique_ptr<uint8_t[]>* out, std::string* error) {
  const uint64_t pixels = uint64_t(ihdr.width) * ihdr.height;
  const bool wide = ihdr.bit_depth == 16;
  const int format = wide ? SPNG_FMT_RGBA16 : SPNG_FMT_RGBA8;
  size_t size = 0;
  int rc = spng_decoded_image_size(ctx, format, &size);
  if (rc != 0 || uint64_t(size) != pixels * (wide ? 8 : 4)) {
    *error = rc != 0 ? spngReason(rc) : "unexpected decoded size";
    return VELLUM_ERR_ARGUMENT;
  }
  std::unique_ptr<uint8_t[]> image = allocate(pixels * 4);
  std::unique_ptr<uint8_t[]> wideImage = wide ? allocate(size) : nullptr;
  if (!image || (wide && !wideImage)) {
    *error = vellum_status_text(VELLUM_ERR_NO_MEMORY);
    return VELLUM_ERR_NO_MEMORY;
  }
  rc = spng_decode_image(ctx, wide ? wideImage.get() : image.get(), size, format, SPNG_DECODE_TRNS);
  if (rc != 0) {
    *error = spngReason(rc);
    return VELLUM_ERR_ARGUMENT;
  }
  if (wide) {
    const uint8_t* in = wideImage.get();
    uint8_t* o = image.get();
    for (uint64_t i = 0; i < pixels * 4; ++i, in += 2) {
      uint16_t sample;
      std::memcpy(&sample, in, 2);
      o[i] = uint8_t(sample >> 8);
    }
  }
  *out = std::move(image);
  return VELLUM_OK;
}

// The stored palette indices, unpacked from rows of 1, 2, 4 or 8 bits: one byte a pixel,
// or index and the entry's tRNS alpha when the PNG has tRNS.
int decodeIndices(spng_ctx* ctx, const spng_ihdr& ihdr, bool alpha, const spng_trns& trns,
                  std::unique_ptr<uint8_t[]>* out, std::string* error) {
  const uint32_t depth = ihdr.bit_depth;
  const uint64_t rowBytes = (uint64_t(ihdr.width) * depth + 7) / 8;
  size_t size = 0;
  int rc = spng_decoded_image_size(ctx, SPNG_FMT_PNG, &size);
  if (rc != 0 || uint64_t(size) != rowBytes * ihdr.height) {
    *error = rc != 0 ? spngReason(rc) : "unexpected decoded size";
    return VELLUM_ERR_ARGUMENT;
  }
  std::unique_ptr<uint8_t[]> packed = allocate(size);
  std::unique_ptr<uint8_t[]> indices = allocate(uint64_t(ihdr.width) * ihdr.height * (alpha ? 2 : 1));
  if (!packed || !indices) {
    *error = vellum_status_text(VELLUM_ERR_NO_MEMORY);
    return VELLUM_ERR_NO_MEMORY;
  }
  rc = spng_decode_image(ctx, packed.get(), size, SPNG_FMT_PNG, 0);
  if (rc != 0) {
    *error = spngReason(rc);
    return VELLUM_ERR_ARGUMENT;
  }
  const uint32_t perByte = 8 / depth, mask = (1u << depth) - 1;
  uint8_t* o = indices.get();
  for (uint32_t y = 0; y < ihdr.height; ++y) {
    const uint8_t* row = packed.get() + uint64_t(y) * rowBytes;
    for (uint32_t x = 0; x < ihdr.width; ++x) {
      const uint32_t shift = 8 - depth * (x % perByte + 1);
      const uint8_t index = uint8_t((row[x / perByte] >> shift) & mask);
      *o++ = index;
      if (alpha) *o++ = index < trns.n_type3_entries ? trns.type3_alpha[index] : 255;
    }
  }
  *out = std::move(indices);
  return VELLUM_OK;
}

}  // namespace

int readPngSource(const uint8_t* data, size_t size, uint64_t maxPixels, PngSource* source, std::string* error) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (size < 8 || std::memcmp(data, kSignature, 8) != 0) {
    *error = "not a PNG file";
    return VELLUM_ERR_ARGUMENT;
  }
  SpngContext png;
  png.ctx = spng_ctx_new(0);
  if (png.ctx == nullptr) {
    *error = vellum_status_text(VELLUM_ERR_NO_MEMORY);
    return VELLUM_ERR_NO_MEMORY;
  }
  spng_set_chunk_limits(png.ctx, kChunkLimit, kChunkLimit);
  spng_set_crc_action(png.ctx, SPNG_CRC_ERROR, SPNG_CRC_ERROR);
  spng_ihdr ihdr{};
  int rc = spng_set_png_buffer(png.ctx, data, size);
  if (rc == 0) rc = spng_get_ihdr(png.ctx, &ihdr);
  if (rc != 0) {
    *error = spngReason(rc);
    return VELLUM_ERR_ARGUMENT;
  }
  const uint64_t pixels = uint64_t(ihdr.width) * ihdr.height;
  if (pixels > maxPixels) {
    *error = "image of " + std::to_string(ihdr.width) + " x " + std::to_string(ihdr.height) +
             " pixels is over the page's limit of " + std::to_string(maxPixels) + " pixels";
    return VELLUM_ERR_TOO_LARGE;
  }

  vellum_image& image = source->image;
  image = vellum_image{};
  image.width = ihdr.width;
  image.height = ihdr.height;
  spng_trns trns{};
  const bool hasTrns = spng_get_trns(png.ctx, &trns) == 0;

  if (ihdr.color_type == SPNG_COLOR_TYPE_INDEXED) {
    spng_plte plte{};
    const int prc = spng_get_plte(png.ctx, &plte);
    if (prc != 0 || plte.n_entries == 0 || plte.n_entries > 256) {
      *error = prc != 0 ? spngReason(prc) : "corrupt PNG file (empty palette)";
      return VELLUM_ERR_ARGUMENT;
    }
    for (uint32_t i = 0; i < plte.n_entries; ++i) {
      uint8_t* e = source->palette + 4 * i;
      e[0] = plte.entries[i].red;
      e[1] = plte.entries[i].green;
      e[2] = plte.entries[i].blue;
      e[3] = 255;
    }
    rc = decodeIndices(png.ctx, ihdr, hasTrns, trns, &source->pixels, error);
    if (rc != VELLUM_OK) return rc;
    image.layout = hasTrns ? VELLUM_LAYOUT_INDICES_ALPHA : VELLUM_LAYOUT_INDICES;
    image.palette_count = plte.n_entries;
    image.has_alpha = hasTrns ? 1 : 0;
  } else {
    std::unique_ptr<uint8_t[]> rgba;
    rc = decodeRgba8(png.ctx, ihdr, &rgba, error);
    if (rc != VELLUM_OK) return rc;
    const bool grey = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE || ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA;
    const bool alpha = hasTrns || ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
                       ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    image.has_alpha = alpha ? 1 : 0;
    if (grey) {
      // The grey value is the index into a ramp; alpha, when there is any, rides along.
      for (int i = 0; i < 256; ++i) {
        uint8_t* e = source->palette + 4 * i;
        e[0] = e[1] = e[2] = uint8_t(i);
        e[3] = 255;
      }
      image.palette_count = 256;
      image.layout = alpha ? VELLUM_LAYOUT_INDICES_ALPHA : VELLUM_LAYOUT_INDICES;
      const uint32_t step = alpha ? 2 : 1;
      std::unique_ptr<uint8_t[]> indexed = allocate(pixels * step);
      if (!indexed) {
        *error = vellum_status_text(VELLUM_ERR_NO_MEMORY);
        return VELLUM_ERR_NO_MEMORY;
      }
      const uint8_t* in = rgba.get();
      uint8_t* o = indexed.get();
      for (uint64_t i = 0; i < pixels; ++i, in += 4, o += step) {
        o[0] = in[0];
        if (alpha) o[1] = in[3];
      }
      source->pixels = std::move(indexed);
    } else {
      image.layout = VELLUM_LAYOUT_RGBA;
      source->pixels = std::move(rgba);
    }
  }
  image.pixels = source->pixels.get();
  image.stride = 0;
  image.palette = source->palette;
  if (image.palette_count == 0) image.palette_count = 256;
  return VELLUM_OK;
}

}  // namespace vellum::web
