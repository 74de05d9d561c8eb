// Placeholder until the decoder lands: sizes are real, decoding yields a blank image.
#include "jpeg/jpeg_decoder.h"

#include <cstring>

namespace vellum {

uint64_t jpegCoefficientBytes(uint32_t width, uint32_t height) {
  return ((uint64_t(width) + 7) / 8) * ((uint64_t(height) + 7) / 8) * 512;
}

uint64_t jpegDecodeStoreBytes(uint32_t width, uint32_t height) {
  uint64_t bytes = jpegCoefficientBytes(width, height) + sizeof(JpegDecodeState);
  return bytes > uint64_t(SIZE_MAX) / 2 ? 0 : bytes;
}

void decodeJpeg(JpegDecodeState* state) {
  std::memset(state->output, 0, uint64_t(state->width) * state->height * 4);
}

}  // namespace vellum
