#include "core/blp_level_source.h"

#include <cstring>
#include <new>

namespace vellum {

BlpLevelState blpLevelState(const BlpHeader& header, uint32_t level) {
  if (level >= kBlpMipCount || level >= blpFullChainLength(header.width, header.height))
    return BlpLevelState::Absent;
  const uint32_t offset = header.mipOffsets[level], size = header.mipSizes[level];
  if (offset == 0 && size == 0) return BlpLevelState::Absent;
  if (size == 0) return BlpLevelState::Empty;
  if (level > 0 && offset == header.mipOffsets[level - 1] && size == header.mipSizes[level - 1])
    return BlpLevelState::Repeated;
  return BlpLevelState::Stored;
}

namespace {

struct LevelView {
  BlpSource base;
  uint8_t header[kBlpHeaderReadSize];  // the file's first bytes with the level's fields
};

uint32_t readLevelView(void* context, uint64_t offset, uint32_t count, uint8_t* destination) {
  const auto* view = static_cast<const LevelView*>(context);
  uint32_t got = view->base.read(view->base.context, offset, count, destination);
  if (offset < kBlpHeaderReadSize) {
    uint64_t end = offset + got < kBlpHeaderReadSize ? offset + got : kBlpHeaderReadSize;
    std::memcpy(destination, view->header + offset, size_t(end - offset));
  }
  return got;
}

void releaseLevelView(void* context) { delete static_cast<LevelView*>(context); }

}  // namespace

BlpSource levelSource(const BlpSource& base, const uint8_t rawHeader[kBlpHeaderReadSize],
                      const BlpHeader& header, uint32_t level) {
  BlpSource source;
  auto* view = new (std::nothrow) LevelView;
  if (view == nullptr || base.read == nullptr) {
    delete view;
    return source;
  }
  view->base = base;
  std::memcpy(view->header, rawHeader, kBlpHeaderReadSize);
  const bool blp2 = header.layout == BlpLayout::Blp2;
  const uint32_t offsets = blp2 ? 20 : 28, sizes = blp2 ? 84 : 92;
  storeU32(view->header + 12, blpLevelSide(header.width, level));
  storeU32(view->header + 16, blpLevelSide(header.height, level));
  storeU32(view->header + offsets, header.mipOffsets[level]);
  storeU32(view->header + sizes, header.mipSizes[level]);
  source.context = view;
  source.length = base.length;
  source.read = readLevelView;
  source.release = releaseLevelView;
  return source;
}

}  // namespace vellum
