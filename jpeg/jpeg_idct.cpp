// The output stage: the floating-point Arai-Agui-Nakajima inverse DCT (dequantization and
// scale factors folded into one multiplier per coefficient), clamping through the range
// table, upsampling by pixel replication and rows top-down into the caller's stride.
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif

#include "jpeg/jpeg_decode_internal.h"
#include "jpeg/jpeg_idct_avx2.h"

namespace vellum {

namespace {

#if !defined(__SSE2__)
// The AAN flow graph on 8 values spaced `stride` apart, in place.
inline void inverseAan(float* v, int stride) {
  const float d0 = v[0], d1 = v[stride], d2 = v[2 * stride], d3 = v[3 * stride];
  const float d4 = v[4 * stride], d5 = v[5 * stride], d6 = v[6 * stride], d7 = v[7 * stride];
  // Even part.
  const float a0 = d0 + d4, a1 = d0 - d4;
  const float a3 = d2 + d6;
  const float a2 = (d2 - d6) * 1.4142135f - a3;
  const float e0 = a0 + a3, e3 = a0 - a3, e1 = a1 + a2, e2 = a1 - a2;
  // Odd part.
  const float z13 = d5 + d3, z10 = d5 - d3, z11 = d1 + d7, z12 = d1 - d7;
  const float o7 = z11 + z13;
  const float t11 = (z11 - z13) * 1.4142135f;
  const float z5 = (z10 + z12) * 1.847759f;
  const float t10 = z5 - z12 * 1.0823922f;
  const float t12 = z5 - z10 * 2.613126f;
  const float o6 = t12 - o7, o5 = t11 - o6, o4 = t10 - o5;
  v[0] = e0 + o7;
  v[stride] = e1 + o6;
  v[2 * stride] = e2 + o5;
  v[3 * stride] = e3 + o4;
  v[4 * stride] = e3 - o4;
  v[5 * stride] = e2 - o5;
  v[6 * stride] = e1 - o6;
  v[7 * stride] = e0 - o7;
}
#endif

// Truncates toward zero and keeps the low ten bits, the index of the range table. Results
// outside the 32-bit range (only reachable with 16-bit quantization tables and extreme
// coefficients) take the 64-bit conversion; the magnitude stays far below 2^63.
inline uint32_t rangeIndex(float value) {
  if (value > -2147483648.0f && value < 2147483648.0f) return uint32_t(int32_t(value)) & 1023;
  return uint32_t(uint64_t(int64_t(value))) & 1023;
}

// Samples for the bytes of components the stream lacks: a flat colour block, opaque alpha.
constexpr uint8_t kMissingColour = 128;
constexpr uint8_t kMissingAlpha = 255;

#if defined(__SSE2__)

// The flow graph of inverseAan on four independent lanes: the same float operations in the
// same order, so every lane's result is bit-identical to the scalar one.
inline void inverseAan4(__m128* v) {
  const __m128 sqrt2 = _mm_set1_ps(1.4142135f), c1 = _mm_set1_ps(1.847759f);
  const __m128 c2 = _mm_set1_ps(1.0823922f), c3 = _mm_set1_ps(2.613126f);
  const __m128 d0 = v[0], d1 = v[1], d2 = v[2], d3 = v[3], d4 = v[4], d5 = v[5], d6 = v[6], d7 = v[7];
  const __m128 a0 = _mm_add_ps(d0, d4), a1 = _mm_sub_ps(d0, d4);
  const __m128 a3 = _mm_add_ps(d2, d6);
  const __m128 a2 = _mm_sub_ps(_mm_mul_ps(_mm_sub_ps(d2, d6), sqrt2), a3);
  const __m128 e0 = _mm_add_ps(a0, a3), e3 = _mm_sub_ps(a0, a3), e1 = _mm_add_ps(a1, a2), e2 = _mm_sub_ps(a1, a2);
  const __m128 z13 = _mm_add_ps(d5, d3), z10 = _mm_sub_ps(d5, d3), z11 = _mm_add_ps(d1, d7), z12 = _mm_sub_ps(d1, d7);
  const __m128 o7 = _mm_add_ps(z11, z13);
  const __m128 t11 = _mm_mul_ps(_mm_sub_ps(z11, z13), sqrt2);
  const __m128 z5 = _mm_mul_ps(_mm_add_ps(z10, z12), c1);
  const __m128 t10 = _mm_sub_ps(z5, _mm_mul_ps(z12, c2));
  const __m128 t12 = _mm_sub_ps(z5, _mm_mul_ps(z10, c3));
  const __m128 o6 = _mm_sub_ps(t12, o7), o5 = _mm_sub_ps(t11, o6), o4 = _mm_sub_ps(t10, o5);
  v[0] = _mm_add_ps(e0, o7);
  v[1] = _mm_add_ps(e1, o6);
  v[2] = _mm_add_ps(e2, o5);
  v[3] = _mm_add_ps(e3, o4);
  v[4] = _mm_sub_ps(e3, o4);
  v[5] = _mm_sub_ps(e2, o5);
  v[6] = _mm_sub_ps(e1, o6);
  v[7] = _mm_sub_ps(e0, o7);
}

inline void transpose4(__m128* a, __m128* b, __m128* c, __m128* d) { _MM_TRANSPOSE4_PS(*a, *b, *c, *d); }

#endif  // __SSE2__

}  // namespace

void inverseDctBlock(const int16_t* coefficients, const float* dequant, float* out) {
#if defined(__SSE2__)
  // Columns, four at a time. A column whose AC terms are all zero takes its DC in every
  // row (the shortcut), selected per lane.
  const __m128i zero = _mm_setzero_si128();
  for (int half = 0; half < 8; half += 4) {
    __m128 v[8];
    __m128i acBits = zero;
    for (int row = 0; row < 8; ++row) {
      const __m128i raw = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(coefficients + 8 * row + half));
      if (row > 0) acBits = _mm_or_si128(acBits, raw);
      const __m128i wide = _mm_srai_epi32(_mm_unpacklo_epi16(raw, raw), 16);
      v[row] = _mm_mul_ps(_mm_cvtepi32_ps(wide), _mm_loadu_ps(dequant + 8 * row + half));
    }
    const __m128i zero16 = _mm_cmpeq_epi16(acBits, zero);
    const __m128 acZero = _mm_castsi128_ps(_mm_unpacklo_epi16(zero16, zero16));
    const __m128 dc = v[0];
    inverseAan4(v);
    for (int row = 0; row < 8; ++row)
      _mm_storeu_ps(out + 8 * row + half, _mm_or_ps(_mm_and_ps(acZero, dc), _mm_andnot_ps(acZero, v[row])));
  }
  // Rows, four at a time: transpose so that lane r holds row r.
  const __m128 shift = _mm_set1_ps(128.5f);
  for (int rows = 0; rows < 8; rows += 4) {
    float* base = out + 8 * rows;
    __m128 v[8];
    for (int i = 0; i < 4; ++i) {
      v[i] = _mm_loadu_ps(base + 8 * i);
      v[4 + i] = _mm_loadu_ps(base + 8 * i + 4);
    }
    transpose4(&v[0], &v[1], &v[2], &v[3]);
    transpose4(&v[4], &v[5], &v[6], &v[7]);
    v[0] = _mm_add_ps(v[0], shift);  // level shift, plus one half so that truncation rounds
    inverseAan4(v);
    transpose4(&v[0], &v[1], &v[2], &v[3]);
    transpose4(&v[4], &v[5], &v[6], &v[7]);
    for (int i = 0; i < 4; ++i) {
      _mm_storeu_ps(base + 8 * i, v[i]);
      _mm_storeu_ps(base + 8 * i + 4, v[4 + i]);
    }
  }
#else
  for (int column = 0; column < 8; ++column) {
    const int16_t* in = coefficients + column;
    const float* q = dequant + column;
    float* v = out + column;
    if ((in[8] | in[16] | in[24] | in[32] | in[40] | in[48] | in[56]) == 0) {
      const float dc = float(in[0]) * q[0];
      for (int row = 0; row < 8; ++row) v[8 * row] = dc;
      continue;
    }
    for (int row = 0; row < 8; ++row) v[8 * row] = float(in[8 * row]) * q[8 * row];
    inverseAan(v, 8);
  }
  for (int row = 0; row < 8; ++row) {
    float* v = out + 8 * row;
    v[0] += 128.5f;  // level shift, plus one half so that truncation rounds
    inverseAan(v, 1);
  }
#endif
}

