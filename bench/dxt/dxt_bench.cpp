// DXT compression of a 1024 x 1024 texture level: compressDxtLevel (bands on threads, our
// colour fit and alpha encoder) against a plain one-thread loop of squish::CompressMasked
// over the same level; the colour fit alone in each lane width against libsquish; and the
// DXT5 alpha encoder alone, against the plain exhaustive search.
//
//   build/native/bench/dxt/dxt_bench --benchmark_filter='Level|Squish' --benchmark_repetitions=5
//   build/native/bench/dxt/dxt_bench --benchmark_filter=ColourFit --benchmark_repetitions=5
//
// The machine is shared: the level benchmarks also report the fastest repetition ("min"),
// the figure least disturbed by other processes.
#include <benchmark/benchmark.h>
#include <squish.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "dxt/alpha_blocks.h"
#include "dxt/alpha_reference.h"
#include "dxt/colour_fit.h"
#include "dxt/dxt_bands.h"
#include "dxt/dxt_compress.h"
#include "support/texture.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSide = 1024;
constexpr int64_t kBlocks = (kSide / 4) * (kSide / 4);

const Bytes& rgbaTexture() {
  static const Bytes pixels = vellum::bench::textureRgba(kSide, kSide);
  return pixels;
}

// The same texture as the writer hands it to DXT1: an image without alpha has alpha 255.
const Bytes& opaqueTexture() {
  static const Bytes pixels = [] {
    Bytes p = rgbaTexture();
    for (size_t i = 3; i < p.size(); i += 4) p[i] = 255;
    return p;
  }();
  return pixels;
}

const Bytes& texture(bool opaque) { return opaque ? opaqueTexture() : rgbaTexture(); }

void gather(const Bytes& pixels, uint32_t bx, uint32_t by, uint8_t block[64]) {
  for (uint32_t row = 0; row < 4; ++row) std::memcpy(block + 16 * row, &pixels[((by + row) * kSide + bx) * 4], 16);
}

double fastest(const std::vector<double>& v) { return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end()); }

// compressDxtLevel: args (alphaFlag, opaque input).
void BM_CompressDxtLevel(benchmark::State& state) {
  const uint32_t alphaFlag = uint32_t(state.range(0));
  const Bytes& pixels = texture(state.range(1) != 0);
  Bytes out(size_t(kBlocks) * (alphaFlag ? 16 : 8));
  for (auto _ : state) {
    vellum::compressDxtLevel(pixels.data(), out.data(), kSide, kSide, alphaFlag);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kBlocks);
}

// The same level in one band on the calling thread (our code, no threads).
void BM_CompressDxtRowsOneThread(benchmark::State& state) {
  const uint32_t alphaFlag = uint32_t(state.range(0));
  const Bytes& pixels = texture(state.range(1) != 0);
  Bytes out(size_t(kBlocks) * (alphaFlag ? 16 : 8));
  for (auto _ : state) {
    vellum::compressDxtRows(pixels.data(), out.data(), kSide, kSide, alphaFlag);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kBlocks);
}

// The plain loop: one thread, squish::CompressMasked on every block, nothing else.
void BM_SquishLoopOneThread(benchmark::State& state) {
  const int flags = state.range(0) ? squish::kDxt5 : squish::kDxt1;
  const Bytes& pixels = texture(state.range(1) != 0);
  Bytes out(size_t(kBlocks) * (state.range(0) ? 16 : 8));
  for (auto _ : state) {
    uint8_t* o = out.data();
    uint8_t block[64];
    for (uint32_t by = 0; by < kSide; by += 4) {
      for (uint32_t bx = 0; bx < kSide; bx += 4) {
        gather(pixels, bx, by, block);
        squish::CompressMasked(block, 0xFFFF, o, flags);
        o += state.range(0) ? 16 : 8;
      }
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kBlocks);
}

// One band of the level's four, alone on one thread: args (band, alphaFlag, opaque). With
// two free cores the level cannot take less than max(sum / 2, largest band).
void BM_CompressDxtBand(benchmark::State& state) {
  const vellum::DxtBandPlan plan = vellum::planDxtBands(kSide, kSide);
  const vellum::DxtBand band = plan.bands[state.range(0)];
  const uint32_t alphaFlag = uint32_t(state.range(1));
  const Bytes& pixels = texture(state.range(2) != 0);
  Bytes out(size_t(kBlocks) * (alphaFlag ? 16 : 8));
  for (auto _ : state) {
    vellum::compressDxtRows(&pixels[size_t(band.firstRow) * kSide * 4], out.data(), band.rows, kSide, alphaFlag);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_CompressDxtBand)
    ->ArgNames({"band", "dxt5", "opaque"})
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1}, {0}})
    ->Args({0, 0, 1})
    ->Args({1, 0, 1})
    ->Args({2, 0, 1})
    ->Args({3, 0, 1})
    ->Unit(benchmark::kMillisecond);

