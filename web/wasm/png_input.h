// A PNG file in memory, decoded by libspng into the encoder's source image the way
// `vellum encode` reads it, so that the page writes the same BLP bytes:
//   grey, grey + alpha, grey + tRNS -> indices into a 256-entry grey ramp (with alpha
//                                      per pixel when the PNG has any)
//   palette (+ tRNS)                 -> the PNG's indices and entries (with each
//                                      pixel's tRNS alpha)
//   RGB, RGB + tRNS, RGBA            -> true colour R, G, B, A
// Grey samples below 8 bits are scaled to 8; 16-bit samples keep their high byte.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "vellum/vellum.h"

namespace vellum::web {

struct PngSource {
  vellum_image image{};                 // points into the buffers below
  std::unique_ptr<uint8_t[]> pixels;
  uint8_t palette[1024] = {};           // R, G, B, A per entry
};

// Decodes `size` bytes. Images of more than maxPixels pixels are refused before their
// pixels are allocated. Returns a vellum_status (VELLUM_ERR_ARGUMENT for a file that is
// not a readable PNG, VELLUM_ERR_TOO_LARGE, VELLUM_ERR_NO_MEMORY) and on failure the
// reason in *error.
int readPngSource(const uint8_t* data, size_t size, uint64_t maxPixels, PngSource* source, std::string* error);

}  // namespace vellum::web