namespace {

// 64 workspace values -> 64 samples through the range table.
void samplesOfBlock(const uint8_t* rangeLimit, const float* values, uint8_t* samples) {
#if defined(__SSE2__)
  // The table, computed: i = truncation & 1023; 0..255 -> i, 256..511 -> 255, 512.. -> 0.
  const __m128i low10 = _mm_set1_epi32(1023), half = _mm_set1_epi32(511);
  const __m128i indefinite = _mm_set1_epi32(int32_t(0x80000000u));
  for (int i = 0; i < 64; i += 8) {
    const __m128i t0 = _mm_cvttps_epi32(_mm_loadu_ps(values + i));
    const __m128i t1 = _mm_cvttps_epi32(_mm_loadu_ps(values + i + 4));
    // Values outside the 32-bit range convert to 0x80000000: take the scalar path.
    if (_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi32(t0, indefinite), _mm_cmpeq_epi32(t1, indefinite))) != 0) {
      for (int j = 0; j < 8; ++j) samples[i + j] = rangeLimit[rangeIndex(values[i + j])];
      continue;
    }
    const __m128i i0 = _mm_and_si128(t0, low10), i1 = _mm_and_si128(t1, low10);
    const __m128i high = _mm_packs_epi32(_mm_cmpgt_epi32(i0, half), _mm_cmpgt_epi32(i1, half));
    const __m128i words = _mm_andnot_si128(high, _mm_packs_epi32(i0, i1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(samples + i), _mm_packus_epi16(words, words));
  }
#else
  for (int i = 0; i < 64; ++i) samples[i] = rangeLimit[rangeIndex(values[i])];
#endif
}

