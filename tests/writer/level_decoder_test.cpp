// Any stored mipmap level reads as it would if it were level 0 of a file of its own.
#include <gtest/gtest.h>

#include "core/blp_reader.h"
#include "support/save_run.h"

namespace vellum {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes pattern(uint32_t w, uint32_t h) {
  Bytes p(uint64_t(w) * h * 4);
  for (uint64_t i = 0; i < p.size(); ++i) p[i] = uint8_t(i * 37 + i / 11);
  return p;
}

TEST(LevelDecoder, StatesOfTableEntries) {
  testing::SavedFile f = testing::saveImage(pattern(64, 16), 64, 16, true, 0,
                                            testing::optionsFor(BlpContentType::Blp2Dxt, 3));
  ASSERT_EQ(f.status, BlpStatus::Ok);
  EXPECT_EQ(blpLevelState(f.header, 0), BlpLevelState::Stored);
  EXPECT_EQ(blpLevelState(f.header, 2), BlpLevelState::Stored);
  EXPECT_EQ(blpLevelState(f.header, 3), BlpLevelState::Repeated);  // the chain stopped at 3 levels
  EXPECT_EQ(blpLevelState(f.header, 6), BlpLevelState::Repeated);  // 1 x 1
  EXPECT_EQ(blpLevelState(f.header, 7), BlpLevelState::Absent);    // beyond the 1 x 1 level
  BlpHeader empty = f.header;
  empty.mipSizes[1] = 0;
  EXPECT_EQ(blpLevelState(empty, 1), BlpLevelState::Empty);
}

TEST(LevelDecoder, EveryLevelReadsLikeAFileWhoseLevelZeroItIs) {
  for (auto type : {BlpContentType::Blp1Paletted, BlpContentType::Blp2Jpeg, BlpContentType::Blp2Dxt,
                    BlpContentType::Blp2Paletted4}) {
    testing::SavedFile f = testing::saveImage(pattern(40, 24), 40, 24, true, 8, testing::optionsFor(type));
    ASSERT_EQ(f.status, BlpStatus::Ok);
    for (uint32_t k = 0; k < 6; ++k) {
      testing::ReadBack expected = testing::readAll(testing::levelAsFile(f.bytes, k));
      ASSERT_EQ(expected.status, BlpStatus::Ok);
      BlpReader reader;
      ASSERT_EQ(blpReaderOpen(&reader, memorySource(f.bytes.data(), f.bytes.size())), BlpStatus::Ok);
      reader.mipLevel = k;
      BlpInfo info;
      ASSERT_EQ(blpReaderDescribe(&reader, &info), BlpStatus::Ok);
      EXPECT_EQ(info.width, blpLevelSide(40, k));
      EXPECT_EQ(info.height, blpLevelSide(24, k));
      Bytes row(info.bytesPerRow);
      for (uint32_t y = 0; y < info.height; ++y) {
        blpReaderReadRow(&reader, y, row.data());
        ASSERT_TRUE(std::equal(row.begin(), row.end(), expected.rows.begin() + y * info.bytesPerRow))
            << blpContentTypeLabel(type) << " level " << k << " row " << y;
      }
      blpReaderClose(&reader);
    }
  }
}

}  // namespace
}  // namespace vellum
