// The reading side of the XnView plug-in, host-independent: the bodies of
// gfpLoadPictureGetInfo, gfpLoadPictureGetLine and gfpLoadPictureGetColormap over a
// BlpReader. The Windows exports add only the file handle (a BlpSource over it).
//
// Every value from the host is untrusted: null out-pointers are skipped, rows outside
// 0..height-1 and calls before a successful GetInfo deliver nothing and report 0.
#pragma once

#include <cstdint>

#include "core/blp_reader.h"

namespace vellum {

constexpr uint32_t kXnPluginVersion = 2;
constexpr const char* kXnFormatLabel = "BLP Blizzard Picture format";
constexpr const char* kXnExtension = "blp";
constexpr int32_t kXnSupportReadWrite = 3;  // GFP_READ | GFP_WRITE
constexpr int32_t kXnDpi = 72;
constexpr int32_t kXnRgbOrder = 0;          // GFP_RGB: rows in red, green, blue order

// One file being read. `file` is the Windows file handle behind the reader's source, kept
// here as an opaque value (the portable code never touches it).
struct XnLoadContext {
  void* file = nullptr;
  BlpReader reader;
  BlpInfo info;
  bool described = false;
};

// Opens the reader over the source (acceptance rules of every reader). On failure the
// source is released.
BlpStatus xnLoadOpen(XnLoadContext* context, BlpSource source);

// gfpLoadPictureGetInfo: 1 on success, 0 on failure (out-values written so far stay).
int32_t xnLoadGetInfo(XnLoadContext* context, int32_t* pictureType, int32_t* width, int32_t* height,
                      int32_t* dpi, int32_t* bitsPerPixel, int32_t* bytesPerLine, int32_t* hasColormap,
                      char* label, int32_t labelMax);

// gfpLoadPictureGetLine: writes bytesPerLine bytes of row `line` and returns 1; returns 0
// without writing for a null buffer, a context not described, or a line outside the image.
int32_t xnLoadGetLine(XnLoadContext* context, int32_t line, uint8_t* buffer);

// gfpLoadPictureGetColormap: 768 bytes, red plane, green plane, blue plane of 256 entries;
// 0 when no palette was loaded.
int32_t xnLoadGetColormap(const XnLoadContext* context, uint8_t* colormap);

// Releases the reader (and its source); the caller then frees the context.
void xnLoadClose(XnLoadContext* context);

}  // namespace vellum
