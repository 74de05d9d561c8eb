// The level decoder: the one way every host turns a mipmap level into pixels. Rows come in
// any order and any layout, straight from the file at their computed offsets (a JPEG level
// is decoded whole once, the only content that needs it), or the whole level at once into
// the caller's buffer with the caller's stride.
//
//   BlpFile file;                      blpFileOpen(&file, source, policy)
//   BlpLevelFormat format;             blpDescribeLevel(file, k, &format)
//   BlpLevelDecoder level;             blpLevelDecoderOpen(&level, file, format)
//   blpLevelRows(&level, y, n, BlpPixelLayout::Rgba, out, stride)     any rows, any order
//   blpLevelDecode(&level, BlpPixelLayout::Bgra, out, stride)         or the whole level
//   blpLevelDecoderClose(&level); blpFileClose(&file);
#pragma once

#include <cstdint>
#include <memory>

#include "core/blp_file.h"
#include "core/blp_status.h"
#include "jpeg/jpeg_decoder.h"

namespace vellum {

struct BlpLevelDecoder {
  const BlpFile* file = nullptr;
  BlpLevelFormat format;
  BlpDamage damage;  // the level's place in the file, and what its JPEG data showed
  std::unique_ptr<uint8_t[]> scratch;  // a row of the level as stored; DXT: 4 decoded rows
  uint32_t cachedBlockRow = kNoBlockRow;
  uint64_t blockRowDecodes = 0;        // DXT block rows decoded so far (tools and tests)
  std::unique_ptr<uint8_t[]> image;    // JPEG: the whole level, blue, green, red, alpha
  bool imageReady = false;

  static constexpr uint32_t kNoBlockRow = 0xFFFFFFFFu;
};

// Working memory of a JPEG level that a host may provide from its own allocator. Null
// members are allocated by the decoder.
struct BlpJpegMemory {
  uint8_t* stream = nullptr;   // blpJpegStreamBytes bytes, when that is not 0
  uint8_t* decoder = nullptr;  // blpJpegDecoderRoom(width, height) bytes, any alignment
};

// The decoder's working memory with room to align it (allocators need not): 0 when it
// does not fit this build.
inline uint64_t blpJpegDecoderRoom(uint32_t width, uint32_t height) {
  const uint64_t bytes = jpegDecoderBytes(width, height);
  return bytes == 0 ? 0 : bytes + kJpegDecoderAlignment - 1;
}

// Readies the decoder for the described level: the row buffers its rows need. The file must
// stay open until blpLevelDecoderClose. OutOfMemory, or Ok.
BlpStatus blpLevelDecoderOpen(BlpLevelDecoder* level, const BlpFile& file, const BlpLevelFormat& format);

void blpLevelDecoderClose(BlpLevelDecoder* level);

// Whether the level can be delivered in `layout`: the indexed layouts need a paletted level.
bool blpLevelHasLayout(const BlpLevelFormat& format, BlpPixelLayout layout);

// For row access to a JPEG level: decodes it whole, once, into memory of its own. Nothing
// to do for other content. OutOfMemory, or Ok.
BlpStatus blpLevelPrepareRows(BlpLevelDecoder* level);

// Writes rows [firstRow, firstRow + rowCount), row firstRow + i at out + i * stride, each
// width * blpLayoutBytes(layout) bytes. Never fails: rows at or below the level's height,
// and bytes the policy finds no data for, are zero; a JPEG level not yet prepared reads as
// zero. The layout must be one the level has (blpLevelHasLayout).
void blpLevelRows(BlpLevelDecoder* level, uint32_t firstRow, uint32_t rowCount, BlpPixelLayout layout, uint8_t* out,
                  int64_t stride);

// Bytes of stream room a JPEG level needs: its shared header and its own bytes, as far as
// the file holds them; 0 when the stream lies in one piece in a memory source and is
// decoded where it is.
uint64_t blpJpegStreamBytes(const BlpLevelDecoder& level);

// The whole level into out (row y at out + y * stride). A JPEG level is decoded straight
// into the caller's memory when the layout allows (Bgra, Rgba); `memory` may provide its
// working memory, `progress` follows the JPEG decoder's output stage. The damage the
// decode found is in level->damage. OutOfMemory or BadArgument (a layout the level does
// not have), else Ok.
BlpStatus blpLevelDecode(BlpLevelDecoder* level, BlpPixelLayout layout, uint8_t* out, int64_t stride,
                         const BlpJpegMemory* memory = nullptr, JpegProgressCallback progress = nullptr,
                         void* progressContext = nullptr);

// Converts `count` pixels of red, green, blue, alpha (or blue, green, red, alpha when
// `bgra`) into a non-indexed layout.
void convertPixels(const uint8_t* pixels, bool bgra, uint32_t count, BlpPixelLayout layout, uint8_t* out);

}  // namespace vellum
