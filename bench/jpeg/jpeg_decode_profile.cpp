// Decodes our stream of the shared 1024 x 1024 texture a given number of times, for
// profilers (the benchmark's own loop makes instruction counts depend on its timing):
//   valgrind --tool=callgrind --toggle-collect='vellum::decodeJpeg*' build/native/bench/jpeg/jpeg_decode_profile 75 0 1
//   perf record build/native/bench/jpeg/jpeg_decode_profile 100 1 200
// Arguments: quality, progressive (0 or 1), decodes, and "noavx2" to run without the AVX2
// paths (the SSE2 ones every x86 build has). Prints the stream size and a hash of
// the decoded image, so that a change to the decoder can be seen to keep every byte.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "jpeg/jpeg_decode_internal.h"
#include "jpeg/jpeg_decoder.h"
#include "jpeg/jpeg_encoder.h"
#include "support/texture.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s quality progressive decodes [noavx2]\n", argv[0]);
    return 2;
  }
  const uint32_t side = 1024;
  const uint32_t quality = uint32_t(std::atoi(argv[1]));
  const bool progressive = std::atoi(argv[2]) != 0;
  const int decodes = std::atoi(argv[3]);

  const std::vector<uint8_t> pixels = vellum::bench::textureRgba(side, side);
  std::vector<uint8_t> encodeMemory(sizeof(vellum::JpegEncodeContext) + vellum::jpegEncodeCoefficientBytes(side, side));
  std::vector<uint8_t> stream(vellum::jpegEncodeStreamBound(side, side));
  auto* ctx = reinterpret_cast<vellum::JpegEncodeContext*>(encodeMemory.data());
  std::memset(ctx, 0, sizeof *ctx);
  ctx->quality = quality;
  ctx->coefficients = reinterpret_cast<int16_t*>(encodeMemory.data() + sizeof(vellum::JpegEncodeContext));
  ctx->output = stream.data();
  ctx->outputEnd = stream.data() + stream.size();
  ctx->pixels = pixels.data();
  ctx->width = side;
  ctx->height = side;
  progressive ? vellum::encodeJpegProgressive(ctx) : vellum::encodeJpegBaseline(ctx);
  stream.resize(ctx->byteCount);

  const uint64_t bytes = vellum::jpegDecoderBytes(side, side);
  std::vector<uint8_t> memory(size_t(bytes + vellum::kJpegDecoderAlignment));
  uint8_t* start = memory.data();
  while (reinterpret_cast<uintptr_t>(start) % vellum::kJpegDecoderAlignment != 0) ++start;
  vellum::JpegDecoder* decoder = vellum::jpegDecoderInit(start, bytes, side, side);
  if (argc > 4 && std::strcmp(argv[4], "noavx2") == 0) decoder->avx2 = false;
  std::vector<uint8_t> image(size_t(side) * side * 4);
  vellum::JpegOutput output;
  output.pixels = image.data();
  output.stride = int64_t(side) * 4;
  uint32_t flags = 0;
  for (int i = 0; i < decodes; ++i)
    flags |= vellum::decodeJpeg(decoder, stream.data(), uint32_t(stream.size()), output).flags;

  uint64_t hash = 1469598103934665603ull;
  for (uint8_t byte : image) hash = (hash ^ byte) * 1099511628211ull;
  std::printf("stream %zu bytes, flags %u, avx2 %d, image hash %016llx\n", stream.size(), flags, int(decoder->avx2),
              (unsigned long long)hash);
  return 0;
}
