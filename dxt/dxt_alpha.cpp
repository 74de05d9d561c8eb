// The DXT5 alpha half: an exhaustive search over a fixed, ordered list of endpoint pairs,
// then nearest-level indices.
//
// The list has two parts. The eight-level part pairs lower endpoints lo0, lo0 - 2, ... >= 0
// (outer loop) with upper endpoints hi0, hi0 + 2, ... <= 255 (inner loop) and measures each
// pair against the levels lo + floor(k (hi - lo) / 7), k = 0..7. The six-level part does the
// same on its own grid with the levels lo + floor(k (hi - lo) / 5), k = 0..5, plus 0 and 255.
// A pair's error is the sum over sixteen sample entries of the squared distance to the
// nearest level; a pair replaces the best so far only when its error is strictly smaller.
//
// What decides the result is therefore the first pair, in list order, whose error equals
// the least error E of the whole list: everything before it has a larger error, and nothing
// after it gets below E. Any pair whose error provably exceeds E, or which provably cannot
// get below the best of the pairs already evaluated, can be skipped without changing which
// pair wins. The search below skips such pairs in bulk and evaluates the rest sixteen
// samples at a time; the tests check it byte for byte against a plain evaluation of every
// pair. The bounds it uses (all exact integer arithmetic):
//
//  - limit = min(best error so far, error of a seed pair + 1). The seed is one pair of the
//    list, evaluated up front (lo just at or below the least sample, hi just at or above the
//    greatest); E <= its error, so a pair whose bound reaches limit cannot be the winner.
//  - Samples below lo lie below every level of the pair; their part of the error is exact and
//    does not depend on hi, so whole rows of the grid are skipped when it reaches limit.
//  - Levels spaced at least g apart: at most floor(range / g) + 1 of them fall inside the
//    samples' range and at most one on either side serves a sample, so the error is at least
//    the least error of the samples against that many freely placed integer levels (a small
//    dynamic programme over the sorted samples, once per block). That bound grows with the
//    span hi - lo; it ends rows, and the whole search, once it reaches limit.
//  - Moving both endpoints by at most d moves every level by at most d, hence every
//    sample's distance by at most d. An evaluated pair with distances dist therefore bounds
//    every pair within d on both endpoints by sum(max(dist - d, 0)^2); when that reaches
//    limit, the square of pairs around it is marked as skipped for the rows still to come.
#include <cstdint>

#include "dxt/alpha_lanes.h"
#include "dxt/dxt_compress.h"

