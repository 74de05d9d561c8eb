// Save choices on the command line: named options, the dialog's labels and the packed
// options word all give the same file; the defaults are the dialog's; the bytes equal
// those of the writer's XnView path for the same pixels.
#include <gtest/gtest.h>

#include "cli_harness.h"
#include "core/blp_writer.h"
#include "core/save_options.h"
#include "test_images.h"

namespace vellum::clitest {
namespace {

std::string hexWord(uint32_t word) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", word);
  return buffer;
}

Bytes encodeWith(const ScratchDir& dir, const std::string& input, std::vector<std::string> options) {
  std::vector<std::string> args = {"encode", "-q", "-f", input, "-o", dir / "out.blp"};
  args.insert(args.end(), options.begin(), options.end());
  RunResult r = runVellum(args);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return readBytes(dir / "out.blp");
}

TEST(Options, WordAndNamedOptionsGiveTheSameFile) {
  ScratchDir dir;
  ASSERT_TRUE(writePngFile(dir / "in.png", makeSource(InputKind::Rgba).png));
  struct Case {
    SaveOptions options;
    std::vector<std::string> named;
  };
  auto make = [](BlpContentType t, QuantizerKind q, int quality, bool progressive, int mips) {
    SaveOptions o;
    o.contentType = t;
    o.quantizer = q;
    o.jpegQuality = uint8_t(quality);
    o.progressive = progressive;
    o.maxMipLevels = uint8_t(mips);
    return o;
  };
  const Case cases[] = {
      {make(BlpContentType::Blp1Jpeg, QuantizerKind::NeuQuant100, 73, true, 4),
       {"--format", "blp1-jpeg", "--quality", "73", "--progressive", "--mips", "4"}},
      {make(BlpContentType::Blp2Jpeg, QuantizerKind::NeuQuant100, 40, false, 16), {"--format=BLP2 JPEG", "--quality=40"}},
      {make(BlpContentType::Blp1Paletted, QuantizerKind::Dl3Fast, 100, false, 3),
       {"--format", "blp1-paletted", "--quantizer", "dl3-fast", "--mips", "3"}},
      {make(BlpContentType::Blp2Paletted8, QuantizerKind::MedianCut, 100, false, 16),
       {"--format", "BLP2 Paletted 8-bit alpha", "--quantizer", "Mediancut"}},
      {make(BlpContentType::Blp2Paletted4, QuantizerKind::NeuQuant128, 100, false, 2),
       {"--format", "blp2-paletted4", "--quantizer", "neuquant128", "--mips", "2"}},
      {make(BlpContentType::Blp2Paletted1, QuantizerKind::Dl3Slow, 100, false, 16),
       {"--format", "blp2-paletted1", "--quantizer", "Dennis Lee3 slow"}},
      {make(BlpContentType::Blp2Dxt, QuantizerKind::NeuQuant100, 100, false, 5), {"--format", "blp2-dxt", "--mips", "5"}},
  };
  for (const Case& c : cases) {
    const std::string word = hexWord(packSaveOptions(c.options));
    SCOPED_TRACE(word);
    Bytes fromWord = encodeWith(dir, dir / "in.png", {"--options", word});
    Bytes fromNames = encodeWith(dir, dir / "in.png", c.named);
    ASSERT_GT(fromWord.size(), 148u);
    EXPECT_EQ(fromWord, fromNames);
  }
}

TEST(Options, DefaultsAreTheDialogDefaults) {
  ScratchDir dir;
  ASSERT_TRUE(writePngFile(dir / "in.png", makeSource(InputKind::Rgb).png));
  Bytes plain = encodeWith(dir, dir / "in.png", {});
  Bytes word = encodeWith(dir, dir / "in.png", {"--options", "0x10000064"});
  ASSERT_GT(plain.size(), 160u);
  EXPECT_EQ(plain, word);
  EXPECT_EQ(std::string(plain.begin(), plain.begin() + 4), "BLP1");  // BLP1 JPEG
  EXPECT_EQ(plain[4], 0);                                            // JPEG storage
}

TEST(Options, NamedOptionsOverrideTheWord) {
  ScratchDir dir;
  ASSERT_TRUE(writePngFile(dir / "in.png", makeSource(InputKind::Rgb).png));
  Bytes a = encodeWith(dir, dir / "in.png", {"--options", "0x10000464", "--mips", "2"});  // BLP2 DXT
  Bytes b = encodeWith(dir, dir / "in.png", {"--format", "blp2-dxt", "--mips", "2"});
  EXPECT_EQ(a, b);
}

TEST(Options, ProgressiveIsIgnoredOutsideJpegAsInTheDialog) {
  ScratchDir dir;
  ASSERT_TRUE(writePngFile(dir / "in.png", makeSource(InputKind::Rgb).png));
  Bytes a = encodeWith(dir, dir / "in.png", {"--format", "blp2-paletted8", "--progressive"});
  Bytes b = encodeWith(dir, dir / "in.png", {"--options", "0x10000364"});
  EXPECT_EQ(a, b);
}

TEST(Options, BadValuesAreUsageErrors) {
  ScratchDir dir;
  ASSERT_TRUE(writePngFile(dir / "in.png", makeSource(InputKind::Rgb).png));
  const std::vector<std::vector<std::string>> bad = {
      {"--format", "blp3"},      {"--quality", "0"},        {"--quality", "101"},   {"--mips", "17"},
      {"--mips", "0"},           {"--quantizer", "octree"}, {"--options", "0x10000764"},  // content type 7
      {"--options", "0x00000064"},                                                    // 0 levels
      {"--options", "0x10052064"},                                                    // quantizer 5, bit 13
      {"--options", "zz"},       {"--jobs", "0"},           {"--max-pixels", "0"},  {"--bogus"},
      {"-x"},                    {"--level", "1"},  // decode only
  };
  for (const auto& options : bad) {
    std::vector<std::string> args = {"encode", dir / "in.png"};
    args.insert(args.end(), options.begin(), options.end());
    RunResult r = runVellum(args);
    SCOPED_TRACE(options[0]);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("vellum: "), std::string::npos);
    EXPECT_FALSE(fileExists(dir / "in.blp"));
  }
}

