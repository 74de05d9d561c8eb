#include "shell/shell_image.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "vellum/vellum.h"

namespace vellum::shell {

namespace {

// One handle per call: nothing outlives the request, nothing is shared between handlers.
struct OpenFile {
  vellum_file* file = nullptr;
  OpenFile() = default;
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  ~OpenFile() { vellum_close(file); }
};

int openWithLimits(const uint8_t* bytes, size_t size, uint64_t maxPixels, OpenFile* open) {
  if (bytes == nullptr) return VELLUM_ERR_ARGUMENT;
  if (uint64_t(size) > kMaxFileBytes) return VELLUM_ERR_TOO_LARGE;
  const int status = vellum_open_memory(bytes, size, &open->file);
  if (status < 0) return status;
  return vellum_set_max_pixels(open->file, maxPixels);
}

const char* contentText(int32_t content) {
  switch (content) {
    case VELLUM_CONTENT_JPEG: return "JPEG";
    case VELLUM_CONTENT_PALETTED: return "Paletted";
    case VELLUM_CONTENT_DXT1: return "DXT1";
    case VELLUM_CONTENT_DXT3: return "DXT3";
    case VELLUM_CONTENT_DXT5: return "DXT5";
    case VELLUM_CONTENT_RAW: return "Raw BGRA";
    default: return "unknown";
  }
}

}  // namespace

int shellProperties(const uint8_t* file, size_t size, ShellProperties* properties) {
  if (properties == nullptr) return VELLUM_ERR_ARGUMENT;
  *properties = ShellProperties{};
  OpenFile open;
  int status = openWithLimits(file, size, kMaxLevelPixels, &open);
  if (status < 0) return status;
  vellum_info info;
  status = vellum_get_info(open.file, &info);
  if (status < 0) return status;
  properties->width = info.width;
  properties->height = info.height;
  properties->bitDepth = vellum_layout_bytes(info.layout) * 8;
  char* text = properties->compression;
  const size_t room = sizeof properties->compression;
  const int used = std::snprintf(text, room, "%s %s", info.signature, contentText(info.content));
  if (info.alpha_bits != 0 && used > 0 && size_t(used) < room)
    std::snprintf(text + used, room - size_t(used), ", %u-bit alpha", unsigned(info.alpha_bits));
  return VELLUM_OK;
}

int shellThumbnail(const uint8_t* file, size_t size, uint32_t side, uint64_t maxPixels, ThumbnailAllocator allocate,
                   void* context, uint32_t* width, uint32_t* height) {
  if (allocate == nullptr || side == 0) return VELLUM_ERR_ARGUMENT;
  OpenFile open;
  int status = openWithLimits(file, size, maxPixels, &open);
  if (status < 0) return status;
  vellum_info info;
  status = vellum_get_info(open.file, &info);
  if (status < 0) return status;

  // The library may fall back from an unreadable small level to level 0, whose thumbnail
  // can differ by a pixel in its shorter side, so the size is known only after the decode:
  // decode into a scratch buffer that holds either (no side exceeds the request nor
  // level 0), then hand the rows over.
  const uint32_t roomWidth = info.width < side ? info.width : side;
  const uint32_t roomHeight = info.height < side ? info.height : side;
  const uint64_t roomStride = uint64_t(roomWidth) * 4;
  std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[roomStride * roomHeight]);
  if (!scratch) return VELLUM_ERR_NO_MEMORY;
  uint32_t w = 0, h = 0;
  status = vellum_thumbnail(open.file, side, VELLUM_LAYOUT_BGRA, scratch.get(), ptrdiff_t(roomStride), &w, &h,
                            nullptr);
  if (status < 0) return status;
  if (w == 0 || h == 0 || w > roomWidth || h > roomHeight) return VELLUM_ERR_MALFORMED;

  ptrdiff_t stride = 0;
  uint8_t* rows = allocate(context, w, h, &stride);
  if (rows == nullptr) return VELLUM_ERR_NO_MEMORY;
  for (uint32_t y = 0; y < h; ++y)
    std::memcpy(rows + ptrdiff_t(y) * stride, scratch.get() + uint64_t(y) * roomStride, size_t(w) * 4);
  if (width != nullptr) *width = w;
  if (height != nullptr) *height = h;
  return status;
}

}  // namespace vellum::shell
