// How compressDxtLevel splits a level into bands of block rows and runs them on threads.
// Internal to the DXT compressor; declared here so that its tests can reach the pieces.
#pragma once

#include <cstdint>
#include <thread>

#include "dxt/dxt_compress.h"

namespace vellum {

// Levels of at least this many pixels are split in two bands, and from the second
// threshold on in four. The thread count depends on the level's size only.
constexpr uint64_t kDxtTwoBandPixels = 262144;
constexpr uint64_t kDxtFourBandPixels = 524288;

// Pixel rows firstRow .. firstRow + rows - 1 of a level.
struct DxtBand {
  uint32_t firstRow;
  uint32_t rows;
};

// The bands of one level in start order. All but the last run on worker threads; the last
// one, which takes the remainder of the rows and hence any partial block row, runs on the
// calling thread. Every band but the last is a whole number of block rows.
struct DxtBandPlan {
  uint32_t count;
  DxtBand bands[4];
};

// w x h level -> bands: below 262144 pixels one band; up to 524287 pixels a worker for
// rows [0, q) with q = h / 2 rounded down to a multiple of 4 and the caller for [q, h);
// from 524288 pixels workers for [0, q), [q, 2q), [2q, 3q) with q = h / 4 rounded down to
// a multiple of 4 and the caller for [3q, h). A q of 0 means one band after all.
DxtBandPlan planDxtBands(uint32_t w, uint32_t h);

// The arguments of compressDxtRows for one band.
struct DxtBandJob {
  const uint8_t* pixels;  // the band's first pixel row
  uint8_t* output;        // the band's first block
  uint32_t rows;
  uint32_t width;
  uint32_t alphaFlag;  // 1 when the blocks are 16 bytes (DXT3, DXT5)
  DxtOptions options;
};

// Starts a thread that runs compressDxtRows on the job. It may throw (std::system_error when
// the system has no thread to give) or hand back a thread that is not joinable; either way
// the band is then compressed on the calling thread.
using DxtWorkerStarter = std::thread (*)(const DxtBandJob& job, void* context);

// The starter compressDxtLevel uses: a std::thread running compressDxtRows.
std::thread startDxtWorker(const DxtBandJob& job, void* context);

// compressDxtLevel with the way workers are started made explicit.
void compressDxtLevelWith(const uint8_t* pixels, uint8_t* output, uint32_t h, uint32_t w, const DxtOptions& options,
                          DxtWorkerStarter start, void* context);
void compressDxtLevelWith(const uint8_t* pixels, uint8_t* output, uint32_t h, uint32_t w, uint32_t alphaFlag,
                          DxtWorkerStarter start, void* context);

// The edge mask of a block with `columnsLeft` image columns from its first column on and
// `rowsLeft` band rows from its first row on: bit k is set when pixel k = 4 * row + column
// of the block lies inside (0 when either count is 0).
uint32_t dxtEdgeMask(uint32_t columnsLeft, uint32_t rowsLeft);

// Copies the 16 pixels (R, G, B, A) of the block whose top-left pixel is (x, y) of a band
// of `rows` rows and `w` columns into `block`, row by row, and returns its edge mask.
// Pixels outside the band are not read: they get a copy of the block's pixel 0. A block
// that starts outside the band is all zero with mask 0.
uint32_t gatherDxtBlock(const uint8_t* pixels, uint32_t w, uint32_t rows, uint32_t x, uint32_t y, uint8_t block[64]);

}  // namespace vellum
