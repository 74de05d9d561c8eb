// The source images of the round-trip tests, one per input kind, with the 8-bit R, G, B, A
// pixels each stands for (16-bit samples count by their high byte).
#pragma once

#include <cstdint>
#include <string>

#include "cli_harness.h"

namespace vellum::clitest {

enum class InputKind { Grey, GreyAlpha, Paletted, PalettedTrns, Rgb, Rgba, Grey16Alpha, Rgb16 };

inline const char* kindName(InputKind k) {
  switch (k) {
    case InputKind::Grey: return "Grey";
    case InputKind::GreyAlpha: return "GreyAlpha";
    case InputKind::Paletted: return "Paletted";
    case InputKind::PalettedTrns: return "PalettedTrns";
    case InputKind::Rgb: return "Rgb";
    case InputKind::Rgba: return "Rgba";
    case InputKind::Grey16Alpha: return "Grey16Alpha";
    case InputKind::Rgb16: return "Rgb16";
  }
  return "";
}

inline bool kindHasAlpha(InputKind k) {
  return k == InputKind::GreyAlpha || k == InputKind::PalettedTrns || k == InputKind::Rgba ||
         k == InputKind::Grey16Alpha;
}

// Grey and paletted sources reach the writer as indexed input (their palette is kept).
inline bool kindIsIndexed(InputKind k) {
  return k != InputKind::Rgb && k != InputKind::Rgba && k != InputKind::Rgb16;
}

struct SourceImage {
  PngImage png;
  Bytes rgba;  // what the image stands for, 8 bits a sample
};

constexpr uint32_t kPaletteSize = 48;

inline std::array<uint8_t, 3> paletteEntry(uint32_t i) {
  return {uint8_t(i * 5), uint8_t(200 - i * 3), uint8_t(60 + i * 4)};
}

// Smooth content (so that lossy formats stay close) with a hard-edged transparent corner
// and alpha on both sides of 128 (so that 1-bit alpha has work to do).
inline SourceImage makeSource(InputKind kind, uint32_t w = 37, uint32_t h = 29) {
  SourceImage s;
  s.png.width = w;
  s.png.height = h;
  s.rgba.resize(size_t(w) * h * 4);
  const bool wide = kind == InputKind::Grey16Alpha || kind == InputKind::Rgb16;
  s.png.bitDepth = wide ? 16 : 8;
  switch (kind) {
    case InputKind::Grey: s.png.colourType = 0; break;
    case InputKind::GreyAlpha: case InputKind::Grey16Alpha: s.png.colourType = 4; break;
    case InputKind::Paletted: case InputKind::PalettedTrns: s.png.colourType = 3; break;
    case InputKind::Rgb: case InputKind::Rgb16: s.png.colourType = 2; break;
    case InputKind::Rgba: s.png.colourType = 6; break;
  }
  if (s.png.colourType == 3) {
    for (uint32_t i = 0; i < kPaletteSize; ++i) s.png.palette.push_back(paletteEntry(i));
    if (kind == InputKind::PalettedTrns)
      for (uint32_t i = 0; i < 40; ++i) s.png.trnsAlpha.push_back(uint8_t(i < 3 ? 0 : i * 6 + 20));
  }
  // libspng takes 16-bit samples in host byte order.
  auto put = [&](uint8_t v, uint8_t low) {
    if (!wide) {
      s.png.samples.push_back(v);
      return;
    }
    const uint16_t sample = uint16_t(v << 8 | low);
    uint8_t bytes[2];
    std::memcpy(bytes, &sample, 2);
    s.png.samples.push_back(bytes[0]);
    s.png.samples.push_back(bytes[1]);
  };
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      uint8_t* p = &s.rgba[(size_t(y) * w + x) * 4];
      const uint8_t low = uint8_t(x * 37 + y * 11);  // dropped by the 16 -> 8 reduction
      const uint8_t grey = uint8_t(20 + x * 4 + y * 2);
      const uint8_t alpha = x < 8 && y < 8 ? 0 : uint8_t(255 - x * 3 - y * 2);
      const uint8_t r = uint8_t(30 + x * 5), g = uint8_t(40 + y * 6), b = uint8_t(100 + (x + y) * 2);
      switch (kind) {
        case InputKind::Grey:
          put(grey, 0);
          p[0] = p[1] = p[2] = grey, p[3] = 255;
          break;
        case InputKind::GreyAlpha:
        case InputKind::Grey16Alpha:
          put(grey, low);
          put(alpha, uint8_t(low ^ 0x5A));
          p[0] = p[1] = p[2] = grey, p[3] = alpha;
          break;
        case InputKind::Paletted:
        case InputKind::PalettedTrns: {
          uint32_t index = (x + y) * (kPaletteSize - 1) / (w - 1 + h - 1);
          put(uint8_t(index), 0);
          auto e = paletteEntry(index);
          p[0] = e[0], p[1] = e[1], p[2] = e[2];
          p[3] = index < s.png.trnsAlpha.size() ? s.png.trnsAlpha[index] : 255;
          break;
        }
        case InputKind::Rgb:
        case InputKind::Rgb16:
          put(r, low), put(g, uint8_t(low + 1)), put(b, uint8_t(low + 2));
          p[0] = r, p[1] = g, p[2] = b, p[3] = 255;
          break;
        case InputKind::Rgba:
          put(r, 0), put(g, 0), put(b, 0), put(alpha, 0);
          p[0] = r, p[1] = g, p[2] = b, p[3] = alpha;
          break;
      }
    }
  }
  return s;
}

// The 8-bit PNG with the same meaning as a 16-bit source: its high bytes.
inline PngImage highBytes(const PngImage& wide) {
  PngImage narrow = wide;
  narrow.bitDepth = 8;
  narrow.samples.clear();
  for (size_t i = 0; i < wide.samples.size(); i += 2) {
    uint16_t sample;
    std::memcpy(&sample, &wide.samples[i], 2);
    narrow.samples.push_back(uint8_t(sample >> 8));
  }
  return narrow;
}

}  // namespace vellum::clitest
