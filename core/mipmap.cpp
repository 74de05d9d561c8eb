#include "core/mipmap.h"

#include <cstring>

namespace vellum {

namespace {

inline uint32_t load(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void store(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// Two channels per word: the even bytes (mask 0x00FF00FF) and the odd bytes are summed in
// 16-bit lanes, which hold sums of four bytes plus the rounding 1 (at most 1021) without
// carrying into the neighbour lane. The result equals the per-channel formulas exactly;
// a test compares it with a plain per-byte loop. The words are memory images, so the
// result does not depend on the machine's byte order.
constexpr uint32_t kEven = 0x00FF00FFu;

inline uint32_t average4(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  uint32_t even = (a & kEven) + (b & kEven) + (c & kEven) + (d & kEven) + 0x00010001u;
  uint32_t odd = ((a >> 8) & kEven) + ((b >> 8) & kEven) + ((c >> 8) & kEven) + ((d >> 8) & kEven) + 0x00010001u;
  return ((even >> 2) & kEven) | (((odd >> 2) & kEven) << 8);
}

inline uint32_t average2(uint32_t a, uint32_t b) {
  uint32_t even = (a & kEven) + (b & kEven);
  uint32_t odd = ((a >> 8) & kEven) + ((b >> 8) & kEven);
  return ((even >> 1) & kEven) | (((odd >> 1) & kEven) << 8);
}

}  // namespace

LevelSize halveLevel(uint8_t* pixels, uint32_t w, uint32_t h) {
  LevelSize next = nextLevelSize(w, h);
  if (w > 1 && h > 1) {
    const uint64_t rowBytes = uint64_t(w) * 4;
    uint8_t* out = pixels;
    for (uint32_t y = 0; y < next.height; ++y) {
      const uint8_t* top = pixels + 2 * uint64_t(y) * rowBytes;
      const uint8_t* bottom = top + rowBytes;
      for (uint32_t x = 0; x < next.width; ++x, out += 4) {
        const uint8_t* t = top + 8 * uint64_t(x);
        const uint8_t* b = bottom + 8 * uint64_t(x);
        store(out, average4(load(t), load(t + 4), load(b), load(b + 4)));
      }
    }
  } else if (w > 1 || h > 1) {
    // A single row or a single column: consecutive pixels of the buffer pair up either way.
    const uint32_t count = w > 1 ? next.width : next.height;
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* p = pixels + 8 * uint64_t(i);
      store(pixels + 4 * uint64_t(i), average2(load(p), load(p + 4)));
    }
  }
  return next;
}

}  // namespace vellum
