// NeuQuant: a 256-neuron self-organising network that learns the image's colours.
#pragma once

#include <cstdint>

namespace vellum {

// Builds 256 palette entries (c0, c1, c2, 255), entry i from neuron i, from `count` 4-byte
// pixels (bytes 0-2 are the colour, byte 3 is ignored) with `cycles` learning cycles (100
// or 128). The writer calls it for images of 504 pixels or more. Smaller counts still give
// a defined palette (the learning rate then decays after every sample); a count of 0, or
// no pixels, leaves the network untrained: entry i is (i, i, i, 255). A cycle count of 0
// is taken as 100. Keeps no state between calls.
void neuQuantPalette(const uint8_t* pixels, uint64_t count, uint8_t palette[1024], uint32_t cycles);

}  // namespace vellum
