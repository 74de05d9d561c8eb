// The output stage: the floating-point Arai-Agui-Nakajima inverse DCT (dequantization and
// scale factors folded into one multiplier per coefficient), clamping through the range
// table, upsampling by pixel replication and bottom-up rows.
#include <cstring>

#include "jpeg/jpeg_decode_internal.h"

namespace vellum {

namespace {

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

}  // namespace

void inverseDctBlock(const int16_t* coefficients, const float* dequant, float* out) {
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
}

void reconstructImage(JpegDecodeState* s) {
  const uint64_t width = s->width, height = s->height;
  const uint32_t components = s->componentCount < 4 ? s->componentCount : 4;
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
            uint8_t* out = s->output + ((height - 1 - y) * width + x0) * 4;
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
