// Save choices on the command line: named options, the dialog's labels and the packed
// options word all give the same file; the defaults are the dialog's; the bytes equal
// those of the XnView plug-in for the same pixels.
#include <gtest/gtest.h>

#include "cli_harness.h"
#include "core/blp_writer.h"
#include "core/save_options.h"
#include "test_images.h"
#include "xnview/xn_save.h"

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

TEST(CliOptions, WordAndNamedOptionsGiveTheSameFile) {
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

TEST(CliOptions, DefaultsAreTheDialogDefaults) {
  ScratchDir dir;
  ASSERT_TRUE(writePngFile(dir / "in.png", makeSource(InputKind::Rgb).png));
  Bytes plain = encodeWith(dir, dir / "in.png", {});
  Bytes word = encodeWith(dir, dir / "in.png", {"--options", "0x10000064"});
  ASSERT_GT(plain.size(), 160u);
  EXPECT_EQ(plain, word);
  EXPECT_EQ(std::string(plain.begin(), plain.begin() + 4), "BLP1");  // BLP1 JPEG
  EXPECT_EQ(plain[4], 0);                                            // JPEG storage
}

TEST(CliOptions, NamedOptionsOverrideTheWord) {
  ScratchDir dir;
  ASSERT_TRUE(writePngFile(dir / "in.png", makeSource(InputKind::Rgb).png));
  Bytes a = encodeWith(dir, dir / "in.png", {"--options", "0x10000464", "--mips", "2"});  // BLP2 DXT
  Bytes b = encodeWith(dir, dir / "in.png", {"--format", "blp2-dxt", "--mips", "2"});
  EXPECT_EQ(a, b);
}

TEST(CliOptions, ProgressiveIsIgnoredOutsideJpegAsInTheDialog) {
  ScratchDir dir;
  ASSERT_TRUE(writePngFile(dir / "in.png", makeSource(InputKind::Rgb).png));
  Bytes a = encodeWith(dir, dir / "in.png", {"--format", "blp2-paletted8", "--progressive"});
  Bytes b = encodeWith(dir, dir / "in.png", {"--options", "0x10000364"});
  EXPECT_EQ(a, b);
}

TEST(CliOptions, BadValuesAreUsageErrors) {
  ScratchDir dir;
  ASSERT_TRUE(writePngFile(dir / "in.png", makeSource(InputKind::Rgb).png));
  const std::vector<std::vector<std::string>> bad = {
      {"--format", "blp3"},      {"--quality", "0"},        {"--quality", "101"},   {"--mips", "17"},
      {"--mips", "0"},           {"--quantizer", "octree"}, {"--options", "0x10000764"},  // content type 7
      {"--options", "0x00000064"},                                                    // 0 levels
      {"--options", "0x10052064"},                                                    // quantizer 5, bit 13
      {"--options", "zz"},       {"--jobs", "0"},           {"--max-pixels", "0"},  {"--bogus"},
      {"-x"},                    {"--level", "1"},  // decode only
      {"-o", ""},
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

// Byte identity with the XnView plug-in: the same pixels handed to the plug-in's save
// collection (8-bit grey without a colormap, a 4-bit image with a 16-entry colormap,
// 24-bit and 32-bit rows) and to the tool as PNG give the same file, for every format.
Bytes xnviewSave(uint32_t w, uint32_t h, int bitsPerPixel, const uint8_t* colormap, const Bytes& rows,
                 size_t rowBytes, const SaveOptions& options) {
  XnSaveImage image;
  EXPECT_EQ(xnSaveBegin(&image, int32_t(w), int32_t(h), bitsPerPixel), BlpStatus::Ok);
  if (colormap != nullptr) xnSavePutColormap(&image, colormap);
  for (uint32_t y = 0; y < h; ++y) xnSavePutLine(&image, int32_t(y), rows.data() + y * rowBytes);
  uint64_t length = 0;
  EXPECT_EQ(xnSaveEncode(&image, options, &length), BlpStatus::Ok);
  Bytes file(image.output.data, image.output.data + length);
  xnSaveRelease(&image);
  return file;
}

TEST(CliOptions, SameBytesAsTheXnViewPlugin) {
  ScratchDir dir;
  const uint32_t w = 37, h = 29;
  struct Input {
    const char* name;
    PngImage png;
    int bitsPerPixel;
    Bytes rows;
    size_t rowBytes;
    Bytes colormap;  // three planes of 256 entries, or empty
  };
  std::vector<Input> inputs;
  for (InputKind kind : {InputKind::Grey, InputKind::Rgb, InputKind::Rgba}) {
    SourceImage s = makeSource(kind);
    int bits = kind == InputKind::Grey ? 8 : kind == InputKind::Rgb ? 24 : 32;
    inputs.push_back({kindName(kind), s.png, bits, s.png.samples, size_t(w) * (bits / 8), {}});
  }
  // A 4-bit paletted image of 16 colours: the PNG packs two pixels a byte, high nibble
  // first, as XnView's 4-bit rows do.
  Input four{"Paletted4", {}, 4, {}, (w + 1) / 2, Bytes(768, 0)};
  four.png.width = w;
  four.png.height = h;
  four.png.colourType = 3;
  four.png.bitDepth = 4;
  for (uint32_t i = 0; i < 16; ++i) {
    auto e = paletteEntry(i * 3);
    four.png.palette.push_back(e);
    four.colormap[i] = e[0], four.colormap[256 + i] = e[1], four.colormap[512 + i] = e[2];
  }
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; x += 2) {
      uint8_t a = uint8_t((x + y) % 16), b = uint8_t(x + 1 < w ? (x + 1 + 2 * y) % 16 : 0);
      four.rows.push_back(uint8_t(a << 4 | b));
    }
  four.png.samples = four.rows;
  inputs.push_back(four);

  for (const Input& in : inputs) {
    ASSERT_TRUE(writePngFile(dir / "in.png", in.png));
    for (int type = 0; type < 7; ++type) {
      SCOPED_TRACE(std::string(in.name) + " type " + std::to_string(type));
      SaveOptions options;
      options.contentType = BlpContentType(type);
      options.maxMipLevels = 5;
      Bytes cli = encodeWith(dir, dir / "in.png", {"--options", hexWord(packSaveOptions(options))});
      Bytes plugin = xnviewSave(w, h, in.bitsPerPixel, in.colormap.empty() ? nullptr : in.colormap.data(), in.rows,
                                in.rowBytes, options);
      ASSERT_GT(plugin.size(), 148u);
      EXPECT_EQ(cli, plugin);
    }
  }
}

}  // namespace
}  // namespace vellum::clitest
