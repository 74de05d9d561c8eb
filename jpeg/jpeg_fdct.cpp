// The forward DCT of the encoders: the floating-point Arai-Agui-Nakajima flow graph on
// rows then columns, quantization folded into one multiplier per coefficient, truncation
// toward zero. Edge blocks repeat the last column and row of the level. forwardDctBlock is
// the plain reference; the SSE2 and AVX2 kernels do the same operations on vector lanes.
#include <cstring>

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

namespace {

// The plain kernel: each position's samples gathered per component, then forwardDctBlock.
void plainKernel(const uint8_t* const rows[8], uint32_t positions, const float* quantMultiplier, int16_t* out) {
  int32_t samples[4][64];
  for (uint32_t p = 0; p < positions; ++p) {
    for (int i = 0; i < 8; ++i) {
      const uint8_t* pixel = rows[i] + uint64_t(p) * 32;
      for (int j = 0; j < 8; ++j)
        for (int c = 0; c < 4; ++c) samples[c][i * 8 + j] = pixel[j * 4 + c];
    }
    for (uint32_t c = 0; c < 4; ++c) forwardDctBlock(samples[c], quantMultiplier, out + (uint64_t(p) * 4 + c) * 64);
  }
}

bool processorRunsAvx2() {
#if defined(__x86_64__) || defined(__i386__)
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

}  // namespace

FdctKernel fdctKernel(FdctPath path) {
  switch (path) {
    case FdctPath::Plain: return &plainKernel;
    case FdctPath::Sse2: return sse2FdctKernel();
    case FdctPath::Avx2: return processorRunsAvx2() ? avx2FdctKernel() : nullptr;
  }
  return nullptr;
}

FdctKernel fastestFdctKernel() {
  if (FdctKernel avx2 = fdctKernel(FdctPath::Avx2)) return avx2;
  if (FdctKernel sse2 = fdctKernel(FdctPath::Sse2)) return sse2;
  return &plainKernel;
}

void forwardDctQuantizeRows(JpegEncodeContext* ctx, FdctKernel kernel, uint64_t firstRow, uint64_t rowCount) {
  const uint64_t width = ctx->width, height = ctx->height;
  const uint64_t columns = (width + 7) / 8;
  const uint64_t whole = width / 8;  // positions with all 8 columns inside the level
  for (uint64_t by = firstRow; by < firstRow + rowCount; ++by) {
    // Rows at or beyond the height repeat the last row.
    const uint8_t* rows[8];
    for (uint64_t i = 0; i < 8; ++i) {
      const uint64_t y = by * 8 + i < height ? by * 8 + i : height - 1;
      rows[i] = ctx->pixels + y * width * 4;
    }
    int16_t* out = encodeBlock(ctx, by * columns, 0);
    if (whole > 0) kernel(rows, uint32_t(whole), ctx->quantMultiplier, out);
    if (columns > whole) {
      // The last position: columns at or beyond the width repeat the last column.
      uint8_t edge[8][32];
      const uint8_t* edgeRows[8];
      for (int i = 0; i < 8; ++i) {
        for (uint64_t j = 0; j < 8; ++j) {
          const uint64_t x = whole * 8 + j < width ? whole * 8 + j : width - 1;
          std::memcpy(edge[i] + j * 4, rows[i] + x * 4, 4);
        }
        edgeRows[i] = edge[i];
      }
      kernel(edgeRows, 1, ctx->quantMultiplier, out + whole * 256);
    }
  }
}

void forwardDctQuantize(JpegEncodeContext* ctx) {
  forwardDctQuantizeRows(ctx, fastestFdctKernel(), 0, (uint64_t(ctx->height) + 7) / 8);
}

}  // namespace vellum
