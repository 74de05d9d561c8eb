#include "cli/png_io.h"

#include <libdeflate.h>
#include <spng.h>

#include <sys/mman.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <new>

#include "cli/cli_common.h"
#include "cli/image_input.h"
#include "cli/png_filter.h"
#include "core/blp_reader.h"

namespace vellum::cli {

namespace {

// Ancillary chunks are not used; bound what libspng may hold of them.
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

// Reads the header of a PNG in memory. Fails on a non-PNG or a size above the limit,
// before any pixel memory is taken.
int openPng(const uint8_t* data, size_t size, uint64_t maxPixels, SpngContext* png, spng_ihdr* ihdr,
            std::string* error) {
  // Tell "not a PNG" from "a damaged PNG" by the signature alone.
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (size < 8 || std::memcmp(data, kSignature, 8) != 0) {
    *error = "not a PNG file";
    return kExitBadInput;
  }
  png->ctx = spng_ctx_new(0);
  if (png->ctx == nullptr) {
    *error = "not enough memory";
    return kExitNoMemory;
  }
  spng_set_chunk_limits(png->ctx, kChunkLimit, kChunkLimit);
  spng_set_crc_action(png->ctx, SPNG_CRC_ERROR, SPNG_CRC_ERROR);
  int rc = spng_set_png_buffer(png->ctx, data, size);
  if (rc == 0) rc = spng_get_ihdr(png->ctx, ihdr);
  if (rc != 0) {
    *error = spngReason(rc);
    return kExitBadInput;
  }
  uint64_t pixels = uint64_t(ihdr->width) * ihdr->height;
  if (pixels > maxPixels) {
    *error = "image of " + std::to_string(ihdr->width) + " x " + std::to_string(ihdr->height) +
             " pixels is over the limit of " + std::to_string(maxPixels) + " pixels (--max-pixels)";
    return kExitBadInput;
  }
  return kExitOk;
}

// Decodes the whole image as 8-bit R, G, B, A with transparency applied; 16-bit samples
// keep their high byte.
int decodeRgba8(SpngContext* png, const spng_ihdr& ihdr, std::unique_ptr<uint8_t[]>* out,
                std::string* error) {
  const uint64_t pixels = uint64_t(ihdr.width) * ihdr.height;
  const bool wide = ihdr.bit_depth == 16;
  const int format = wide ? SPNG_FMT_RGBA16 : SPNG_FMT_RGBA8;
  size_t size = 0;
  int rc = spng_decoded_image_size(png->ctx, format, &size);
  if (rc != 0) {
    *error = spngReason(rc);
    return kExitBadInput;
  }
  if (uint64_t(size) != pixels * (wide ? 8 : 4)) {
    *error = "unexpected decoded size";
    return kExitBadInput;
  }
  std::unique_ptr<uint8_t[]> image = allocateBytes(pixels * 4);
  std::unique_ptr<uint8_t[]> wideImage = wide ? allocateBytes(size) : nullptr;
  if (!image || (wide && !wideImage)) {
    *error = "not enough memory";
    return kExitNoMemory;
  }
  rc = spng_decode_image(png->ctx, wide ? wideImage.get() : image.get(), size, format, SPNG_DECODE_TRNS);
  if (rc != 0) {
    *error = spngReason(rc);
    return kExitBadInput;
  }
  if (wide) {
    // Host-endian 16-bit samples: keep the high byte of each.
    const uint8_t* in = wideImage.get();
    uint8_t* o = image.get();
    for (uint64_t i = 0; i < pixels * 4; ++i, in += 2) {
      uint16_t sample;
      std::memcpy(&sample, in, 2);
      o[i] = uint8_t(sample >> 8);
    }
  }
  *out = std::move(image);
  return kExitOk;
}

// Decodes a palette PNG as one index byte a pixel, or index and alpha (from tRNS) when
// `alpha` is set, into a buffer of 4 bytes a pixel: the rows as stored (1, 2, 4 or 8 bits a
// pixel) are decoded into its last quarter and unpacked forwards to its start, which never
// overtakes the stored bytes still to be read.
int decodeIndices(SpngContext* png, const spng_ihdr& ihdr, bool alpha, const spng_trns& trns,
                  std::unique_ptr<uint8_t[]>* out, std::string* error) {
  const uint64_t pixels = uint64_t(ihdr.width) * ihdr.height;
  const uint32_t depth = ihdr.bit_depth;
  const uint64_t rowBytes = (uint64_t(ihdr.width) * depth + 7) / 8;
  size_t size = 0;
  int rc = spng_decoded_image_size(png->ctx, SPNG_FMT_PNG, &size);
  if (rc != 0) {
    *error = spngReason(rc);
    return kExitBadInput;
  }
  if (uint64_t(size) != rowBytes * ihdr.height || size > pixels) {
    *error = "unexpected decoded size";
    return kExitBadInput;
  }
  std::unique_ptr<uint8_t[]> image = allocateBytes(pixels * 4);
  if (!image) {
    *error = "not enough memory";
    return kExitNoMemory;
  }
  uint8_t* stored = image.get() + pixels * 3;
  rc = spng_decode_image(png->ctx, stored, size, SPNG_FMT_PNG, 0);
  if (rc != 0) {
    *error = spngReason(rc);
    return kExitBadInput;
  }
  uint8_t* o = image.get();
  const uint32_t perByte = 8 / depth, mask = (1u << depth) - 1;
  for (uint32_t y = 0; y < ihdr.height; ++y) {
    const uint8_t* row = stored + uint64_t(y) * rowBytes;
    for (uint32_t x = 0; x < ihdr.width; ++x) {
      const uint32_t shift = 8 - depth * (x % perByte + 1);
      const uint8_t index = uint8_t((row[x / perByte] >> shift) & mask);
      *o++ = index;
      if (alpha) *o++ = index < trns.n_type3_entries ? trns.type3_alpha[index] : 255;
    }
  }
  *out = std::move(image);
  return kExitOk;
}

}  // namespace

int readPngMemory(const uint8_t* data, size_t size, uint64_t maxPixels, InputPicture* picture, std::string* error) {
  SpngContext png;
  spng_ihdr ihdr{};
  int rc = openPng(data, size, maxPixels, &png, &ihdr, error);
  if (rc != kExitOk) return rc;

  picture->width = ihdr.width;
  picture->height = ihdr.height;
  picture->colourType = ihdr.color_type;
  picture->bitDepth = ihdr.bit_depth;
  spng_trns trns{};
  const bool hasTrns = spng_get_trns(png.ctx, &trns) == 0;
  std::memset(picture->palette, 0, sizeof picture->palette);

  switch (ihdr.color_type) {
    case SPNG_COLOR_TYPE_GRAYSCALE:
    case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA:
      picture->hasAlpha = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA || hasTrns;
      picture->layout = picture->hasAlpha ? BlpPixelLayout::IndicesAlpha : BlpPixelLayout::Indices;
      picture->paletteCount = 256;
      for (int i = 0; i < 256; ++i) {
        uint8_t* e = picture->palette + 4 * i;
        e[0] = e[1] = e[2] = uint8_t(i);
        e[3] = 255;
      }
      break;
    case SPNG_COLOR_TYPE_INDEXED: {
      spng_plte plte{};
      int prc = spng_get_plte(png.ctx, &plte);
      if (prc != 0 || plte.n_entries == 0 || plte.n_entries > 256) {
        *error = prc != 0 ? spngReason(prc) : "corrupt PNG file (empty palette)";
        return kExitBadInput;
      }
      picture->hasAlpha = hasTrns;
      picture->layout = hasTrns ? BlpPixelLayout::IndicesAlpha : BlpPixelLayout::Indices;
      picture->paletteCount = plte.n_entries;
      for (uint32_t i = 0; i < plte.n_entries; ++i) {
        uint8_t* e = picture->palette + 4 * i;
        e[0] = plte.entries[i].red;
        e[1] = plte.entries[i].green;
        e[2] = plte.entries[i].blue;
        e[3] = 255;
      }
      return decodeIndices(&png, ihdr, hasTrns, trns, &picture->pixels, error);
    }
    default:  // RGB, RGBA
      picture->hasAlpha = ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA || hasTrns;
      picture->layout = BlpPixelLayout::Rgba;
      picture->paletteCount = 256;
      break;
  }

  rc = decodeRgba8(&png, ihdr, &picture->pixels, error);
  if (rc != kExitOk) return rc;
  if (picture->layout != BlpPixelLayout::Rgba) {
    // Grey: the grey value is the index of the ramp, kept with its alpha when the image has
    // alpha; packed forwards from the decoded R, G, B, A.
    uint8_t* p = picture->pixels.get();
    const uint64_t pixels = uint64_t(ihdr.width) * ihdr.height;
    const bool alpha = picture->hasAlpha;
    for (uint64_t i = 0; i < pixels; ++i) {
      const uint8_t grey = p[4 * i], a = p[4 * i + 3];
      p[alpha ? 2 * i : i] = grey;
      if (alpha) p[2 * i + 1] = a;
    }
  }
  return kExitOk;
}

namespace {

struct FreeBytes {
  void operator()(uint8_t* p) const { std::free(p); }
};
using LargeBytes = std::unique_ptr<uint8_t, FreeBytes>;

// The writer's two image-sized buffers, asking for huge pages where the system has them:
// the first touch of fresh 4 KiB pages costs a fault each, which for the 64 MB filtered
// copy of a 4096 x 4096 RGBA level took about 200 ms of CPU here, several times the filters
// themselves; with 2 MiB pages the same touch costs about 5 ms. Only where the bytes
// live changes, never what they are.
LargeBytes allocateLarge(uint64_t size) {
  constexpr uint64_t kHugePage = uint64_t(1) << 21;
  if (size == 0 || size > uint64_t(SIZE_MAX) / 2 - kHugePage) return nullptr;
  if (size < kHugePage) return LargeBytes(static_cast<uint8_t*>(std::malloc(size_t(size))));
  const uint64_t rounded = (size + kHugePage - 1) & ~(kHugePage - 1);
  LargeBytes bytes(static_cast<uint8_t*>(std::aligned_alloc(size_t(kHugePage), size_t(rounded))));
#if defined(MADV_HUGEPAGE)
  // Advice only: without it (or refused) the pages are ordinary ones.
  if (bytes) madvise(bytes.get(), size_t(rounded), MADV_HUGEPAGE);
#endif
  return bytes;
}

void putU32Be(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

bool writeChunk(std::FILE* file, const char* type, const uint8_t* data, uint64_t size) {
  uint8_t head[8];
  putU32Be(head, uint32_t(size));
  std::memcpy(head + 4, type, 4);
  uint32_t crc = libdeflate_crc32(0, head + 4, 4);
  if (size > 0) crc = libdeflate_crc32(crc, data, size_t(size));
  uint8_t tail[4];
  putU32Be(tail, crc);
  return std::fwrite(head, 1, 8, file) == 8 && (size == 0 || std::fwrite(data, 1, size_t(size), file) == size_t(size)) &&
         std::fwrite(tail, 1, 4, file) == 4;
}

}  // namespace

bool writePng(std::FILE* file, uint32_t width, uint32_t height, uint8_t colourType,
              const uint8_t (*paletteRgb)[3], uint32_t paletteCount, PngRowSource row,
              void* context, int level, std::string* error) {
  const uint32_t channels = colourType == 3 ? 1 : colourType == 2 ? 3 : 4;
  const uint64_t rowBytes = uint64_t(width) * channels;
  const uint64_t filteredBytes = (rowBytes + 1) * height;
  if (filteredBytes > uint64_t(SIZE_MAX) / 2 || filteredBytes > (uint64_t(1) << 40)) {
    *error = "image too large for a PNG here";
    return false;
  }
  std::unique_ptr<uint8_t[]> rows = allocateBytes(rowBytes * 2);
  LargeBytes filtered = allocateLarge(filteredBytes);
  if (!rows || !filtered) {
    *error = "not enough memory";
    return false;
  }
  // Every row through the filter of the lowest estimated cost (ties to the lower type);
  // paletted rows are left unfiltered, as indices have no order a predictor could use.
  uint8_t* current = rows.get();
  uint8_t* above = rows.get() + rowBytes;
  std::memset(above, 0, size_t(rowBytes));
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* out = filtered.get() + uint64_t(y) * (rowBytes + 1);
    if (colourType != 3 && level > 0) {
      row(context, y, current);
      filterPngRow(current, above, rowBytes, channels, out);
      std::swap(current, above);
    } else {
      // Unfiltered: the row goes straight to its place.
      out[0] = 0;
      row(context, y, out + 1);
    }
  }
  rows.reset();

