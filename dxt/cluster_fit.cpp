// The cluster fit of one colour half: ordering, cluster sums, the searches (the widest
// lanes this processor has) and the block of the winning split.
#include <cfloat>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "dxt/cluster_search.h"
#include "dxt/colour_fit.h"

namespace vellum::dxt {
namespace {

// One float per lane.
struct ScalarLanes {
  using F = float;
  using Mask = bool;
  static constexpr int kWidth = 1;
  static F load(const float* p) { return *p; }
  static void store(float* p, F v) { *p = v; }
  static F splat(float v) { return v; }
  static F laneOffsets() { return 0.0f; }
  static F add(F a, F b) { return a + b; }
  static F sub(F a, F b) { return a - b; }
  static F mul(F a, F b) { return a * b; }
  static F div(F a, F b) { return a / b; }
  // min(1, max(0, v)) with std::min / std::max's rules: NaN becomes 0.
  static F clampUnit(F v) {
    const F low = 0.0f < v ? v : 0.0f;
    return low < 1.0f ? low : 1.0f;
  }
  // Truncation of values in [0.5, 63.5]: the grid point below.
  static F truncate(F v) { return static_cast<float>(static_cast<int>(v)); }
  static Mask less(F a, F b) { return a < b; }
  static Mask both(Mask a, Mask b) { return a && b; }
  static F select(Mask m, F ifTrue, F ifFalse) { return m ? ifTrue : ifFalse; }
};


// The pair (a, b) at index m of the table.
void pairAt(const ClusterSums& s, int m, int* a, int* b) {
  int row = 0;
  while (s.rowStart[row + 1] <= m) ++row;
  *a = row;
  *b = row + (m - s.rowStart[row]);
}

void loadSum(const ClusterSums& s, int m, float out[4]) {
  for (int c = 0; c < 4; ++c) out[c] = s.sum[c][m];
}

int pairIndex(const ClusterSums& s, int a, int b) { return s.rowStart[a] + (b - a); }

// order[place] = i where place = number of keys before key i in a stable ascending sort:
// the keys below it and the equal ones with a smaller index. Keys must not be NaN.
void placeByRank(const float key[16], int n, uint8_t order[16]) {
#if defined(__SSE2__)
  // Sixteen comparisons at a time; unused places hold NaN, which counts nowhere.
  alignas(16) float padded[16];
  for (int j = 0; j < 16; ++j) padded[j] = j < n ? key[j] : std::numeric_limits<float>::quiet_NaN();
  __m128 keys[4];
  for (int v = 0; v < 4; ++v) keys[v] = _mm_load_ps(padded + 4 * v);
  const __m128i lane = _mm_setr_epi32(0, 1, 2, 3);
  for (int i = 0; i < n; ++i) {
    const __m128 k = _mm_set1_ps(key[i]);
    __m128i count = _mm_setzero_si128();
    for (int v = 0; v < 4; ++v) {
      // Lanes j = 4v .. 4v + 3 that come before i: j < i.
      const __m128i earlier = _mm_cmplt_epi32(_mm_add_epi32(lane, _mm_set1_epi32(4 * v)), _mm_set1_epi32(i));
      const __m128 before =
          _mm_or_ps(_mm_cmplt_ps(keys[v], k), _mm_and_ps(_mm_cmpeq_ps(keys[v], k), _mm_castsi128_ps(earlier)));
      count = _mm_sub_epi32(count, _mm_castps_si128(before));  // each true lane is -1
    }
    count = _mm_add_epi32(count, _mm_shuffle_epi32(count, 0x4E));
    count = _mm_add_epi32(count, _mm_shuffle_epi32(count, 0xB1));
    order[_mm_cvtsi128_si32(count)] = static_cast<uint8_t>(i);
  }
#else
  for (int i = 0; i < n; ++i) {
    int place = 0;
    for (int j = 0; j < n; ++j) place += (key[j] < key[i]) | ((key[j] == key[i]) & (j < i));
    order[place] = static_cast<uint8_t>(i);
  }
#endif
}

const ClusterSearch kScalarSearch = {searchThreeClusters<ScalarLanes>, searchFourClusters<ScalarLanes>};

}  // namespace

void buildClusterSums(const ColourSet& set, const float axis[3], ClusterSums* s) {
  const int n = set.count;
  s->count = n;
  // Stable sort by projection. Without NaNs, a colour's place is the number of colours
  // before it: smaller, or equal and earlier (no branches to mispredict). A NaN projection
  // (the axis can be all NaN) compares false with everything, and then only the insertion
  // sort itself says where each colour ends up.
  float key[16];
  bool anyNaN = false;
  for (int i = 0; i < n; ++i) {
    key[i] = set.point[i][0] * axis[0] + set.point[i][1] * axis[1] + set.point[i][2] * axis[2];
    anyNaN |= key[i] != key[i];
  }
  if (!anyNaN) {
    placeByRank(key, n, s->order);
  } else {
    for (int i = 0; i < n; ++i) s->order[i] = static_cast<uint8_t>(i);
    for (int i = 0; i < n; ++i) {
      for (int j = i; j > 0 && key[j] < key[j - 1]; --j) {
        const float k = key[j];
        key[j] = key[j - 1];
        key[j - 1] = k;
        const uint8_t o = s->order[j];
        s->order[j] = s->order[j - 1];
        s->order[j - 1] = o;
      }
    }
  }
  float weighted[4][16];
  for (int i = 0; i < n; ++i) {
    const int c = s->order[i];
    const float w = set.weight[c];
    weighted[0][i] = set.point[c][0] * w;
    weighted[1][i] = set.point[c][1] * w;
    weighted[2][i] = set.point[c][2] * w;
    weighted[3][i] = w;  // 1 * w
  }
  int pairs = 0;
  for (int a = 0; a <= n; ++a) {
    s->rowStart[a] = pairs;
    pairs += n + 1 - a;
  }
  s->rowStart[n + 1] = pairs;
  s->pairCount = pairs;
  // Row a holds S(a, a), S(a, a + 1), ..., S(a, n): one running sum each, added left to
  // right.
  for (int c = 0; c < 4; ++c) {
    const float* w = weighted[c];
    float* sum = s->sum[c];
    for (int a = 0; a <= n; ++a) {
      float* row = sum + s->rowStart[a];
      float run = 0.0f;
      row[0] = run;
      for (int b = a; b < n; ++b) {
        run += w[b];
        row[b + 1 - a] = run;
      }
    }
    std::memset(sum + pairs, 0, sizeof(float) * (kPairStride - pairs));
    s->total[c] = sum[n];  // S(0, n)
  }
}

void clusterEndpointsThree(const ClusterSums& s, int split, float start[3], float end[3]) {
  int i, j;
  pairAt(s, split, &i, &j);
  float part0[4], part1[4];
  loadSum(s, pairIndex(s, 0, i), part0);
  loadSum(s, split, part1);
  threeClusterError<ScalarLanes, true>(part0, part1, s.total, start, end);
}

void clusterEndpointsFour(const ClusterSums& s, int split, float start[3], float end[3]) {
  const int i = split >> 8, m = split & 255;
  int j, k;
  pairAt(s, m, &j, &k);
  float part0[4], part1[4], part2[4];
  loadSum(s, pairIndex(s, 0, i), part0);
  loadSum(s, pairIndex(s, i, j), part1);
  loadSum(s, m, part2);
  fourClusterError<ScalarLanes, true>(part0, part1, part2, s.total, start, end);
}

const ClusterSearch* clusterSearchScalar() { return &kScalarSearch; }

// What the processor and the system support, found once. Detected here, outside the AVX
// files, so that no instruction of those files runs before the check; the check includes
// the system's saving of the vector registers.
struct WideLanes {
  const ClusterSearch* avx2 = nullptr;
  const ClusterSearch* avx512 = nullptr;
};

const WideLanes& wideLanes() {
  static const WideLanes lanes = [] {
    WideLanes l;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (kClusterSearchAvx2Built != nullptr && __builtin_cpu_supports("avx2")) l.avx2 = kClusterSearchAvx2Built;
    if (kClusterSearchAvx512Built != nullptr && __builtin_cpu_supports("avx512f")) l.avx512 = kClusterSearchAvx512Built;
#endif
    return l;
  }();
  return lanes;
}

const ClusterSearch* clusterSearchAvx2() { return wideLanes().avx2; }
const ClusterSearch* clusterSearchAvx512() { return wideLanes().avx512; }

const ClusterSearch& clusterSearchBest() {
  static const ClusterSearch* const best = [] {
    if (const ClusterSearch* avx512 = clusterSearchAvx512()) return avx512;
    if (const ClusterSearch* avx2 = clusterSearchAvx2()) return avx2;
    if (const ClusterSearch* sse2 = clusterSearchSse2()) return sse2;
    return clusterSearchScalar();
  }();
  return *best;
}

void compressColourBlock(const uint8_t pixels[64], uint32_t mask, ColourBlockKind kind, const ClusterSearch& search,
                         uint8_t out[8]) {
  const ColourSet set = gatherColourSet(pixels, mask, kind);
  const bool dxt1 = kind != ColourBlockKind::FourColour;
  if (set.count == 0) return writeEmptyColourBlock(set, dxt1, out);
  if (set.count == 1) return writeSingleColourBlock(set, dxt1, out);

  float axis[3];
  principalAxis(set, axis);
  ClusterSums sums;
  buildClusterSums(set, axis, &sums);

  float start[3], end[3];
  uint8_t colourIndex[16];
  float bound = FLT_MAX;
  if (dxt1) {
    const ClusterChoice three = search.three(sums, bound);
    if (three.split != kNoSplit) {
      clusterEndpointsThree(sums, three.split, start, end);
      int i, j;
      pairAt(sums, three.split, &i, &j);
      for (int p = 0; p < sums.count; ++p) colourIndex[sums.order[p]] = p < i ? 0 : p < j ? 2 : 1;
      writeColourBlockThree(start, end, colourIndex, set, out);
      bound = three.error;
    }
  }
  // DXT1 keeps the three-colour block when a pixel is transparent, or unless four colours
  // do strictly better.
  if (dxt1 && set.transparent) return;
  const ClusterChoice four = search.four(sums, bound);
  if (four.split == kNoSplit) return;
  clusterEndpointsFour(sums, four.split, start, end);
  const int i = four.split >> 8;
  int j, k;
  pairAt(sums, four.split & 255, &j, &k);
  for (int p = 0; p < sums.count; ++p) colourIndex[sums.order[p]] = p < i ? 0 : p < j ? 2 : p < k ? 3 : 1;
  writeColourBlockFour(start, end, colourIndex, set, out);
}

}  // namespace vellum::dxt
