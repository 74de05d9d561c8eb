// One DXT level: blocks gathered row by row, colour from libsquish, alpha from our own
// encoder, bands of block rows spread over up to four threads.
#include <squish.h>

#include <cstddef>
#include <cstring>

#include "dxt/dxt_bands.h"
#include "dxt/dxt_compress.h"

namespace vellum {

namespace {

constexpr uint32_t kColumnMask[4] = {0x1111, 0x3333, 0x7777, 0xFFFF};
constexpr uint32_t kRowMask[4] = {0x000F, 0x00FF, 0x0FFF, 0xFFFF};

// Output bytes per pixel row: a quarter of a block row.
uint64_t outputBytesPerPixelRow(uint32_t w, uint32_t alphaFlag) {
  uint64_t blocksPerRow = (uint64_t(w) + 3) / 4;
  return blocksPerRow * (alphaFlag ? 4 : 2);
}

DxtBandJob jobFor(const DxtBand& band, const uint8_t* pixels, uint8_t* output, uint32_t w, uint32_t alphaFlag) {
  DxtBandJob job;
  job.pixels = pixels + static_cast<size_t>(uint64_t(band.firstRow) * w * 4);
  job.output = output + static_cast<size_t>(uint64_t(band.firstRow) * outputBytesPerPixelRow(w, alphaFlag));
  job.rows = band.rows;
  job.width = w;
  job.alphaFlag = alphaFlag;
  return job;
}

void runJob(const DxtBandJob& job) { compressDxtRows(job.pixels, job.output, job.rows, job.width, job.alphaFlag); }

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

void compressDxtRows(const uint8_t* pixels, uint8_t* output, uint32_t rows, uint32_t w, uint32_t alphaFlag) {
  if (!pixels || !output) return;
  uint8_t block[64];
  for (uint64_t y = 0; y < rows; y += 4) {
    for (uint64_t x = 0; x < w; x += 4) {
      const uint32_t mask = gatherDxtBlock(pixels, w, rows, uint32_t(x), uint32_t(y), block);
      if (alphaFlag) {
        // libsquish writes its own alpha half to bytes 0 to 7; ours replaces it.
        squish::CompressMasked(block, int(mask), output, squish::kDxt5);
        compressAlphaBlockDxt5(block, mask, output);
        output += 16;
      } else {
        squish::CompressMasked(block, int(mask), output, squish::kDxt1);
        output += 8;
      }
    }
  }
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

std::thread startDxtWorker(const DxtBandJob& job, void*) {
  return std::thread(compressDxtRows, job.pixels, job.output, job.rows, job.width, job.alphaFlag);
}

void compressDxtLevelWith(const uint8_t* pixels, uint8_t* output, uint32_t h, uint32_t w, uint32_t alphaFlag,
                          DxtWorkerStarter start, void* context) {
  if (!pixels || !output || w == 0 || h == 0) return;
  const DxtBandPlan plan = planDxtBands(w, h);
  DxtBandJob jobs[4];
  for (uint32_t i = 0; i < plan.count; ++i) jobs[i] = jobFor(plan.bands[i], pixels, output, w, alphaFlag);

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

void compressDxtLevel(const uint8_t* pixels, uint8_t* output, uint32_t h, uint32_t w, uint32_t alphaFlag) {
  compressDxtLevelWith(pixels, output, h, w, alphaFlag, startDxtWorker, nullptr);
}

}  // namespace vellum
