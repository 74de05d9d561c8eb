// The BLP writer: builds a complete file in one memory area from a host's image and the
// save choices. Every host adapter and the command-line tool save through encodeBlpSource.
#pragma once

#include <cstdint>
#include <memory>

#include "core/blp_format.h"
#include "core/dxt_decode.h"
#include "core/blp_status.h"
#include "core/pixel_layout.h"
#include "core/save_options.h"
#include "dxt/dxt_compress.h"

namespace vellum {

// The writer's output area. The file is its first N bytes. When a level needs more room
// than `capacity` (a JPEG stream of noise at high quality can exceed 8 bytes a pixel),
// the writer calls `grow`, which must make at least `minCapacity` bytes available while
// keeping the bytes already written (realloc semantics), and update data and capacity.
// Without `grow`, or when it fails, the save ends with OutOfMemory.
struct BlpOutput {
  uint8_t* data = nullptr;
  uint64_t capacity = 0;
  void* growContext = nullptr;
  bool (*grow)(void* growContext, uint64_t minCapacity, BlpOutput* output) = nullptr;
};

// The recommended initial output capacity: width * height * 8 + 6144 bytes.
uint64_t blpOutputCapacity(uint32_t width, uint32_t height);

// A `grow` for an output area held in a std::unique_ptr<uint8_t[]>, which is the
// growContext: moves the bytes written so far into a new area of `minCapacity` bytes.
bool growHeapOutput(void* heapBytes, uint64_t minCapacity, BlpOutput* output);

// Whether an image of this size can be saved at all: sides 1 to kBlpMaxSide (no reader
// opens a larger side, so the writer makes no file it could not read back) and pixel
// buffers addressable on this build (ImageTooLarge). Every save path asks this before it
// allocates; a host with narrower coordinates keeps its own lower limit in front of it.
BlpStatus checkSaveSize(uint32_t width, uint32_t height);

// An image as a host holds it, in any of the source layouts; the writer derives from it
// whether a quantizer runs, the output's alpha depth and its own working byte order, and
// does every channel exchange itself. The source is only read, except through workPixels.
//
//   layout        pixel bytes           colours              alpha of each pixel
//   Rgb           red, green, blue      the pixel            255
//   Rgba / Bgra   four bytes            the pixel            its alpha if hasAlpha, else 255
//   Indices       index                 palette[index]       the entry's fourth byte if
//                                                            hasAlpha, else 255
//   IndicesAlpha  index, alpha          palette[index]       the pixel's alpha byte
//
// Indexed sources (a colour map, a grey ramp, a bitmap's two colours) keep their palette in
// paletted content: no quantizer runs, and the file's palette is the source's entries,
// fourth byte as given, with zero bytes from paletteCount on. An index at or beyond
// paletteCount takes such an entry of four zero bytes (black, transparent where the output
// keeps alpha); a source without a palette of its own (paletteCount 0) is all black. The output has alpha (8 bits, or 4 / 1 for
// the 4-bit and 1-bit paletted types) for IndicesAlpha, and for Rgba, Bgra and Indices when
// hasAlpha is set.
struct BlpSourceImage {
  uint32_t width = 0;   // 1..kBlpMaxSide
  uint32_t height = 0;  // 1..kBlpMaxSide
  BlpPixelLayout layout = BlpPixelLayout::Rgba;  // any but Alpha
  const uint8_t* pixels = nullptr;  // row 0 is the top row
  int64_t stride = 0;               // bytes from one row to the next (may be negative); 0: packed
  const uint8_t* palette = nullptr;  // indexed layouts: paletteCount entries of four bytes (null for 0)
  BlpPixelLayout paletteLayout = BlpPixelLayout::Rgba;  // entry byte order: Rgba or Bgra
  uint32_t paletteCount = 256;       // entries the source defines, 0..256
  bool hasAlpha = false;             // see the table; IndicesAlpha always has alpha, Rgb never
  // Optional working memory of width * height * 4 bytes that the writer may overwrite, so
  // that a host which already holds a copy of the image does not pay for a second one
  // (without it the writer allocates its own). It may be `pixels` itself when the rows are
  // packed (the conversion runs from the last pixel to the first); it may not overlap the
  // source in any other way.
  uint8_t* workPixels = nullptr;
};

// Builds the file into *output (which may grow, see BlpOutput); on success *fileLength
// holds its length N and the file is the first N bytes of output->data. Fails with
// BadDimensions or ImageTooLarge (checkSaveSize), BadArgument (a layout, stride, palette or
// content type out of range, no pixels, an overlapping workPixels), OutOfMemory and
// FileTooLarge (offsets past 32 bits).
//
// `progress`, when given, hears after every level how much of the work is done (the share
// of the chain's pixels encoded, 0..100); an answer of 0 stops the save (Cancelled).
struct BlpEncodeProgress {
  int (*report)(void* context, uint32_t percent) = nullptr;
  void* context = nullptr;
};
BlpStatus encodeBlpSource(const BlpSourceImage& source, const SaveOptions& options, BlpOutput* output,
                          uint64_t* fileLength, const BlpEncodeProgress* progress = nullptr);

// Choices the Save Options dialog does not offer (the command line's --dxt and --dxt-fit).
// The defaults give the dialog's files byte for byte.
enum class BlpDxtChoice : uint8_t {
  Auto,       // DXT1 for opaque sources, DXT5 with alpha (the dialog's)
  Dxt1,       // DXT1, alpha ignored: alpha depth 0
  Dxt1Alpha,  // DXT1 with cut-out alpha (pixels of alpha below 128 transparent): depth 1
  Dxt3,       // explicit 4-bit alpha: depth 8, alpha type 1
  Dxt5,       // interpolated alpha: depth 8, alpha type 7
};

struct BlpWriterChoices {
  BlpDxtChoice dxt = BlpDxtChoice::Auto;
  DxtColourFit dxtFit = DxtColourFit::Cluster;
};

// Hand-made mipmap levels: levels[k] is the image of level k (level 0 first), each exactly
// the size of its level (max(1, side >> k)); levels below the last one given are filtered
// from it, as the writer filters from level 0. Indexed levels that share one layout,
// palette and palette count keep that palette in paletted content; otherwise every level is
// taken as true colour and, for paletted content, one palette is built from the pixels of
// all given levels. The output has alpha when any level has. Fails with BadArgument for a
// level of the wrong size, a count of 0 or more than 16, or an invalid level source.
BlpStatus encodeBlpLevels(const BlpSourceImage* levels, uint32_t levelCount, const SaveOptions& options,
                          const BlpWriterChoices& choices, BlpOutput* output, uint64_t* fileLength,
                          const BlpEncodeProgress* progress = nullptr);

// DXT blocks written as they are ("BLP2" DXT content, no recompression): levelBlocks[k]
// holds the blocks of level k for k below levelCount (ceil(w/4) * ceil(h/4) blocks of 8
// bytes for DXT1, 16 for DXT3 and DXT5). Levels beyond those given (up to
// options.maxMipLevels, down to 1 x 1) are decoded from the last given level, filtered and
// compressed in the same format with choices.dxtFit. DXT1's alpha depth is 1 when a
// three-colour block of a given level uses index 3 (a transparent pixel), else 0.
struct BlpDxtBlocks {
  uint32_t width = 0, height = 0;
  DxtVariant variant = DxtVariant::Dxt1;  // Dxt1 (depth from the blocks), Dxt3 or Dxt5
  uint32_t levelCount = 0;                // 1..16
  const uint8_t* levelBlocks[kBlpMipCount] = {};
};
BlpStatus encodeBlpDxtBlocks(const BlpDxtBlocks& blocks, const SaveOptions& options, const BlpWriterChoices& choices,
                             BlpOutput* output, uint64_t* fileLength);

// Whether any three-colour DXT1 block (first colour not above the second) of `count`
// blocks uses index 3, which readers show as a transparent pixel.
bool dxt1BlocksUseCutOut(const uint8_t* blocks, uint64_t count);

// Splits the common start of the level streams of a JPEG file (three or more levels)
// into the shared header, moving the levels down; returns the shared length P.
uint32_t shareJpegHeader(uint8_t* file, BlpHeader* header, uint32_t lastLevel);

// Maps w * h pixels to their nearest palette entries (bytes 0-2, squared distance,
// lowest index on ties) and writes the index plane and the alpha plane of depth a.
// `usable` limits the search to the first entries (256 normally). Returns the bytes written.
uint64_t mapToPalette(const uint8_t* pixels, uint32_t w, uint32_t h, const uint8_t* palette,
                      uint32_t usable, uint8_t a, uint8_t* out);

}  // namespace vellum
