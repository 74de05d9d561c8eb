// Opening a BLP file in Photoshop, host-independent: the file filter, read prepare (the
// level, its content code, the buffer sizes) and the chunks delivered to the host plane by
// plane. The level decoding itself is the core's, under Photoshop's read policy: what
// the plug-in adds is the host's file handle, its result codes and the chunking.
#pragma once

#include <cstdint>

#include "core/blp_level_decoder.h"
#include "photoshop/ps_globals.h"

namespace vellum {

constexpr uint32_t kPsChunkBytes = 0x100000;    // the pixel buffer of non-JPEG levels
constexpr uint32_t kPsRawChunkPixels = 0x40000; // raw 32-bit pixels per chunk
constexpr int32_t kPsReadMaxData = 0x200000;
constexpr uint32_t kPsPreviewSide = 127;        // previews take a level of at most this side

// Photoshop's answers to a malformed file: the header refusals and a level of an unknown
// encoding, size 0 or shorter than its content give -30501; a header that cannot be read
// whole, or a level that runs past the end of the file, -19. A shared JPEG header larger
// than the room before its level is reported (-30501) when the level is read.
BlpReadPolicy photoshopReadPolicy();

// The host's file as a byte source: every read positions the file from its beginning and
// reads; the first failure is kept (-20 when the position cannot be had, -19 for a failed
// or short read).
struct PsFileReader {
  const PsPlatform* platform = nullptr;
  intptr_t file = 0;
  int16_t error = 0;
};
BlpSource psFileSource(PsFileReader* reader, uint64_t length);

// The file filter (selector 17): 0, or -19/-20 when the header cannot be read, -30501 when
// it is not one the plug-in opens.
int16_t filterBlpFile(const PsPlatform& platform, intptr_t file);

// The level read prepare settles on.
struct ReadLevel {
  uint32_t level = 0;        // mipmap level index
  uint32_t rows = 0;
  uint32_t columns = 0;
  uint32_t contentCode = 0;
};

// The ContentCode of a described level (see ps_globals.h).
uint32_t contentCodeOf(const BlpFile& file, const BlpLevelFormat& format);

// Read prepare: opens the file, chooses the level (level 0, or for a preview the smallest
// whose longer side is at most kPsPreviewSide), judges it under Photoshop's policy and keeps
// what the later selectors need in the globals (file, level, palette). 0 or the result code.
int16_t prepareReadLevel(PluginGlobals* globals, const PsPlatform& platform, intptr_t file, bool preview,
                         ReadLevel* level);

// Layout of the pixel buffer of a JPEG level (offsets from its start):
//   0                   the decoded pixels, 4 * rows * columns bytes
//   4 * rows * columns  the stream: shared JPEG header (at most levelOffset bytes, as it lies
//                       in the file before the level) followed by the level's bytes
//   stateOffset         the decoder's working memory, with room to align it
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

// Read continue: builds the next chunk in globals->pixels and advances rowsDone. Returns 0,
// or the first read error (-19, -20); a JPEG level stops at it, the other kinds deliver
// the chunk anyway. -30501 when a JPEG level's shared header is larger than the room
// before the level (nothing is read then).
int16_t readNextChunk(PluginGlobals* globals, const PsPlatform& platform, intptr_t file, ReadChunk* chunk);

}  // namespace vellum
