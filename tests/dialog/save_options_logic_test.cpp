// The Save Options dialog's rules without a window: quality clamps and steps, the
// read-out text, the mipmap correction and the word built at OK.
#include <gtest/gtest.h>

#include "core/save_options.h"
#include "dialog/save_options_logic.h"

using namespace vellum;

namespace {

TEST(SaveOptionsLogic, DraggedThumbIsClampedTo1To100) {
  EXPECT_EQ(clampDraggedQuality(0), 1);
  EXPECT_EQ(clampDraggedQuality(-30), 1);
  EXPECT_EQ(clampDraggedQuality(1), 1);
  EXPECT_EQ(clampDraggedQuality(57), 57);
  EXPECT_EQ(clampDraggedQuality(100), 100);
  EXPECT_EQ(clampDraggedQuality(101), 100);
  EXPECT_EQ(clampDraggedQuality(65535), 100);
}

TEST(SaveOptionsLogic, LineStepsStopAtTheEnds) {
  EXPECT_EQ(stepQuality(100, +1), 100);
  EXPECT_EQ(stepQuality(100, -1), 99);
  EXPECT_EQ(stepQuality(1, -1), 1);
  EXPECT_EQ(stepQuality(1, +1), 2);
  EXPECT_EQ(stepQuality(50, 0), 50);
}

TEST(SaveOptionsLogic, ReadOutShowsDecimalDigits) {
  char text[4];
  qualityText(7, text);
  EXPECT_STREQ(text, "7");
  qualityText(42, text);
  EXPECT_STREQ(text, "42");
  qualityText(100, text);
  EXPECT_STREQ(text, "100");
  qualityText(10, text);
  EXPECT_STREQ(text, "10");
}

TEST(SaveOptionsLogic, MipmapCountIsKeptIn1To16) {
  EXPECT_EQ(correctedMipLevels(0), 1u);  // typed 0, or an empty edit
  EXPECT_EQ(correctedMipLevels(25), 16u);
  EXPECT_EQ(correctedMipLevels(17), 16u);
  EXPECT_EQ(correctedMipLevels(16), 0u);  // stays
  EXPECT_EQ(correctedMipLevels(1), 0u);
}

TEST(SaveOptionsLogic, WordAtOkWithTheDefaultsIs0x10000064) {
  EXPECT_EQ(saveOptionsWordAtOk(100, 0, false, 0, 16), kDefaultSaveOptionsWord);
}

TEST(SaveOptionsLogic, ProgressiveBitOnlyForJpegFormats) {
  EXPECT_EQ(saveOptionsWordAtOk(100, 3, true, 0, 16) & 0x1000, 0u);  // "BLP2 Paletted 8-bit alpha"
  EXPECT_EQ(saveOptionsWordAtOk(100, 2, true, 0, 16) & 0x1000, 0x1000u);  // "BLP2 JPEG"
  EXPECT_EQ(saveOptionsWordAtOk(100, 0, true, 0, 16) & 0x1000, 0x1000u);
  EXPECT_EQ(saveOptionsWordAtOk(100, 4, true, 0, 16) & 0x1000, 0u);
}

TEST(SaveOptionsLogic, FieldsLandInTheirBits) {
  EXPECT_EQ(saveOptionsWordAtOk(42, 6, false, 4, 3), 0x0304062Au);
  // Out-of-range selections (no selection: -1) fall back to the first entries.
  EXPECT_EQ(saveOptionsWordAtOk(42, -1, false, 9, 20), 0x1000002Au);
}

}  // namespace