  // The whole filtered image in one zlib stream: one compressor on one thread, so the
  // bytes depend on nothing but the pixels and the level.
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
  const size_t bound = compressor ? libdeflate_zlib_compress_bound(compressor, size_t(filteredBytes)) : 0;
  LargeBytes compressed = compressor ? allocateLarge(bound) : nullptr;
  size_t compressedBytes = compressed ? libdeflate_zlib_compress(compressor, filtered.get(), size_t(filteredBytes),
                                                                 compressed.get(), bound)
                                      : 0;
  if (compressor != nullptr) libdeflate_free_compressor(compressor);
  filtered.reset();
  if (compressedBytes == 0) {
    *error = "not enough memory";
    return false;
  }

  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  uint8_t ihdr[13];
  putU32Be(ihdr, width);
  putU32Be(ihdr + 4, height);
  ihdr[8] = 8;  // bits a sample
  ihdr[9] = colourType;
  ihdr[10] = ihdr[11] = ihdr[12] = 0;  // deflate, adaptive filtering, not interlaced
  bool ok = std::fwrite(kSignature, 1, 8, file) == 8 && writeChunk(file, "IHDR", ihdr, 13);
  if (ok && colourType == 3) {
    uint8_t plte[768];
    for (uint32_t i = 0; i < paletteCount; ++i) std::memcpy(plte + 3 * i, paletteRgb[i], 3);
    ok = writeChunk(file, "PLTE", plte, 3 * uint64_t(paletteCount));
  }
  // IDAT chunks of at most 1 MiB, so that no chunk length comes near 2^31.
  constexpr uint64_t kChunk = uint64_t(1) << 20;
  for (uint64_t at = 0; ok && at < compressedBytes; at += kChunk)
    ok = writeChunk(file, "IDAT", compressed.get() + at, std::min<uint64_t>(kChunk, compressedBytes - at));
  if (ok) ok = writeChunk(file, "IEND", nullptr, 0);
  if (!ok) {
    *error = systemError(errno ? errno : EIO);
    return false;
  }
  return true;
}

}  // namespace vellum::cli