// The first byte of pixel (x, y) of the output.
inline uint8_t* outputPixel(const JpegDecoder* s, uint64_t x, uint64_t y) {
  return s->output + int64_t(y) * s->outputStride + int64_t(x * 4);
}

// Whether a block's 63 AC coefficients are all zero.
inline bool onlyDc(const int16_t* block) {
#if defined(__SSE2__)
  const __m128i* v = reinterpret_cast<const __m128i*>(block);
  __m128i any = _mm_or_si128(_mm_or_si128(_mm_loadu_si128(v + 1), _mm_loadu_si128(v + 2)),
                             _mm_or_si128(_mm_loadu_si128(v + 3), _mm_loadu_si128(v + 4)));
  any = _mm_or_si128(any, _mm_or_si128(_mm_or_si128(_mm_loadu_si128(v + 5), _mm_loadu_si128(v + 6)),
                                       _mm_loadu_si128(v + 7)));
  // The first vector without its DC term (the lowest element: shifted out downwards first).
  any = _mm_or_si128(any, _mm_slli_si128(_mm_srli_si128(_mm_loadu_si128(v), 2), 2));
  return _mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) == 0xFFFF;
#else
  for (int i = 1; i < 64; ++i)
    if (block[i] != 0) return false;
  return true;
#endif
}

// Writes one 8 x 8 block of four-byte pixels, clipped to the image.
void writeBlock(JpegDecoder* s, const uint8_t samples[4][64], uint64_t x0, uint64_t y0) {
  const uint64_t width = s->width, height = s->height;
  const uint64_t rows = height - y0 < 8 ? height - y0 : 8;
  const uint64_t columns = width - x0 < 8 ? width - x0 : 8;
  for (uint64_t r = 0; r < rows; ++r) {
    uint8_t* out = outputPixel(s, x0, y0 + r);
#if defined(__SSE2__)
    if (columns == 8) {
      const __m128i c0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples[0] + 8 * r));
      const __m128i c1 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples[1] + 8 * r));
      const __m128i c2 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples[2] + 8 * r));
      const __m128i c3 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples[3] + 8 * r));
      const __m128i pairs01 = _mm_unpacklo_epi8(c0, c1), pairs23 = _mm_unpacklo_epi8(c2, c3);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(pairs01, pairs23));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi16(pairs01, pairs23));
      continue;
    }
