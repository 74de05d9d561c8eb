// The colour half of a DXT block, fitted the way libsquish's default cluster fit does it,
// to the bit: the same points, weights, axis, ordering, float operations in the same order,
// and the same choice among equal errors. Internal to the DXT compressor; the tests reach
// the pieces through this header.
//
// Outline of one block:
//  1. The colour set: the distinct colours of the pixels inside the mask (for DXT1 with
//     1-bit alpha, leaving out pixels of alpha below 128), each as r/255, g/255, b/255 with
//     the weight sqrt(number of pixels of that colour), in order of first appearance.
//  2. No colour: endpoints 0 and 0. One colour: endpoints from the single-colour tables.
//  3. Otherwise the principal axis of the weighted covariance (eight steps of the power
//     method from (1, 1, 1)), the colours ordered by their projection on it, and for every
//     split of that order into consecutive clusters the least-squares endpoints, snapped to
//     the 5:6:5 grid, and their error; the first split of least error wins. DXT1 tries three
//     clusters (palette 0, 1/2, 1) and then four (0, 1/3, 2/3, 1); the four-cluster fit
//     replaces the three-cluster one only when its error is strictly smaller, and is not
//     tried at all when a pixel is transparent.
#pragma once

#include <cstdint>

namespace vellum::dxt {

// How the colour half is made.
enum class ColourBlockKind : uint8_t {
  FourColour,        // DXT3 / DXT5: four-colour palettes only
  Dxt1Opaque,        // DXT1, alpha ignored: three- or four-colour palette
  Dxt1AlphaCutoff,   // DXT1, pixels of alpha below 128 get index 3 of a three-colour palette
};

struct ColourSet {
  int count = 0;              // distinct colours, 0 to 16
  bool transparent = false;   // some pixel inside the mask was left out for its alpha
  float point[16][3];         // r, g, b of each colour in [0, 1]
  float weight[16];           // sqrt of the number of pixels of that colour
  int8_t pixelColour[16];     // colour of each pixel, -1 outside the mask or transparent
};

ColourSet gatherColourSet(const uint8_t pixels[64], uint32_t mask, ColourBlockKind kind);

// Principal axis of the set's weighted covariance.
void principalAxis(const ColourSet& set, float axis[3]);

// ---------------------------------------------------------------------------------------
// Cluster sums. The colours in projection order, each times its weight (x w, y w, z w, w),
// give partial sums S(a, b) = point a + point a+1 + ... + point b-1, added left to right
// from 0. Every cluster of every split is one of them, so the searches read them from a
// table: pair (a, b), 0 <= a <= b <= n, has index rowStart[a] + (b - a).

constexpr int kMaxPairs = 17 * 18 / 2;  // n = 16
constexpr int kPairStride = 176;        // kMaxPairs rounded up, plus a full vector of padding

struct ClusterSums {
  int count = 0;            // n >= 2
  int pairCount = 0;        // (n + 1)(n + 2) / 2
  int rowStart[18] = {};    // index of pair (a, a); rowStart[n + 1] = pairCount
  uint8_t order[16] = {};   // colour index of each position in projection order
  float total[4] = {};      // S(0, n)
  alignas(64) float sum[4][kPairStride];  // channel-major, zero beyond pairCount
};

// Orders the set along `axis` (stable, by x ax + y ay + z az) and fills the sums.
void buildClusterSums(const ColourSet& set, const float axis[3], ClusterSums* sums);

// The winner of a search: the least error below the starting bound, first in search order.
// split encodes the clusters: three clusters [0, i), [i, j), [j, n) as the pair index of
// (i, j); four clusters [0, i), [i, j), [j, k), [k, n) as i * 256 + the pair index of (j, k).
struct ClusterChoice {
  float error;
  int split;  // -1: nothing below the bound
};

constexpr int kNoSplit = -1;

// One search implementation: all three-cluster splits, all four-cluster splits.
struct ClusterSearch {
  ClusterChoice (*three)(const ClusterSums& sums, float bound);
  ClusterChoice (*four)(const ClusterSums& sums, float bound);
};

// Lanes of the processor: one float at a time (every build), SSE2 (4 lanes), AVX2 (8 lanes,
// 64-bit builds) and AVX-512 (16 lanes, native 64-bit builds), the last two chosen at run
// time. All give the same choice for the same sums.
const ClusterSearch* clusterSearchScalar();
const ClusterSearch* clusterSearchSse2();     // nullptr when not built
const ClusterSearch* clusterSearchAvx2();     // nullptr when not built or not supported here
const ClusterSearch* clusterSearchAvx512();   // nullptr when not built or not supported here
const ClusterSearch& clusterSearchBest();     // the widest one this processor runs

// The searches of those files if this build has them, whatever the processor: use the
// functions above, which check.
extern const ClusterSearch* const kClusterSearchAvx2Built;
extern const ClusterSearch* const kClusterSearchAvx512Built;

// The endpoints (in [0, 1], on the 5:6:5 grid) of a chosen split.
void clusterEndpointsThree(const ClusterSums& sums, int split, float start[3], float end[3]);
void clusterEndpointsFour(const ClusterSums& sums, int split, float start[3], float end[3]);

// ---------------------------------------------------------------------------------------
// Whole colour halves.

// The 8-byte colour half of one block with the given search.
void compressColourBlock(const uint8_t pixels[64], uint32_t mask, ColourBlockKind kind, const ClusterSearch& search,
                         uint8_t out[8]);

// The same by a plain, loop-by-loop evaluation of every split with running sums, written
// independently of the tables and lanes above: the reference of the differential tests.
void compressColourBlockPlain(const uint8_t pixels[64], uint32_t mask, ColourBlockKind kind, uint8_t out[8]);

// Writes a three- or four-colour block from endpoints in [0, 1] and a palette position per
// colour of the set (pixels outside it get 3), ordering the endpoints as the decoder needs.
void writeColourBlockThree(const float start[3], const float end[3], const uint8_t colourIndex[16],
                           const ColourSet& set, uint8_t out[8]);
void writeColourBlockFour(const float start[3], const float end[3], const uint8_t colourIndex[16],
                          const ColourSet& set, uint8_t out[8]);

// Blocks of no colour and of one colour.
void writeEmptyColourBlock(const ColourSet& set, bool dxt1, uint8_t out[8]);
void writeSingleColourBlock(const ColourSet& set, bool dxt1, uint8_t out[8]);

}  // namespace vellum::dxt
