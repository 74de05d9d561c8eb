// Saving a Photoshop image as BLP, host-independent: the size estimate and the working
// buffer, the request for the host's planes, the description of Bitmap, Grayscale, Indexed
// Color and RGB data with their palette for the BLP writer, and the single write of the
// file image.
#pragma once

#include <cstdint>

#include "core/blp_writer.h"
#include "photoshop/ps_globals.h"

namespace vellum {

constexpr int32_t kPsOptionsMaxData = 0x100000;

// Estimate (selector 10): minDataBytes = rows * columns + 1024, maxDataBytes = 8 * rows *
// columns, each held at the largest int32 when the true value is larger.
int32_t estimateMinBytes(uint32_t rows, uint32_t columns);
int32_t estimateMaxBytes(uint32_t rows, uint32_t columns);

// The working buffer S for maxData and pixelHandle: 12 * rows * columns + 8192, plus the
// JPEG encoder's context and 512 bytes per 8 x 8 block for the JPEG formats. 0 with -108
// when it cannot be a host handle (31 bits) or the image cannot be saved at all.
int16_t writeBufferBytes(uint32_t rows, uint32_t columns, uint32_t saveOptions, uint64_t* bytes);

// Which of the host's planes a save takes and how they arrive.
struct WriteLayout {
  uint32_t planes = 0;     // planes requested: 1..4 (RGB 3 or 4, Grayscale and Indexed 1 or 2)
  bool hasAlpha = false;   // the last requested plane is transparency
  int16_t colBytes = 0;    // 4 for RGB, else `planes`
};

// Photoshop counts extra alpha channels as planes too (an RGB image with two alpha
// channels has 5); only the first alpha channel is saved, as the file has one.
WriteLayout writeLayout(int16_t imageMode, int16_t planes);

// Where the file image starts in pixelHandle: after the pixel array and, for the JPEG
// formats, after the room of the JPEG encoder's context and coefficients. (The writer
// keeps its encoder context in memory of its own, so that room stays unused; the layout
// is kept as the plug-in has always had it.)
uint64_t fileImageOffset(uint32_t rows, uint32_t columns, uint32_t saveOptions);

// Offset in pixelHandle where the host puts its data: 0 for RGB (straight into the pixel
// array), 4 * rows * columns for the other modes.
uint64_t hostDataOffset(int16_t imageMode, uint32_t rows, uint32_t columns);

// The host's image, as requested at write start.
struct HostImage {
  int16_t imageMode = 0;
  WriteLayout layout;
  uint32_t rows = 0;
  uint32_t columns = 0;
  uint8_t* data = nullptr;   // rows of columns * colBytes bytes (Bitmap: columns bits in a row of columns bytes)
  const uint8_t* redLUT = nullptr;
  const uint8_t* greenLUT = nullptr;
  const uint8_t* blueLUT = nullptr;
  int32_t lutCount = 256;
  int32_t transparentIndex = -1;
};

// Describes the host's image for the writer (encodeBlpSource), which takes it as it is:
// RGB as red, green, blue, alpha; Grayscale (the grey ramp) and Indexed Color (the colour
// table; the transparentIndex rule) as index bytes, or index and alpha; Bitmap as index
// bytes of a black (0) and white (1) palette, unpacked in place in `data`. `palette`
// receives the entries (red, green, blue, alpha). `work` (4 * rows * columns bytes) is
// the writer's working memory: the pixel array, which RGB data fill themselves and the
// other modes' data lie behind.
BlpSourceImage hostImageSource(const HostImage& image, uint8_t palette[1024], uint8_t* work);

// Growth of the file image (BlpOutput::grow): when a level needs more room than the file
// image has in pixelHandle, the image moves to a handle of its own, as large as asked,
// with the bytes written so far; a later growth replaces that handle. The pixels stay
// where they are, since the writer still reads them.
struct FileImageStore {
  ps::PSHandleSuite2* handles = nullptr;
  ps::Handle* handle = nullptr;  // the grown image's handle (PluginGlobals::outputHandle)
};
bool growFileImage(void* store, uint64_t minCapacity, BlpOutput* output);

// Runs the writer on the described image. On success *fileLength holds N and the file is
// the first N bytes of output->data.
int16_t encodeHostImage(const BlpSourceImage& source, uint32_t saveOptions, BlpOutput* output, uint64_t* fileLength);

// The single write: position at 0 (-20 when that fails), then N bytes in one write (-19
// when it fails or is short), then the file ends there (-19 when it cannot be cut): a
// file that held more before keeps no stale bytes after the image.
int16_t writeFileImage(const PsPlatform& platform, intptr_t file, const uint8_t* bytes, uint64_t length);

}  // namespace vellum
