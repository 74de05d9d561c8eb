// The cluster fit as plain nested loops: running sums of the ordered colours, every split
// evaluated in turn, a candidate kept only when strictly better. No tables, no lanes: the
// reference the lane searches are tested against (colour_fit.h).
#include <cfloat>

#include "dxt/colour_fit.h"

namespace vellum::dxt {
namespace {

struct Sums {
  float v[4];
};

Sums plus(const Sums& a, const Sums& b) { return {{a.v[0] + b.v[0], a.v[1] + b.v[1], a.v[2] + b.v[2], a.v[3] + b.v[3]}}; }
Sums minus(const Sums& a, const Sums& b) { return {{a.v[0] - b.v[0], a.v[1] - b.v[1], a.v[2] - b.v[2], a.v[3] - b.v[3]}}; }

float clampUnit(float v) {
  const float low = 0.0f < v ? v : 0.0f;
  return low < 1.0f ? low : 1.0f;
}

// Least-squares endpoints for alphaX / betaX (per channel, w = sum of squared palette
// weights) and alphaBeta, snapped to the grid; returns the error less the constant term.
float solve(const Sums& alphaX, const Sums& betaX, float alphaBeta, float start[3], float end[3]) {
  const float grid[3] = {31.0f, 63.0f, 31.0f};
  const float step[3] = {1.0f / 31.0f, 1.0f / 63.0f, 1.0f / 31.0f};
  const float alpha2 = alphaX.v[3], beta2 = betaX.v[3];
  const float factor = 1.0f / (alpha2 * beta2 - alphaBeta * alphaBeta);
  float channel[3];
  for (int c = 0; c < 3; ++c) {
    float a = (alphaX.v[c] * beta2 - betaX.v[c] * alphaBeta) * factor;
    float b = (betaX.v[c] * alpha2 - alphaX.v[c] * alphaBeta) * factor;
    a = static_cast<float>(static_cast<int>(grid[c] * clampUnit(a) + 0.5f)) * step[c];
    b = static_cast<float>(static_cast<int>(grid[c] * clampUnit(b) + 0.5f)) * step[c];
    start[c] = a;
    end[c] = b;
    const float e1 = a * a * alpha2 + b * b * beta2;
    const float e2 = a * b * alphaBeta - a * alphaX.v[c];
    const float e3 = e2 - b * betaX.v[c];
    channel[c] = 2.0f * e3 + e1;
  }
  return channel[0] + channel[1] + channel[2];
}

struct Best {
  float error = FLT_MAX;
  bool found = false;
  float start[3], end[3];
  int i = 0, j = 0, k = 0;  // the split: clusters [0, i), [i, j), [j, k), [k, n)
};

}  // namespace

void compressColourBlockPlain(const uint8_t pixels[64], uint32_t mask, ColourBlockKind kind, uint8_t out[8]) {
  const ColourSet set = gatherColourSet(pixels, mask, kind);
  const bool dxt1 = kind != ColourBlockKind::FourColour;
  if (set.count == 0) return writeEmptyColourBlock(set, dxt1, out);
  if (set.count == 1) return writeSingleColourBlock(set, dxt1, out);

  const int n = set.count;
  float axis[3];
  principalAxis(set, axis);
  // Stable insertion sort of the colours by projection (a NaN projection never moves).
  int order[16];
  float key[16];
  for (int i = 0; i < n; ++i) {
    key[i] = set.point[i][0] * axis[0] + set.point[i][1] * axis[1] + set.point[i][2] * axis[2];
    order[i] = i;
  }
  for (int i = 1; i < n; ++i) {
    for (int j = i; j > 0 && key[order[j]] < key[order[j - 1]]; --j) {
      const int t = order[j];
      order[j] = order[j - 1];
      order[j - 1] = t;
    }
  }
  Sums weighted[16], total = {{0.0f, 0.0f, 0.0f, 0.0f}};
  for (int p = 0; p < n; ++p) {
    const int c = order[p];
    const float w = set.weight[c];
    weighted[p] = {{set.point[c][0] * w, set.point[c][1] * w, set.point[c][2] * w, w}};
    total = plus(total, weighted[p]);
  }

  Best three, four;
  if (dxt1) {
    Sums part0 = {{0.0f, 0.0f, 0.0f, 0.0f}};
    for (int i = 0; i < n; ++i) {
      Sums part1 = {{0.0f, 0.0f, 0.0f, 0.0f}};
      for (int j = i; j <= n; ++j) {
        if (j > i) part1 = plus(part1, weighted[j - 1]);
        if (i == 0 && j == 0) continue;  // everything in the last cluster: not a split
        const Sums part2 = minus(minus(total, part1), part0);
        Sums alphaX, betaX;
        for (int c = 0; c < 4; ++c) {
          const float h = part1.v[c] * (c < 3 ? 0.5f : 0.25f);
          alphaX.v[c] = h + part0.v[c];
          betaX.v[c] = h + part2.v[c];
        }
        float start[3], end[3];
        const float error = solve(alphaX, betaX, part1.v[3] * 0.25f, start, end);
        if (error < three.error) {
          three.error = error;
          three.found = true;
          for (int c = 0; c < 3; ++c) {
            three.start[c] = start[c];
            three.end[c] = end[c];
          }
          three.i = i;
          three.j = j;
        }
      }
      part0 = plus(part0, weighted[i]);
    }
  }
  if (!dxt1 || !set.transparent) {
    four.error = three.error;
    Sums part0 = {{0.0f, 0.0f, 0.0f, 0.0f}};
    for (int i = 0; i < n; ++i) {
      Sums part1 = {{0.0f, 0.0f, 0.0f, 0.0f}};
      for (int j = i; j <= n; ++j) {
        if (j > i) part1 = plus(part1, weighted[j - 1]);
        Sums part2 = {{0.0f, 0.0f, 0.0f, 0.0f}};
        for (int k = j; k <= n; ++k) {
          if (k > j) part2 = plus(part2, weighted[k - 1]);
          if (k == 0) continue;  // (0, 0, 0): everything in the last cluster
          const Sums part3 = minus(minus(minus(total, part2), part1), part0);
          Sums alphaX, betaX;
          for (int c = 0; c < 4; ++c) {
            const float third = c < 3 ? 1.0f / 3.0f : 1.0f / 9.0f, twoThirds = c < 3 ? 2.0f / 3.0f : 4.0f / 9.0f;
            alphaX.v[c] = part2.v[c] * third + (part1.v[c] * twoThirds + part0.v[c]);
            betaX.v[c] = part1.v[c] * third + (part2.v[c] * twoThirds + part3.v[c]);
          }
          float start[3], end[3];
          const float error = solve(alphaX, betaX, (2.0f / 9.0f) * (part1.v[3] + part2.v[3]), start, end);
          if (error < four.error) {
            four.error = error;
            four.found = true;
            for (int c = 0; c < 3; ++c) {
              four.start[c] = start[c];
              four.end[c] = end[c];
            }
            four.i = i;
            four.j = j;
            four.k = k;
          }
        }
      }
      part0 = plus(part0, weighted[i]);
    }
  }

  uint8_t colourIndex[16];
  if (four.found) {
    for (int p = 0; p < n; ++p) colourIndex[order[p]] = p < four.i ? 0 : p < four.j ? 2 : p < four.k ? 3 : 1;
    writeColourBlockFour(four.start, four.end, colourIndex, set, out);
  } else if (three.found) {
    for (int p = 0; p < n; ++p) colourIndex[order[p]] = p < three.i ? 0 : p < three.j ? 2 : 1;
    writeColourBlockThree(three.start, three.end, colourIndex, set, out);
  }
}

}  // namespace vellum::dxt
