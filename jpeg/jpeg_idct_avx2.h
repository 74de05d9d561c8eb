// The decoder's AVX2 kernel (jpeg_idct_avx2.cpp). This header declares no inline code, so
// that the file compiled for AVX2 shares nothing with the rest of the decoder.
#pragma once

#include <cstdint>

namespace vellum {

// inverseDctBlock and the range clamp of one block on eight AVX2 lanes: 64 samples,
// row-major, bit-identical to the plain path. False (samples unspecified) when a value lies
// outside the 32-bit range, which the scalar clamp handles. Only called when
// jpegAvx2Available().
bool inverseDctSamplesAvx2(const int16_t* coefficients, const float* dequant, uint8_t* samples);

// Whether the file was built with its AVX2 code; asked only on processors that run AVX2.
bool inverseDctAvx2Built();

}  // namespace vellum
