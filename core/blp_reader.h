// Host-independent reading of level 0 of a BLP file into rows of pixels: 8-bit palette
// indices with a palette, or 24-bit / 32-bit rows in red, green, blue (, alpha) order.
//
// Calling order: blpReaderOpen, blpReaderDescribe, then blpReaderReadRow and
// blpReaderPalette in any order and as often as wanted, then blpReaderClose.
#pragma once

#include <cstdint>
#include <memory>

#include "core/blp_format.h"
#include "core/blp_source.h"
#include "core/dxt_decode.h"

namespace vellum {

enum class BlpDecodeMode : uint8_t {
  None = 0,      // not described yet
  Indexed,       // 8 bits: palette indices (paletted level without usable alpha)
  IndexedAlpha,  // 32 bits: palette colour with alpha from the alpha plane
  Dxt,           // 24 bits (DXT1) or 32 bits (DXT3, DXT5)
  Raw,           // 32 bits
  Jpeg,          // 24 or 32 bits, decoded whole at describe time
};

struct BlpInfo {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bitsPerPixel = 0;   // 8, 24 or 32
  uint32_t bytesPerPixel = 0;  // bits / 8
  uint64_t bytesPerRow = 0;    // bytesPerPixel * width
  bool hasPalette = false;     // only in Indexed mode
  BlpDecodeMode mode = BlpDecodeMode::None;
  const char* label = "";      // "BLP paletted", "BLP DXT1", ..., "BLP JPEG"
};

struct BlpReader {
  BlpSource source;
  uint8_t rawHeader[kBlpHeaderReadSize] = {};
  BlpHeader header = {};
  uint32_t headerSize = 0;
  uint32_t levelOffset = 0;
  uint32_t levelSize = 0;
  BlpDecodeMode mode = BlpDecodeMode::None;
  uint32_t bitsPerPixel = 0;
  uint32_t alphaDepth = 0;            // paletted levels: 0, 1, 2, 4, 8 or another value
  DxtVariant dxtVariant = DxtVariant::Dxt1;
  bool hasPalette = false;
  uint8_t palette[kBlpPaletteBytes] = {};  // red, green, blue, fourth byte per entry
  std::unique_ptr<uint8_t[]> buffer;  // IndexedAlpha row, DXT block-row cache or JPEG image
  uint32_t cachedRow = kNoCachedRow;  // first row of the cached DXT block row
  uint64_t blockRowDecodes = 0;       // DXT block rows decoded so far (for tests and tools)
  uint64_t maxPixels = 0;             // optional limit on width * height (0: none)

  static constexpr uint32_t kNoCachedRow = 0x80000000u;
};

// Reads and checks the header. On failure the source is released.
BlpStatus blpReaderOpen(BlpReader* reader, BlpSource source);

// Fixes the mode, loads the palette, prepares the DXT cache or decodes the JPEG level.
BlpStatus blpReaderDescribe(BlpReader* reader, BlpInfo* info);

// Writes info.bytesPerRow bytes for row y (0 = top). Never fails: bytes that lie beyond
// the end of the source, and every byte of a row y >= height, are 0.
void blpReaderReadRow(BlpReader* reader, uint32_t y, uint8_t* destination);

// Red, green, blue of the 256 palette entries; false when no palette was loaded.
bool blpReaderPalette(const BlpReader* reader, uint8_t rgb[256][3]);

void blpReaderClose(BlpReader* reader);

// Prepares the Jpeg mode: reassembles and decodes level 0, keeps it as rows.
BlpStatus prepareJpegLevel(BlpReader* reader);

// Allocates without throwing; null when the size does not fit this build or memory is short.
std::unique_ptr<uint8_t[]> allocateBytes(uint64_t size);

}  // namespace vellum
