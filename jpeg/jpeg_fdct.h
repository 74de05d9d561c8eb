// The forward DCT with quantization of the encoders (jpeg_fdct.cpp) and its kernels: the
// plain reference, SSE2 (jpeg_fdct_sse2.cpp) and AVX2 (jpeg_fdct_avx2.cpp). This header
// declares no inline code, so that the file compiled for AVX2 shares nothing with the rest.
#pragma once

#include <cstdint>

#include "jpeg/jpeg_encoder.h"

namespace vellum {

// Forward DCT and quantization of one 8 x 8 block of samples (row-major) into 64
// coefficients in zig-zag order: the plain reference of every kernel below.
void forwardDctBlock(const int32_t* samples, const float* quantMultiplier, int16_t* out);

// A kernel transforms `positions` adjacent block positions of one block row: rows[i] points
// at the first pixel of the row's 8 pixel rows, each holding 8 * positions pixels of 4
// bytes. It writes the 4 components of each position as 4 consecutive blocks from `out`
// on (the coefficient buffer's layout), every coefficient equal to forwardDctBlock's.
using FdctKernel = void (*)(const uint8_t* const rows[8], uint32_t positions, const float* quantMultiplier,
                            int16_t* out);

enum class FdctPath : uint8_t { Plain, Sse2, Avx2 };

// The kernel of a path, or nullptr when this build or this processor lacks it.
FdctKernel fdctKernel(FdctPath path);
// The fastest kernel this processor runs (AVX2 when present, else SSE2, else plain).
FdctKernel fastestFdctKernel();

// Fills block rows firstRow .. firstRow + rowCount - 1 of the coefficient buffer from the
// pixels. Edge blocks repeat the last column and row of the level.
void forwardDctQuantizeRows(JpegEncodeContext* ctx, FdctKernel kernel, uint64_t firstRow, uint64_t rowCount);

// Fills the whole coefficient buffer with the fastest kernel.
void forwardDctQuantize(JpegEncodeContext* ctx);

// The kernels of the two vector files; nullptr when the file was built without them.
FdctKernel sse2FdctKernel();
FdctKernel avx2FdctKernel();

}  // namespace vellum