#endif
    for (uint64_t x = 0; x < columns; ++x, out += 4)
      for (int c = 0; c < 4; ++c) out[c] = samples[c][8 * r + x];
  }
}

uint32_t outputComponents(const JpegDecoder* s) { return s->componentCount < 4 ? s->componentCount : 4; }

// Bytes of components the stream lacks, in s->samples.
void fillMissingSamples(JpegDecoder* s, uint32_t components) {
  if (components == 0) std::memset(s->samples[0], kMissingColour, 64);
  for (uint32_t c = components > 0 ? components : 1; c < 4; ++c)
    std::memset(s->samples[c], c == 3 ? kMissingAlpha : kMissingColour, 64);
}

// One 8 x 8 position of a full-resolution image: one inverse DCT per component, then the
// pixels. `blocks(c)` gives component c's coefficients.
template <typename Blocks>
inline void writePosition(JpegDecoder* s, uint32_t components, uint64_t x0, uint64_t y0, Blocks blocks) {
  for (uint32_t c = 0; c < components; ++c) {
    const int16_t* block = blocks(c);
    const float* dequant = s->dequant[s->quantSelector[c] & 3];
    if (!s->carefulOnly && onlyDc(block)) {
      // Every step of the flow graph adds or subtracts zeros to the DC term: all 64 samples
      // are the DC's, bit for bit.
      std::memset(s->samples[c], s->rangeLimit[rangeIndex(float(block[0]) * dequant[0] + 128.5f)], 64);
      continue;
    }
    if (s->avx2 && inverseDctSamplesAvx2(block, dequant, s->samples[c])) continue;
    inverseDctBlock(block, dequant, s->workspace[c]);
    samplesOfBlock(s->rangeLimit, s->workspace[c], s->samples[c]);
  }
  if (components == 1) {
    std::memcpy(s->samples[1], s->samples[0], 64);
    std::memcpy(s->samples[2], s->samples[0], 64);
  }
  writeBlock(s, s->samples, x0, y0);
}

// Reports the block row that ends at y0 done; false when the host asks to stop.
inline bool reportRow(JpegDecoder* s, uint64_t y0) {
  return s->progressCallback == nullptr || s->progressCallback(s->progressContext, uint32_t(y0 * 100 / s->height)) != 0;
}

// The output stage when every component is sampled 1 x 1: one inverse DCT per block and
// component, then the block's pixels.
void reconstructFullResolution(JpegDecoder* s, uint32_t components) {
  const uint64_t width = s->width, height = s->height;
  fillMissingSamples(s, components);
  for (uint64_t y0 = 0; y0 < height; y0 += 8) {
    for (uint64_t x0 = 0; x0 < width; x0 += 8)
      writePosition(s, components, x0, y0, [&](uint32_t c) { return coefficientBlock(s, c, y0 / 8, x0 / 8); });
    if (!reportRow(s, y0)) return;
  }
}

// Coefficients of a position the scan did not reach.
alignas(16) constexpr int16_t kNoCoefficients[64] = {};

}  // namespace

void streamPositionsUpTo(JpegDecoder* s, uint64_t position, const int16_t* blocks) {
  const uint64_t columns = blockColumns(s), total = columns * blockRows(s);
  const uint32_t components = outputComponents(s);
  if (s->nextPosition == 0) fillMissingSamples(s, components);
  for (uint64_t p = s->nextPosition; p <= position && p < total && !s->outputStopped; ++p) {
    const uint64_t x0 = p % columns * 8, y0 = p / columns * 8;
    if (p == position)
      writePosition(s, components, x0, y0, [&](uint32_t c) { return blocks + 64 * c; });
    else
      writePosition(s, components, x0, y0, [](uint32_t) { return kNoCoefficients; });
    if (p % columns == columns - 1 && !reportRow(s, y0)) s->outputStopped = true;
  }
  s->nextPosition = position + 1;
}

