// S3TC block decoding: 4 x 4 pixels from one 8-byte (DXT1) or 16-byte (DXT3, DXT5) block.
#pragma once

#include <cstdint>

namespace vellum {

enum class DxtVariant : uint8_t { Dxt1, Dxt3, Dxt5 };

inline uint32_t dxtBlockBytes(DxtVariant variant) { return variant == DxtVariant::Dxt1 ? 8 : 16; }

// Decodes one block into 16 pixels of red, green, blue, alpha, row by row within the block.
// In DXT1's three-colour mode (c0 <= c1) index 3 is black with alpha 255: BLP files carry
// no punch-through alpha in DXT1 levels.
void decodeDxtBlock(const uint8_t* block, DxtVariant variant, uint8_t pixels[64]);

// The DXT5 alpha half (8 bytes): two endpoints and sixteen 3-bit indices.
void decodeDxt5Alpha(const uint8_t block[8], uint8_t alpha[16]);

}  // namespace vellum
