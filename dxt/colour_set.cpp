// The colour set of a block and its principal axis. Every float operation here is in the
// order that decides libsquish's bytes; see colour_fit.h.
#include <cfloat>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The first pixel among `taking` whose key equals pixel k's (k itself when none before).
inline int firstEqualKey(const uint32_t key[16], int k, uint32_t taking) {
#if defined(__SSE2__)
  const __m128i mine = _mm_set1_epi32(static_cast<int>(key[k]));
  uint32_t equal = 0;
  for (int v = 0; v < 4; ++v) {
    const __m128i keys = _mm_loadu_si128(reinterpret_cast<const __m128i*>(key + 4 * v));
    equal |= uint32_t(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(keys, mine)))) << (4 * v);
  }
  return __builtin_ctz(equal & taking);  // bit k is set
#else
  int j = 0;
  while (!((taking >> j) & 1) || key[j] != key[k]) ++j;
  return j;
#endif
}

}  // namespace

ColourSet gatherColourSet(const uint8_t pixels[64], uint32_t mask, ColourBlockKind kind) {
  ColourSet set;
  // The pixels that take part, and each one's colour as a 24-bit key.
  uint32_t key[16];
  uint32_t taking = 0;
  for (int k = 0; k < 16; ++k) {
    const uint8_t* p = pixels + 4 * k;
    key[k] = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    if (!((mask >> k) & 1)) continue;
    if (kind == ColourBlockKind::Dxt1AlphaCutoff && p[3] < 128) {
      set.transparent = true;
      continue;
    }
    taking |= 1u << k;
  }
  // Each taking pixel joins the colour of the first taking pixel of the same key.
  int pixelsOf[16];
  for (int k = 0; k < 16; ++k) {
    set.pixelColour[k] = -1;
    if (!((taking >> k) & 1)) continue;
    const int first = firstEqualKey(key, k, taking);
    int c;
    if (first == k) {
      c = set.count++;
      pixelsOf[c] = 0;
      const uint8_t* p = pixels + 4 * k;
      set.point[c][0] = kChannelUnit.value[p[0]];
      set.point[c][1] = kChannelUnit.value[p[1]];
      set.point[c][2] = kChannelUnit.value[p[2]];
    } else {
      c = set.pixelColour[first];
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
