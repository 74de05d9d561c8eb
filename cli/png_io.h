// PNG files through libspng: reading a PNG into the writer's source form (as the plug-ins
// hand images to the writer) and writing rows as a PNG.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "core/pixel_layout.h"

namespace vellum::cli {

// A PNG decoded for saving as BLP, in the form the writer takes (encodeBlpSource):
//   grey                          -> Indices of the grey ramp (256 entries)
//   grey + alpha, grey with tRNS  -> IndicesAlpha: grey value and alpha
//   palette                       -> Indices keeping its PLTE entries
//   palette with tRNS             -> IndicesAlpha: index and the entry's tRNS alpha
//   RGB, RGBA                     -> Rgba (alpha meant for RGBA and RGB with tRNS)
// 16-bit samples are reduced to their high byte.
struct InputPicture {
  uint32_t width = 0;
  uint32_t height = 0;
  uint8_t colourType = 0;     // as stored: 0 grey, 2 RGB, 3 palette, 4 grey + alpha, 6 RGBA
  uint8_t bitDepth = 0;       // as stored: 1, 2, 4, 8 or 16
  BlpPixelLayout layout = BlpPixelLayout::Rgba;
  bool hasAlpha = false;      // alpha channel or tRNS
  uint32_t paletteCount = 0;  // palette entries the source defines (256 for grey)
  uint8_t palette[1024] = {}; // red, green, blue, 255 per entry; unused entries 0
  // Room for width * height pixels of 4 bytes (the writer's working memory), the pixels
  // packed at its start in `layout`.
  std::unique_ptr<uint8_t[]> pixels;
};

// Reads any image `encode` takes (image_input.h) as plain R, G, B, A pixels, or a BLP's
// level as the library delivers it (for comparisons).
struct RgbaImage {
  uint32_t width = 0;
  uint32_t height = 0;
  bool hasAlpha = false;
  std::unique_ptr<uint8_t[]> pixels;  // R, G, B, A
};

// Expands a picture (any layout) into R, G, B, A in place of its pixels.
void pictureToRgba(InputPicture* picture, RgbaImage* image);

// Writes a PNG of 8-bit samples: colour type 2 (RGB), 3 (palette, with `paletteRgb` of
// `paletteCount` entries) or 6 (RGBA). Rows come from `row(context, y, destination)` in
// order. Each true-colour row takes the filter whose bytes have the smallest sum of
// magnitudes (paletted rows none); the filtered image is compressed whole by libdeflate at
// `level` (0 stored ... 9), on the calling thread: the bytes depend only on the pixels and
// the level. Level 2 writes a 4096 x 4096 texture in about a fifth of the CPU time libspng
// takes at zlib's default level, for files within 10 % of its size (docs/cli.md has the
// figures).
// Returns false with *error on failure.
constexpr uint8_t kPngRgb = 2, kPngPalette = 3, kPngRgba = 6;
using PngRowSource = void (*)(void* context, uint32_t y, uint8_t* destination);
bool writePng(std::FILE* file, uint32_t width, uint32_t height, uint8_t colourType,
              const uint8_t (*paletteRgb)[3], uint32_t paletteCount, PngRowSource row,
              void* context, int level, std::string* error);

}  // namespace vellum::cli
