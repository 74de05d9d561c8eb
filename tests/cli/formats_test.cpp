// The inputs and outputs beyond PNG: every input format against an independent decode
// (Pillow), DDS blocks through BLP and back unchanged (ImageMagick's DDS files too), the
// DXT kinds as the headers declare them and as Pillow reads them, hand-made levels.
#include <gtest/gtest.h>

#include "cli_harness.h"
#include "test_images.h"

namespace vellum::clitest {
namespace {

int sh(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

// Pillow's decode of any image as an RGBA PNG.
bool pillowToPng(const std::string& in, const std::string& out) {
  return sh("/usr/bin/python3 -c \"import sys; from PIL import Image; Image.open(sys.argv[1]).convert('RGBA')"
            ".save(sys.argv[2])\" '" + in + "' '" + out + "'") == 0;
}

std::string makeTexture(const ScratchDir& dir, int size = 64) {
  const std::string png = dir / "t.png";
  EXPECT_EQ(runVellum({"generate", "-f", "--size", std::to_string(size), png}).exitCode, 0);
  return png;
}

TEST(CliFormats, EachInputMatchesPillowsDecode) {
  ScratchDir dir;
  const std::string png = makeTexture(dir);
  struct Case {
    const char* name;
    const char* convert;  // ImageMagick arguments that write it from the texture
  };
  const Case cases[] = {
      {"q90.jpg", "-quality 90"},         {"grey.jpg", "-colorspace Gray -quality 80"},
      {"rgba.tga", ""},                   {"rle.tga", "-compress RLE"},
      {"rgb.bmp", "-alpha off"},          {"rgba.bmp", "-define bmp:format=bmp4"},
      {"lossless.webp", "-define webp:lossless=true"}, {"lossy.webp", "-quality 60"},
      {"palette.png", "-colors 50 PNG8:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string target = dir / c.name;
    std::string convert = c.convert;
    if (convert.size() > 5 && convert.compare(convert.size() - 5, 5, "PNG8:") == 0) {
      target = "PNG8:" + target;
      convert.resize(convert.size() - 5);
    }
    ASSERT_EQ(sh("convert '" + png + "' " + convert + " '" + target + "'"), 0);
    ASSERT_TRUE(pillowToPng(dir / c.name, dir / "pillow.png"));
    RunResult r = runVellum({"compare", dir / "pillow.png", dir / c.name});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("largest difference 0"), std::string::npos) << r.out;
    RunResult e = runVellum({"encode", "-q", "-f", "--format", "blp2-paletted8", dir / c.name, "-o", dir / "x.blp"});
    EXPECT_EQ(e.exitCode, 0) << e.err;
  }
}

// Level k's bytes of a BLP2 file, from its table.
Bytes blpLevel(const Bytes& blp, uint32_t k) {
  const uint32_t offset = loadLe(blp, 20 + 4 * k), size = loadLe(blp, 84 + 4 * k);
  return Bytes(blp.begin() + offset, blp.begin() + offset + size);
}

TEST(CliFormats, DdsBlocksPassThroughBothWays) {
  ScratchDir dir;
  const std::string png = makeTexture(dir);
  // ImageMagick writes DXT1 and DXT5 (it makes DXT5 when asked for DXT3); the DXT3 file
  // comes from our own writer.
  ASSERT_EQ(runVellum({"encode", "-q", "--format", "blp2-dxt", "--dxt", "dxt3", png, "-o", dir / "ours3.blp"}).exitCode, 0);
  ASSERT_EQ(runVellum({"decode", "-q", "--to", "dds", dir / "ours3.blp", "-o", dir / "dxt3.dds"}).exitCode, 0);
  for (const char* kind : {"dxt1", "dxt3", "dxt5"}) {
    SCOPED_TRACE(kind);
    const std::string dds = dir / (std::string(kind) + ".dds"), blp = dir / (std::string(kind) + ".blp");
    if (kind[3] != '3') {
      ASSERT_EQ(sh("convert '" + png + "' -define dds:compression=" + kind + " -define dds:mipmaps=6 '" + dds + "'"), 0);
    }
    ASSERT_EQ(runVellum({"encode", "-q", dds, "-o", blp}).exitCode, 0);
    const Bytes ddsBytes = readBytes(dds), blpBytes = readBytes(blp);
    ASSERT_GT(blpBytes.size(), 148u);
    EXPECT_EQ(blpBytes[8], 2);                                                    // DXT
    EXPECT_EQ(blpBytes[10], kind[3] == '1' ? 0 : kind[3] == '3' ? 1 : 7);        // alpha type
    // Every level of the DDS, block for block.
    size_t at = 128;
    for (uint32_t k = 0; k < 7; ++k) {
      Bytes level = blpLevel(blpBytes, k);
      ASSERT_LE(at + level.size(), ddsBytes.size());
      EXPECT_EQ(level, Bytes(ddsBytes.begin() + long(at), ddsBytes.begin() + long(at + level.size()))) << k;
      at += level.size();
    }
    // Back to DDS: the same blocks; and that DDS gives the same BLP again.
    ASSERT_EQ(runVellum({"decode", "-q", "--to", "dds", blp, "-o", dir / "back.dds", "-f"}).exitCode, 0);
    const Bytes back = readBytes(dir / "back.dds");
    EXPECT_EQ(Bytes(back.begin() + 128, back.end()), Bytes(ddsBytes.begin() + 128, ddsBytes.end()));
    ASSERT_EQ(runVellum({"encode", "-q", "-f", dir / "back.dds", "-o", dir / "again.blp"}).exitCode, 0);
    EXPECT_EQ(readBytes(dir / "again.blp"), blpBytes);
    // ImageMagick reads our DDS as it reads its own.
    EXPECT_EQ(sh("convert '" + dir / "back.dds" + "' '" + dir / "im.png" + "'"), 0);
    EXPECT_NE(runVellum({"compare", dir / "im.png", dds}).out.find("largest difference 0"), std::string::npos);
  }
}

// DXT1 blocks decide the alpha depth: 1 only when a three-colour block uses index 3.
TEST(CliFormats, Dxt1AlphaDepthFromTheBlocks) {
  ScratchDir dir;
  for (bool cutOut : {false, true}) {
    Bytes dds(128 + 8, 0);
    std::memcpy(dds.data(), "DDS ", 4);
    storeLe(dds, 4, 124);
    storeLe(dds, 12, 4);  // height
    storeLe(dds, 16, 4);  // width
    storeLe(dds, 76, 32);
    storeLe(dds, 80, 4);  // FourCC
    std::memcpy(dds.data() + 84, "DXT1", 4);
    // Colours 0x0000 <= 0xFFFF: three-colour mode; indices all 2, or one pixel 3.
    const uint8_t block[8] = {0, 0, 0xFF, 0xFF, uint8_t(cutOut ? 0xAB : 0xAA), 0xAA, 0xAA, 0xAA};
    std::memcpy(dds.data() + 128, block, 8);
    writeBytes(dir / "b.dds", dds);
    ASSERT_EQ(runVellum({"encode", "-q", "-f", dir / "b.dds", "-o", dir / "b.blp"}).exitCode, 0);
    const Bytes blp = readBytes(dir / "b.blp");
    EXPECT_EQ(blp[9], cutOut ? 1 : 0);
    EXPECT_EQ(blpLevel(blp, 0), Bytes(block, block + 8));
  }
}

// --dxt and --dxt-fit: the header each kind declares, and Pillow reads every one of them
// as our reader does.
TEST(CliFormats, DxtKindsAndFits) {
  ScratchDir dir;
  const std::string png = makeTexture(dir);
  struct Case {
    const char* dxt;
    const char* fit;
    uint8_t alphaDepth, alphaType;
    uint32_t blockBytes;
  };
  const Case cases[] = {{"dxt1", "range", 0, 0, 8},  {"dxt1a", "cluster", 1, 0, 8}, {"dxt3", "iterative", 8, 1, 16},
                        {"dxt5", "range", 8, 7, 16}, {"auto", "cluster", 8, 7, 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.dxt) + " " + c.fit);
    ASSERT_EQ(runVellum({"encode", "-q", "-f", "--format", "blp2-dxt", "--dxt", c.dxt, "--dxt-fit", c.fit, png, "-o",
                         dir / "d.blp"})
                  .exitCode,
              0);
    const Bytes blp = readBytes(dir / "d.blp");
    EXPECT_EQ(blp[9], c.alphaDepth);
    EXPECT_EQ(blp[10], c.alphaType);
    EXPECT_EQ(loadLe(blp, 84), 16u * 16u * c.blockBytes);  // 64 x 64: 256 blocks
    ASSERT_EQ(runVellum({"decode", "-q", "-f", dir / "d.blp", "-o", dir / "ours.png"}).exitCode, 0);
    ASSERT_TRUE(pillowToPng(dir / "d.blp", dir / "pillow.png"));
    // Pillow interpolates the block colours with its own rounding: the same alpha, colours
    // within a few steps.
    RunResult r = runVellum({"compare", "--min-psnr", "35", dir / "pillow.png", dir / "ours.png"});
    EXPECT_NE(r.out.find("alpha inf"), std::string::npos) << r.out;
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  }
  // The fits differ from each other, so the choice reaches the compressor.
  Bytes files[3];
  int i = 0;
  for (const char* fit : {"range", "cluster", "iterative"}) {
    runVellum({"encode", "-q", "-f", "--format", "blp2-dxt", "--dxt-fit", fit, png, "-o", dir / "f.blp"});
    files[i++] = readBytes(dir / "f.blp");
  }
  EXPECT_NE(files[0], files[1]);
  EXPECT_NE(files[0], files[2]);
}

// decode --all-levels then encode --levels-from gives the same file for paletted content
// without alpha; given levels are used as they are; wrong sizes are refused by name.
TEST(CliFormats, HandMadeLevels) {
  ScratchDir dir;
  ASSERT_TRUE(writePngFile(dir / "p.png", makeSource(InputKind::Paletted, 64, 32).png));
  ASSERT_EQ(runVellum({"encode", "-q", "--format", "blp1-paletted", dir / "p.png", "-o", dir / "p.blp"}).exitCode, 0);
  ASSERT_EQ(runVellum({"decode", "-q", "--all-levels", dir / "p.blp", "-o", dir / "A.png"}).exitCode, 0);
  ASSERT_EQ(runVellum({"encode", "-q", "--format", "blp1-paletted", "--levels-from", dir / "A.mip0.png"}).exitCode, 0);
  EXPECT_EQ(readBytes(dir / "A.blp"), readBytes(dir / "p.blp"));

  // Level 1 replaced by a flat colour: the file's level 1 decodes to it, level 2 is filtered from it.
  PngImage flat;
  flat.width = 32, flat.height = 16, flat.colourType = 2;
  for (uint32_t i = 0; i < 32 * 16; ++i) flat.samples.insert(flat.samples.end(), {200, 40, 10});
  ASSERT_TRUE(writePngFile(dir / "A.mip1.png", flat));
  ASSERT_EQ(runVellum({"encode", "-q", "--format", "blp2-dxt", "--levels", dir / "A.mip0.png", dir / "A.mip1.png", "-o",
                       dir / "hand.blp"})
                .exitCode,
            0);
  for (const char* level : {"1", "2"}) {
    ASSERT_EQ(runVellum({"decode", "-q", "-f", "--level", level, dir / "hand.blp", "-o", dir / "l.png"}).exitCode, 0);
    PngRead l = readPngFile(dir / "l.png");
    ASSERT_TRUE(l.ok);
    EXPECT_NEAR(l.rgba[0], 200, 4) << level;
    EXPECT_NEAR(l.rgba[1], 40, 4) << level;
  }
  flat.width = 30;
  flat.samples.resize(30 * 16 * 3);
  ASSERT_TRUE(writePngFile(dir / "bad.png", flat));
  RunResult r = runVellum({"encode", "--levels", dir / "A.mip0.png", dir / "bad.png", "-o", dir / "bad.blp"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find(dir / "bad.png" + ": level 1 must be 32 x 16 pixels, not 30 x 16"), std::string::npos) << r.err;
  EXPECT_FALSE(fileExists(dir / "bad.blp"));
}

}  // namespace
}  // namespace vellum::clitest
