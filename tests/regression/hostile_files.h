// Small files that claim a lot: BLP headers of 32768 x 32768 with a few bytes of level
// data, and JPEG streams that make the decoder walk the whole image again and again
// without consuming their bits. Used by the limits tests and by worst_case_timing.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "core/blp_format.h"

namespace vellum::hostile {

using Bytes = std::vector<uint8_t>;

// A file of exactly `total` bytes: a header claiming width x height, level 0 right after
// what the layout puts before it (palette or JPEG size field), running to the end of the
// file, filled with `levelBytes` (repeated).
inline Bytes claimFile(const char* magic, uint32_t storage, uint32_t word8, uint32_t width, uint32_t height,
                       const Bytes& levelBytes, uint32_t total = 200) {
  const bool blp2 = std::memcmp(magic, "BLP2", 4) == 0;
  const uint32_t headerSize = blp2 ? kBlp2HeaderSize : kBlp1HeaderSize;
  Bytes file(total, 0);
  std::memcpy(file.data(), magic, 4);
  storeU32(&file[4], storage);
  storeU32(&file[8], word8);
  storeU32(&file[12], width);
  storeU32(&file[16], height);
  // Paletted files: the palette would need 1024 bytes; the level starts after the header
  // anyway (just past it, so that the level offset exceeds the header size).
  const uint32_t offset = storage == 0 ? headerSize + 4 : headerSize + 1;
  const uint32_t tables = blp2 ? 20 : 28;
  storeU32(&file[tables], offset);
  storeU32(&file[tables + 64], total - offset);
  for (uint32_t i = offset; i < total && !levelBytes.empty(); ++i) file[i] = levelBytes[(i - offset) % levelBytes.size()];
  return file;
}

inline uint32_t blp2Word(uint8_t compression, uint8_t alphaDepth, uint8_t alphaType) {
  return uint32_t(compression) | uint32_t(alphaDepth) << 8 | uint32_t(alphaType) << 16 | 1u << 24;
}

enum class StreamKind {
  Empty,               // SOI, EOI: only the coefficient buffer and the output stage
  SequentialNoMatch,   // baseline scans of four components whose bits match no code
  RefinementNoMatch,   // progressive refinement scans (1..62) whose bits match no code:
                       // every block visit walks 62 coefficients, no bit is ever consumed
};

// A JPEG stream of `scans` scans of the given kind (frame size 0 x 0: the decoder takes the
// caller's size). Its Huffman tables hold one code of 16 zero bits; the scan data are
// 0xFE bytes, whose bits start with 1 and so match nothing.
inline Bytes hostileStream(StreamKind kind, int scans) {
  Bytes s = {0xFF, 0xD8};
  if (kind == StreamKind::Empty) {
    s.insert(s.end(), {0xFF, 0xD9});
    return s;
  }
  const bool progressive = kind == StreamKind::RefinementNoMatch;
  // Frame: four components sampled 1 x 1, quantization table 0.
  s.insert(s.end(), {0xFF, uint8_t(progressive ? 0xC2 : 0xC0), 0x00, 0x14, 8, 0, 0, 0, 0, 4});
  for (uint8_t c = 0; c < 4; ++c) s.insert(s.end(), {c, 0x11, 0});
  // DC table 0 and AC table 0: one code of length 16.
  for (uint8_t tableClass : {uint8_t(0x00), uint8_t(0x10)}) {
    s.insert(s.end(), {0xFF, 0xC4, 0x00, 0x14, tableClass});
    for (int l = 1; l <= 16; ++l) s.push_back(l == 16 ? 1 : 0);
    s.push_back(0x01);
  }
  for (int i = 0; i < scans; ++i) {
    if (progressive) {
      // One component (the one-component walk visits every block position), Ss 1, Se 62,
      // Ah 1, Al 0.
      s.insert(s.end(), {0xFF, 0xDA, 0x00, 0x08, 1, uint8_t(i % 4), 0x00, 1, 62, 0x10});
    } else {
      s.insert(s.end(), {0xFF, 0xDA, 0x00, 0x0E, 4});
      for (uint8_t c = 0; c < 4; ++c) s.insert(s.end(), {c, 0x00});
      s.insert(s.end(), {0, 63, 0});
    }
    s.insert(s.end(), {0xFE, 0xFE});
  }
  s.insert(s.end(), {0xFF, 0xD9});
  return s;
}

}  // namespace vellum::hostile
