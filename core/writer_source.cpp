// Source conversion: one pass from the host's layout into the working order, every
// channel exchange included, so that no adapter reorders bytes and the same pixels reach
// the level chain in the same order whichever host holds them.
#include "core/writer_source.h"

#include <cstring>

namespace vellum {

namespace {

bool isSourceLayout(BlpPixelLayout layout) {
  return layout == BlpPixelLayout::Indices || layout == BlpPixelLayout::IndicesAlpha ||
         layout == BlpPixelLayout::Rgb || layout == BlpPixelLayout::Rgba || layout == BlpPixelLayout::Bgra;
}

uint64_t packedRowBytes(const BlpSourceImage& source) {
  return uint64_t(source.width) * blpLayoutBytes(source.layout);
}

int64_t rowStep(const BlpSourceImage& source) {
  return source.stride != 0 ? source.stride : int64_t(packedRowBytes(source));
}

// The 4 bytes of a working pixel from red, green, blue, alpha.
inline void store(uint8_t* out, bool redFirst, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  out[0] = redFirst ? r : b;
  out[1] = g;
  out[2] = redFirst ? b : r;
  out[3] = a;
}

}  // namespace

BlpStatus checkSourceImage(const BlpSourceImage& source) {
  if (!isSourceLayout(source.layout) || source.pixels == nullptr) return BlpStatus::BadArgument;
  const uint64_t rowBytes = packedRowBytes(source);
  const uint64_t stride = uint64_t(source.stride < 0 ? -source.stride : source.stride);
  if (source.stride != 0 && stride < rowBytes) return BlpStatus::BadArgument;
  if (isIndexedLayout(source.layout)) {
    if ((source.palette == nullptr && source.paletteCount != 0) || source.paletteCount > 256)
      return BlpStatus::BadArgument;
    if (source.paletteLayout != BlpPixelLayout::Rgba && source.paletteLayout != BlpPixelLayout::Bgra)
      return BlpStatus::BadArgument;
  }
  if (source.workPixels != nullptr && source.workPixels != source.pixels) {
    // The source's bytes run from its lowest row to its highest; the work area must lie
    // wholly outside them. (Compared as addresses: the two may be unrelated objects.)
    const uint64_t span = (uint64_t(source.height) - 1) * (source.stride != 0 ? stride : rowBytes) + rowBytes;
    const uintptr_t first = reinterpret_cast<uintptr_t>(source.pixels) -
                            (source.stride < 0 ? uintptr_t((uint64_t(source.height) - 1) * stride) : 0);
    const uintptr_t work = reinterpret_cast<uintptr_t>(source.workPixels);
    const uint64_t workBytes = uint64_t(source.width) * source.height * 4;
    if (work < first + span && first < work + workBytes) return BlpStatus::BadArgument;
  }
  if (source.workPixels != nullptr && source.workPixels == source.pixels &&
      !(source.stride == 0 || uint64_t(source.stride) == rowBytes))
    return BlpStatus::BadArgument;
  return BlpStatus::Ok;
}

bool sourceHasAlpha(const BlpSourceImage& source) {
  if (source.layout == BlpPixelLayout::IndicesAlpha) return true;
  return source.hasAlpha && source.layout != BlpPixelLayout::Rgb;
}

void workingPalette(const BlpSourceImage& source, uint8_t palette[1024]) {
  std::memset(palette, 0, 1024);
  const bool bgra = source.paletteLayout == BlpPixelLayout::Bgra;
  for (uint32_t i = 0; i < source.paletteCount && i < 256; ++i) {
    const uint8_t* e = source.palette + 4 * i;
    uint8_t* out = palette + 4 * i;
    out[0] = bgra ? e[0] : e[2];
    out[1] = e[1];
    out[2] = bgra ? e[2] : e[0];
    out[3] = e[3];
  }
}

void convertSource(const BlpSourceImage& source, const uint8_t palette[1024], bool redFirst, uint8_t* work) {
  const uint32_t w = source.width;
  const int64_t step = rowStep(source);
  const BlpPixelLayout layout = source.layout;
  // Indexed pixels: each index's finished working pixel, looked up whole.
  uint8_t expanded[1024];
  if (isIndexedLayout(layout)) {
    // Entries the source does not define are four zero bytes: an index beyond them is a
    // transparent black, which the output shows as black when it keeps no alpha.
    const bool paletteAlpha = layout == BlpPixelLayout::Indices && source.hasAlpha;
    for (uint32_t i = 0; i < 256; ++i) {
      const uint8_t* e = palette + 4 * i;  // blue, green, red, fourth byte
      const uint8_t alpha = i >= source.paletteCount ? 0 : paletteAlpha ? e[3] : 255;
      store(expanded + 4 * i, redFirst, e[2], e[1], e[0], alpha);
    }
  }
  // From the last row and the last pixel backwards: a packed source of at most 4 bytes a
  // pixel that is the work area itself is read before it is overwritten.
  for (uint32_t y = source.height; y-- > 0;) {
    const uint8_t* row = source.pixels + int64_t(y) * step;
    uint8_t* out = work + uint64_t(y) * w * 4;
    switch (layout) {
      case BlpPixelLayout::Indices:
        for (uint32_t x = w; x-- > 0;) std::memcpy(out + 4 * uint64_t(x), expanded + 4 * uint32_t(row[x]), 4);
        break;
      case BlpPixelLayout::IndicesAlpha:
        for (uint32_t x = w; x-- > 0;) {
          const uint8_t index = row[2 * uint64_t(x)], alpha = row[2 * uint64_t(x) + 1];
          std::memcpy(out + 4 * uint64_t(x), expanded + 4 * uint32_t(index), 3);
          out[4 * uint64_t(x) + 3] = alpha;
        }
        break;
      case BlpPixelLayout::Rgb:
        for (uint32_t x = w; x-- > 0;) {
          const uint8_t* p = row + 3 * uint64_t(x);
          store(out + 4 * uint64_t(x), redFirst, p[0], p[1], p[2], 255);
        }
        break;
      case BlpPixelLayout::Rgba:
      case BlpPixelLayout::Bgra: {
        const bool bgra = layout == BlpPixelLayout::Bgra, alpha = source.hasAlpha;
        for (uint32_t x = w; x-- > 0;) {
          const uint8_t* p = row + 4 * uint64_t(x);
          const uint8_t c0 = p[0], c1 = p[1], c2 = p[2], a = alpha ? p[3] : 255;
          store(out + 4 * uint64_t(x), redFirst, bgra ? c2 : c0, c1, bgra ? c0 : c2, a);
        }
        break;
      }
      default:
        break;
    }
  }
}

}  // namespace vellum
