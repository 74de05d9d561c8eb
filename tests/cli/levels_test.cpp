// decode --level and --all-levels: each mipmap level comes back as the writer made it. For
// a grey image saved paletted the levels are exact (the grey ramp holds every value), so
// they are checked against an independent halving written here.
#include <gtest/gtest.h>

#include "cli_harness.h"
#include "test_images.h"

namespace vellum::clitest {
namespace {

struct Level {
  uint32_t w, h;
  Bytes rgba;
};

// The mipmap filter written out plainly: 2 x 2 boxes rounded, pairs truncated on a side
// of 1, an odd last row or column left out.
Level halve(const Level& in) {
  Level out{in.w > 1 ? in.w / 2 : 1, in.h > 1 ? in.h / 2 : 1, {}};
  out.rgba.resize(size_t(out.w) * out.h * 4);
  auto at = [&](uint32_t x, uint32_t y, int c) { return int(in.rgba[(size_t(y) * in.w + x) * 4 + c]); };
  for (uint32_t y = 0; y < out.h; ++y)
    for (uint32_t x = 0; x < out.w; ++x)
      for (int c = 0; c < 4; ++c) {
        int v;
        if (in.w > 1 && in.h > 1)
          v = (at(2 * x, 2 * y, c) + at(2 * x + 1, 2 * y, c) + at(2 * x, 2 * y + 1, c) + at(2 * x + 1, 2 * y + 1, c) + 1) >> 2;
        else if (in.h == 1)
          v = (at(2 * x, 0, c) + at(2 * x + 1, 0, c)) >> 1;
        else
          v = (at(0, 2 * y, c) + at(0, 2 * y + 1, c)) >> 1;
        out.rgba[(size_t(y) * out.w + x) * 4 + c] = uint8_t(v);
      }
  return out;
}

std::vector<Level> chain(const SourceImage& s) {
  std::vector<Level> levels{{s.png.width, s.png.height, s.rgba}};
  while (levels.back().w + levels.back().h > 2) levels.push_back(halve(levels.back()));
  return levels;
}

double meanDifference(const Bytes& a, const Bytes& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
  return sum / double(a.size());
}

TEST(CliLevels, EveryLevelOfAPalettedFileIsExact) {
  ScratchDir dir;
  SourceImage source = makeSource(InputKind::GreyAlpha);  // 37 x 29: six levels
  ASSERT_TRUE(writePngFile(dir / "in.png", source.png));
  ASSERT_EQ(runVellum({"encode", "-q", "--format", "blp2-paletted8", dir / "in.png"}).exitCode, 0);
  std::vector<Level> expected = chain(source);
  ASSERT_EQ(expected.size(), 6u);
  for (uint32_t k = 0; k < expected.size(); ++k) {
    SCOPED_TRACE(k);
    const std::string out = dir / ("level" + std::to_string(k) + ".png");
    RunResult r = runVellum({"decode", "-q", "--level", std::to_string(k), dir / "in.blp", "-o", out});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    PngRead png = readPngFile(out);
    ASSERT_TRUE(png.ok);
    EXPECT_EQ(png.colourType, 6);
    ASSERT_EQ(png.width, expected[k].w);
    ASSERT_EQ(png.height, expected[k].h);
    EXPECT_EQ(png.rgba, expected[k].rgba);
  }

  RunResult all = runVellum({"decode", "-q", "--all-levels", dir / "in.blp"});
  ASSERT_EQ(all.exitCode, 0) << all.err;
  for (uint32_t k = 0; k < expected.size(); ++k) {
    PngRead png = readPngFile(dir / ("in.mip" + std::to_string(k) + ".png"));
    ASSERT_TRUE(png.ok) << k;
    EXPECT_EQ(png.rgba, expected[k].rgba) << k;
  }
  EXPECT_FALSE(fileExists(dir / "in.mip6.png"));
}

TEST(CliLevels, ChainCutShortByMipsHasNoFurtherLevels) {
  ScratchDir dir;
  SourceImage source = makeSource(InputKind::Grey);
  ASSERT_TRUE(writePngFile(dir / "in.png", source.png));
  ASSERT_EQ(runVellum({"encode", "-q", "--format", "blp1-paletted", "--mips", "3", dir / "in.png"}).exitCode, 0);
  RunResult all = runVellum({"decode", "-q", "--all-levels", dir / "in.blp", "-o", dir / "x.png"});
  ASSERT_EQ(all.exitCode, 0) << all.err;
  std::vector<Level> expected = chain(source);
  for (uint32_t k = 0; k < 3; ++k) {
    PngRead png = readPngFile(dir / ("x.mip" + std::to_string(k) + ".png"));
    ASSERT_TRUE(png.ok) << k;
    EXPECT_EQ(png.colourType, 3);  // no alpha: palette PNG
    EXPECT_EQ(png.rgba, expected[k].rgba) << k;
  }
  EXPECT_FALSE(fileExists(dir / "x.mip3.png"));

  // Level 3's table entry repeats level 2; level 6 does not exist for 37 x 29.
  RunResult repeated = runVellum({"decode", "--level", "3", dir / "in.blp"});
  EXPECT_EQ(repeated.exitCode, 1);
  EXPECT_NE(repeated.err.find("not stored"), std::string::npos) << repeated.err;
  RunResult beyond = runVellum({"decode", "--level", "6", dir / "in.blp"});
  EXPECT_EQ(beyond.exitCode, 1);
  EXPECT_NE(beyond.err.find("no mipmap level 6"), std::string::npos) << beyond.err;
  EXPECT_EQ(runVellum({"decode", "--level", "16", dir / "in.blp"}).exitCode, 2);
  EXPECT_FALSE(anyTemporary(dir.path));
}

// JPEG levels are the shared header followed by each level's own bytes, and DXT levels
// start at their own offsets: both decode close to the halved image.
TEST(CliLevels, JpegAndDxtLevelsDecodeCloseToTheHalvedImage) {
  ScratchDir dir;
  SourceImage source = makeSource(InputKind::Rgba);
  ASSERT_TRUE(writePngFile(dir / "in.png", source.png));
  std::vector<Level> expected = chain(source);
  for (const char* format : {"blp1-jpeg", "blp2-jpeg", "blp2-dxt"}) {
    SCOPED_TRACE(format);
    ASSERT_EQ(runVellum({"encode", "-q", "-f", "--format", format, dir / "in.png"}).exitCode, 0);
    Bytes file = readBytes(dir / "in.blp");
    if (format[3] == '1') {
      EXPECT_GT(loadLe(file, 156), 0u) << "shared JPEG header expected with six levels";
    }
    for (uint32_t k : {1u, 2u, 4u}) {
      RunResult r = runVellum({"decode", "-q", "-f", "--level", std::to_string(k), dir / "in.blp", "-o", dir / "level.png"});
      ASSERT_EQ(r.exitCode, 0) << r.err;
      PngRead png = readPngFile(dir / "level.png");
      ASSERT_TRUE(png.ok);
      ASSERT_EQ(png.width, expected[k].w);
      ASSERT_EQ(png.height, expected[k].h);
      // A wrong level (other data, other sides) would be far off; DXT blocks on these
      // steep small levels lose more than JPEG at quality 100.
      EXPECT_LE(meanDifference(png.rgba, expected[k].rgba), format[5] == 'd' ? 10.0 : 4.0) << "level " << k;
    }
  }
}

}  // namespace
}  // namespace vellum::clitest
