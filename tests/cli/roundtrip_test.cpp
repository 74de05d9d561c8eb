// Every encode format x input kind: PNG -> BLP -> PNG through the built tool, checking the
// decoded PNG's mode and pixels (exact where the path is lossless).
#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

#include "cli_harness.h"
#include "test_images.h"

namespace vellum::clitest {
namespace {

struct Format {
  const char* name;
  bool paletted;
  bool jpeg;
  bool dxt;
  bool blp2;
  int alphaBits;  // of the alpha plane for paletted formats
};

const Format kFormats[] = {
    {"blp1-jpeg", false, true, false, false, 8},      {"blp1-paletted", true, false, false, false, 8},
    {"blp2-jpeg", false, true, false, true, 8},       {"blp2-paletted8", true, false, false, true, 8},
    {"blp2-dxt", false, false, true, true, 8},        {"blp2-paletted4", true, false, false, true, 4},
    {"blp2-paletted1", true, false, false, true, 1},
};

const InputKind kKinds[] = {InputKind::Grey, InputKind::GreyAlpha,  InputKind::Paletted,
                            InputKind::PalettedTrns, InputKind::Rgb, InputKind::Rgba,
                            InputKind::Grey16Alpha, InputKind::Rgb16};

// The alpha a paletted file of this depth gives back for a source alpha.
int storedAlpha(int depth, int alpha) {
  if (depth == 4) return (alpha >> 4) * 17;
  if (depth == 1) return alpha >= 128 ? 255 : 0;
  return alpha;
}

struct Differences {
  double colourMean = 0, alphaMean = 0;
  int colourMax = 0, alphaMax = 0;
};

Differences compare(const Bytes& expected, const Bytes& actual) {
  Differences d;
  const size_t pixels = expected.size() / 4;
  double colour = 0, alpha = 0;
  for (size_t i = 0; i < expected.size(); ++i) {
    int diff = std::abs(int(expected[i]) - int(actual[i]));
    if (i % 4 == 3) {
      alpha += diff;
      d.alphaMax = std::max(d.alphaMax, diff);
    } else {
      colour += diff;
      d.colourMax = std::max(d.colourMax, diff);
    }
  }
  d.colourMean = colour / double(pixels * 3);
  d.alphaMean = alpha / double(pixels);
  return d;
}

class CliRoundTrip : public ::testing::TestWithParam<std::tuple<int, InputKind>> {};

TEST_P(CliRoundTrip, DecodesToExpectedModeAndPixels) {
  const Format& f = kFormats[std::get<0>(GetParam())];
  const InputKind kind = std::get<1>(GetParam());
  const bool alpha = kindHasAlpha(kind);
  ScratchDir dir;
  SourceImage source = makeSource(kind);
  ASSERT_TRUE(writePngFile(dir / "in.png", source.png));

  RunResult enc = runVellum({"encode", "-q", "--format", f.name, dir / "in.png", "-o", dir / "t.blp"});
  ASSERT_EQ(enc.exitCode, 0) << enc.err;
  EXPECT_EQ(enc.out, "");
  RunResult dec = runVellum({"decode", "-q", dir / "t.blp", "-o", dir / "out.png"});
  ASSERT_EQ(dec.exitCode, 0) << dec.err;
  PngRead out = readPngFile(dir / "out.png");
  ASSERT_TRUE(out.ok);
  ASSERT_EQ(out.width, source.png.width);
  ASSERT_EQ(out.height, source.png.height);
  EXPECT_EQ(out.bitDepth, 8);

  // Mode: paletted files without alpha come back as paletted PNGs with the file's palette
  // (up to the entries the source defined: the writer leaves the rest zero); DXT1 and
  // alpha-less BLP1 JPEG as RGB; everything else as RGBA ("BLP2" JPEG files always carry
  // the fourth channel).
  int expectedType = 6;
  if (f.paletted && !alpha) expectedType = 3;
  if ((f.dxt || (f.jpeg && !f.blp2)) && !alpha) expectedType = 2;
  EXPECT_EQ(out.colourType, expectedType);
  if (expectedType == 3) {
    EXPECT_EQ(out.palette.size(), kind == InputKind::Paletted ? source.png.palette.size() : 256u);
  }

  Bytes expected = source.rgba;
  if (f.paletted)
    for (size_t i = 3; i < expected.size(); i += 4) expected[i] = uint8_t(alpha ? storedAlpha(f.alphaBits, expected[i]) : 255);
  Differences d = compare(expected, out.rgba);
  if (f.paletted && kindIsIndexed(kind)) {
    // An indexed source keeps its palette: lossless.
    EXPECT_EQ(d.colourMax, 0);
    EXPECT_EQ(d.alphaMax, 0);
  } else if (f.paletted) {
    // Palette built by the quantizer; the alpha plane is exact.
    EXPECT_LE(d.colourMean, 6.0);
    EXPECT_LE(d.colourMax, 40);
    EXPECT_EQ(d.alphaMax, 0);
  } else if (f.jpeg) {
    // Quality 100, no colour transform, no subsampling.
    EXPECT_LE(d.colourMean, 1.5);
    EXPECT_LE(d.colourMax, 16);
    EXPECT_LE(d.alphaMean, 1.5);
    EXPECT_LE(d.alphaMax, alpha ? 40 : 4);
  } else {
    // DXT1 / DXT5: 4 x 4 blocks of two end points.
    EXPECT_LE(d.colourMean, 4.0);
    EXPECT_LE(d.colourMax, 24);
    EXPECT_LE(d.alphaMean, 2.0);
    EXPECT_LE(d.alphaMax, 12);
  }
}

std::string caseName(const ::testing::TestParamInfo<std::tuple<int, InputKind>>& info) {
  std::string name = kFormats[std::get<0>(info.param)].name;
  for (char& c : name)
    if (c == '-') c = '_';
  return name + "_" + kindName(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(FormatsByKinds, CliRoundTrip,
                         ::testing::Combine(::testing::Range(0, 7), ::testing::ValuesIn(kKinds)), caseName);

// 16-bit samples count by their high byte: the 16-bit PNG and the 8-bit PNG of its high
// bytes give the same file, for every format.
TEST(CliSixteenBit, SameFileAsTheHighBytes) {
  ScratchDir dir;
  for (InputKind kind : {InputKind::Grey16Alpha, InputKind::Rgb16}) {
    SourceImage wide = makeSource(kind);
    ASSERT_TRUE(writePngFile(dir / "wide.png", wide.png));
    // The file stores each sample's high byte first: the meaning the tool must take.
    Bytes stored = storedSamples(dir / "wide.png");
    ASSERT_EQ(stored.size(), wide.png.samples.size());
    PngImage narrowPng = highBytes(wide.png);
    for (size_t i = 0; i < narrowPng.samples.size(); ++i) ASSERT_EQ(stored[2 * i], narrowPng.samples[i]) << i;
    ASSERT_TRUE(writePngFile(dir / "narrow.png", highBytes(wide.png)));
    for (const Format& f : kFormats) {
      SCOPED_TRACE(std::string(kindName(kind)) + " " + f.name);
      ASSERT_EQ(runVellum({"encode", "-q", "-f", "--format", f.name, dir / "wide.png"}).exitCode, 0);
      ASSERT_EQ(runVellum({"encode", "-q", "-f", "--format", f.name, dir / "narrow.png"}).exitCode, 0);
      Bytes a = readBytes(dir / "wide.blp"), b = readBytes(dir / "narrow.blp");
      ASSERT_FALSE(a.empty());
      EXPECT_EQ(a, b);
    }
  }
}

// A paletted PNG keeps its own palette: the file's palette starts with the PNG's entries
// (B, G, R, 255) and the entries it does not define are zero.
TEST(CliPalettedInput, KeepsItsPalette) {
  ScratchDir dir;
  SourceImage source = makeSource(InputKind::Paletted);
  ASSERT_TRUE(writePngFile(dir / "in.png", source.png));
  ASSERT_EQ(runVellum({"encode", "-q", "--format", "blp2-paletted8", dir / "in.png"}).exitCode, 0);
  Bytes file = readBytes(dir / "in.blp");
  ASSERT_GE(file.size(), 148u + 1024u);
  for (uint32_t i = 0; i < 256; ++i) {
    const uint8_t* e = &file[148 + 4 * i];
    if (i < kPaletteSize) {
      auto rgb = paletteEntry(i);
      EXPECT_EQ(e[0], rgb[2]);
      EXPECT_EQ(e[1], rgb[1]);
      EXPECT_EQ(e[2], rgb[0]);
      EXPECT_EQ(e[3], 255);
    } else {
      EXPECT_EQ(e[0] | e[1] | e[2] | e[3], 0) << "entry " << i;
    }
  }
  // The index plane holds the PNG's own indices.
  const uint32_t w = source.png.width, h = source.png.height;
  for (uint32_t i = 0; i < w * h; ++i) EXPECT_EQ(file[148 + 1024 + i], source.png.samples[i]) << i;
}

// Grey PNGs are indexed input with the grey ramp as palette.
TEST(CliGreyInput, UsesTheGreyRamp) {
  ScratchDir dir;
  SourceImage source = makeSource(InputKind::Grey);
  ASSERT_TRUE(writePngFile(dir / "in.png", source.png));
  ASSERT_EQ(runVellum({"encode", "-q", "--format", "blp1-paletted", dir / "in.png"}).exitCode, 0);
  Bytes file = readBytes(dir / "in.blp");
  ASSERT_GE(file.size(), 156u + 1024u + 37u * 29u);
  for (uint32_t i = 0; i < 256; ++i) {
    EXPECT_EQ(file[156 + 4 * i], i);
    EXPECT_EQ(file[156 + 4 * i + 1], i);
    EXPECT_EQ(file[156 + 4 * i + 2], i);
  }
  for (uint32_t i = 0; i < 37 * 29; ++i) EXPECT_EQ(file[156 + 1024 + i], source.png.samples[i]);
}

}  // namespace
}  // namespace vellum::clitest
