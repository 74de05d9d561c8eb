// The cluster searches four lanes at a time in SSE2 (every x86_64 build and the i686 build,
// which is compiled with -msse2).
#include "dxt/cluster_search.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace vellum::dxt {
namespace {

struct Sse2Lanes {
  using F = __m128;
  using Mask = __m128;
  static constexpr int kWidth = 4;
  static F load(const float* p) { return _mm_loadu_ps(p); }
  static void store(float* p, F v) { _mm_storeu_ps(p, v); }
  static F splat(float v) { return _mm_set1_ps(v); }
  static F laneOffsets() { return _mm_setr_ps(0.0f, 1.0f, 2.0f, 3.0f); }
  static F add(F a, F b) { return _mm_add_ps(a, b); }
  static F sub(F a, F b) { return _mm_sub_ps(a, b); }
  static F mul(F a, F b) { return _mm_mul_ps(a, b); }
  static F div(F a, F b) { return _mm_div_ps(a, b); }
  // maxps(v, 0) is "v > 0 ? v : 0" and minps(x, 1) is "x < 1 ? x : 1": std::max(0, v) and
  // std::min(1, x) exactly, NaN and signed zeros included.
  static F clampUnit(F v) { return _mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), _mm_set1_ps(1.0f)); }
  static F truncate(F v) { return _mm_cvtepi32_ps(_mm_cvttps_epi32(v)); }
  static Mask less(F a, F b) { return _mm_cmplt_ps(a, b); }
  static Mask both(Mask a, Mask b) { return _mm_and_ps(a, b); }
  static F select(Mask m, F ifTrue, F ifFalse) { return _mm_or_ps(_mm_and_ps(m, ifTrue), _mm_andnot_ps(m, ifFalse)); }
};

const ClusterSearch kSse2Search = {searchThreeClusters<Sse2Lanes>, searchFourClusters<Sse2Lanes>};

}  // namespace

const ClusterSearch* clusterSearchSse2() { return &kSse2Search; }

}  // namespace vellum::dxt

#else

namespace vellum::dxt {
const ClusterSearch* clusterSearchSse2() { return nullptr; }
}  // namespace vellum::dxt

#endif
