// Decoding level 0 of a 1024 x 1024 texture saved in each content type: row by row through
// the reader (the XnView path: rows in order into one row buffer) and whole through the
// public library into a caller buffer. The files are saved once, outside the timing.
#include <benchmark/benchmark.h>

#include <vector>

#include "core/blp_reader.h"
#include "core/blp_writer.h"
#include "support/texture.h"
#include "vellum/vellum.h"

namespace {

using namespace vellum;

constexpr uint32_t kSide = 1024;

const std::vector<uint8_t>& savedTexture(BlpContentType type) {
  static std::vector<uint8_t> files[kBlpContentTypeCount];
  std::vector<uint8_t>& file = files[int(type)];
  if (file.empty()) {
    std::vector<uint8_t> pixels = bench::textureRgba(kSide, kSide);
    std::vector<uint8_t> output(blpOutputCapacity(kSide, kSide));
    BlpOutput out;
    out.data = output.data();
    out.capacity = output.size();
    BlpSourceImage image;
    image.width = image.height = kSide;
    image.layout = BlpPixelLayout::Rgba;
    image.hasAlpha = true;
    image.pixels = pixels.data();
    SaveOptions options;
    options.contentType = type;
    options.jpegQuality = 75;
    options.quantizer = QuantizerKind::MedianCut;
    uint64_t length = 0;
    if (encodeBlpSource(image, options, &out, &length) == BlpStatus::Ok)
      file.assign(output.begin(), output.begin() + length);
  }
  return file;
}

void readerRows(benchmark::State& state) {
  const std::vector<uint8_t>& file = savedTexture(BlpContentType(state.range(0)));
  std::vector<uint8_t> row(kSide * 4);
  for (auto _ : state) {
    BlpReader reader;
    BlpInfo info;
    if (blpReaderOpen(&reader, memorySource(file.data(), file.size())) != BlpStatus::Ok ||
        blpReaderDescribe(&reader, &info) != BlpStatus::Ok) {
      state.SkipWithError("cannot read");
      break;
    }
    for (uint32_t y = 0; y < info.height; ++y) blpReaderReadRow(&reader, y, row.data());
    benchmark::DoNotOptimize(row.data());
    blpReaderClose(&reader);
  }
  state.SetLabel(blpContentTypeLabel(BlpContentType(state.range(0))));
}

void libraryDecode(benchmark::State& state) {
  const std::vector<uint8_t>& file = savedTexture(BlpContentType(state.range(0)));
  std::vector<uint8_t> pixels(size_t(kSide) * kSide * 4);
  for (auto _ : state) {
    vellum_file* f = nullptr;
    if (vellum_open_memory(file.data(), file.size(), &f) != VELLUM_OK ||
        vellum_decode_level(f, 0, VELLUM_LAYOUT_RGBA, pixels.data(), kSide * 4, nullptr) != VELLUM_OK) {
      state.SkipWithError("cannot decode");
      vellum_close(f);
      break;
    }
    benchmark::DoNotOptimize(pixels.data());
    vellum_close(f);
  }
  state.SetLabel(blpContentTypeLabel(BlpContentType(state.range(0))));
}

BENCHMARK(readerRows)->DenseRange(0, kBlpContentTypeCount - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(libraryDecode)->DenseRange(0, kBlpContentTypeCount - 1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
