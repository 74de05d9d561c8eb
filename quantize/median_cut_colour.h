// Colour measures of the median-cut quantizer: the CIE76 difference of two byte colours and
// the scoring of a box by its largest such difference along one axis.
#pragma once

#include <cstdint>

namespace vellum::mediancut {

// A box of pixels: tight bounds per channel, the pixel count, and from the scoring the
// axis of largest colour difference and that difference times the count.
struct Box {
  uint8_t lo[3];
  uint8_t hi[3];
  uint8_t axis;
  uint64_t count;
  float score;
};

// CIE76 difference of two byte colours, byte 0 in sRGB's red role and byte 2 in blue's,
// through the linear-light table, XYZ relative to the D65 white and a rational cube-root
// approximation; single precision throughout.
float colourDifference(const uint8_t p[3], const uint8_t q[3]);

// The cube-root approximation of the L*a*b* transfer function.
float labTransfer(float t);

// Sets box->axis and box->score from its bounds and count.
void scoreBox(Box* box);

}  // namespace vellum::mediancut
