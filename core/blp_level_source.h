// Mipmap levels other than 0. The reader delivers level 0 only; a level source presents
// level k of a file as level 0 of the same file, so that every reader rule (modes, alpha
// depths, the palette or shared JPEG header at headerSize, clipping at the end of the file)
// applies to it unchanged. The header seen through it differs in three fields only: width
// and height are the level's sides, and table entry 0 is entry k. Every other byte is
// forwarded from the file.
#pragma once

#include <cstdint>
#include <string>

#include "core/blp_format.h"
#include "core/blp_source.h"

namespace vellum {

// What a mipmap table entry holds, as far as decoding goes.
enum class BlpLevelState : uint8_t {
  Stored,    // the level has data of its own
  Absent,    // offset and size 0, or beyond the 1 x 1 level
  Repeated,  // same offset and size as the entry before: the writer stopped the chain
             // early and the entry repeats the last level it stored
  Empty,     // an offset without a size
};

BlpLevelState blpLevelState(const BlpHeader& header, uint32_t level);

// A source over `base` (which stays owned by the caller and must outlive this source)
// showing `level` as level 0. Returns an empty source when memory is short.
BlpSource levelSource(const BlpSource& base, const uint8_t rawHeader[kBlpHeaderReadSize],
                      const BlpHeader& header, uint32_t level);

}  // namespace vellum
