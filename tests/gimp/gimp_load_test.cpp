// BLP files opened in GIMP by file-blp-load (and file-blp-load-thumb) hold exactly what
// BlpReader delivers: the same pixels, indices, palette and alpha.
#include <gtest/gtest.h>

#include <set>

#include "gimp_cases.h"
#include "gimp_expect.h"

namespace vellum::gimptest {
namespace {

class GimpLoad : public ::testing::TestWithParam<LoadCase> {};

TEST_P(GimpLoad, HoldsTheReadersLevel) {
  const LoadCase& c = GetParam();
  const std::string dir = groupDir("load");
  const Bytes file = readFileBytes(dir + "/" + c.name + ".blp");
  ASSERT_FALSE(file.empty()) << "the session did not write " << c.name << ".blp";
  expectSameImage(readLevel(file, c.expectedLevel), dir + "/" + c.name + ".out");
}

INSTANTIATE_TEST_SUITE_P(Cases, GimpLoad, ::testing::ValuesIn(loadCases()));

std::vector<LoadCase> thumbnailCases() {
  std::vector<LoadCase> cases;
  for (const LoadCase& c : loadCases())
    if (c.thumbnailSize != 0) cases.push_back(c);
  return cases;
}

class GimpThumbnail : public ::testing::TestWithParam<LoadCase> {};

TEST_P(GimpThumbnail, ShowsTheChosenLevelAndReportsTheFullImage) {
  const LoadCase& c = GetParam();
  const std::string dir = groupDir("load");
  const Bytes file = readFileBytes(dir + "/" + c.name + ".blp");
  ASSERT_GE(file.size(), 20u);
  const std::vector<long> returned = integersIn(readText(dir + "/" + c.name + ".out.thumb"));
  ASSERT_EQ(returned.size(), 4u) << "image-width, image-height, image-type, num-layers";
  EXPECT_EQ(returned[0], long(loadU32(file.data() + 12)));
  EXPECT_EQ(returned[1], long(loadU32(file.data() + 16)));
  EXPECT_EQ(returned[2], readInfo(dir + "/" + c.name + ".out.info").type);
  EXPECT_EQ(returned[3], 1);
  // The level shown is the one chosen for the case by hand: its sides.
  const GimpInfo shown = readInfo(dir + "/" + c.name + ".out.info");
  EXPECT_EQ(shown.width, long(blpLevelSide(loadU32(file.data() + 12), c.expectedLevel)));
  EXPECT_EQ(shown.height, long(blpLevelSide(loadU32(file.data() + 16), c.expectedLevel)));
}

INSTANTIATE_TEST_SUITE_P(Cases, GimpThumbnail, ::testing::ValuesIn(thumbnailCases()));

// Every content kind and signature appears among the cases, so that "every kind loads"
// rests on the cases above.
TEST(GimpLoadCoverage, EveryKindIsLoaded) {
  const std::string dir = groupDir("load");
  std::set<std::string> labels, magics;
  std::set<int> alphaDepths, types;
  bool progressive = false;
  for (const LoadCase& c : loadCases()) {
    const Bytes file = readFileBytes(dir + "/" + c.name + ".blp");
    ASSERT_GE(file.size(), 12u) << c.name;
    const ReaderLevel level = readLevel(file, c.expectedLevel);
    ASSERT_EQ(level.status, BlpStatus::Ok) << c.name;
    labels.insert(level.info.label);
    magics.insert(std::string(file.begin(), file.begin() + 4));
    types.insert(level.gimpType);
    if (level.info.mode == BlpDecodeMode::IndexedAlpha && file[3] == '2') alphaDepths.insert(file[9]);
    // A progressive JPEG level: a start-of-frame marker of kind 2 in the stream.
    for (size_t i = 0; level.info.mode == BlpDecodeMode::Jpeg && i + 1 < file.size(); ++i)
      progressive = progressive || (file[i] == 0xFF && file[i + 1] == 0xC2);
  }
  EXPECT_TRUE(progressive);
  for (int depth : {1, 2, 4, 8}) EXPECT_EQ(alphaDepths.count(depth), 1u) << "BLP2 paletted alpha depth " << depth;
  EXPECT_EQ(magics, (std::set<std::string>{"BLP0", "BLP1", "BLP2"}));
  EXPECT_EQ(labels, (std::set<std::string>{"BLP paletted", "BLP JPEG", "BLP DXT1", "BLP DXT3", "BLP DXT5",
                                           "BLP uncompressed"}));
  EXPECT_EQ(types, (std::set<int>{kRgbImage, kRgbaImage, kIndexedImage, kIndexedaImage}));
}

}  // namespace
}  // namespace vellum::gimptest
