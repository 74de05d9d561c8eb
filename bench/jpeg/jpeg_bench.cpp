// Encode and decode of one 1024 x 1024 four-component level of the shared texture, ours and
// libjpeg-turbo's (optimised Huffman tables, CMYK in and out, i.e. no colour transform),
// at qualities 75 and 100, baseline and progressive. Run (fastest and median of 5):
//   build/<tree>/bench/jpeg/jpeg_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
// Encoders only, the repetitions of ours and libjpeg-turbo's interleaved in one run (fair on
// a machine shared with other work):
//   build/<tree>/bench/jpeg/jpeg_bench --benchmark_filter=Encode --benchmark_repetitions=5
//     --benchmark_report_aggregates_only=true --benchmark_enable_random_interleaving=true
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>

#include "jpeg/jpeg_decode_internal.h"
#include "jpeg/jpeg_decoder.h"
#include "jpeg/jpeg_encoder.h"
#include "support/texture.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kSide = 1024;

const Bytes& texture() {
  static const Bytes pixels = vellum::bench::textureRgba(kSide, kSide);
  return pixels;
}

struct Encoder {
  std::vector<uint8_t> store;
  Bytes area;
  vellum::JpegEncodeContext* ctx;

  explicit Encoder(uint32_t quality)
      : store(sizeof(vellum::JpegEncodeContext) + vellum::jpegEncodeCoefficientBytes(kSide, kSide)),
        area(vellum::jpegEncodeStreamBound(kSide, kSide)) {
    ctx = reinterpret_cast<vellum::JpegEncodeContext*>(store.data());
    std::memset(ctx, 0, sizeof *ctx);
    ctx->quality = quality;
    ctx->coefficients = reinterpret_cast<int16_t*>(store.data() + sizeof(vellum::JpegEncodeContext));
  }

  Bytes encode(bool progressive) {
    ctx->output = area.data();
    ctx->outputEnd = area.data() + area.size();
    ctx->pixels = texture().data();
    ctx->width = kSide;
    ctx->height = kSide;
    progressive ? vellum::encodeJpegProgressive(ctx) : vellum::encodeJpegBaseline(ctx);
    return Bytes(area.begin(), area.begin() + ctx->byteCount);
  }
};

