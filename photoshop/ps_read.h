// Opening a BLP file in Photoshop, host-independent: the file filter, the choice of the
// mipmap level (a small one for previews), the content code, the sizes of the working
// buffer, and the chunks delivered to the host plane by plane.
//
// The file is read only through PsPlatform (the host's file handle); the chunks are built
// in the caller's pixel buffer, whose size readBufferBytes gives.
#pragma once

#include <cstdint>

#include "core/dxt_decode.h"
#include "photoshop/ps_globals.h"

namespace vellum {

constexpr uint32_t kPsHeaderBytes = 156;        // read at offset 0 for either layout
constexpr uint32_t kPsChunkBytes = 0x100000;    // the pixel buffer of non-JPEG levels
constexpr uint32_t kPsRawChunkPixels = 0x40000; // raw 32-bit pixels per chunk
constexpr int32_t kPsReadMaxData = 0x200000;

// One positioned read of the host's file: position at `offset` from the beginning (a
// different resulting position gives -20), then read `count` bytes (a failed or short
// read gives -19). 0 on success.
int16_t psReadAt(const PsPlatform& platform, intptr_t file, uint32_t offset, void* destination,
                 uint32_t count);

// The file filter: 0 for a header that names "BLP0", "BLP1" or "BLP2", sides of 1 to
// 32768 and a field at offset 4 below 2; otherwise -30501.
int16_t filterBlpHeader(const uint8_t header[kPsHeaderBytes]);

// The preview level: the smallest i (0..15) with max(width, height) >> i at most 127, or
// whose next level's offset is 0.
uint32_t previewLevel(const uint8_t header[kPsHeaderBytes]);

// The ContentCode of a header (see ps_globals.h); false for a "BLP2" file whose direct
// storage names an encoding other than 1 (palette), 2 (DXT) or 3 (raw).
bool buildContentCode(const uint8_t header[kPsHeaderBytes], uint32_t* code);

// The level read prepare settles on.
struct ReadLevel {
  uint32_t headerSize = 0;   // 156 or 148
  uint32_t level = 0;        // mipmap level index
  uint32_t rows = 0;
  uint32_t columns = 0;
  uint32_t levelOffset = 0;
  uint32_t levelSize = 0;
  uint32_t contentCode = 0;
};

// Chooses the level (level 0, or previewLevel when `preview`) and checks the header:
// -30501 for a wrong signature, a side outside 1..32768 (of the file or of the level), a
// field at offset 4 of 2 or more, a level size of 0, or an unknown "BLP2" encoding.
int16_t planReadLevel(const uint8_t header[kPsHeaderBytes], bool preview, ReadLevel* level);

// Bytes a level's content needs in the file: indices plus alpha plane, DXT blocks or raw
// pixels. JPEG levels have no fixed size (0).
uint64_t levelContentBytes(uint32_t contentCode, uint32_t rows, uint32_t columns);

// The level against the file it lies in: -19 when it reaches beyond the end of the file
// (a truncated file), -30501 when it is shorter than its content.
int16_t checkLevelInFile(const ReadLevel& level, uint64_t fileLength);

// Layout of the pixel buffer of a JPEG level (offsets from its start):
//   0                   the decoded pixels, 4 * rows * columns bytes
//   4 * rows * columns  the stream: shared JPEG header (at most levelOffset bytes, as it lies
//                       in the file before the level) followed by the level's bytes
//   stateOffset         the decoder's working memory (16-byte aligned from the buffer's start;
//                       kJpegDecoderAlignment - 1 bytes of slack follow it, so that the
//                       memory can be aligned whatever the host's buffer address)
struct JpegBufferLayout {
  uint64_t streamOffset = 0;
  uint64_t stateOffset = 0;
  uint64_t totalBytes = 0;  // J; 0 when the sizes overflow
};
JpegBufferLayout jpegBufferLayout(uint32_t rows, uint32_t columns, uint32_t levelOffset, uint32_t levelSize);

// Size of pixelHandle for reading: J for a JPEG level, 0x100000 otherwise; 0 when it
// cannot be expressed as a host handle size (31 bits).
uint64_t readBufferBytes(uint32_t contentCode, uint32_t rows, uint32_t columns, uint32_t levelOffset,
                         uint32_t levelSize);

// One chunk handed to the host: rows top..bottom of planes loPlane..hiPlane.
struct ReadChunk {
  bool done = false;  // every plane is delivered: the host gets data = null
  uint32_t top = 0;
  uint32_t bottom = 0;
  uint32_t right = 0;
  int16_t loPlane = 0;
  int16_t hiPlane = 0;
  int16_t colBytes = 0;
  int32_t rowBytes = 0;
  int32_t planeBytes = 0;
  int16_t planeMap[4] = {0, 1, 2, 3};
  uint8_t* data = nullptr;
};

// Read continue: builds the next chunk in globals->pixels and advances rowsDone and
// levelOffset. Returns 0, or the first read error (-19, -20); a JPEG level stops at it,
// the other kinds deliver the chunk anyway. -30501 when a JPEG level's shared header is
// larger than the room before the level (nothing is read then).
int16_t readNextChunk(PluginGlobals* globals, const PsPlatform& platform, intptr_t file, ReadChunk* chunk);

// Expands a packed alpha plane of `pixels` values of `bits` (1, 2, 4 or 8) bits, least
// significant bits first, in place into one byte a pixel: 1 bit 0/255, 2 bits v * 85,
// 4 bits v * 17, 8 bits as stored.
void expandAlphaPlane(uint8_t* bytes, uint64_t pixels, uint32_t bits);

// Decodes one row of DXT blocks into four rows of `columns` red, green, blue, alpha
// pixels (rows4 holds 4 * columns * 4 bytes; block pixels past `columns` are dropped).
void decodeDxtBlockRow(const uint8_t* blocks, DxtVariant variant, uint32_t columns, uint8_t* rows4);

// Turns an image of `rows` rows of `rowBytes` bytes upside down, in place.
void flipRows(uint8_t* pixels, uint32_t rows, uint64_t rowBytes);

}  // namespace vellum