#define LEVEL_ARGS                                                                                  \
  ArgNames({"dxt5", "opaque"})->Args({0, 0})->Args({1, 0})->Args({0, 1})->Unit(benchmark::kMillisecond) \
      ->UseRealTime()->MeasureProcessCPUTime()->ComputeStatistics("min", fastest)
BENCHMARK(BM_CompressDxtLevel)->LEVEL_ARGS;
BENCHMARK(BM_CompressDxtRowsOneThread)->LEVEL_ARGS;
BENCHMARK(BM_SquishLoopOneThread)->LEVEL_ARGS;

// The colour half alone, one thread, on the texture's top 256 rows (16 384 blocks): args
// (implementation, kind). Implementations: 0 one float, 1 SSE2, 2 AVX2, 3 AVX-512 (skipped
// where the processor lacks it), 4 the plain loops, 5 libsquish's CompressMasked. Kinds: 0
// four colours (DXT5's colour half) on the RGBA texture, 1 DXT1 on the opaque texture.
void BM_ColourFit(benchmark::State& state) {
  const int implementation = int(state.range(0));
  const bool dxt1 = state.range(1) != 0;
  const Bytes& pixels = texture(dxt1);
  const uint32_t rows = 256, count = (kSide / 4) * (rows / 4);
  std::vector<uint8_t> blocks(size_t(count) * 64);
  for (uint32_t b = 0; b < count; ++b) gather(pixels, 4 * (b % (kSide / 4)), 4 * (b / (kSide / 4)), &blocks[64 * b]);
  const vellum::dxt::ClusterSearch* lanes[4] = {vellum::dxt::clusterSearchScalar(), vellum::dxt::clusterSearchSse2(),
                                                vellum::dxt::clusterSearchAvx2(), vellum::dxt::clusterSearchAvx512()};
  if (implementation < 4 && lanes[implementation] == nullptr) {
    state.SkipWithError("not on this processor");
    return;
  }
  const auto kind = dxt1 ? vellum::dxt::ColourBlockKind::Dxt1Opaque : vellum::dxt::ColourBlockKind::FourColour;
  uint8_t out[16];
  for (auto _ : state) {
    for (uint32_t b = 0; b < count; ++b) {
      const uint8_t* block = &blocks[64 * size_t(b)];
      if (implementation < 4) vellum::dxt::compressColourBlock(block, 0xFFFF, kind, *lanes[implementation], out);
      else if (implementation == 4) vellum::dxt::compressColourBlockPlain(block, 0xFFFF, kind, out);
      else squish::CompressMasked(block, 0xFFFF, out, dxt1 ? squish::kDxt1 : squish::kDxt5);
      benchmark::DoNotOptimize(out);
    }
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_ColourFit)
    ->ArgNames({"impl", "dxt1"})
    ->ArgsProduct({{0, 1, 2, 3, 4, 5}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->ComputeStatistics("min", fastest);

// The alpha encoder alone over every block of the texture.
void BM_AlphaBlockDxt5Texture(benchmark::State& state) {
  const Bytes& pixels = rgbaTexture();
  std::vector<uint8_t> blocks(size_t(kBlocks) * 64);
  for (uint32_t b = 0; b < kBlocks; ++b) gather(pixels, 4 * (b % (kSide / 4)), 4 * (b / (kSide / 4)), &blocks[64 * b]);
  uint8_t out[8];
  for (auto _ : state) {
    for (int64_t b = 0; b < kBlocks; ++b) {
      vellum::compressAlphaBlockDxt5(&blocks[64 * size_t(b)], 0xFFFF, out);
      benchmark::DoNotOptimize(out);
    }
  }
  state.SetItemsProcessed(state.iterations() * kBlocks);
}
BENCHMARK(BM_AlphaBlockDxt5Texture)->Unit(benchmark::kMillisecond);

// Per-block cost on the test families, ours (arg 1 = 0) and the plain search (arg 1 = 1).
void BM_AlphaBlockDxt5Family(benchmark::State& state) {
  const auto family = vellum::testing::AlphaFamily(state.range(0));
  const bool plain = state.range(1) != 0;
  std::mt19937 rng(99);
  std::vector<vellum::testing::AlphaCase> cases;
  for (int i = 0; i < 256; ++i) cases.push_back(vellum::testing::makeAlphaCase(family, rng));
  uint8_t out[8];
  for (auto _ : state) {
    for (const auto& c : cases) {
      if (plain) vellum::testing::referenceAlphaBlockDxt5(c.pixels, c.mask, out);
      else vellum::compressAlphaBlockDxt5(c.pixels, c.mask, out);
      benchmark::DoNotOptimize(out);
    }
  }
  state.SetItemsProcessed(state.iterations() * int64_t(cases.size()));
}
BENCHMARK(BM_AlphaBlockDxt5Family)
    ->ArgNames({"family", "plain"})
    ->ArgsProduct({{0, 1, 2, 3, 4, 5}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
