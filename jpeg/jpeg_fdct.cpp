// The forward DCT of the encoders: the floating-point Arai-Agui-Nakajima flow graph on
// rows then columns, quantization folded into one multiplier per coefficient, truncation
// toward zero. Edge blocks repeat the last column and row of the level.
#include "jpeg/jpeg_encode_internal.h"
#include "jpeg/jpeg_tables.h"

namespace vellum {

namespace {

// The AAN forward flow graph on the 8 values t0..t7 already formed as sums and differences
// (t0 = d0 + d7, t7 = d0 - d7, ...); writes the 8 outputs spaced `stride` apart. `shift`
// is subtracted from output 0 (the level shift of a row: 8 x 128).
inline void forwardAan(float t0, float t1, float t2, float t3, float t4, float t5, float t6, float t7,
                       float shift, float* out, int stride) {
  // Even part.
  const float u10 = t0 + t3, u13 = t0 - t3, u11 = t1 + t2, u12 = t1 - t2;
  out[0] = u10 + u11 - shift;
  out[4 * stride] = u10 - u11;
  const float z1 = (u12 + u13) * 0.70710677f;
  out[2 * stride] = u13 + z1;
  out[6 * stride] = u13 - z1;
  // Odd part.
  const float s45 = t4 + t5, s56 = t5 + t6, s67 = t6 + t7;
  const float z5 = (s45 - s67) * 0.38268343f;
  const float z2 = 0.5411961f * s45 + z5;
  const float z4 = 1.306563f * s67 + z5;
  const float z3 = s56 * 0.70710677f;
  const float z11 = t7 + z3, z13 = t7 - z3;
  out[5 * stride] = z13 + z2;
  out[3 * stride] = z13 - z2;
  out[1 * stride] = z11 + z4;
  out[7 * stride] = z11 - z4;
}

}  // namespace

void forwardDctBlock(const int32_t* samples, const float* quantMultiplier, int16_t* out) {
  float work[64];
  for (int row = 0; row < 8; ++row) {
    const int32_t* d = samples + 8 * row;
    // Sums of the integer samples, then converted to float.
    forwardAan(float(d[0] + d[7]), float(d[1] + d[6]), float(d[2] + d[5]), float(d[3] + d[4]),
               float(d[3] - d[4]), float(d[2] - d[5]), float(d[1] - d[6]), float(d[0] - d[7]), 1024.0f,
               work + 8 * row, 1);
  }
  for (int column = 0; column < 8; ++column) {
    const float* d = work + column;
    // The column pass has no level shift; subtracting 0 leaves every value unchanged.
    forwardAan(d[0] + d[56], d[8] + d[48], d[16] + d[40], d[24] + d[32], d[24] - d[32], d[16] - d[40],
               d[8] - d[48], d[0] - d[56], 0.0f, work + column, 8);
  }
  for (int n = 0; n < 64; ++n) out[naturalToZigzag[n]] = int16_t(int32_t(work[n] * quantMultiplier[n]));
}

void forwardDctQuantize(JpegEncodeContext* ctx) {
  const uint64_t width = ctx->width, height = ctx->height;
  const uint64_t columns = (width + 7) / 8;
  int32_t samples[4][64];
  uint64_t block = 0;
  for (uint64_t y = 0; y < height; y += 8) {
    // Rows at or beyond the height repeat the last row.
    const uint8_t* rows[8];
    for (uint64_t i = 0; i < 8; ++i) {
      const uint64_t row = y + i < height ? y + i : height - 1;
      rows[i] = ctx->pixels + row * width * 4;
    }
    for (uint64_t bx = 0; bx < columns; ++bx, ++block) {
      const uint64_t x = bx * 8;
      for (int i = 0; i < 8; ++i) {
        for (uint64_t j = 0; j < 8; ++j) {
          // Columns at or beyond the width repeat the last column.
          const uint8_t* p = rows[i] + (x + j < width ? x + j : width - 1) * 4;
          for (int c = 0; c < 4; ++c) samples[c][i * 8 + j] = p[c];
        }
      }
      for (uint32_t c = 0; c < 4; ++c)
        forwardDctBlock(samples[c], ctx->quantMultiplier, encodeBlock(ctx, block, c));
    }
  }
}

}  // namespace vellum
