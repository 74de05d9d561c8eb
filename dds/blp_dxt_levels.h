// The DXT blocks of a BLP file, located for copying into a DDS without decoding them.
#pragma once

#include <cstdint>

#include "dds/dds_file.h"

namespace vellum {

enum class BlpDxtLevelsStatus : uint8_t {
  Ok,
  NotReadable,  // not a BLP file the reader opens
  NotDxt,       // readable, but its levels are not DXT blocks
  Damaged,      // level 0's blocks are not wholly in the file
};

struct BlpDxtLevels {
  uint32_t width = 0, height = 0;
  DdsKind kind = DdsKind::Dxt1;
  bool cutOut = false;       // DXT1 with an alpha depth: index 3 of three-colour blocks is transparent
  uint32_t levelCount = 0;   // stored levels from level 0 on whose blocks are wholly in the file
  bool damagedLevel = false; // a stored level after them lies partly outside the file
  uint64_t levelOffset[kDdsMaxLevels] = {};
  uint64_t levelBytes[kDdsMaxLevels] = {};
};

BlpDxtLevelsStatus findBlpDxtLevels(const uint8_t* data, uint64_t size, BlpDxtLevels* levels);

}  // namespace vellum
