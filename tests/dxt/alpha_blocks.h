// Families of 4 x 4 alpha blocks for comparing the DXT5 alpha encoder with the plain
// reference: the shapes that steer the search into its different branches.
#pragma once

#include <cstdint>
#include <random>

namespace vellum::testing {

enum class AlphaFamily {
  Uniform,        // any value anywhere
  FewValues,      // two to four distinct values
  NearExtremes,   // values within 12 of 0 or 255 mixed with a few anywhere
  NarrowSpan,     // all within a span of 1 to 40 around a random centre
  Gradient,       // a smooth ramp across the block plus a little noise
  Binary,         // only 0 and 255 (hard cut-outs)
};

struct AlphaCase {
  uint8_t pixels[64];
  uint32_t mask;
};

// Colour bytes are random too: the encoder must look at byte 3 only.
inline AlphaCase makeAlphaCase(AlphaFamily family, std::mt19937& rng) {
  AlphaCase c;
  auto any = [&rng]() { return int(rng() & 0xFF); };
  int values[4] = {any(), any(), any(), any()};
  int centre = any(), span = 1 + int(rng() % 40);
  int from = any(), to = any();
  for (int k = 0; k < 16; ++k) {
    int a = 0;
    switch (family) {
      case AlphaFamily::Uniform: a = any(); break;
      case AlphaFamily::FewValues: a = values[rng() % (2 + rng() % 3)]; break;
      case AlphaFamily::NearExtremes: {
        uint32_t r = rng() % 8;
        a = r < 3 ? int(rng() % 13) : r < 6 ? 255 - int(rng() % 13) : any();
        break;
      }
      case AlphaFamily::NarrowSpan: a = centre - span / 2 + int(rng() % uint32_t(span)); break;
      case AlphaFamily::Gradient: a = from + (to - from) * (k % 4 + k / 4) / 6 + int(rng() % 5) - 2; break;
      case AlphaFamily::Binary: a = (rng() & 1) ? 255 : 0; break;
    }
    a = a < 0 ? 0 : a > 255 ? 255 : a;
    for (int b = 0; b < 3; ++b) c.pixels[4 * k + b] = uint8_t(rng());
    c.pixels[4 * k + 3] = uint8_t(a);
  }
  // Mostly whole blocks; otherwise the masks of edge blocks, or any mask at all (the
  // encoder takes pixel 0 as a sample even when its bit is clear).
  switch (rng() % 4) {
    case 0:
    case 1: c.mask = 0xFFFF; break;
    case 2: {
      static const uint32_t kColumns[4] = {0x1111, 0x3333, 0x7777, 0xFFFF};
      static const uint32_t kRows[4] = {0x000F, 0x00FF, 0x0FFF, 0xFFFF};
      c.mask = kColumns[rng() % 4] & kRows[rng() % 4];
      break;
    }
    default: c.mask = rng() & 0xFFFF; break;
  }
  return c;
}

}  // namespace vellum::testing
