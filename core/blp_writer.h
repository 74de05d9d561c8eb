// The BLP writer: builds a complete file in one memory area from 32-bit pixels and the
// save choices. Shared by every host adapter and the command-line tool.
#pragma once

#include <cstdint>
#include <memory>

#include "core/blp_format.h"
#include "core/blp_status.h"
#include "core/save_options.h"

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

// What an adapter hands to buildBlpImage. The writer changes pixels and palette in place.
struct SaveImage {
  uint32_t width = 0;        // 1..65535
  uint32_t height = 0;       // 1..65535
  bool trueColour = false;   // palette is built by a quantizer for paletted content
  uint8_t alphaDepth = 0;    // of the output: 0, or 8 / 4 / 1 by content type
  uint8_t* palette = nullptr;  // 256 x (B, G, R, fourth byte)
  // Entries of an indexed source's palette that the source defines (2 for a bitmap, 16 for
  // a 4-bit image ...). Entries from paletteCount on are written as zero bytes and never
  // chosen by the nearest-colour search; the same holds for entries a quantizer leaves
  // empty (a median cut of fewer than 256 boxes).
  uint32_t paletteCount = 256;
  uint8_t* pixels = nullptr;   // width * height * 4 bytes in working order
  BlpOutput output;
};

// The recommended initial output capacity: width * height * 8 + 6144 bytes.
uint64_t blpOutputCapacity(uint32_t width, uint32_t height);

// A `grow` for an output area held in a std::unique_ptr<uint8_t[]>, which is the
// growContext: moves the bytes written so far into a new area of `minCapacity` bytes.
bool growHeapOutput(void* heapBytes, uint64_t minCapacity, BlpOutput* output);

// Whether an image of this size can be saved at all: sides 1 to 65535 (a side of 65536
// would need a 17th mipmap table entry) and pixel buffers addressable on this build.
BlpStatus checkSaveSize(uint32_t width, uint32_t height);

// The output's alpha depth: 0 without source alpha; else 4 for Blp2Paletted4, 1 for
// Blp2Paletted1 and 8 for every other type.
uint8_t outputAlphaDepth(BlpContentType type, bool sourceHasAlpha);

// The writer's working order is B, G, R, A for paletted and JPEG content and R, G, B, A
// for DXT content. True-colour sources arrive as R, G, B, A and palette-expanded sources
// as B, G, R, A, so bytes 0 and 2 are exchanged exactly when (DXT) == (indexed source).
bool needsRedBlueSwap(BlpContentType type, bool sourceIsIndexed);
void swapRedBlue(uint8_t* pixels, uint64_t count);

// Builds the file; on success *fileLength holds N. Fails only on a size that cannot be
// saved (BadDimensions / FileTooLarge) or when memory runs out (OutOfMemory).
BlpStatus buildBlpImage(SaveImage* image, const SaveOptions& options, uint64_t* fileLength);

// The host-independent half of a save from an adapter that collected its image as
// bytesPerPixel 1 (an indexed or grey source expanded through its palette: B, G, R, A),
// 3 (true colour R, G, B, 255) or 4 (true colour R, G, B, A): derives trueColour and the
// alpha depth, brings the pixels into working order and runs buildBlpImage.
// paletteCount is the number of palette entries the source defines (see SaveImage).
// indexedAlpha marks an indexed source (bytesPerPixel 1) whose pixels carry their own
// alpha, as a paletted PNG with transparency or a GIMP INDEXEDA image: its palette is kept
// (no quantizer) and the output carries alpha.
BlpStatus encodeBlpImage(uint32_t width, uint32_t height, uint32_t bytesPerPixel, uint8_t* palette,
                         uint8_t* pixels, const SaveOptions& options, BlpOutput* output,
                         uint64_t* fileLength, uint32_t paletteCount = 256, bool indexedAlpha = false);

// Splits the common start of the level streams of a JPEG file (three or more levels)
// into the shared header, moving the levels down; returns the shared length P.
uint32_t shareJpegHeader(uint8_t* file, BlpHeader* header, uint32_t lastLevel);

// Maps w * h pixels to their nearest palette entries (bytes 0-2, squared distance,
// lowest index on ties) and writes the index plane and the alpha plane of depth a.
// `usable` limits the search to the first entries (256 normally). Returns the bytes written.
uint64_t mapToPalette(const uint8_t* pixels, uint32_t w, uint32_t h, const uint8_t* palette,
                      uint32_t usable, uint8_t a, uint8_t* out);

}  // namespace vellum
