#include "quantize/median_cut_colour.h"

#include <cmath>

#include "quantize/linear_light_table.h"

namespace vellum::mediancut {

namespace {

struct LabTerms {
  float fx, fy, fz;
};

LabTerms labTerms(const uint8_t c[3]) {
  const float r = kLinearLight[c[0]];
  const float g = kLinearLight[c[1]];
  const float b = kLinearLight[c[2]];
  // XYZ already divided by the D65 white point.
  const float x = 0.4339528f * r + 0.3762194f * g + 0.1898278f * b;
  const float y = 0.212671f * r + 0.71516f * g + 0.072169f * b;
  const float z = 0.0177579f * r + 0.1094765f * g + 0.8727656f * b;
  return LabTerms{labTransfer(x), labTransfer(y), labTransfer(z)};
}

}  // namespace

float labTransfer(float t) {
  if (t <= 0.008856452f) return 7.787037f * t + 0.137931f;
  // Cube root by a rational fit on [1/8, 1], reached by scaling t by 8 or 64 (exact powers
  // of two) and the result by 1/2 or 1/4.
  float x;
  float k;
  if (t < 0.015625f) {
    x = 64.0f * t;
    k = 0.25f;
  } else if (t < 0.125f) {
    x = 8.0f * t;
    k = 0.5f;
  } else {
    x = t;
    k = 1.0f;
  }
  return k * ((0.24379f * x + 0.958f) * x + 0.07892f) / (x + 0.27962f);
}

float colourDifference(const uint8_t p[3], const uint8_t q[3]) {
  const LabTerms a = labTerms(p);
  const LabTerms b = labTerms(q);
  const float dL = 116.0f * (a.fy - b.fy);
  const float da = 500.0f * ((a.fx - a.fy) - (b.fx - b.fy));
  const float db = 200.0f * ((a.fy - a.fz) - (b.fy - b.fz));
  return std::sqrt(dL * dL + da * da + db * db);
}

void scoreBox(Box* box) {
  uint8_t mid[3];
  for (int c = 0; c < 3; ++c) mid[c] = uint8_t((box->lo[c] + box->hi[c]) >> 1);
  float extent[3];
  for (int axis = 0; axis < 3; ++axis) {
    if (box->lo[axis] == box->hi[axis]) {
      extent[axis] = 0.0f;
      continue;
    }
    uint8_t from[3] = {mid[0], mid[1], mid[2]};
    uint8_t to[3] = {mid[0], mid[1], mid[2]};
    from[axis] = box->lo[axis];
    to[axis] = box->hi[axis];
    extent[axis] = colourDifference(from, to);
  }
  uint8_t axis = 0;
  float largest = extent[0];
  if (extent[1] > largest) {
    axis = 1;
    largest = extent[1];
  }
  if (extent[2] > largest) {
    axis = 2;
    largest = extent[2];
  }
  box->axis = axis;
  box->score = largest * float(box->count);
}

}  // namespace vellum::mediancut