namespace vellum {
namespace {

using dxt_lanes::Lanes;
namespace lanes = dxt_lanes;

constexpr uint32_t kNoError = 0xFFFFFFFFu;

// Offsets of the levels above the lower endpoint, by span: floor(k * span / 7) for the
// eight-level tables and floor(k * span / 5) for the six interpolated levels.
struct LevelOffsets {
  uint8_t eight[256][8];
  uint8_t six[256][6];
};

constexpr LevelOffsets makeLevelOffsets() {
  LevelOffsets t{};
  for (uint32_t span = 0; span < 256; ++span) {
    for (uint32_t k = 0; k < 8; ++k) t.eight[span][k] = static_cast<uint8_t>(k * span / 7);
    for (uint32_t k = 0; k < 6; ++k) t.six[span][k] = static_cast<uint8_t>(k * span / 5);
  }
  return t;
}

constexpr LevelOffsets kLevelOffsets = makeLevelOffsets();

// Division of a weighted sum of samples (at most 255 * w) by its weight w (1 to 16) as a
// multiplication: floor(s * r / 65536) with r = floor(65536 / w) + 1 is exactly floor(s / w)
// because s < 65536 / w over the whole range (255 * 16 * 16 < 65536); checked exhaustively
// below at compile time.
constexpr uint32_t kReciprocal[17] = {0,           65536 / 1 + 1,  65536 / 2 + 1,  65536 / 3 + 1,
                                      65536 / 4 + 1,  65536 / 5 + 1,  65536 / 6 + 1,  65536 / 7 + 1,
                                      65536 / 8 + 1,  65536 / 9 + 1,  65536 / 10 + 1, 65536 / 11 + 1,
                                      65536 / 12 + 1, 65536 / 13 + 1, 65536 / 14 + 1, 65536 / 15 + 1,
                                      65536 / 16 + 1};

constexpr uint32_t quotient(uint32_t s, uint32_t w) { return (s * kReciprocal[w]) >> 16; }

constexpr bool reciprocalDivisionIsExact() {
  for (uint32_t w = 1; w <= 16; ++w)
    for (uint32_t s = 0; s <= 255 * w; ++s)
      if (quotient(s, w) != s / w) return false;
  return true;
}
static_assert(reciprocalDivisionIsExact(), "reciprocal division must be exact for every group sum");

// The samples of one block: alpha of pixel 0, then of every other pixel inside the mask,
// repeated cyclically to exactly sixteen entries.
struct AlphaSamples {
  uint8_t entry[16];
  int least, greatest;   // mn, mx
  int lowAway, highAway; // loEx, hiEx: approximate extremes among values away from 0 and 255
};

AlphaSamples gatherSamples(const uint8_t pixels[64], uint32_t mask) {
  AlphaSamples s;
  int first = pixels[3];
  s.entry[0] = static_cast<uint8_t>(first);
  s.least = s.greatest = s.lowAway = s.highAway = first;
  int count = 1;
  for (int k = 1; k < 16; ++k) {
    if (!((mask >> k) & 1)) continue;
    int a = pixels[4 * k + 3];
    s.entry[count++] = static_cast<uint8_t>(a);
    if (a < s.least) s.least = a;
    if (a > s.greatest) s.greatest = a;
    if (a < s.lowAway && (a > 8 || s.lowAway <= 8)) s.lowAway = a;
    if (a > s.highAway && (a < 247 || s.highAway >= 247)) s.highAway = a;
  }
  for (int j = 0; count + j < 16; ++j) s.entry[count + j] = s.entry[j];
  return s;
}

// One part of the candidate list (see the file comment).
struct CandidateGrid {
  bool active;
  bool sixLevel;
  int lo0, hi0;
};

CandidateGrid eightLevelGrid(const AlphaSamples& s) {
  const int mn = s.least, mx = s.greatest;
  CandidateGrid g{!(mn <= 3 && mx >= 251), false, 0, 0};
  g.lo0 = mn + 16;
  if (mn + 24 > mx) {
    int p = ((mn + 16) ^ mx) & 1;
    g.lo0 = mx < p + 8 ? mn : mx - p - 8;
  }
  g.hi0 = mx - 16;
  if (mx < mn + 32 || mx < 16) {
    int h = mn + 16 + ((g.lo0 ^ mx) & 1);
    g.hi0 = h < mx ? h : mx;
  }
  return g;
}

CandidateGrid sixLevelGrid(const AlphaSamples& s) {
  const int lo = s.lowAway < s.highAway ? s.lowAway : s.highAway;
  const int hi = s.lowAway < s.highAway ? s.highAway : s.lowAway;
  CandidateGrid g{!(s.least >= 9 && s.greatest <= 246), true, 0, 0};
  g.lo0 = lo + 18;
  if (lo + 24 > hi) {
    int p = ((lo + 18) ^ hi) & 1;
    g.lo0 = hi < p + 6 ? lo : hi - p - 6;
  }
  g.hi0 = hi - 18;
  if (hi < lo + 34 || hi < 18) {
    int h = lo + 16 + ((g.lo0 ^ hi) & 1);
    g.hi0 = h < hi ? h : hi;
  }
  return g;
}

bool onGrid(const CandidateGrid& g, int lo, int hi) {
  return lo >= 0 && lo <= g.lo0 && ((g.lo0 - lo) & 1) == 0 && hi <= 255 && hi >= g.hi0 &&
         ((hi - g.hi0) & 1) == 0 && hi >= lo;
}

// Distance of every sample to the nearest level of a candidate, from `above` = max(sample -
// lo, 0) and `below` = max(lo - sample, 0). A sample below lo is nearest to lo itself (then
// `above` is 0, which level offset 0 matches exactly); one above hi is nearest to hi.
Lanes eightLevelDistances(Lanes above, Lanes below, uint32_t span) {
  const uint8_t* offset = kLevelOffsets.eight[span];
  Lanes nearest = above;
  for (int k = 1; k < 8; ++k) nearest = lanes::minOf(nearest, lanes::absDiff(above, lanes::splat(offset[k])));
  return lanes::add(nearest, below);
}

// The same for a six-level table; the fixed levels 0 and 255 are at distance `sample` and
// 255 - `sample`.
Lanes sixLevelDistances(Lanes samples, Lanes above, Lanes below, uint32_t span) {
  const uint8_t* offset = kLevelOffsets.six[span];
  Lanes nearest = above;
  for (int k = 1; k < 6; ++k) nearest = lanes::minOf(nearest, lanes::absDiff(above, lanes::splat(offset[k])));
  nearest = lanes::minOf(lanes::add(nearest, below), samples);
  return lanes::minOf(nearest, lanes::subSat(lanes::splat(255), samples));
}

struct EndpointSearch {
  Lanes samples;
  int range;                // greatest - least sample
  uint32_t groupBound[9];   // [k]: least error against k freely placed integer levels
  uint32_t bestErr = kNoError;
  int alpha0 = 0, alpha1 = 0;
  uint32_t limit = kNoError;  // a pair whose error bound reaches this cannot be the result
};

uint32_t candidateError(const EndpointSearch& s, const CandidateGrid& g, int lo, int hi) {
  const Lanes loLanes = lanes::splat(static_cast<uint32_t>(lo));
  const Lanes above = lanes::subSat(s.samples, loLanes), below = lanes::subSat(loLanes, s.samples);
  const uint32_t span = static_cast<uint32_t>(hi - lo);
  return lanes::sumOfSquares(g.sixLevel ? sixLevelDistances(s.samples, above, below, span)
                                            : eightLevelDistances(above, below, span));
}

// groupBound[k] for k = 1..8: the sorted samples split into at most k runs, each run served
// by the one integer level nearest its mean, at the least total squared error.
void computeGroupBounds(const AlphaSamples& samples, EndpointSearch& s) {
  uint8_t sorted[16];
  for (int i = 0; i < 16; ++i) {
    uint8_t v = samples.entry[i];
    int j = i;
    for (; j > 0 && sorted[j - 1] > v; --j) sorted[j] = sorted[j - 1];
    sorted[j] = v;
  }
  // Distinct values with their counts, as prefix sums of count, sum and sum of squares.
  uint32_t count[17] = {0}, sum[17] = {0}, squares[17] = {0};
  int m = 0;
  for (int i = 0; i < 16; ++i) {
    uint32_t v = sorted[i];
    if (i == 0 || v != sorted[i - 1]) {
      ++m;
      count[m] = count[m - 1];
      sum[m] = sum[m - 1];
      squares[m] = squares[m - 1];
    }
    count[m] += 1;
    sum[m] += v;
    squares[m] += v * v;
  }
  s.range = sorted[15] - sorted[0];
  // runCost[i][j]: values i+1..j served by one integer level L, the floor or the ceiling of
  // their mean: squares - 2 L sum + L^2 count (unsigned arithmetic; the result is >= 0).
  uint32_t runCost[16][17];
  for (int i = 0; i < m; ++i) {
    for (int j = i + 1; j <= m; ++j) {
      uint32_t w = count[j] - count[i], s1 = sum[j] - sum[i], s2 = squares[j] - squares[i];
      uint32_t level = quotient(s1, w);
      uint32_t atFloor = s2 - 2 * level * s1 + level * level * w;
      uint32_t atCeiling = atFloor + (2 * level + 1) * w - 2 * s1;
      runCost[i][j] = atFloor < atCeiling ? atFloor : atCeiling;
    }
  }
  // least[j]: values 1..j in at most k runs, for k = 1, 2, ... in turn.
  uint32_t least[17];
  for (int j = 1; j <= m; ++j) least[j] = runCost[0][j];
  s.groupBound[0] = kNoError;
  s.groupBound[1] = least[m];
  for (int k = 2; k <= 8; ++k) {
    if (k >= m) {
      s.groupBound[k] = 0;
      continue;
    }
    for (int j = m; j >= k; --j) {  // descending j: least[i < j] still holds k - 1 runs
      uint32_t best = least[j];
      for (int i = k - 1; i < j; ++i) {
        uint32_t c = least[i] + runCost[i][j];
        if (c < best) best = c;
      }
      least[j] = best;
    }
    s.groupBound[k] = least[m];
  }
}

// The largest span hi - lo that a pair of the grid may have and still stay below limit.
// A table whose levels are at least g = floor(span / per) apart (per = 7 or 5) serves the
// samples with at most min(8, range / g + 3) distinct levels, so its error is at least
// groupBound of that count, which never decreases as the span grows.
int spanLimit(const EndpointSearch& s, int per) {
  for (int g = 255 / per; g >= 1; --g) {
    int levels = s.range / g + 3;
    if (levels > 8) levels = 8;
    if (s.groupBound[levels] < s.limit) {
      int span = per * g + per - 1;
      return span < 255 ? span : 255;
    }
  }
  return per - 1;
}

// Largest even d >= 2 with sum(max(dist - d, 0)^2) >= limit, or 0 when there is none.
int skipRadius(Lanes dist, uint32_t limit) {
  auto reaches = [&](int d) {
    return lanes::sumOfSquares(lanes::subSat(dist, lanes::splat(static_cast<uint32_t>(d)))) >= limit;
  };
  if (!reaches(2)) return 0;
  int pass = 2, fail = 256;
  for (int d = 4; d < 256; d *= 2) {
    if (!reaches(d)) {
      fail = d;
      break;
    }
    pass = d;
  }
  while (fail - pass > 2) {
    int mid = ((pass + fail) / 2) & ~1;
    if (reaches(mid)) pass = mid;
    else fail = mid;
  }
  return pass;
}

void searchGrid(EndpointSearch& s, const CandidateGrid& g) {
  if (!g.active) return;
  const int per = g.sixLevel ? 5 : 7;
  const int columns = (255 - g.hi0) / 2 + 1;  // upper endpoints hi0, hi0 + 2, ... <= 255
  // skippedDownTo[c]: column c is known to hold no possible winner from the current row
  // down to this lower endpoint (inclusive); kNone when nothing is known.
  constexpr int kNone = 1 << 20;
  int skippedDownTo[128];
  for (int c = 0; c < columns; ++c) skippedDownTo[c] = kNone;
  uint32_t limitOfSpan = s.limit;
  int maxSpan = spanLimit(s, per);

  for (int lo = g.lo0; lo >= 0; lo -= 2) {
    if (s.limit == 0) return;  // error 0 found: nothing can be below it
    if (s.limit != limitOfSpan) {
      limitOfSpan = s.limit;
      maxSpan = spanLimit(s, per);
    }
    if (g.hi0 - lo > maxSpan) return;  // every remaining pair spans even more
    const Lanes loLanes = lanes::splat(static_cast<uint32_t>(lo));
    const Lanes above = lanes::subSat(s.samples, loLanes), below = lanes::subSat(loLanes, s.samples);
    // The exact error of the samples below lo, shared by the whole row (for six levels the
    // nearer of lo and 0).
    uint32_t rowError = lanes::sumOfSquares(g.sixLevel ? lanes::minOf(below, s.samples) : below);
    if (rowError >= s.limit) continue;

    int column = lo > g.hi0 ? (lo - g.hi0 + 1) / 2 : 0;  // first pair with hi >= lo
    for (; column < columns; ++column) {
      const int hi = g.hi0 + 2 * column;
      if (hi - lo > maxSpan) break;
      if (lo >= skippedDownTo[column]) continue;
      const uint32_t span = static_cast<uint32_t>(hi - lo);
      const Lanes dist = g.sixLevel ? sixLevelDistances(s.samples, above, below, span)
                                    : eightLevelDistances(above, below, span);
      const uint32_t err = lanes::sumOfSquares(dist);
      if (err < s.bestErr) {
        s.bestErr = err;
        s.alpha0 = g.sixLevel ? lo : hi;
        s.alpha1 = g.sixLevel ? hi : lo;
        if (err < s.limit) s.limit = err;
        if (s.limit == 0) return;
        if (s.limit != limitOfSpan) {
          limitOfSpan = s.limit;
          maxSpan = spanLimit(s, per);
        }
        continue;
      }
      if (err < s.limit) continue;  // close to the best: its neighbours may still win
      const int radius = skipRadius(dist, s.limit);
      if (radius == 0) continue;
      const int downTo = lo - radius;
      int first = column - radius / 2, last = column + radius / 2;
      if (first < 0) first = 0;
      if (last > columns - 1) last = columns - 1;
      for (int c = first; c <= last; ++c) {
        // A mark that no longer covers this row is replaced; one that does is extended.
        int known = skippedDownTo[c] <= lo ? skippedDownTo[c] : kNone;
        skippedDownTo[c] = known < downTo ? known : downTo;
      }
    }
  }
}

// Tightens limit with the error of one pair of the grid, if (lo, hi) is one.
void seedLimit(EndpointSearch& s, const CandidateGrid& g, int lo, int hi) {
  if (!g.active) return;
  lo -= (g.lo0 - lo) & 1;
  if (lo < 0) lo += 2;
  if (hi < lo) hi = lo;
  if (hi < g.hi0) hi = g.hi0;
  hi += (hi - g.hi0) & 1;
  if (hi > 255) hi -= 2;
  if (!onGrid(g, lo, hi)) return;
  uint32_t err = candidateError(s, g, lo, hi);
  if (err < s.limit - 1) s.limit = err + 1;
}

}  // namespace

void compressAlphaBlockDxt5(const uint8_t pixels[64], uint32_t mask, uint8_t out[8]) {
  const AlphaSamples samples = gatherSamples(pixels, mask);
  const CandidateGrid eight = eightLevelGrid(samples);
  const CandidateGrid six = sixLevelGrid(samples);

  EndpointSearch s;
  s.samples = lanes::load(samples.entry);
  s.range = samples.greatest - samples.least;
  for (auto& b : s.groupBound) b = 0;
  seedLimit(s, eight, samples.least < eight.lo0 ? samples.least : eight.lo0, samples.greatest);
  {
    int lo = samples.lowAway < samples.highAway ? samples.lowAway : samples.highAway;
    int hi = samples.lowAway < samples.highAway ? samples.highAway : samples.lowAway;
    seedLimit(s, six, lo < six.lo0 ? lo : six.lo0, hi);
  }
  if (s.limit > 1) computeGroupBounds(samples, s);
  searchGrid(s, eight);
  searchGrid(s, six);

  // The decoder's table for the chosen endpoints.
  const int alpha0 = s.alpha0, alpha1 = s.alpha1;
  int level[8];
  level[0] = alpha0;
  level[1] = alpha1;
  if (alpha0 > alpha1) {
    for (int i = 2; i < 8; ++i) level[i] = alpha1 + (8 - i) * (alpha0 - alpha1) / 7;
  } else {
    for (int i = 2; i < 6; ++i) level[i] = alpha0 + (i - 1) * (alpha1 - alpha0) / 5;
    level[6] = 0;
    level[7] = 255;
  }

  uint64_t indices = 0;
  for (int k = 0; k < 16; ++k) {
    if (!((mask >> k) & 1)) continue;  // pixels outside the image keep index 0
    const int a = pixels[4 * k + 3];
    int index = 0, nearest = 256;
    for (int i = 0; i < 8; ++i) {
      int d = a > level[i] ? a - level[i] : level[i] - a;
      if (d < nearest) {
        nearest = d;
        index = i;
      }
    }
    indices |= static_cast<uint64_t>(index) << (3 * k);
  }
  out[0] = static_cast<uint8_t>(alpha0);
  out[1] = static_cast<uint8_t>(alpha1);
  for (int b = 0; b < 6; ++b) out[2 + b] = static_cast<uint8_t>(indices >> (8 * b));
}

}  // namespace vellum
