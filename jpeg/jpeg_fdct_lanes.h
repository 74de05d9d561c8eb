// The forward DCT kernel on vector lanes, written once for the SSE2 and the AVX2 files.
// A lane holds one component of one block position: the 4 bytes of a pixel fill 4 lanes,
// so the flow graph of forwardDctBlock runs once for all four components (SSE2), or for
// two adjacent block positions (AVX2, one per 128-bit half). Every lane performs exactly
// the scalar reference's operations in its order (integer sums converted to float, the
// same adds and multiplies, truncation toward zero), so the coefficients are identical.
//
// Everything here has internal linkage: each including file compiles it for its own
// instruction set, and no copy may be shared between them.
#pragma once

#include <cstdint>

#include "jpeg/jpeg_tables.h"

namespace vellum {
namespace {

// L provides the vector types (F float, I integer), their operations, and how a group of
// positions is loaded and stored:
//   load(p, second)      16 bytes at p, for two positions also 16 bytes at p + second
//   store(a, b, v)       8 int16 lanes at a, for two positions the other 8 at b
template <class L>
struct FdctLanes {
  using F = typename L::F;
  using I = typename L::I;

  // The flow graph of forwardAan on vectors; the row pass subtracts the level shift from
  // output 0, the column pass has none (subtracting 0 would change no value).
  static inline void flowGraph(F t0, F t1, F t2, F t3, F t4, F t5, F t6, F t7, const F* shift, F* out, int stride) {
    const F u10 = L::add(t0, t3), u13 = L::sub(t0, t3), u11 = L::add(t1, t2), u12 = L::sub(t1, t2);
    const F sum = L::add(u10, u11);
    out[0] = shift != nullptr ? L::sub(sum, *shift) : sum;
    out[4 * stride] = L::sub(u10, u11);
    const F z1 = L::mul(L::add(u12, u13), L::set1(0.70710677f));
    out[2 * stride] = L::add(u13, z1);
    out[6 * stride] = L::sub(u13, z1);
    const F s45 = L::add(t4, t5), s56 = L::add(t5, t6), s67 = L::add(t6, t7);
    const F z5 = L::mul(L::sub(s45, s67), L::set1(0.38268343f));
    const F z2 = L::add(L::mul(L::set1(0.5411961f), s45), z5);
    const F z4 = L::add(L::mul(L::set1(1.306563f), s67), z5);
    const F z3 = L::mul(s56, L::set1(0.70710677f));
    const F z11 = L::add(t7, z3), z13 = L::sub(t7, z3);
    out[5 * stride] = L::add(z13, z2);
    out[3 * stride] = L::sub(z13, z2);
    out[1 * stride] = L::add(z11, z4);
    out[7 * stride] = L::sub(z11, z4);
  }

  // Sign-extended 32-bit values of int16 lanes 0-3 / 4-7 (of each 128-bit half).
  static inline F lowAsFloat(I v) { return L::toFloat(L::srai32(L::unpackLo16(v, v), 16)); }
  static inline F highAsFloat(I v) { return L::toFloat(L::srai32(L::unpackHi16(v, v), 16)); }

