// S3TC block decoding: 4 x 4 pixels from one 8-byte (DXT1) or 16-byte (DXT3, DXT5) block.
#pragma once

#include <cstdint>

namespace vellum {

// Dxt1Alpha is DXT1 with cut-out transparency: the level's header declares alpha, and index
// 3 of a three-colour block is a transparent pixel.
enum class DxtVariant : uint8_t { Dxt1, Dxt3, Dxt5, Dxt1Alpha };

inline uint32_t dxtBlockBytes(DxtVariant variant) {
  return variant == DxtVariant::Dxt1 || variant == DxtVariant::Dxt1Alpha ? 8 : 16;
}

// Decodes one block into 16 pixels of red, green, blue, alpha, row by row within the block.
// In DXT1's three-colour mode (c0 <= c1) index 3 is black: opaque for Dxt1, with alpha 0
// for Dxt1Alpha.
void decodeDxtBlock(const uint8_t* block, DxtVariant variant, uint8_t pixels[64]);

// The DXT5 alpha half (8 bytes): two endpoints and sixteen 3-bit indices.
void decodeDxt5Alpha(const uint8_t block[8], uint8_t alpha[16]);

}  // namespace vellum