bool jpegAvx2Available() {
#if defined(__x86_64__) || defined(__i386__)
  return __builtin_cpu_supports("avx2") && inverseDctAvx2Built();
#else
  return false;
#endif
}

void clearCoefficients(JpegDecoder* s) {
  if (s->coefficientsCleared) return;
  std::memset(s->coefficients, 0, size_t(jpegCoefficientBytes(s->width, s->height)));
  s->coefficientsCleared = true;
}

void reconstructImage(JpegDecoder* s) {
  clearCoefficients(s);  // no scan read it
  const uint64_t width = s->width, height = s->height;
  const uint32_t components = outputComponents(s);
  if (s->hMax == 1 && s->vMax == 1) {
    reconstructFullResolution(s, components);
    return;
  }
  uint32_t hShift[4] = {0, 0, 0, 0}, vShift[4] = {0, 0, 0, 0};
  uint32_t hPeriod[4] = {1, 1, 1, 1}, vPeriod[4] = {1, 1, 1, 1};
  for (uint32_t c = 0; c < components; ++c) {
    hPeriod[c] = s->hMax / s->hSampling[c];
    vPeriod[c] = s->vMax / s->vSampling[c];
    while ((1u << hShift[c]) < hPeriod[c]) ++hShift[c];
    while ((1u << vShift[c]) < vPeriod[c]) ++vShift[c];
  }
  // Where byte c of every pixel comes from: a workspace, or a constant when the stream
  // lacks the component (a one-component stream repeats component 0 in bytes 1 and 2).
  const float* source[4] = {nullptr, nullptr, nullptr, nullptr};
  uint8_t constant[4] = {kMissingColour, kMissingColour, kMissingColour, kMissingAlpha};
  uint32_t sourceComponent[4] = {0, 1, 2, 3};
  for (uint32_t c = 0; c < 4; ++c) {
    if (c < components) {
      source[c] = s->workspace[c];
    } else if (components == 1 && c < 3) {
      source[c] = s->workspace[0];
      sourceComponent[c] = 0;
    }
  }

  const uint64_t mcuWidth = 8u * s->hMax, mcuHeight = 8u * s->vMax;
  for (uint64_t my = 0; my < height; my += mcuHeight) {
    for (uint64_t mx = 0; mx < width; mx += mcuWidth) {
      for (uint64_t y0 = my; y0 < my + mcuHeight && y0 < height; y0 += 8) {
        for (uint64_t x0 = mx; x0 < mx + mcuWidth && x0 < width; x0 += 8) {
          const uint64_t by = y0 / 8, bx = x0 / 8;
          for (uint32_t c = 0; c < components; ++c) {
            if (bx % hPeriod[c] == 0 && by % vPeriod[c] == 0)
              inverseDctBlock(coefficientBlock(s, c, by, bx), s->dequant[s->quantSelector[c] & 3], s->workspace[c]);
          }
          const uint64_t yEnd = y0 + 8 < height ? y0 + 8 : height;
          const uint64_t xEnd = x0 + 8 < width ? x0 + 8 : width;
          for (uint64_t y = y0; y < yEnd; ++y) {
            uint8_t* out = outputPixel(s, x0, y);
            for (uint64_t x = x0; x < xEnd; ++x, out += 4) {
              for (uint32_t c = 0; c < 4; ++c) {
                if (source[c] == nullptr) {
                  out[c] = constant[c];
                  continue;
                }
                const uint32_t sc = sourceComponent[c];
                const float value = source[c][((y >> vShift[sc]) & 7) * 8 + ((x >> hShift[sc]) & 7)];
                out[c] = s->rangeLimit[rangeIndex(value)];
              }
            }
          }
        }
      }
    }
    if (s->progressCallback != nullptr &&
        s->progressCallback(s->progressContext, uint32_t(my * 100 / height)) == 0)
      return;
  }
}

}  // namespace vellum