  // One group: rows[i] + column (the position's first pixel of row i), the second position
  // `second` bytes further; coefficients to outA (and outB), 4 blocks each.
  static inline void transform(const uint8_t* const rows[8], uint64_t column, uint32_t second,
                               const F multipliers[64], int16_t* outA, int16_t* outB) {
    F work[64];
    const I zero = L::zero();
    const F levelShift = L::set1(1024.0f);
    for (int r = 0; r < 8; ++r) {
      const uint8_t* p = rows[r] + column;
      const I low = L::load(p, second), high = L::load(p + 16, second);
      // Pixels as int16: {p0, p1}, {p2, p3}, {p4, p5}, {p6, p7}, 4 components each.
      const I p01 = L::unpackLo8(low, zero), p23 = L::unpackHi8(low, zero);
      const I p54 = L::swapHalves(L::unpackLo8(high, zero)), p76 = L::swapHalves(L::unpackHi8(high, zero));
      const I sum01 = L::add16(p01, p76), sum23 = L::add16(p23, p54);  // {d0+d7, d1+d6}, {d2+d5, d3+d4}
      const I dif01 = L::sub16(p01, p76), dif23 = L::sub16(p23, p54);  // {d0-d7, d1-d6}, {d2-d5, d3-d4}
      flowGraph(lowAsFloat(sum01), highAsFloat(sum01), lowAsFloat(sum23), highAsFloat(sum23), highAsFloat(dif23),
                lowAsFloat(dif23), highAsFloat(dif01), lowAsFloat(dif01), &levelShift, work + 8 * r, 1);
    }
    for (int c = 0; c < 8; ++c) {
      const F* d = work + c;
      flowGraph(L::add(d[0], d[56]), L::add(d[8], d[48]), L::add(d[16], d[40]), L::add(d[24], d[32]),
                L::sub(d[24], d[32]), L::sub(d[16], d[40]), L::sub(d[8], d[48]), L::sub(d[0], d[56]), nullptr,
                work + c, 8);
    }
    // Quantized coefficients of 8-bit samples stay far inside the int16 range (below 2^12
    // in magnitude), so the saturating pack below converts exactly like the scalar cast.
    I quantized[64];
    for (int n = 0; n < 64; ++n) quantized[n] = L::truncate(L::mul(work[n], multipliers[n]));
    // Eight zig-zag positions at a time: gather their vectors of 4 components and
    // transpose them into one row of 8 coefficients per component.
    for (int g = 0; g < 8; ++g) {
      const uint8_t* z = zigzagOrder + 8 * g;
      const I k01 = L::packs32(quantized[z[0]], quantized[z[1]]);  // k0 c0..c3, k1 c0..c3
      const I k23 = L::packs32(quantized[z[2]], quantized[z[3]]);
      const I k45 = L::packs32(quantized[z[4]], quantized[z[5]]);
      const I k67 = L::packs32(quantized[z[6]], quantized[z[7]]);
      const I even02 = L::unpackLo16(k01, k23);  // k0 c0, k2 c0, k0 c1, k2 c1, ...
      const I odd13 = L::unpackHi16(k01, k23);   // k1 c0, k3 c0, ...
      const I even46 = L::unpackLo16(k45, k67);
      const I odd57 = L::unpackHi16(k45, k67);
      const I evenC01 = L::unpackLo32(even02, even46);  // k0 k2 k4 k6 of c0, then of c1
      const I evenC23 = L::unpackHi32(even02, even46);
      const I oddC01 = L::unpackLo32(odd13, odd57);
      const I oddC23 = L::unpackHi32(odd13, odd57);
      L::store(outA + 8 * g, outB + 8 * g, L::unpackLo16(evenC01, oddC01));
      L::store(outA + 64 + 8 * g, outB + 64 + 8 * g, L::unpackHi16(evenC01, oddC01));
      L::store(outA + 128 + 8 * g, outB + 128 + 8 * g, L::unpackLo16(evenC23, oddC23));
      L::store(outA + 192 + 8 * g, outB + 192 + 8 * g, L::unpackHi16(evenC23, oddC23));
    }
  }

  // The FdctKernel: `positions` positions, L::kPositions at a time; a single last one of a
  // two-position vector is loaded twice and its second copy written to scratch.
  static void run(const uint8_t* const rows[8], uint32_t positions, const float* quantMultiplier, int16_t* out) {
    F multipliers[64];
    for (int n = 0; n < 64; ++n) multipliers[n] = L::set1(quantMultiplier[n]);
    uint32_t p = 0;
    for (; p + L::kPositions <= positions; p += L::kPositions)
      transform(rows, uint64_t(p) * 32, 32, multipliers, out + uint64_t(p) * 256, out + uint64_t(p) * 256 + 256);
    if (p < positions) {
      int16_t scratch[256];
      transform(rows, uint64_t(p) * 32, 0, multipliers, out + uint64_t(p) * 256, scratch);
    }
  }
};

}  // namespace
}  // namespace vellum
