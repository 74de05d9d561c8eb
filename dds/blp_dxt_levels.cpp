// Locating a BLP's DXT levels through the reader's own description of the file, so that
// what is copied is exactly what every reader of ours decodes.
#include "dds/blp_dxt_levels.h"

#include "core/blp_file.h"

namespace vellum {

BlpDxtLevelsStatus findBlpDxtLevels(const uint8_t* data, uint64_t size, BlpDxtLevels* levels) {
  *levels = BlpDxtLevels{};
  BlpFile file;
  bool refused = false;
  blpFileOpen(&file, memorySource(data, size), readerPolicy(), &refused);
  if (refused) return BlpDxtLevelsStatus::NotReadable;
  BlpDxtLevelsStatus status = BlpDxtLevelsStatus::Ok;
  if (file.content != BlpContent::Dxt) status = BlpDxtLevelsStatus::NotDxt;
  levels->width = file.header.width;
  levels->height = file.header.height;
  for (uint32_t k = 0; status == BlpDxtLevelsStatus::Ok && k < kBlpMipCount; ++k) {
    BlpLevelFormat format;
    bool levelRefused = false;
    blpDescribeLevel(file, k, &format, &levelRefused);
    if (format.state != BlpLevelState::Stored) break;
    if (levelRefused || format.damage != 0 || format.available < format.contentBytes) {
      if (k == 0) status = BlpDxtLevelsStatus::Damaged;
      levels->damagedLevel = true;
      break;
    }
    if (k == 0) {
      levels->kind = format.dxtVariant == DxtVariant::Dxt3   ? DdsKind::Dxt3
                     : format.dxtVariant == DxtVariant::Dxt5 ? DdsKind::Dxt5
                                                             : DdsKind::Dxt1;
      levels->cutOut = format.dxtVariant == DxtVariant::Dxt1Alpha;
    }
    levels->levelOffset[k] = format.offset;
    levels->levelBytes[k] = format.contentBytes;
    levels->levelCount = k + 1;
  }
  blpFileClose(&file);
  return status;
}

}  // namespace vellum
