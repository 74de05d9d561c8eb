// Time of each palette builder on a 1024 x 1024 texture-like image, and the PSNR of the
// image mapped to its palette (nearest entry by squared distance over bytes 0-2, no
// dithering), beside libimagequant at 256 colours as a reference point.
//   build/<tree>/bench/quantize/quantize_bench
// The noise cases run once each; fastest and median of 5:
//   build/<tree>/bench/quantize/quantize_bench --benchmark_filter=Noise --benchmark_repetitions=5
//     --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "quantize/dl3.h"
#include "quantize/median_cut.h"
#include "quantize/neuquant.h"
#include "support/texture.h"

#ifdef VELLUM_HAVE_IMAGEQUANT
#include <libimagequant.h>
#endif

namespace {

constexpr uint32_t kSide = 1024;

const std::vector<uint8_t>& image() {
  static const std::vector<uint8_t> pixels = vellum::bench::textureRgba(kSide, kSide);
  return pixels;
}

// The hardest case for DL3: independent uniform colours occupy all 32768 five-bit cells and
// about 98 % of the six-bit cells, every one a candidate partner of its neighbours.
const std::vector<uint8_t>& noiseImage() {
  static const std::vector<uint8_t> pixels = [] {
    std::vector<uint8_t> p(uint64_t(kSide) * kSide * 4);
    uint32_t state = 12345;
    for (auto& b : p) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      b = uint8_t(state >> 24);
    }
    return p;
  }();
  return pixels;
}

// PSNR over bytes 0-2 of the image mapped to the first `entries` palette entries.
double mappedPsnr(const std::vector<uint8_t>& pixels, const uint8_t* palette, uint32_t entries) {
  double squared = 0.0;
  const uint64_t count = pixels.size() / 4;
  for (uint64_t p = 0; p < count; ++p) {
    const uint8_t* px = &pixels[p * 4];
    int best = 1 << 30;
    for (uint32_t e = 0; e < entries; ++e) {
      const int d0 = px[0] - palette[e * 4], d1 = px[1] - palette[e * 4 + 1], d2 = px[2] - palette[e * 4 + 2];
      const int d = d0 * d0 + d1 * d1 + d2 * d2;
      if (d < best) best = d;
    }
    squared += best;
  }
  const double mse = squared / (double(count) * 3.0);
  return mse == 0.0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

template <class Build>
void runQuantizer(benchmark::State& state, Build build, const std::vector<uint8_t>& pixels = image()) {
  uint8_t palette[1024] = {};
  uint32_t entries = 0;
  for (auto _ : state) {
    entries = build(pixels, palette);
    benchmark::DoNotOptimize(palette);
  }
  state.counters["colours"] = entries;
  state.counters["PSNR_dB"] = mappedPsnr(pixels, palette, entries);
}

void BM_NeuQuant100(benchmark::State& state) {
  runQuantizer(state, [](const std::vector<uint8_t>& px, uint8_t* pal) {
    vellum::neuQuantPalette(px.data(), px.size() / 4, pal, 100);
    return 256u;
  });
}
void BM_NeuQuant128(benchmark::State& state) {
  runQuantizer(state, [](const std::vector<uint8_t>& px, uint8_t* pal) {
    vellum::neuQuantPalette(px.data(), px.size() / 4, pal, 128);
    return 256u;
  });
}
void BM_Dl3Fast(benchmark::State& state) {
  runQuantizer(state, [](const std::vector<uint8_t>& px, uint8_t* pal) {
    return vellum::dl3Palette(px.data(), px.size() / 4, pal, vellum::Dl3Cells::Fast);
  });
}
void BM_Dl3Slow(benchmark::State& state) {
  runQuantizer(state, [](const std::vector<uint8_t>& px, uint8_t* pal) {
    return vellum::dl3Palette(px.data(), px.size() / 4, pal, vellum::Dl3Cells::Slow);
  });
}
void BM_Dl3FastNoise(benchmark::State& state) {
  runQuantizer(
      state,
      [](const std::vector<uint8_t>& px, uint8_t* pal) {
        return vellum::dl3Palette(px.data(), px.size() / 4, pal, vellum::Dl3Cells::Fast);
      },
      noiseImage());
}
void BM_Dl3SlowNoise(benchmark::State& state) {
  runQuantizer(
      state,
      [](const std::vector<uint8_t>& px, uint8_t* pal) {
        return vellum::dl3Palette(px.data(), px.size() / 4, pal, vellum::Dl3Cells::Slow);
      },
      noiseImage());
}
void BM_MedianCut(benchmark::State& state) {
  runQuantizer(state, [](const std::vector<uint8_t>& px, uint8_t* pal) {
    return vellum::medianCutPalette(pal, px.data(), px.size() / 4);
  });
}

#ifdef VELLUM_HAVE_IMAGEQUANT
// libimagequant on the colour alone (alpha set to 255, as the quantizers above ignore it),
// default speed, 256 colours; its palette is mapped the same way as the others.
void BM_LibImageQuant(benchmark::State& state) {
  std::vector<uint8_t> opaque = image();
  for (size_t p = 3; p < opaque.size(); p += 4) opaque[p] = 255;
  runQuantizer(state, [&opaque](const std::vector<uint8_t>&, uint8_t* pal) {
    liq_attr* attr = liq_attr_create();
    liq_set_max_colors(attr, 256);
    liq_image* img = liq_image_create_rgba(attr, opaque.data(), int(kSide), int(kSide), 0);
    liq_result* result = nullptr;
    uint32_t entries = 0;
    if (liq_image_quantize(img, attr, &result) == LIQ_OK) {
      liq_set_dithering_level(result, 0.0f);
      const liq_palette* palette = liq_get_palette(result);
      entries = palette->count;
      for (uint32_t e = 0; e < entries; ++e) {
        pal[e * 4 + 0] = palette->entries[e].r;
        pal[e * 4 + 1] = palette->entries[e].g;
        pal[e * 4 + 2] = palette->entries[e].b;
        pal[e * 4 + 3] = 255;
      }
      liq_result_destroy(result);
    }
    liq_image_destroy(img);
    liq_attr_destroy(attr);
    return entries;
  });
}
BENCHMARK(BM_LibImageQuant)->Unit(benchmark::kMillisecond)->MinTime(2.0);
#endif

BENCHMARK(BM_NeuQuant100)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_NeuQuant128)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Dl3Fast)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Dl3Slow)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_MedianCut)->Unit(benchmark::kMillisecond)->MinTime(2.0);
double fastest(const std::vector<double>& times) { return *std::min_element(times.begin(), times.end()); }

BENCHMARK(BM_Dl3FastNoise)->Unit(benchmark::kMillisecond)->Iterations(1)->ComputeStatistics("min", fastest);
BENCHMARK(BM_Dl3SlowNoise)->Unit(benchmark::kMillisecond)->Iterations(1)->ComputeStatistics("min", fastest);

}  // namespace

BENCHMARK_MAIN();
