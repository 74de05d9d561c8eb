// Images exported from GIMP by file-blp-save are byte for byte the files `vellum encode`
// writes from the same PNG with the same choices.
#include <gtest/gtest.h>

#include "gimp_cases.h"
#include "gimp_expect.h"

namespace vellum::gimptest {
namespace {

// What GIMP's PNG loader makes of each source: the image type file-blp-save received.
GimpType gimpTypeOf(PngKind kind) {
  switch (kind) {
    case PngKind::Rgb: return kRgbImage;
    case PngKind::Rgba: return kRgbaImage;
    case PngKind::Grey: return kGrayImage;
    case PngKind::GreyAlpha: return kGrayaImage;
    case PngKind::IndexedAlpha: return kIndexedaImage;
    default: return kIndexedImage;
  }
}

class GimpSave : public ::testing::TestWithParam<SaveCase> {};

TEST_P(GimpSave, WritesTheBytesOfVellumEncode) {
  const SaveCase& c = GetParam();
  const std::string dir = groupDir("save");
  const std::string exported = dir + "/" + c.name + ".blp", reference = dir + "/" + c.name + ".vellum.blp";
  const std::string png = dir + "/" + pngKindName(c.png) + "-" + std::to_string(c.width) + "x" +
                          std::to_string(c.height) + ".png";
  ASSERT_FALSE(exists(exported + ".error")) << "GIMP: " << readText(exported + ".error");
  EXPECT_EQ(readInfo(exported + ".info").type, gimpTypeOf(c.png)) << "the image GIMP exported";

  std::vector<std::string> args = vellumArgs(c);
  args.insert(args.end(), {png, "-o", reference});
  clitest::RunResult run = clitest::runVellum(args);
  ASSERT_EQ(run.exitCode, 0) << run.err;

  const Bytes gimpBytes = readFileBytes(exported), vellumBytes = readFileBytes(reference);
  ASSERT_FALSE(gimpBytes.empty()) << "GIMP wrote no " << exported;
  ASSERT_EQ(gimpBytes.size(), vellumBytes.size());
  size_t first = 0;
  while (first < gimpBytes.size() && gimpBytes[first] == vellumBytes[first]) ++first;
  EXPECT_EQ(first, gimpBytes.size()) << "first difference at byte " << first;
}

INSTANTIATE_TEST_SUITE_P(Cases, GimpSave, ::testing::ValuesIn(saveCases()));

}  // namespace
}  // namespace vellum::gimptest
