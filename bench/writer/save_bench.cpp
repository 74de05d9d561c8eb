// A full save (every level down to 1 x 1) of a 1024 x 1024 RGBA texture in each content
// type. Paletted types include building the palette with the default quantizer.
#include <benchmark/benchmark.h>

#include <vector>

#include "core/blp_writer.h"
#include "support/texture.h"

namespace {

using namespace vellum;

void saveTexture(benchmark::State& state) {
  const auto type = BlpContentType(state.range(0));
  const bool progressive = state.range(1) != 0;
  const uint32_t side = 1024;
  const std::vector<uint8_t> source = bench::textureRgba(side, side);
  std::vector<uint8_t> pixels(source.size()), output(blpOutputCapacity(side, side));
  SaveOptions options;
  options.contentType = type;
  options.progressive = progressive;
  options.jpegQuality = 75;
  uint64_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    pixels = source;
    state.ResumeTiming();
    BlpOutput out;
    out.data = output.data();
    out.capacity = output.size();
    uint64_t length = 0;
    BlpSourceImage image;  // a host's RGBA copy, donated as working memory
    image.width = image.height = side;
    image.layout = BlpPixelLayout::Rgba;
    image.hasAlpha = true;
    image.pixels = pixels.data();
    image.workPixels = pixels.data();
    BlpStatus status = encodeBlpSource(image, options, &out, &length);
    if (status != BlpStatus::Ok) state.SkipWithError(blpStatusText(status));
    bytes = length;
  }
  state.counters["file_bytes"] = double(bytes);
  state.SetLabel(std::string(blpContentTypeLabel(type)) + (progressive ? " progressive" : ""));
}

BENCHMARK(saveTexture)
    ->ArgsProduct({{0, 1, 2, 3, 4, 5, 6}, {0}})
    ->Args({0, 1})
    ->Args({2, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
