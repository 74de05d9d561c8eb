// Level 0 of a BLP file as rows for a host that asks for them one at a time, in any order:
// 8-bit palette indices with a palette, or 24-bit / 32-bit rows in red, green, blue
// (, alpha) order. A thin layer over the level decoder with the core's own read policy.
//
// Calling order: blpReaderOpen, blpReaderDescribe, then blpReaderReadRow and
// blpReaderPalette in any order and as often as wanted, then blpReaderClose.
#pragma once

#include <cstdint>
#include <memory>

#include "core/blp_level_decoder.h"

namespace vellum {

enum class BlpDecodeMode : uint8_t {
  None = 0,      // not described yet
  Indexed,       // 8 bits: palette indices (paletted level without usable alpha)
  IndexedAlpha,  // 32 bits: palette colour with alpha from the alpha plane
  Dxt,           // 24 bits (DXT1) or 32 bits (DXT1 with cut-out alpha, DXT3, DXT5)
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
  BlpFile file;
  BlpLevelDecoder decoder;
  BlpDecodeMode mode = BlpDecodeMode::None;
  BlpPixelLayout rowLayout = BlpPixelLayout::Rgba;
  uint64_t maxPixels = 0;  // optional limit on width * height, applied by describe (0: none)
  uint32_t mipLevel = 0;   // the level describe readies: 0 for the hosts, any for tools
};

// Reads and checks the header. On failure the source is released.
BlpStatus blpReaderOpen(BlpReader* reader, BlpSource source);

// Fixes the mode and prepares the rows (for JPEG: decodes the level).
BlpStatus blpReaderDescribe(BlpReader* reader, BlpInfo* info);

// Writes info.bytesPerRow bytes for row y (0 = top). Never fails: bytes that lie beyond
// the end of the source, and every byte of a row y >= height, are 0.
void blpReaderReadRow(BlpReader* reader, uint32_t y, uint8_t* destination);

// Red, green, blue of the 256 palette entries; false when no palette was loaded.
bool blpReaderPalette(const BlpReader* reader, uint8_t rgb[256][3]);

void blpReaderClose(BlpReader* reader);

// Allocates without throwing; null when the size does not fit this build or memory is short.
std::unique_ptr<uint8_t[]> allocateBytes(uint64_t size);

}  // namespace vellum
