#include "core/blp_thumbnail.h"

#include <cstring>
#include <memory>
#include <new>

namespace vellum {

void blpThumbnailSize(uint32_t width, uint32_t height, uint32_t side, uint32_t* outWidth, uint32_t* outHeight) {
  const uint32_t longer = width > height ? width : height;
  if (side == 0 || longer <= side) {
    *outWidth = width;
    *outHeight = height;
    return;
  }
  auto scaled = [&](uint32_t s) {
    const uint64_t v = (uint64_t(s) * side + longer / 2) / longer;
    return v == 0 ? 1u : uint32_t(v);
  };
  *outWidth = width == longer ? side : scaled(width);
  *outHeight = height == longer ? side : scaled(height);
}

namespace {

// One destination pixel along an axis covers source units [d * s, (d + 1) * s) where a
// source pixel i is [i * n, (i + 1) * n): s source pixels map onto n destination pixels.
struct Span {
  uint32_t first = 0;   // first source pixel
  uint32_t count = 0;   // source pixels touched
  uint32_t weights = 0; // offset of their weights in the axis' weight table
};

// A destination pixel touches at most ceil(s / n) + 1 source pixels, so an axis has fewer
// than s + 2n weights.
struct Axis {
  std::unique_ptr<Span[]> spans;
  std::unique_ptr<uint32_t[]> weights;

  bool build(uint32_t sourceSide, uint32_t side) {
    spans.reset(new (std::nothrow) Span[side]);
    weights.reset(new (std::nothrow) uint32_t[uint64_t(sourceSide) + 2 * uint64_t(side)]);
    if (!spans || !weights) return false;
    uint32_t used = 0;
    for (uint32_t d = 0; d < side; ++d) {
      const uint64_t begin = uint64_t(d) * sourceSide, end = begin + sourceSide;
      Span& span = spans[d];
      span.first = uint32_t(begin / side);
      span.weights = used;
      for (uint64_t i = span.first; i * side < end; ++i) {
        const uint64_t lo = i * side > begin ? i * side : begin;
        const uint64_t hi = (i + 1) * side < end ? (i + 1) * side : end;
        weights[used++] = uint32_t(hi - lo);
        ++span.count;
      }
    }
    return true;
  }
};

}  // namespace

bool boxFilterScale(const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight, int64_t sourceStride,
                    uint8_t* destination, uint32_t width, uint32_t height, int64_t destinationStride,
                    uint32_t channels) {
  if (width == 0 || height == 0 || width > sourceWidth || height > sourceHeight || channels == 0 || channels > 4)
    return false;
  Axis columns, rows;
  const uint64_t sumCount = uint64_t(width) * channels;
  std::unique_ptr<uint64_t[]> sums(new (std::nothrow) uint64_t[sumCount]);
  if (!sums || !columns.build(sourceWidth, width) || !rows.build(sourceHeight, height)) return false;
  // Every destination pixel's weights sum to sourceWidth * sourceHeight; with 8-bit values
  // the sums stay below 2^8 * 2^15 * 2^15 and fit 64 bits.
  const uint64_t total = uint64_t(sourceWidth) * sourceHeight;
  for (uint32_t y = 0; y < height; ++y) {
    std::memset(sums.get(), 0, sumCount * sizeof(uint64_t));
    const Span& rowSpan = rows.spans[y];
    for (uint32_t j = 0; j < rowSpan.count; ++j) {
      const uint64_t rowWeight = rows.weights[rowSpan.weights + j];
      const uint8_t* line = source + int64_t(rowSpan.first + j) * sourceStride;
      for (uint32_t x = 0; x < width; ++x) {
        const Span& span = columns.spans[x];
        uint64_t* sum = &sums[uint64_t(x) * channels];
        for (uint32_t i = 0; i < span.count; ++i) {
          const uint64_t weight = rowWeight * columns.weights[span.weights + i];
          const uint8_t* pixel = line + uint64_t(span.first + i) * channels;
          for (uint32_t c = 0; c < channels; ++c) sum[c] += weight * pixel[c];
        }
      }
    }
    uint8_t* out = destination + int64_t(y) * destinationStride;
    for (uint64_t k = 0; k < sumCount; ++k) out[k] = uint8_t((sums[k] + total / 2) / total);
  }
  return true;
}

}  // namespace vellum
