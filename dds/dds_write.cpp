// Writing DDS headers: DXT blocks as the classic FourCC formats (every reader knows them),
// BGRA pixels as A8R8G8B8 / X8R8G8B8.
#include <cstring>

#include "dds/dds_file.h"

namespace vellum {

namespace {

void store32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

}  // namespace

void writeDdsHeader(uint32_t width, uint32_t height, uint32_t levels, DdsKind kind, bool alpha,
                    uint8_t out[kDdsHeaderBytes]) {
  std::memset(out, 0, kDdsHeaderBytes);
  std::memcpy(out, "DDS ", 4);
  uint8_t* h = out + 4;
  const bool blocks = kind != DdsKind::Masked;
  // caps, height, width, pixel format; linear size for blocks, pitch for pixels.
  uint32_t flags = 0x1 | 0x2 | 0x4 | 0x1000 | (blocks ? 0x80000 : 0x8);
  if (levels > 1) flags |= 0x20000;
  store32(h, 124);
  store32(h + 4, flags);
  store32(h + 8, height);
  store32(h + 12, width);
  DdsInfo shape;
  shape.width = width;
  shape.height = height;
  shape.kind = kind;
  shape.bitCount = 32;
  store32(h + 16, blocks ? uint32_t(ddsLevelBytes(shape, 0)) : width * 4);
  store32(h + 24, levels > 1 ? levels : 0);
  uint8_t* pf = h + 72;
  store32(pf, 32);
  if (blocks) {
    store32(pf + 4, 0x4 | (kind == DdsKind::Dxt1 && alpha ? 0x1 : 0));
    std::memcpy(pf + 8, kind == DdsKind::Dxt1 ? "DXT1" : kind == DdsKind::Dxt3 ? "DXT3" : "DXT5", 4);
  } else {
    store32(pf + 4, 0x40 | (alpha ? 0x1 : 0));
    store32(pf + 12, 32);
    store32(pf + 16, 0x00FF0000);
    store32(pf + 20, 0x0000FF00);
    store32(pf + 24, 0x000000FF);
    store32(pf + 28, alpha ? 0xFF000000 : 0);
  }
  // texture; complex and mipmap when there is a chain
  store32(h + 104, 0x1000 | (levels > 1 ? 0x400008 : 0));
}

}  // namespace vellum
