// Nearest-colour mapping of a level to its palette, and the alpha planes of paletted levels.
#include <cstring>
#include <memory>
#include <new>

#include "core/blp_writer.h"

namespace vellum {

namespace {

// Textures repeat colours heavily, so the nearest entry of each colour is remembered in a
// small direct-mapped cache. It only memoizes the exact search below, so the indices are
// the same as without it.
struct NearestCache {
  static constexpr uint32_t kSlots = 1u << 16;
  uint32_t key[kSlots];  // colour | 0x01000000 when valid
  uint8_t index[kSlots];
};

uint32_t nearestEntry(const uint8_t* palette, uint32_t usable, uint32_t c0, uint32_t c1, uint32_t c2) {
  uint32_t best = 0, bestDistance = UINT32_MAX;
  for (uint32_t i = 0; i < usable; ++i) {
    const uint8_t* e = palette + 4 * i;
    int32_t d0 = int32_t(e[0]) - int32_t(c0), d1 = int32_t(e[1]) - int32_t(c1), d2 = int32_t(e[2]) - int32_t(c2);
    uint32_t distance = uint32_t(d0 * d0 + d1 * d1 + d2 * d2);
    if (distance < bestDistance) {  // strict: the lowest index wins ties
      bestDistance = distance;
      best = i;
    }
  }
  return best;
}

}  // namespace

uint64_t mapToPalette(const uint8_t* pixels, uint32_t w, uint32_t h, const uint8_t* palette,
                      uint32_t usable, uint8_t a, uint8_t* out) {
  const uint64_t count = uint64_t(w) * h;
  if (usable == 0 || usable > 256) usable = 256;
  std::unique_ptr<NearestCache> cache(new (std::nothrow) NearestCache);
  if (cache) std::memset(cache->key, 0, sizeof cache->key);

  for (uint64_t i = 0; i < count; ++i) {
    const uint8_t* p = pixels + 4 * i;
    uint32_t colour = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    if (!cache) {
      out[i] = uint8_t(nearestEntry(palette, usable, p[0], p[1], p[2]));
      continue;
    }
    uint32_t slot = (colour ^ (colour >> 11) ^ (colour >> 17) * 0x9E37u) & (NearestCache::kSlots - 1);
    if (cache->key[slot] != (colour | 0x01000000u)) {
      cache->key[slot] = colour | 0x01000000u;
      cache->index[slot] = uint8_t(nearestEntry(palette, usable, p[0], p[1], p[2]));
    }
    out[i] = cache->index[slot];
  }

  uint8_t* plane = out + count;
  const uint64_t planeBytes = blpAlphaPlaneBytes(count, a);
  switch (a) {
    case 8:
      for (uint64_t i = 0; i < count; ++i) plane[i] = pixels[4 * i + 3];
      break;
    case 4:
      std::memset(plane, 0, planeBytes);
      for (uint64_t i = 0; i < count; ++i) plane[i / 2] |= uint8_t((pixels[4 * i + 3] >> 4) << (4 * (i & 1)));
      break;
    case 1:
      std::memset(plane, 0, planeBytes);
      for (uint64_t i = 0; i < count; ++i)
        if (pixels[4 * i + 3] >= 128) plane[i / 8] |= uint8_t(1u << (i % 8));
      break;
    default:
      break;
  }
  return count + planeBytes;
}

}  // namespace vellum
