// The demo's helpers: `generate` makes the same texture every time, `compare` measures
// PNG and BLP files alike.
#include <gtest/gtest.h>

#include "cli_harness.h"
#include "test_images.h"

namespace vellum::clitest {
namespace {

TEST(CliGenerate, SameTextureEveryTimeWithAlpha) {
  ScratchDir dir;
  ASSERT_EQ(runVellum({"generate", "--size", "64", dir / "a.png"}).exitCode, 0);
  ASSERT_EQ(runVellum({"generate", "--size", "64", "-o", dir / "b.png"}).exitCode, 0);
  EXPECT_EQ(readBytes(dir / "a.png"), readBytes(dir / "b.png"));
  PngRead png = readPngFile(dir / "a.png");
  ASSERT_TRUE(png.ok);
  EXPECT_EQ(png.width, 64u);
  EXPECT_EQ(png.colourType, 6);
  int transparent = 0, opaque = 0, partial = 0;
  for (size_t i = 3; i < png.rgba.size(); i += 4) {
    transparent += png.rgba[i] == 0;
    opaque += png.rgba[i] == 255;
    partial += png.rgba[i] != 0 && png.rgba[i] != 255;
  }
  EXPECT_GT(transparent, 0);
  EXPECT_GT(opaque, 64 * 64 / 2);
  EXPECT_GT(partial, 0);
  EXPECT_EQ(runVellum({"generate", "--size", "64", dir / "a.png"}).exitCode, 3);  // exists
  EXPECT_EQ(runVellum({"generate", "--size", "8", dir / "c.png"}).exitCode, 2);
}

TEST(CliCompare, PngAndBlpAlike) {
  ScratchDir dir;
  ASSERT_TRUE(writePngFile(dir / "grey.png", makeSource(InputKind::GreyAlpha).png));
  ASSERT_EQ(runVellum({"encode", "-q", "--format", "blp2-paletted8", dir / "grey.png"}).exitCode, 0);
  RunResult same = runVellum({"compare", dir / "grey.png", dir / "grey.blp"});
  ASSERT_EQ(same.exitCode, 0) << same.err;
  EXPECT_EQ(same.out, dir / "grey.blp" + ": PSNR colour inf, alpha inf, largest difference 0\n");

  // One grey sample off by 10 in a 37 x 29 image: three channels, MSE 300 / (1073 * 3).
  SourceImage changed = makeSource(InputKind::GreyAlpha);
  changed.png.samples[0] = uint8_t(changed.png.samples[0] + 10);
  ASSERT_TRUE(writePngFile(dir / "changed.png", changed.png));
  RunResult diff = runVellum({"compare", dir / "grey.png", dir / "changed.png"});
  ASSERT_EQ(diff.exitCode, 0) << diff.err;
  EXPECT_NE(diff.out.find("PSNR colour 58.44 dB, alpha inf, largest difference 10"), std::string::npos) << diff.out;

  ASSERT_TRUE(writePngFile(dir / "other.png", makeSource(InputKind::Grey, 10, 10).png));
  RunResult size = runVellum({"compare", dir / "grey.png", dir / "other.png"});
  EXPECT_EQ(size.exitCode, 1);
  EXPECT_EQ(lineCount(size.err), 1u);
}

}  // namespace
}  // namespace vellum::clitest
