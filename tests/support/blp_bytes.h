// Small BLP files written byte by byte by the tests themselves.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/blp_format.h"

namespace vellum::testing {

using Bytes = std::vector<uint8_t>;

inline void putU32(Bytes& b, size_t at, uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4);
  storeU32(b.data() + at, v);
}

// A header of the given signature with level 0 at `offset`, `size` bytes.
inline Bytes blpHeader(const char* magic, uint32_t storage, uint32_t word8, uint32_t width,
                       uint32_t height, uint32_t offset, uint32_t size) {
  bool blp2 = std::strcmp(magic, "BLP2") == 0;
  Bytes b(blp2 ? kBlp2HeaderSize : kBlp1HeaderSize, 0);
  std::memcpy(b.data(), magic, 4);
  putU32(b, 4, storage);
  putU32(b, 8, word8);
  putU32(b, 12, width);
  putU32(b, 16, height);
  uint32_t tables = blp2 ? 20 : 28;
  putU32(b, tables, offset);
  putU32(b, tables + 64, size);
  return b;
}

// "BLP2" bytes at offset 8: compression, alphaDepth, alphaType, hasMips.
inline uint32_t blp2Word(uint8_t compression, uint8_t alphaDepth, uint8_t alphaType, uint8_t hasMips = 1) {
  return uint32_t(compression) | uint32_t(alphaDepth) << 8 | uint32_t(alphaType) << 16 |
         uint32_t(hasMips) << 24;
}

inline void append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

// A 256-entry palette in file order (blue, green, red, fourth): entry i = (i, 255 - i, i ^ 0x5A, 7).
inline Bytes testPalette() {
  Bytes p(kBlpPaletteBytes);
  for (int i = 0; i < 256; ++i) {
    p[4 * i + 0] = uint8_t(i);
    p[4 * i + 1] = uint8_t(255 - i);
    p[4 * i + 2] = uint8_t(i ^ 0x5A);
    p[4 * i + 3] = 7;
  }
  return p;
}

// A complete paletted file: header, palette, then `level` (indices and alpha plane).
inline Bytes palettedFile(const char* magic, uint32_t word8, uint32_t w, uint32_t h, const Bytes& level) {
  uint32_t headerSize = std::strcmp(magic, "BLP2") == 0 ? kBlp2HeaderSize : kBlp1HeaderSize;
  uint32_t offset = headerSize + kBlpPaletteBytes;
  Bytes file = blpHeader(magic, 1, word8, w, h, offset, uint32_t(level.size()));
  append(file, testPalette());
  append(file, level);
  return file;
}

}  // namespace vellum::testing
