// The cluster searches eight lanes at a time in AVX2. This file alone is compiled with
// -mavx2 (never -mfma: a fused multiply-add would round differently); the rest of the
// library runs on any x86 processor and takes this path only when the processor and the
// system support AVX.
#include "dxt/cluster_search.h"

#if defined(__AVX2__)
#include <immintrin.h>

namespace vellum::dxt {
namespace {

struct Avx2Lanes {
  using F = __m256;
  using Mask = __m256;
  static constexpr int kWidth = 8;
  static F load(const float* p) { return _mm256_loadu_ps(p); }
  static void store(float* p, F v) { _mm256_storeu_ps(p, v); }
  static F splat(float v) { return _mm256_set1_ps(v); }
  static F laneOffsets() { return _mm256_setr_ps(0.0f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f); }
  static F add(F a, F b) { return _mm256_add_ps(a, b); }
  static F sub(F a, F b) { return _mm256_sub_ps(a, b); }
  static F mul(F a, F b) { return _mm256_mul_ps(a, b); }
  static F div(F a, F b) { return _mm256_div_ps(a, b); }
  // Same operand order as the SSE2 lanes: std::max(0, v) and std::min(1, x) exactly.
  static F clampUnit(F v) { return _mm256_min_ps(_mm256_max_ps(v, _mm256_setzero_ps()), _mm256_set1_ps(1.0f)); }
  static F truncate(F v) { return _mm256_round_ps(v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC); }
  static Mask less(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_LT_OQ); }
  static Mask both(Mask a, Mask b) { return _mm256_and_ps(a, b); }
  static F select(Mask m, F ifTrue, F ifFalse) { return _mm256_blendv_ps(ifFalse, ifTrue, m); }
};

const ClusterSearch kAvx2Search = {searchThreeClusters<Avx2Lanes>, searchFourClusters<Avx2Lanes>};

}  // namespace

// Only data leaves this file: clusterSearchAvx2 checks the processor first.
const ClusterSearch* const kClusterSearchAvx2Built = &kAvx2Search;

}  // namespace vellum::dxt

#else

namespace vellum::dxt {
const ClusterSearch* const kClusterSearchAvx2Built = nullptr;
}  // namespace vellum::dxt

#endif
