// Helpers of the JPEG tests: run our encoders and decoder on owned buffers, make images.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "jpeg/jpeg_decode_internal.h"
#include "jpeg/jpeg_encoder.h"

namespace vellum::testing {

using Bytes = std::vector<uint8_t>;

// An encoder context with its coefficient buffer, sized for a level of width0 x height0,
// the way the writer allocates it (one block, record first).
struct EncoderStore {
  std::vector<uint8_t> block;
  JpegEncodeContext* ctx;

  EncoderStore(uint32_t width0, uint32_t height0, uint32_t quality)
      : block(sizeof(JpegEncodeContext) + jpegEncodeCoefficientBytes(width0, height0)) {
    ctx = reinterpret_cast<JpegEncodeContext*>(block.data());
    std::memset(ctx, 0, sizeof(JpegEncodeContext));
    ctx->quality = quality;
    ctx->coefficients = reinterpret_cast<int16_t*>(block.data() + sizeof(JpegEncodeContext));
  }

  // Encodes one level into a fresh area of `room` bytes (0: the stream bound).
  Bytes encode(const uint8_t* pixels, uint32_t width, uint32_t height, bool progressive, uint64_t room = 0) {
    if (room == 0) room = jpegEncodeStreamBound(width, height);
    Bytes out(room);
    ctx->output = out.data();
    ctx->outputEnd = out.data() + out.size();
    ctx->pixels = pixels;
    ctx->width = width;
    ctx->height = height;
    if (progressive)
      encodeJpegProgressive(ctx);
    else
      encodeJpegBaseline(ctx);
    if (ctx->overflowed) return {};
    out.resize(ctx->byteCount);
    return out;
  }
};

inline Bytes encodeLevel(const Bytes& pixels, uint32_t width, uint32_t height, uint32_t quality, bool progressive) {
  EncoderStore store(width, height, quality);
  return store.encode(pixels.data(), width, height, progressive);
}

// A decoder's working memory as the readers allocate it (aligned inside a larger block),
// followed by guard bytes that a decode must never touch. `keepCoefficients` makes every
// stream go through the coefficient buffer (for coefficient()); otherwise a sequential
// stream may be decoded straight into the output.
constexpr size_t kGuardBytes = 256;
constexpr uint8_t kGuard = 0x5A;

struct DecoderStore {
  std::vector<uint8_t> block;
  size_t start = 0;  // where the aligned working memory starts in `block`
  JpegDecoder* state;
  JpegOutput output;
  JpegDecodeResult result;
  bool outputGuardIntact = true;

  DecoderStore(uint32_t width, uint32_t height, bool keepCoefficients = false) {
    const size_t storeBytes = size_t(jpegDecoderBytes(width, height));
    // Deliberately not zero-filled, like the callers' allocations: poisoned.
    block.assign(storeBytes + kJpegDecoderAlignment, 0xA5);
    while (reinterpret_cast<uintptr_t>(block.data() + start) % kJpegDecoderAlignment != 0) ++start;
    block.resize(start + storeBytes);
    block.insert(block.end(), kGuardBytes, kGuard);
    state = jpegDecoderInit(block.data() + start, storeBytes, width, height);
    state->keepCoefficients = keepCoefficients;
  }

  bool storeGuardIntact() const {
    for (size_t i = block.size() - kGuardBytes; i < block.size(); ++i)
      if (block[i] != kGuard) return false;
    return true;
  }

  // Decodes `stream` into a fresh image (pre-filled with `fill`), top row first; the damage
  // report lands in `result`. The stream is copied into a buffer of exactly its size, so
  // that reading past it is caught by the sanitizers.
  Bytes decode(const Bytes& stream, uint8_t fill = 0xEE) {
    const uint64_t size = uint64_t(state->width) * state->height * 4;
    Bytes image(size + kGuardBytes, fill);
    std::memset(image.data() + size, kGuard, kGuardBytes);
    std::unique_ptr<uint8_t[]> input(new uint8_t[stream.size()]);
    if (!stream.empty()) std::memcpy(input.get(), stream.data(), stream.size());
    output.pixels = image.data();
    output.stride = int64_t(state->width) * 4;
    result = decodeJpeg(state, input.get(), uint32_t(stream.size()), output);
    outputGuardIntact = true;
    for (uint64_t i = size; i < image.size(); ++i) outputGuardIntact &= image[i] == kGuard;
    image.resize(size);
    return image;
  }

  // Coefficient of component c at block (by, bx), natural index n.
  int16_t coefficient(uint32_t c, uint64_t by, uint64_t bx, uint32_t n) const {
    const uint64_t rows = (uint64_t(state->height) + 7) / 8, columns = (uint64_t(state->width) + 7) / 8;
    return state->coefficients[((c * rows + by) * columns + bx) * 64 + n];
  }
};

inline Bytes decodeStream(const Bytes& stream, uint32_t width, uint32_t height) {
  DecoderStore store(width, height);
  return store.decode(stream);
}

// Byte c of pixel (x, y) (y = 0 the top row) of a decoded image.
inline uint8_t decodedSample(const Bytes& image, uint32_t width, uint32_t, uint32_t x, uint32_t y, int c) {
  return image[(uint64_t(y) * width + x) * 4 + c];
}

// Pixels of a constant colour.
inline Bytes solidPixels(uint32_t width, uint32_t height, uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  Bytes p(uint64_t(width) * height * 4);
  for (uint64_t i = 0; i < p.size(); i += 4) {
    p[i] = b0;
    p[i + 1] = b1;
    p[i + 2] = b2;
    p[i + 3] = b3;
  }
  return p;
}

// Deterministic noise (xorshift) bytes.
inline Bytes noisePixels(uint32_t width, uint32_t height, uint32_t seed) {
  Bytes p(uint64_t(width) * height * 4);
  uint32_t s = seed * 2654435761u + 12345;
  for (auto& b : p) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    b = uint8_t(s >> 7);
  }
  return p;
}

// A smooth image with some texture: gradients plus a little noise, distinct per component.
inline Bytes smoothPixels(uint32_t width, uint32_t height, uint32_t seed) {
  Bytes p(uint64_t(width) * height * 4);
  uint32_t s = seed * 2654435761u + 777;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      s ^= s << 13;
      s ^= s >> 17;
      s ^= s << 5;
      const int n = int(s % 9) - 4;
      uint8_t* q = &p[(uint64_t(y) * width + x) * 4];
      auto clamp = [](int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); };
      q[0] = clamp(int(x * 255 / (width > 1 ? width - 1 : 1)) + n);
      q[1] = clamp(int(y * 255 / (height > 1 ? height - 1 : 1)) - n);
      q[2] = clamp(int((x + y) * 3 % 256) + n);
      q[3] = clamp(((x / 4 + y / 4) & 1) ? 230 + n : 20 + n);
    }
  }
  return p;
}

}  // namespace vellum::testing
