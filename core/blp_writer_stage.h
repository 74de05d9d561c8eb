// The writer's second stage: an image already in the writer's working order becomes the
// file. encodeBlpSource converts a host's image into this form and runs it; host adapters
// never come here (they hand their image over as it is), only the writer and the tests
// that pin down the level chain independently of any source conversion.
//
// Working order: blue, green, red, alpha for paletted and JPEG content (the byte order of
// the file's palette and of the JPEG components), red, green, blue, alpha for DXT content
// (the DXT compressor's order).
#pragma once

#include <cstdint>

#include "core/blp_writer.h"

namespace vellum {

// The writer changes pixels and palette in place.
struct SaveImage {
  uint32_t width = 0;        // 1..kBlpMaxSide
  uint32_t height = 0;       // 1..kBlpMaxSide
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
  const BlpEncodeProgress* progress = nullptr;  // may be null
  // DXT content: block format and colour fit; the dialog's choice (Auto) by default.
  BlpWriterChoices choices;
  // Hand-made levels: levels 1 .. givenLevels - 1 are written by loadLevel into `pixels`
  // (working order) instead of being filtered from the level before.
  uint32_t givenLevels = 1;
  void (*loadLevel)(void* context, uint32_t level, uint8_t* pixels) = nullptr;
  void* levelContext = nullptr;
  // True-colour paletted content with given levels: the pixels the palette is built from
  // (all given levels in working order); null: level 0.
  const uint8_t* palettePixels = nullptr;
  uint64_t palettePixelCount = 0;
  // DXT blocks written as given for levels below blockLevels (then `pixels` is only needed
  // from the last given level on: decodeBlocks fills it with that level's pixels).
  uint32_t blockLevels = 0;
  const uint8_t* const* levelBlocks = nullptr;
  DxtVariant blockVariant = DxtVariant::Dxt1;
};

// The output's alpha depth: 0 without source alpha; else 4 for Blp2Paletted4, 1 for
// Blp2Paletted1 and 8 for every other type.
uint8_t outputAlphaDepth(BlpContentType type, bool sourceHasAlpha);

// Builds the file; on success *fileLength holds N. Fails only on a size that cannot be
// saved (BadDimensions / ImageTooLarge / FileTooLarge) or when memory runs out
// (OutOfMemory).
BlpStatus buildBlpImage(SaveImage* image, const SaveOptions& options, uint64_t* fileLength);

}  // namespace vellum
