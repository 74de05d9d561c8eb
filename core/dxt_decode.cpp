#include "core/dxt_decode.h"

namespace vellum {

namespace {

void expand565(uint32_t c, uint8_t rgb[3]) {
  uint32_t r5 = (c >> 11) & 31, g6 = (c >> 5) & 63, b5 = c & 31;
  rgb[0] = uint8_t(r5 << 3 | r5 >> 2);
  rgb[1] = uint8_t(g6 << 2 | g6 >> 4);
  rgb[2] = uint8_t(b5 << 3 | b5 >> 2);
}

void decodeColourHalf(const uint8_t* half, bool forceFourColour, bool cutOut, uint8_t pixels[64]) {
  uint32_t c0 = uint32_t(half[0]) | uint32_t(half[1]) << 8;
  uint32_t c1 = uint32_t(half[2]) | uint32_t(half[3]) << 8;
  uint8_t table[4][4];
  expand565(c0, table[0]);
  expand565(c1, table[1]);
  for (int c = 0; c < 3; ++c) {
    uint32_t a = table[0][c], b = table[1][c];
    if (forceFourColour || c0 > c1) {
      table[2][c] = uint8_t((2 * a + b) / 3);
      table[3][c] = uint8_t((a + 2 * b) / 3);
    } else {
      table[2][c] = uint8_t((a + b) / 2);
      table[3][c] = 0;
    }
  }
  for (auto& entry : table) entry[3] = 255;
  if (cutOut && !forceFourColour && c0 <= c1) table[3][3] = 0;
  uint32_t indices = uint32_t(half[4]) | uint32_t(half[5]) << 8 | uint32_t(half[6]) << 16 |
                     uint32_t(half[7]) << 24;
  for (int i = 0; i < 16; ++i) {
    const uint8_t* entry = table[(indices >> (2 * i)) & 3];
    for (int c = 0; c < 4; ++c) pixels[4 * i + c] = entry[c];
  }
}

}  // namespace

void decodeDxt5Alpha(const uint8_t block[8], uint8_t alpha[16]) {
  uint32_t a0 = block[0], a1 = block[1];
  uint32_t t[8];
  t[0] = a0;
  t[1] = a1;
  if (a0 > a1) {
    uint32_t d = a0 - a1;
    for (uint32_t k = 2; k < 8; ++k) t[k] = a1 + (8 - k) * d / 7;
  } else {
    uint32_t d = a1 - a0;
    for (uint32_t k = 2; k < 6; ++k) t[k] = a0 + (k - 1) * d / 5;
    t[6] = 0;
    t[7] = 255;
  }
  uint64_t bits = 0;
  for (int b = 0; b < 6; ++b) bits |= uint64_t(block[2 + b]) << (8 * b);
  for (int i = 0; i < 16; ++i) alpha[i] = uint8_t(t[(bits >> (3 * i)) & 7]);
}

void decodeDxtBlock(const uint8_t* block, DxtVariant variant, uint8_t pixels[64]) {
  if (variant == DxtVariant::Dxt1 || variant == DxtVariant::Dxt1Alpha) {
    decodeColourHalf(block, false, variant == DxtVariant::Dxt1Alpha, pixels);
    return;
  }
  decodeColourHalf(block + 8, true, false, pixels);
  if (variant == DxtVariant::Dxt3) {
    uint64_t bits = 0;
    for (int b = 0; b < 8; ++b) bits |= uint64_t(block[b]) << (8 * b);
    for (int i = 0; i < 16; ++i) pixels[4 * i + 3] = uint8_t(((bits >> (4 * i)) & 15) * 17);
  } else {
    uint8_t alpha[16];
    decodeDxt5Alpha(block, alpha);
    for (int i = 0; i < 16; ++i) pixels[4 * i + 3] = alpha[i];
  }
}

}  // namespace vellum
