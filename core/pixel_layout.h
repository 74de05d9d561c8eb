// Pixel layouts in which the level decoder delivers rows and the writer takes its source.
// Rows are numbered from the top; a row of w pixels holds w * blpLayoutBytes bytes.
#pragma once

#include <cstdint>

namespace vellum {

enum class BlpPixelLayout : uint8_t {
  Indices = 0,       // 1 byte: palette index (paletted levels; the palette comes separately)
  IndicesAlpha = 1,  // 2 bytes: palette index, alpha
  Rgb = 2,           // 3 bytes: red, green, blue
  Rgba = 3,          // 4 bytes: red, green, blue, alpha
  Bgra = 4,          // 4 bytes: blue, green, red, alpha (the byte order of BLP files)
  Alpha = 5,         // 1 byte: alpha alone (decoding only: a host that takes alpha as a plane)
};
constexpr int kBlpPixelLayoutCount = 6;

inline uint32_t blpLayoutBytes(BlpPixelLayout layout) {
  switch (layout) {
    case BlpPixelLayout::Indices: return 1;
    case BlpPixelLayout::IndicesAlpha: return 2;
    case BlpPixelLayout::Rgb: return 3;
    case BlpPixelLayout::Alpha: return 1;
    default: return 4;
  }
}

inline bool isIndexedLayout(BlpPixelLayout layout) {
  return layout == BlpPixelLayout::Indices || layout == BlpPixelLayout::IndicesAlpha;
}

}  // namespace vellum
