// One DXT level: blocks gathered row by row, colour from our cluster fit (or libsquish for
// its other fits), alpha from our own encoder, bands of block rows spread over up to four
// threads.
#include <squish.h>

#include <cstddef>
#include <cstring>

#include "dxt/colour_fit.h"
#include "dxt/dxt_bands.h"
#include "dxt/dxt_compress.h"

namespace vellum {

namespace {

int squishFitFlag(DxtColourFit fit) {
  return fit == DxtColourFit::Range              ? squish::kColourRangeFit
         : fit == DxtColourFit::IterativeCluster ? squish::kColourIterativeClusterFit
                                                 : squish::kColourClusterFit;
}

// One block; `search` is the cluster search of the calling thread's choice.
void compressBlock(const uint8_t block[64], uint32_t mask, const DxtOptions& options,
                   const dxt::ClusterSearch& search, uint8_t* out) {
  const bool ours = options.fit == DxtColourFit::Cluster;
  switch (options.format) {
    case DxtFormat::Dxt5:
      if (ours) dxt::compressColourBlock(block, mask, dxt::ColourBlockKind::FourColour, search, out + 8);
      else squish::CompressMasked(block, int(mask), out, squish::kDxt5 | squishFitFlag(options.fit));
      // libsquish's own alpha half, if any, is replaced by ours.
      compressAlphaBlockDxt5(block, mask, out);
      return;
    case DxtFormat::Dxt3:
      squish::CompressMasked(block, int(mask), out, squish::kDxt3 | squishFitFlag(options.fit));
      return;
    case DxtFormat::Dxt1Alpha:
      if (ours) dxt::compressColourBlock(block, mask, dxt::ColourBlockKind::Dxt1AlphaCutoff, search, out);
      else squish::CompressMasked(block, int(mask), out, squish::kDxt1 | squishFitFlag(options.fit));
      return;
    case DxtFormat::Dxt1:
      if (ours) {
        dxt::compressColourBlock(block, mask, dxt::ColourBlockKind::Dxt1Opaque, search, out);
      } else {
        uint8_t opaque[64];
        std::memcpy(opaque, block, 64);
        for (int k = 0; k < 16; ++k) opaque[4 * k + 3] = 255;
        squish::CompressMasked(opaque, int(mask), out, squish::kDxt1 | squishFitFlag(options.fit));
      }
      return;
  }
}

constexpr uint32_t kColumnMask[4] = {0x1111, 0x3333, 0x7777, 0xFFFF};
constexpr uint32_t kRowMask[4] = {0x000F, 0x00FF, 0x0FFF, 0xFFFF};

// Output bytes per pixel row: a quarter of a block row.
uint64_t outputBytesPerPixelRow(uint32_t w, const DxtOptions& options) {
  uint64_t blocksPerRow = (uint64_t(w) + 3) / 4;
  return blocksPerRow * dxtFormatBlockBytes(options.format) / 4;
}

DxtBandJob jobFor(const DxtBand& band, const uint8_t* pixels, uint8_t* output, uint32_t w, const DxtOptions& options) {
  DxtBandJob job;
  job.pixels = pixels + static_cast<size_t>(uint64_t(band.firstRow) * w * 4);
  job.output = output + static_cast<size_t>(uint64_t(band.firstRow) * outputBytesPerPixelRow(w, options));
  job.rows = band.rows;
  job.width = w;
  job.alphaFlag = dxtFormatBlockBytes(options.format) == 16 ? 1 : 0;
  job.options = options;
  return job;
}

void runJob(const DxtBandJob& job) { compressDxtRows(job.pixels, job.output, job.rows, job.width, job.options); }

}  // namespace

uint32_t dxtEdgeMask(uint32_t columnsLeft, uint32_t rowsLeft) {
  if (columnsLeft == 0 || rowsLeft == 0) return 0;
  uint32_t c = columnsLeft >= 4 ? 3 : columnsLeft - 1;
  uint32_t r = rowsLeft >= 4 ? 3 : rowsLeft - 1;
  return kColumnMask[c] & kRowMask[r];
}

uint32_t gatherDxtBlock(const uint8_t* pixels, uint32_t w, uint32_t rows, uint32_t x, uint32_t y, uint8_t block[64]) {
  if (x >= w || y >= rows) {  // no pixel of the band: nothing to read
    std::memset(block, 0, 64);
    return 0;
  }
  const uint32_t columnsLeft = w - x, rowsLeft = rows - y;
  const uint32_t mask = dxtEdgeMask(columnsLeft, rowsLeft);
  const uint32_t inColumns = columnsLeft < 4 ? columnsLeft : 4;
  const uint32_t inRows = rowsLeft < 4 ? rowsLeft : 4;
  for (uint32_t row = 0; row < inRows; ++row) {
    const uint8_t* source = pixels + static_cast<size_t>((uint64_t(y + row) * w + x) * 4);
    std::memcpy(block + 16 * row, source, 4 * inColumns);
  }
  if (mask != 0xFFFF) {
    for (uint32_t k = 1; k < 16; ++k)
      if (!((mask >> k) & 1)) std::memcpy(block + 4 * k, block, 4);
  }
  return mask;
}

uint32_t dxtFormatBlockBytes(DxtFormat format) { return format == DxtFormat::Dxt1 || format == DxtFormat::Dxt1Alpha ? 8 : 16; }

DxtOptions dxtOptionsForAlphaFlag(uint32_t alphaFlag) {
  DxtOptions options;
  options.format = alphaFlag ? DxtFormat::Dxt5 : DxtFormat::Dxt1Alpha;
  options.fit = DxtColourFit::Cluster;
  return options;
}

void compressDxtBlock(const uint8_t pixels[64], uint32_t mask, const DxtOptions& options, uint8_t* out) {
  compressBlock(pixels, mask, options, dxt::clusterSearchBest(), out);
}

void compressDxtRows(const uint8_t* pixels, uint8_t* output, uint32_t rows, uint32_t w, const DxtOptions& options) {
  if (!pixels || !output) return;
  const dxt::ClusterSearch& search = dxt::clusterSearchBest();
  const uint32_t blockBytes = dxtFormatBlockBytes(options.format);
  uint8_t block[64];
  for (uint64_t y = 0; y < rows; y += 4) {
    for (uint64_t x = 0; x < w; x += 4) {
      const uint32_t mask = gatherDxtBlock(pixels, w, rows, uint32_t(x), uint32_t(y), block);
      compressBlock(block, mask, options, search, output);
      output += blockBytes;
    }
  }
}

void compressDxtRows(const uint8_t* pixels, uint8_t* output, uint32_t rows, uint32_t w, uint32_t alphaFlag) {
  compressDxtRows(pixels, output, rows, w, dxtOptionsForAlphaFlag(alphaFlag));
}

DxtBandPlan planDxtBands(uint32_t w, uint32_t h) {
  DxtBandPlan plan{};
  plan.count = 1;
  plan.bands[0] = DxtBand{0, h};
  const uint64_t pixels = uint64_t(w) * h;
  uint32_t workers = 0, q = 0;
  if (pixels >= kDxtFourBandPixels) {
    workers = 3;
    q = (h / 4) & ~3u;
  } else if (pixels >= kDxtTwoBandPixels) {
    workers = 1;
    q = (h / 2) & ~3u;
  }
  if (q == 0) return plan;
  for (uint32_t i = 0; i < workers; ++i) plan.bands[i] = DxtBand{i * q, q};
  plan.bands[workers] = DxtBand{workers * q, h - workers * q};
  plan.count = workers + 1;
  return plan;
}

std::thread startDxtWorker(const DxtBandJob& job, void*) { return std::thread(runJob, job); }

void compressDxtLevelWith(const uint8_t* pixels, uint8_t* output, uint32_t h, uint32_t w, const DxtOptions& options,
                          DxtWorkerStarter start, void* context) {
  if (!pixels || !output || w == 0 || h == 0) return;
  const DxtBandPlan plan = planDxtBands(w, h);
  DxtBandJob jobs[4];
  for (uint32_t i = 0; i < plan.count; ++i) jobs[i] = jobFor(plan.bands[i], pixels, output, w, options);

  const uint32_t workerCount = plan.count - 1;
  std::thread workers[3];
  bool running[3] = {false, false, false};
  for (uint32_t i = 0; i < workerCount; ++i) {
    try {
      workers[i] = start ? start(jobs[i], context) : std::thread();
      running[i] = workers[i].joinable();
    } catch (...) {
      // No thread for this band (std::system_error, or no memory for the thread's state):
      // it is compressed below on the calling thread instead.
      running[i] = false;
    }
  }

  runJob(jobs[workerCount]);
  for (uint32_t i = 0; i < workerCount; ++i)
    if (!running[i]) runJob(jobs[i]);
  // Joining a running thread that this thread started cannot fail.
  for (uint32_t i = 0; i < workerCount; ++i)
    if (running[i]) workers[i].join();
}

void compressDxtLevelWith(const uint8_t* pixels, uint8_t* output, uint32_t h, uint32_t w, uint32_t alphaFlag,
                          DxtWorkerStarter start, void* context) {
  compressDxtLevelWith(pixels, output, h, w, dxtOptionsForAlphaFlag(alphaFlag), start, context);
}

void compressDxtLevel(const uint8_t* pixels, uint8_t* output, uint32_t h, uint32_t w, const DxtOptions& options) {
  compressDxtLevelWith(pixels, output, h, w, options, startDxtWorker, nullptr);
}

void compressDxtLevel(const uint8_t* pixels, uint8_t* output, uint32_t h, uint32_t w, uint32_t alphaFlag) {
  compressDxtLevel(pixels, output, h, w, dxtOptionsForAlphaFlag(alphaFlag));
}

}  // namespace vellum
