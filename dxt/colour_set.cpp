// The colour set of a block and its principal axis. Every float operation here is in the
// order that decides libsquish's bytes; see colour_fit.h.
#include <cfloat>

#include "dxt/colour_fit.h"

namespace vellum::dxt {
namespace {

// v / 255 for every byte, folded by the compiler (IEEE division, correctly rounded).
struct ChannelUnits {
  float value[256];
};
constexpr ChannelUnits makeChannelUnits() {
  ChannelUnits t{};
  for (int v = 0; v < 256; ++v) t.value[v] = static_cast<float>(v) / 255.0f;
  return t;
}
constexpr ChannelUnits kChannelUnit = makeChannelUnits();

// sqrt(m) for m pixels of one colour, correctly rounded to float: a table, so that no
// library square root feeds the output.
constexpr float kSqrtCount[17] = {
    0.0f,           0x1p+0f,        0x1.6a09e6p+0f, 0x1.bb67aep+0f, 0x1p+1f,        0x1.1e377ap+1f,
    0x1.3988e2p+1f, 0x1.52a7fap+1f, 0x1.6a09e6p+1f, 0x1.8p+1f,      0x1.94c584p+1f, 0x1.a8872ap+1f,
    0x1.bb67aep+1f, 0x1.cd82b4p+1f, 0x1.deeea2p+1f, 0x1.efbdecp+1f, 0x1p+2f};

// std::max's rule: the first argument unless it is less than the second (so a NaN in
// either place decides by position, as the power iteration below needs).
inline float firstUnlessLess(float a, float b) { return a < b ? b : a; }

constexpr int kPowerSteps = 8;

}  // namespace

ColourSet gatherColourSet(const uint8_t pixels[64], uint32_t mask, ColourBlockKind kind) {
  ColourSet set;
  const bool alphaCutoff = kind == ColourBlockKind::Dxt1AlphaCutoff;
  uint32_t rgb[16];
  int pixelsOf[16];
  for (int k = 0; k < 16; ++k) {
    set.pixelColour[k] = -1;
    if (!((mask >> k) & 1)) continue;
    const uint8_t* p = pixels + 4 * k;
    if (alphaCutoff && p[3] < 128) {
      set.transparent = true;
      continue;
    }
    const uint32_t key = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    int c = 0;
    while (c < set.count && rgb[c] != key) ++c;
    if (c == set.count) {
      rgb[c] = key;
      pixelsOf[c] = 0;
      set.point[c][0] = kChannelUnit.value[p[0]];
      set.point[c][1] = kChannelUnit.value[p[1]];
      set.point[c][2] = kChannelUnit.value[p[2]];
      ++set.count;
    }
    ++pixelsOf[c];
    set.pixelColour[k] = static_cast<int8_t>(c);
  }
  // A weight is a sum of ones (exact), then its square root.
  for (int c = 0; c < set.count; ++c) set.weight[c] = kSqrtCount[pixelsOf[c]];
  return set;
}

void principalAxis(const ColourSet& set, float axis[3]) {
  // Weighted centroid; the division is a multiplication by the reciprocal.
  float total = 0.0f, centre[3] = {0.0f, 0.0f, 0.0f};
  for (int i = 0; i < set.count; ++i) {
    const float w = set.weight[i];
    total += w;
    for (int c = 0; c < 3; ++c) centre[c] += set.point[i][c] * w;
  }
  if (total > FLT_EPSILON) {
    const float reciprocal = 1.0f / total;
    for (float& c : centre) c *= reciprocal;
  }
  // Covariance xx, xy, xz, yy, yz, zz.
  float cov[6] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
  for (int i = 0; i < set.count; ++i) {
    const float w = set.weight[i];
    const float a[3] = {set.point[i][0] - centre[0], set.point[i][1] - centre[1], set.point[i][2] - centre[2]};
    const float b[3] = {a[0] * w, a[1] * w, a[2] * w};
    cov[0] += a[0] * b[0];
    cov[1] += a[0] * b[1];
    cov[2] += a[0] * b[2];
    cov[3] += a[1] * b[1];
    cov[4] += a[1] * b[2];
    cov[5] += a[2] * b[2];
  }
  // Power method from (1, 1, 1), scaled by the largest component each step. A zero or
  // negative largest component makes infinities or NaNs; they are kept, since they decide
  // the ordering (every comparison with a NaN is false).
  const float row0[3] = {cov[0], cov[1], cov[2]};
  const float row1[3] = {cov[1], cov[3], cov[4]};
  const float row2[3] = {cov[2], cov[4], cov[5]};
  float v[3] = {1.0f, 1.0f, 1.0f};
  for (int step = 0; step < kPowerSteps; ++step) {
    float w[3];
    for (int c = 0; c < 3; ++c) w[c] = row0[c] * v[0];
    for (int c = 0; c < 3; ++c) w[c] = row1[c] * v[1] + w[c];
    for (int c = 0; c < 3; ++c) w[c] = row2[c] * v[2] + w[c];
    const float largest = firstUnlessLess(w[0], firstUnlessLess(w[1], w[2]));
    const float reciprocal = 1.0f / largest;
    for (int c = 0; c < 3; ++c) v[c] = w[c] * reciprocal;
  }
  for (int c = 0; c < 3; ++c) axis[c] = v[c];
}

}  // namespace vellum::dxt
