// NeuQuant: a 256-neuron self-organising network that learns the image's colours.
#pragma once

#include <cstdint>

namespace vellum {

// Builds 256 palette entries (c0, c1, c2, 255) from `count` 4-byte pixels (bytes 0-2 are
// the colour; count >= 504) with `cycles` learning cycles (100 or 128).
void neuQuantPalette(const uint8_t* pixels, uint64_t count, uint8_t palette[1024], uint32_t cycles);

}  // namespace vellum
