// The cluster searches, written once over a lane type: one float (cluster_fit.cpp), SSE2
// and AVX2 (their own files). Every lane evaluates one split with the same IEEE operations in the
// same order, so the lanes change the speed, never a result.
//
// Lanes run over consecutive splits of the search order. For the four-cluster search with
// the first cluster [0, i) fixed, the remaining splits are the pairs (j, k), i <= j <= k <= n,
// which are the pair table's indices from rowStart[i] on: the third cluster S(j, k) is a
// plain load, and the second, S(i, j), is spread over the same indices once per i (`spread`).
// The three-cluster splits (i, j) are the pair indices themselves, with S(0, i) spread once.
//
// Each lane keeps its least error and the split where it first occurred; the winner is the
// least error over the lanes, and of equal errors the earliest split: exactly what a plain
// loop keeping a candidate only when it is strictly better chooses.
//
// Internal to the DXT compressor.
#pragma once

#include "dxt/colour_fit.h"

namespace vellum::dxt {

// Weights of the clusters' palette positions (x, y, z) and their squares (w). Compile-time
// float divisions, so correctly rounded.
constexpr float kHalf = 0.5f;
constexpr float kQuarter = 0.25f;
constexpr float kOneThird = 1.0f / 3.0f;
constexpr float kOneNinth = 1.0f / 9.0f;
constexpr float kTwoThirds = 2.0f / 3.0f;
constexpr float kFourNinths = 4.0f / 9.0f;
constexpr float kTwoNinths = 2.0f / 9.0f;
constexpr float kGrid[3] = {31.0f, 63.0f, 31.0f};
constexpr float kGridStep[3] = {1.0f / 31.0f, 1.0f / 63.0f, 1.0f / 31.0f};

// The least-squares endpoints of a split and their error, from the clusters' weighted
// sums: alphaX = sum of weight(1 - t) x, betaX = sum of weight t x, their w lanes the sums
// of squared palette weights, alphaBeta the sum of weight t (1 - t).
template <class L, bool kEndpoints>
inline typename L::F solveSplit(const typename L::F alphaX[4], const typename L::F betaX[4],
                                typename L::F alphaBeta, typename L::F start[3], typename L::F end[3]) {
  using F = typename L::F;
  const F alpha2 = alphaX[3], beta2 = betaX[3];
  const F factor = L::div(L::splat(1.0f), L::sub(L::mul(alpha2, beta2), L::mul(alphaBeta, alphaBeta)));
  const F half = L::splat(0.5f), two = L::splat(2.0f);
  F e4[3];
  for (int c = 0; c < 3; ++c) {
    F a = L::mul(L::sub(L::mul(alphaX[c], beta2), L::mul(betaX[c], alphaBeta)), factor);
    F b = L::mul(L::sub(L::mul(betaX[c], alpha2), L::mul(alphaX[c], alphaBeta)), factor);
    const F grid = L::splat(kGrid[c]), step = L::splat(kGridStep[c]);
    a = L::mul(L::truncate(L::add(L::mul(grid, L::clampUnit(a)), half)), step);
    b = L::mul(L::truncate(L::add(L::mul(grid, L::clampUnit(b)), half)), step);
    if (kEndpoints) {
      start[c] = a;
      end[c] = b;
    }
    // The error without the constant sum of x^2.
    const F e1 = L::add(L::mul(L::mul(a, a), alpha2), L::mul(L::mul(b, b), beta2));
    const F e2 = L::sub(L::mul(L::mul(a, b), alphaBeta), L::mul(a, alphaX[c]));
    const F e3 = L::sub(e2, L::mul(b, betaX[c]));
    e4[c] = L::add(L::mul(two, e3), e1);
  }
  return L::add(L::add(e4[0], e4[1]), e4[2]);
}

// Three clusters at palette positions 0, 1/2, 1: [0, i) = part0, [i, j) = part1, the rest.
template <class L, bool kEndpoints>
inline typename L::F threeClusterError(const typename L::F part0[4], const typename L::F part1[4],
                                       const typename L::F total[4], typename L::F start[3],
                                       typename L::F end[3]) {
  using F = typename L::F;
  F alphaX[4], betaX[4];
  for (int c = 0; c < 4; ++c) {
    const F part2 = L::sub(L::sub(total[c], part1[c]), part0[c]);
    const F halfPart1 = L::mul(part1[c], L::splat(c < 3 ? kHalf : kQuarter));
    alphaX[c] = L::add(halfPart1, part0[c]);
    betaX[c] = L::add(halfPart1, part2);
  }
  const F alphaBeta = L::mul(part1[3], L::splat(kQuarter));
  return solveSplit<L, kEndpoints>(alphaX, betaX, alphaBeta, start, end);
}

// Four clusters at 0, 1/3, 2/3, 1: [0, i) = part0, [i, j) = part1, [j, k) = part2, the rest.
template <class L, bool kEndpoints>
inline typename L::F fourClusterError(const typename L::F part0[4], const typename L::F part1[4],
                                      const typename L::F part2[4], const typename L::F total[4],
                                      typename L::F start[3], typename L::F end[3]) {
  using F = typename L::F;
  F alphaX[4], betaX[4];
  for (int c = 0; c < 4; ++c) {
    const F part3 = L::sub(L::sub(L::sub(total[c], part2[c]), part1[c]), part0[c]);
    const F third = L::splat(c < 3 ? kOneThird : kOneNinth), twoThirds = L::splat(c < 3 ? kTwoThirds : kFourNinths);
    alphaX[c] = L::add(L::mul(part2[c], third), L::add(L::mul(part1[c], twoThirds), part0[c]));
    betaX[c] = L::add(L::mul(part1[c], third), L::add(L::mul(part2[c], twoThirds), part3));
  }
  const F alphaBeta = L::mul(L::splat(kTwoNinths), L::add(part1[3], part2[3]));
  return solveSplit<L, kEndpoints>(alphaX, betaX, alphaBeta, start, end);
}

// Per-lane bests folded into one choice: least error, then earliest split.
template <class L>
ClusterChoice foldLanes(typename L::F bestError, typename L::F bestSplit, float bound) {
  alignas(64) float errors[L::kWidth], splits[L::kWidth];
  L::store(errors, bestError);
  L::store(splits, bestSplit);
  ClusterChoice choice{bound, kNoSplit};
  for (int lane = 0; lane < L::kWidth; ++lane) {
    if (splits[lane] < 0.0f) continue;
    const int split = static_cast<int>(splits[lane]);
    if (errors[lane] < choice.error || (errors[lane] == choice.error && split < choice.split)) {
      choice.error = errors[lane];
      choice.split = split;
    }
  }
  return choice;
}

// Fills spread[c][m] with value(a) for every pair m = (a, b) of rows a = first..n.
template <class L, class Value>
inline void spreadRows(const ClusterSums& s, int first, float (*spread)[kPairStride], Value value) {
  for (int a = first; a <= s.count; ++a) {
    for (int c = 0; c < 4; ++c) {
      const typename L::F v = L::splat(value(a, c));
      // Whole vectors; the part past the row is overwritten by the next row (or is padding).
      for (int m = s.rowStart[a]; m < s.rowStart[a + 1]; m += L::kWidth) L::store(&spread[c][m], v);
    }
  }
}

template <class L>
ClusterChoice searchThreeClusters(const ClusterSums& s, float bound) {
  using F = typename L::F;
  alignas(64) float spread[4][kPairStride];  // S(0, i) over the pairs (i, j)
  spreadRows<L>(s, 0, spread, [&](int i, int c) { return s.sum[c][i]; });
  F total[4];
  for (int c = 0; c < 4; ++c) total[c] = L::splat(s.total[c]);
  F bestError = L::splat(bound), bestSplit = L::splat(-1.0f);
  // Pairs (i, j) with i < n, except (0, 0): indices 1 .. rowStart[n] - 1.
  const int end = s.rowStart[s.count];
  const F limit = L::splat(static_cast<float>(end));
  F dummy[3];
  auto evaluate = [&](int m, bool tail) {
    F part0[4], part1[4];
    for (int c = 0; c < 4; ++c) {
      part0[c] = L::load(&spread[c][m]);
      part1[c] = L::load(&s.sum[c][m]);
    }
    const F error = threeClusterError<L, false>(part0, part1, total, dummy, dummy);
    const F split = L::add(L::splat(static_cast<float>(m)), L::laneOffsets());
    typename L::Mask better = L::less(error, bestError);
    if (tail) better = L::both(better, L::less(split, limit));
    bestError = L::select(better, error, bestError);
    bestSplit = L::select(better, split, bestSplit);
  };
  int m = 1;
  for (; m + L::kWidth <= end; m += L::kWidth) evaluate(m, false);
  if (m < end) evaluate(m, true);
  return foldLanes<L>(bestError, bestSplit, bound);
}

template <class L>
ClusterChoice searchFourClusters(const ClusterSums& s, float bound) {
  using F = typename L::F;
  // S(i, j) over the pairs (j, k), for one i. Two of them: the next i's is written while
  // this one is read, so that no load waits for the stores just made.
  alignas(64) float spread[2][4][kPairStride];
  auto spreadFor = [&](int i) {
    const int rowI = s.rowStart[i];
    spreadRows<L>(s, i, spread[i & 1], [&](int j, int c) { return s.sum[c][rowI + j - i]; });
  };
  F total[4];
  for (int c = 0; c < 4; ++c) total[c] = L::splat(s.total[c]);
  F bestError = L::splat(bound), bestSplit = L::splat(-1.0f);
  const F limit = L::splat(static_cast<float>(s.pairCount));
  F dummy[3];
  spreadFor(0);
  for (int i = 0; i < s.count; ++i) {
    if (i + 1 < s.count) spreadFor(i + 1);
    const float (*part1Of)[kPairStride] = spread[i & 1];
    F part0[4];
    for (int c = 0; c < 4; ++c) part0[c] = L::splat(s.sum[c][i]);  // S(0, i)
    const F base = L::add(L::splat(static_cast<float>(i * 256)), L::laneOffsets());
    auto evaluate = [&](int m, bool tail) {
      F part1[4], part2[4];
      for (int c = 0; c < 4; ++c) {
        part1[c] = L::load(&part1Of[c][m]);
        part2[c] = L::load(&s.sum[c][m]);
      }
      const F error = fourClusterError<L, false>(part0, part1, part2, total, dummy, dummy);
      typename L::Mask better = L::less(error, bestError);
      if (tail) better = L::both(better, L::less(L::add(L::splat(static_cast<float>(m)), L::laneOffsets()), limit));
      bestError = L::select(better, error, bestError);
      bestSplit = L::select(better, L::add(base, L::splat(static_cast<float>(m))), bestSplit);
    };
    int m = i == 0 ? 1 : s.rowStart[i];  // (0, 0, 0) is no split
    for (; m + L::kWidth <= s.pairCount; m += L::kWidth) evaluate(m, false);
    if (m < s.pairCount) evaluate(m, true);  // lanes past the last pair are not counted
  }
  return foldLanes<L>(bestError, bestSplit, bound);
}

}  // namespace vellum::dxt
