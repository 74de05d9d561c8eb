// The colour cells of the DL3 quantizer and the price of merging two of them.
#pragma once

#include <cmath>
#include <cstdint>

namespace vellum::dl3 {

constexpr float kNoCost = 1e31f;          // stored cost of a cell without partner
constexpr uint32_t kNone = 0xFFFFFFFFu;   // end of an intrusive list

struct Cell {
  // Channel sums and pixel count are 64-bit: a cell of more than 16.8 million pixels of
  // value 255 would overflow 32-bit sums (images reach 32768 x 32768 pixels).
  uint64_t sum[3];
  uint64_t count;
  float cost;        // cost of merging with `partner`; kNoCost for none
  uint32_t partner;  // cheapest partner found, always above this cell's index
  uint8_t mean[3];   // (sum + count / 2) / count per channel
  uint8_t reserved;
  // The list of cells that share one partner.
  uint32_t partnerPrev, partnerNext;
};

inline void updateMean(Cell* cell) {
  const uint64_t half = cell->count / 2;
  for (int c = 0; c < 3; ++c) cell->mean[c] = uint8_t((cell->sum[c] + half) / cell->count);
}

// The price of merging two cells: N = count_a + count_b, merged mean m with
// m_c = (sum_a,c + sum_b,c + N / 2) / N, and
//   cost = count_b * |mean_b - m| + count_a * |mean_a - m|
// with Euclidean lengths of the integer differences, in single precision (the squared
// lengths are integers below 2^24, hence exact; sqrt is correctly rounded). The result is
// symmetric in a and b, since float addition is commutative.
inline float mergeCost(const Cell& a, const Cell& b) {
  const uint64_t total = a.count + b.count;
  const uint64_t half = total / 2;
  float squareA = 0.0f;
  float squareB = 0.0f;
  for (int c = 0; c < 3; ++c) {
    const int32_t merged = int32_t((a.sum[c] + b.sum[c] + half) / total);
    const float da = float(int32_t(a.mean[c]) - merged);
    const float db = float(int32_t(b.mean[c]) - merged);
    squareA += da * da;
    squareB += db * db;
  }
  return float(b.count) * std::sqrt(squareB) + float(a.count) * std::sqrt(squareA);
}

// Lower bounds of mergeCost from the means and counts alone, used to skip cells and whole
// regions of colour space in the partner searches. The float evaluation of mergeCost loses
// at most four roundings of 2^-24 each (count conversion, sqrt, product, sum), a relative
// 2.4e-7; a bound is compared only after multiplying it by kBoundSlack, which leaves ample
// room for that and for the roundings of the bound itself.
constexpr double kBoundSlack = 1.0 - 1e-6;

// A float above the square root of 3: rounding the two cells' means and the merged mean
// moves the merged mean at most one unit per channel away from the count-weighted point
// between the two rounded means.
constexpr float kRoundingReach = 1.7320510f;

// Counts up to 2^24 are exact as floats.
constexpr float kExactFloatCount = 16777216.0f;

// The bound for a cell of `selfCount` pixels and one of `count` pixels whose means lie
// `distance` apart (counts as floats rounded down, distance the exact length). With
// c = min(self, count) the cost is at least c * distance, by the triangle inequality on
//   count_b |mean_b - m| + count_a |mean_a - m|.
// Projected on the line through the two means, the merged mean m lies within
// kRoundingReach of the count-weighted point c * distance / (self + c) from the larger
// cell, and every unit it stays away from the larger cell adds (self - c) to the cost:
//   cost >= c * distance + (self - c) * max(0, c * distance / (self + c) - kRoundingReach)
// (the same holds with the roles swapped, which is the case count > self with c = self,
// where the added term is 0). The bound rises with `count` and with `distance`, so a
// region's least count and least distance bound every cell in it. It is not monotone in
// selfCount, so the added term is used only where selfCount is exact.
inline float mergeBound(float selfCount, float count, float distance) {
  const float c = count < selfCount ? count : selfCount;
  float pull = c * distance / (selfCount + c) - kRoundingReach;
  if (pull < 0.0f || selfCount > kExactFloatCount) pull = 0.0f;
  return c * distance + (selfCount - c) * pull;
}

inline uint32_t squaredMeanDistance(const Cell& a, const Cell& b) {
  uint32_t s = 0;
  for (int c = 0; c < 3; ++c) {
    const int32_t d = int32_t(a.mean[c]) - int32_t(b.mean[c]);
    s += uint32_t(d * d);
  }
  return s;
}

}  // namespace vellum::dl3