// The tool takes the XnView plug-in's path through the writer for grey, RGB and RGBA
// images (bytes per pixel 1, 3, 4), so both write the same bytes for the same pixels.
TEST(Options, SameBytesAsTheXnViewPath) {
  ScratchDir dir;
  for (InputKind kind : {InputKind::Grey, InputKind::Rgb, InputKind::Rgba}) {
    SourceImage source = makeSource(kind);
    ASSERT_TRUE(writePngFile(dir / "in.png", source.png));
    for (int type = 0; type < 7; ++type) {
      SCOPED_TRACE(std::string(kindName(kind)) + " type " + std::to_string(type));
      SaveOptions options;
      options.contentType = BlpContentType(type);
      Bytes cli = encodeWith(dir, dir / "in.png", {"--options", hexWord(packSaveOptions(options))});

      const uint32_t w = source.png.width, h = source.png.height;
      Bytes palette(1024, 0), pixels = source.rgba;
      uint32_t bytesPerPixel = kind == InputKind::Grey ? 1 : kind == InputKind::Rgb ? 3 : 4;
      if (kind == InputKind::Grey)
        for (int i = 0; i < 256; ++i) palette[4 * i] = palette[4 * i + 1] = palette[4 * i + 2] = uint8_t(i), palette[4 * i + 3] = 255;
      Bytes area(blpOutputCapacity(w, h));
      BlpOutput output;
      output.data = area.data();
      output.capacity = area.size();
      uint64_t length = 0;
      ASSERT_EQ(encodeBlpImage(w, h, bytesPerPixel, palette.data(), pixels.data(), options, &output, &length), BlpStatus::Ok);
      EXPECT_EQ(cli, Bytes(output.data, output.data + length));
    }
  }
}

}  // namespace
}  // namespace vellum::clitest
