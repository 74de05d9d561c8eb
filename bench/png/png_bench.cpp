// What `vellum decode` spends on a 4096 x 4096 RGBA texture: the BLP decode of level 0 (for
// the default format, DXT5 and paletted content) and the PNG write of the decoded pixels at
// several libdeflate levels, beside libspng at zlib's default level (the usual PNG writer's
// choice) for time and size. Two images: the benchmarks' shared texture (bench/support,
// grain of +-12 in every pixel, hard for any PNG compressor) and the demo texture of
// `vellum generate` (image argument 0 and 1). The goal: the PNG write at the default level costs at most
// twice the decode, for a file at most 10 % larger than libspng's. Times are process CPU
// time, so other load on the machine does not count; the `bytes` counter is the file size.
#include <benchmark/benchmark.h>

#include <spng.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"  // makeDemoTexture
#include "cli/png_io.h"
#include "core/blp_writer.h"
#include "support/texture.h"
#include "vellum/vellum.h"

namespace {

using namespace vellum;

constexpr uint32_t kSide = 4096;

const std::vector<uint8_t>& texture(int image) {
  static std::vector<uint8_t> pixels[2];
  std::vector<uint8_t>& p = pixels[image];
  if (p.empty()) {
    if (image == 0) {
      p = bench::textureRgba(kSide, kSide);
    } else {
      p.resize(size_t(kSide) * kSide * 4);
      cli::makeDemoTexture(kSide, kSide, p.data());
    }
  }
  return p;
}

const char* imageName(int image) { return image == 0 ? "bench texture" : "demo texture"; }

// Level 0 only (the decode benchmarked is level 0's); the quickest DXT fit and quantizer,
// since only the decode is timed.
const std::vector<uint8_t>& savedTexture(BlpContentType type, int picture) {
  static std::vector<uint8_t> files[2][kBlpContentTypeCount];
  std::vector<uint8_t>& file = files[picture][int(type)];
  if (file.empty()) {
    std::vector<uint8_t> output(blpOutputCapacity(kSide, kSide));
    BlpOutput out;
    out.data = output.data();
    out.capacity = output.size();
    BlpSourceImage image;
    image.width = image.height = kSide;
    image.layout = BlpPixelLayout::Rgba;
    image.hasAlpha = true;
    image.pixels = texture(picture).data();
    SaveOptions options;
    options.contentType = type;
    options.jpegQuality = 100;  // the default of `vellum encode`
    options.quantizer = QuantizerKind::MedianCut;
    options.maxMipLevels = 1;
    BlpWriterChoices choices;
    choices.dxtFit = DxtColourFit::Range;
    uint64_t length = 0;
    if (encodeBlpLevels(&image, 1, options, choices, &out, &length) == BlpStatus::Ok)
      file.assign(output.begin(), output.begin() + length);
  }
  return file;
}

void blpDecode(benchmark::State& state) {
  const std::vector<uint8_t>& file = savedTexture(BlpContentType(state.range(0)), int(state.range(1)));
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
  state.SetLabel(std::string(blpContentTypeLabel(BlpContentType(state.range(0)))) + ", " + imageName(int(state.range(1))));
}

void textureRow(void* context, uint32_t y, uint8_t* destination) {
  std::memcpy(destination, static_cast<const uint8_t*>(context) + uint64_t(y) * kSide * 4, size_t(kSide) * 4);
}

// The file goes to memory allocated (and touched) once, before the timing, so that only
// the writer's own work is measured; its size is reported.
void vellumPng(benchmark::State& state) {
  const int level = int(state.range(0)), image = int(state.range(1));
  static std::vector<char> room(size_t(kSide) * kSide * 5);
  size_t bytes = 0;
  for (auto _ : state) {
    std::FILE* stream = fmemopen(room.data(), room.size(), "wb");
    std::string error;
    const bool ok = stream != nullptr &&
                    cli::writePng(stream, kSide, kSide, cli::kPngRgba, nullptr, 0, textureRow,
                                  const_cast<uint8_t*>(texture(image).data()), level, &error);
    if (stream != nullptr) {
      bytes = size_t(std::ftell(stream));
      std::fclose(stream);
    }
    if (!ok) {
      state.SkipWithError(error.c_str());
      break;
    }
  }
  state.counters["bytes"] = double(bytes);
  state.SetLabel("libdeflate level " + std::to_string(level) + ", " + imageName(image));
}

void spngZlibDefault(benchmark::State& state) {
  const int image = int(state.range(0));
  size_t bytes = 0;
  for (auto _ : state) {
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr = {};
    ihdr.width = ihdr.height = kSide;
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    spng_set_ihdr(ctx, &ihdr);
    int rc = spng_encode_image(ctx, texture(image).data(), texture(image).size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
    size_t size = 0;
    void* png = rc == 0 ? spng_get_png_buffer(ctx, &size, &rc) : nullptr;
    bytes = size;
    std::free(png);
    spng_ctx_free(ctx);
    if (rc != 0) {
      state.SkipWithError(spng_strerror(rc));
      break;
    }
  }
  state.counters["bytes"] = double(bytes);
  state.SetLabel(std::string("libspng, zlib default level, ") + imageName(image));
}

BENCHMARK(blpDecode)
    ->ArgsProduct({{int(BlpContentType::Blp1Jpeg), int(BlpContentType::Blp2Dxt), int(BlpContentType::Blp2Paletted8)},
                   {0, 1}})
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(vellumPng)->ArgsProduct({{1, 2, 6}, {0, 1}})->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(spngZlibDefault)->DenseRange(0, 1)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
