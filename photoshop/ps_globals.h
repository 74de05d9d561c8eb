// The state Vellum32 keeps between PluginMain calls (held in a host handle), the content
// code of the level being read, and the platform services the Windows glue provides.
#pragma once

#include <cstdint>

#include "core/blp_file.h"
#include "photoshop/ps_api.h"

namespace vellum {

// Kinds of data, bits 0-7 of a ContentCode.
enum ContentKind : uint32_t {
  kKindDxt1 = 1,
  kKindPaletteIndices = 2,
  kKindDxt3 = 3,
  kKindRawPixels = 4,
  kKindDxt5 = 5,
  kKindJpeg = 6,
  kKindAlphaPlane = 8,  // the alpha plane of a paletted level (indices kind + 6)
};

// ContentCode: bits 0-7 the kind, 8-15 the alpha bits delivered (0, 1, 2, 4, 8), 16-23 the
// value 1 for a JPEG level of a file with the 156-byte "BLP0"/"BLP1" header.
inline uint32_t contentKind(uint32_t code) { return code & 0xFF; }
inline uint32_t contentAlphaBits(uint32_t code) { return (code >> 8) & 0xFF; }
inline bool contentHasLongHeader(uint32_t code) { return ((code >> 16) & 0xFF) == 1; }

// PluginGlobals, in the order the plug-in has always kept them. The last three are ours:
// the file image of a save moves to `outputHandle` when it outgrows pixelHandle (see
// ps_write.h); `file` and `format` keep, from read prepare to the last read continue, the
// file's header and the level being read as the core's level decoder describes them (the
// file's byte source is set anew in every call).
struct PluginGlobals {
  uint32_t rows;
  uint32_t columns;
  uint32_t contentCode;
  uint32_t levelSize;
  uint32_t levelOffset;
  uint32_t rowsDone;
  uint32_t saveOptions;
  uint8_t palette[256 * 4];
  uint8_t* pixels;
  ps::Handle pixelHandle;
  ps::Handle outputHandle;
  BlpFile file;
  BlpLevelFormat format;
};

// What the Windows glue offers the portable plug-in: the host's file handle (dataFork)
// and the three windows of the plug-in. Every member is required.
struct PsPlatform {
  void* context = nullptr;
  // Positions the file at `offset` from its beginning; false when the resulting position
  // is not `offset`.
  bool (*seek)(void* context, intptr_t file, uint32_t offset) = nullptr;
  // Reads / writes at the current position; the byte count done, or -1 on failure.
  int64_t (*read)(void* context, intptr_t file, void* destination, uint32_t count) = nullptr;
  int64_t (*write)(void* context, intptr_t file, const void* source, uint32_t count) = nullptr;
  // Ends the file at the current position; false on failure.
  bool (*setEnd)(void* context, intptr_t file) = nullptr;
  // The file's length; false when it cannot be had.
  bool (*length)(void* context, intptr_t file, uint64_t* bytes) = nullptr;
  // The About box (selector 0).
  void (*showAbout)(void* context) = nullptr;
  // "Make alpha discrete channel?": true for Yes, false for No.
  bool (*askAlphaChannel)(void* context) = nullptr;
  // The Save Options dialog's end value (0 or -1 when it could not be shown).
  uint32_t (*askSaveOptions)(void* context) = nullptr;
};

}  // namespace vellum