Bytes libjpegEncode(int quality, bool progressive) {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = kSide;
  info.image_height = kSide;
  info.input_components = 4;
  info.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  info.optimize_coding = TRUE;
  if (progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < kSide) {
    JSAMPROW row = const_cast<uint8_t*>(texture().data()) + size_t(info.next_scanline) * kSide * 4;
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  Bytes out(buffer, buffer + size);
  free(buffer);
  return out;
}

void libjpegDecode(const Bytes& stream, Bytes& image) {
  jpeg_decompress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, stream.data(), (unsigned long)stream.size());
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_CMYK;
  jpeg_start_decompress(&info);
  while (info.output_scanline < info.output_height) {
    JSAMPROW rows[16];
    for (int i = 0; i < 16; ++i) rows[i] = image.data() + size_t(info.output_scanline + i) * kSide * 4;
    jpeg_read_scanlines(&info, rows, 16);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
}

void setCounters(benchmark::State& state) {
  state.SetItemsProcessed(int64_t(state.iterations()) * kSide * kSide);
}

void BM_EncodeOurs(benchmark::State& state) {
  Encoder encoder(uint32_t(state.range(0)));
  const bool progressive = state.range(1) != 0;
  size_t bytes = 0;
  for (auto _ : state) bytes = encoder.encode(progressive).size();
  state.counters["bytes"] = double(bytes);
  setCounters(state);
}

void BM_EncodeLibjpeg(benchmark::State& state) {
  size_t bytes = 0;
  for (auto _ : state) bytes = libjpegEncode(int(state.range(0)), state.range(1) != 0).size();
  state.counters["bytes"] = double(bytes);
  setCounters(state);
}

// A decoder's working memory, aligned inside a larger block.
struct DecoderMemory {
  std::vector<uint8_t> block;
  vellum::JpegDecoder* decoder;
  DecoderMemory(uint32_t width, uint32_t height)
      : block(size_t(vellum::jpegDecoderBytes(width, height) + vellum::kJpegDecoderAlignment)) {
    uint8_t* start = block.data();
    while (reinterpret_cast<uintptr_t>(start) % vellum::kJpegDecoderAlignment != 0) ++start;
    decoder = vellum::jpegDecoderInit(start, vellum::jpegDecoderBytes(width, height), width, height);
  }
};

void decodeOurs(benchmark::State& state, bool avx2) {
  Encoder encoder(uint32_t(state.range(0)));
  const Bytes stream = encoder.encode(state.range(1) != 0);
  DecoderMemory memory(kSide, kSide);
  memory.decoder->avx2 = memory.decoder->avx2 && avx2;
  Bytes image(size_t(kSide) * kSide * 4);
  vellum::JpegOutput output;
  output.pixels = image.data();
  output.stride = int64_t(kSide) * 4;
  for (auto _ : state) {
    vellum::decodeJpeg(memory.decoder, stream.data(), uint32_t(stream.size()), output);
    benchmark::DoNotOptimize(image.data());
  }
  setCounters(state);
}

void BM_DecodeOurs(benchmark::State& state) { decodeOurs(state, true); }
// Without the AVX2 paths (the SSE2 ones every x86 build has): before and after in one run.
void BM_DecodeOursNoAvx2(benchmark::State& state) { decodeOurs(state, false); }

// libjpeg-turbo decoding the same stream (ours), its default (SIMD integer) inverse DCT.
void BM_DecodeLibjpeg(benchmark::State& state) {
  Encoder encoder(uint32_t(state.range(0)));
  const Bytes stream = encoder.encode(state.range(1) != 0);
  Bytes image(size_t(kSide) * kSide * 4);
  for (auto _ : state) {
    libjpegDecode(stream, image);
    benchmark::DoNotOptimize(image.data());
  }
  setCounters(state);
}

// A hostile stream: 4096 x 4096, thousands of progressive scans whose bits match no code.
// The block budget (32 decodes per block position) bounds the work.
void BM_DecodeOursHostile(benchmark::State& state) {
  const uint32_t side = 4096;
  Bytes stream = {0xFF, 0xD8, 0xFF, 0xC2, 0x00, 0x14, 0x08, 0x10, 0x00, 0x10, 0x00, 0x04,
                  0x00, 0x11, 0x00, 0x01, 0x11, 0x00, 0x02, 0x11, 0x00, 0x03, 0x11, 0x00};
  for (int i = 0; i < 5000; ++i) {
    const uint8_t c = uint8_t(i % 4);
    const Bytes scan = {0xFF, 0xDA, 0x00, 0x08, 0x01, c, 0x00, 0x01, 0x3F, 0x10, 0x00, 0x01, 0x02};
    stream.insert(stream.end(), scan.begin(), scan.end());
  }
  stream.push_back(0xFF);
  stream.push_back(0xD9);
  DecoderMemory memory(side, side);
  Bytes image(size_t(side) * side * 4);
  vellum::JpegOutput output;
  output.pixels = image.data();
  output.stride = int64_t(side) * 4;
  for (auto _ : state) {
    vellum::decodeJpeg(memory.decoder, stream.data(), uint32_t(stream.size()), output);
    benchmark::DoNotOptimize(image.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * side * side);
}

double fastest(const std::vector<double>& times) { return *std::min_element(times.begin(), times.end()); }

void qualities(benchmark::internal::Benchmark* b) {
  for (int progressive : {0, 1})
    for (int quality : {75, 100}) b->Args({quality, progressive});
  b->ArgNames({"quality", "progressive"})->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest);
}

BENCHMARK(BM_EncodeOurs)->Apply(qualities);
BENCHMARK(BM_EncodeLibjpeg)->Apply(qualities);
BENCHMARK(BM_DecodeOurs)->Apply(qualities);
BENCHMARK(BM_DecodeOursNoAvx2)->Apply(qualities);
BENCHMARK(BM_DecodeLibjpeg)->Apply(qualities);
BENCHMARK(BM_DecodeOursHostile)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
