// DDS files: the reader's header and level placement, every level decoded, and for block
// content the lossless path into BLP and back: the BLP built from the blocks must hold them
// unchanged, level for level, as the reader of BLP files locates them.
#include <cstring>
#include <memory>

#include "core/blp_writer.h"
#include "dds/blp_dxt_levels.h"
#include "dds/dds_file.h"
#include "fuzz/fuzz_entries.h"
#include "fuzz/fuzz_support.h"

namespace vellum::fuzz {

int ddsEntry(const uint8_t* data, size_t size) {
  DdsInfo info;
  if (parseDds(data, size, &info) != DdsStatus::Ok) return 0;
  FUZZ_REQUIRE(info.levelCount >= 1 && info.levelCount <= info.declaredLevels && info.declaredLevels <= info.fullChain);
  for (uint32_t k = 0; k < info.levelCount; ++k)
    FUZZ_REQUIRE(info.levelOffset[k] + info.levelBytes[k] <= size && info.levelBytes[k] == ddsLevelBytes(info, k));
  if (uint64_t(info.width) * info.height > kFuzzMaxDecodePixels) return 0;
  std::unique_ptr<uint8_t[]> pixels(new uint8_t[uint64_t(info.width) * info.height * 4]);
  for (uint32_t k = 0; k < info.levelCount; ++k) decodeDdsLevel(data, info, k, (size & 1) != 0, pixels.get());
  if (info.kind == DdsKind::Masked) return 0;

  BlpDxtBlocks blocks;
  blocks.width = info.width;
  blocks.height = info.height;
  blocks.variant = ddsDxtVariant(info.kind);
  blocks.levelCount = info.levelCount;
  for (uint32_t k = 0; k < info.levelCount; ++k) blocks.levelBlocks[k] = data + info.levelOffset[k];
  SaveOptions options;
  options.maxMipLevels = 16;
  std::unique_ptr<uint8_t[]> area;
  BlpOutput output;
  output.growContext = &area;
  output.grow = growHeapOutput;
  uint64_t length = 0;
  FUZZ_REQUIRE(encodeBlpDxtBlocks(blocks, options, BlpWriterChoices{}, &output, &length) == BlpStatus::Ok);
  BlpDxtLevels found;
  FUZZ_REQUIRE(findBlpDxtLevels(output.data, length, &found) == BlpDxtLevelsStatus::Ok);
  FUZZ_REQUIRE(found.kind == info.kind && found.levelCount == info.fullChain);
  for (uint32_t k = 0; k < info.levelCount; ++k) {
    FUZZ_REQUIRE(found.levelBytes[k] == info.levelBytes[k]);
    FUZZ_REQUIRE(std::memcmp(output.data + found.levelOffset[k], data + info.levelOffset[k], size_t(info.levelBytes[k])) == 0);
  }
  return 0;
}

}  // namespace vellum::fuzz
