// The saving exports' bodies: which depths are taken, how rows and colormaps land in the
// image area, and untrusted sizes, rows and pointers.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "xnview/xn_save.h"

using namespace vellum;

namespace {

struct Saving {
  XnSaveImage image;
  BlpStatus status;
  Saving(int32_t w, int32_t h, int32_t bits) : status(xnSaveBegin(&image, w, h, bits)) {}
  ~Saving() { xnSaveRelease(&image); }
  const uint8_t* pixel(uint32_t x, uint32_t y) const { return image.pixels + (uint64_t(y) * image.width + x) * 4; }
  std::vector<uint8_t> px(uint32_t x, uint32_t y) const { return {pixel(x, y), pixel(x, y) + 4}; }
  uint8_t index(uint32_t x, uint32_t y) const { return image.pixels[uint64_t(y) * image.width + x]; }
};

using V = std::vector<uint8_t>;

TEST(XnSave, IsSupportedDepthTable) {
  for (int32_t bits = -1; bits <= 40; ++bits)
    for (int32_t colormap : {0, 1, 2}) {
      int32_t expected = bits == 1 || bits == 8 || bits == 24 || bits == 32 ? 1
                         : (bits >= 2 && bits <= 4)                        ? (colormap != 0)
                                                                           : 0;
      EXPECT_EQ(xnSaveIsSupported(bits, colormap), expected) << bits << " " << colormap;
    }
  EXPECT_EQ(xnSaveIsSupported(16, 1), 0);
  EXPECT_EQ(xnSaveIsSupported(4, 1), 1);
  EXPECT_EQ(xnSaveIsSupported(4, 0), 0);
  EXPECT_EQ(xnSaveIsSupported(1, 0), 1);
}

TEST(XnSave, BeginRefusesSizesAndDepthsItCannotSave) {
  for (auto [w, h] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{-1, 5}, std::pair{5, INT_MIN},
                      std::pair{32769, 1}, std::pair{1, 32769}, std::pair{INT_MAX, INT_MAX}}) {
    Saving s(w, h, 24);
    EXPECT_NE(s.status, BlpStatus::Ok) << w << "x" << h;
    EXPECT_EQ(s.image.area, nullptr);
  }
  for (int32_t bits : {0, 5, 6, 7, 9, 15, 16, 31, 33, -8}) {
    Saving s(4, 4, bits);
    EXPECT_EQ(s.status, BlpStatus::BadArgument) << bits;
  }
  Saving ok(32768, 1, 1);
  EXPECT_EQ(ok.status, BlpStatus::Ok);
  EXPECT_EQ(ok.image.output.capacity, 32768ull * 8 + 6144);
}

TEST(XnSave, BeginWritesSidesIntoTheHeaderAndZeroesTheArea) {
  Saving s(300, 7, 32);
  ASSERT_EQ(s.status, BlpStatus::Ok);
  EXPECT_EQ(loadU32(s.image.output.data + 12), 300u);
  EXPECT_EQ(loadU32(s.image.output.data + 16), 7u);
  EXPECT_EQ(s.image.bytesPerPixel, 4u);
  EXPECT_EQ(s.px(299, 6), (V{0, 0, 0, 0}));
}

TEST(XnSave, OneBitRowsAreIndicesMostSignificantBitFirst) {
  Saving s(3, 1, 1);
  const uint8_t row[] = {0xA0};
  ASSERT_EQ(xnSavePutLine(&s.image, 0, row), 1);
  EXPECT_EQ((V{s.index(0, 0), s.index(1, 0), s.index(2, 0)}), (V{1, 0, 1}));  // black 0, white 1
}

// A colormap of three 256-entry planes whose entries beyond the first n differ from the
// ones a stride-n reading would take.
std::vector<uint8_t> planes() {
  std::vector<uint8_t> c(768);
  for (int i = 0; i < 256; ++i) {
    c[i] = uint8_t(i);              // red
    c[256 + i] = uint8_t(100 + i);  // green
    c[512 + i] = uint8_t(200 + i);  // blue
  }
  return c;
}

TEST(XnSave, ColormapIsThreePlanesOf256EntriesForEveryDepth) {
  for (int32_t bits : {1, 2, 3, 4, 8}) {
    Saving s(2, 1, bits);
    std::vector<uint8_t> c = planes();
    xnSavePutColormap(&s.image, c.data());
    EXPECT_TRUE(s.image.hasColormap);
    const uint32_t n = 1u << bits;
    for (uint32_t i = 0; i < n; ++i)
      EXPECT_EQ(V(s.image.palette + 4 * i, s.image.palette + 4 * i + 4),
                (V{uint8_t(i), uint8_t(100 + i), uint8_t(200 + i), 255}))
          << bits << " entry " << i;
    if (n < 256) {
      EXPECT_EQ(V(s.image.palette + 4 * n, s.image.palette + 4 * n + 4), (V{0, 0, 0, 0}));
    }
  }
}

TEST(XnSave, FourBitRowsTakeHighNibbleFirst) {
  Saving s(2, 1, 4);
  std::vector<uint8_t> c = planes();
  xnSavePutColormap(&s.image, c.data());
  const uint8_t row[] = {0x1F};
  ASSERT_EQ(xnSavePutLine(&s.image, 0, row), 1);
  EXPECT_EQ((V{s.index(0, 0), s.index(1, 0)}), (V{1, 15}));
}

TEST(XnSave, TwoBitRowsTakeTheMostSignificantPairFirst) {
  Saving s(5, 1, 2);
  std::vector<uint8_t> c = planes();
  xnSavePutColormap(&s.image, c.data());
  const uint8_t row[] = {0x1B, 0x80};  // 00 01 10 11 | 10
  ASSERT_EQ(xnSavePutLine(&s.image, 0, row), 1);
  for (uint32_t x = 0; x < 5; ++x) {
    EXPECT_EQ(s.index(x, 0), x < 4 ? x : 2) << x;
  }
}

TEST(XnSave, EightBitGreyTrueColourRows) {
  Saving grey(2, 2, 8);
  const uint8_t g[] = {7, 250};
  xnSavePutLine(&grey.image, 1, g);
  EXPECT_EQ((V{grey.index(0, 1), grey.index(1, 1)}), (V{7, 250}));

  Saving rgb(2, 1, 24);
  const uint8_t r24[] = {1, 2, 3, 4, 5, 6};
  xnSavePutLine(&rgb.image, 0, r24);
  EXPECT_EQ(rgb.px(1, 0), (V{4, 5, 6, 255}));  // host order kept, alpha 255

  Saving rgba(2, 1, 32);
  const uint8_t r32[] = {1, 2, 3, 4, 5, 6, 7, 8};
  xnSavePutLine(&rgba.image, 0, r32);
  EXPECT_EQ(rgba.px(1, 0), (V{5, 6, 7, 8}));
}

TEST(XnSave, UntrustedLinesAndPointersStoreNothing) {
  Saving s(2, 2, 24);
  const uint8_t row[] = {9, 9, 9, 9, 9, 9};
  for (int32_t line : {-1, 2, INT_MAX, INT_MIN}) EXPECT_EQ(xnSavePutLine(&s.image, line, row), 0);
  EXPECT_EQ(xnSavePutLine(&s.image, 0, nullptr), 0);
  EXPECT_EQ(xnSavePutLine(nullptr, 0, row), 0);
  for (uint32_t y = 0; y < 2; ++y)
    for (uint32_t x = 0; x < 2; ++x) EXPECT_EQ(s.px(x, y), (V{0, 0, 0, 0}));
  xnSavePutColormap(&s.image, nullptr);
  xnSavePutColormap(nullptr, nullptr);
  std::vector<uint8_t> c = planes();
  xnSavePutColormap(&s.image, c.data());  // a true-colour image takes no colormap
  EXPECT_FALSE(s.image.hasColormap);
}

TEST(XnSave, NoAnswerOrInvalidWordsGiveTheDefaults) {
  const SaveOptions defaults = unpackSaveOptions(kDefaultSaveOptionsWord);
  for (uint32_t word : {0u, 0xFFFFFFFFu, 0x10000700u /* type 7 */, 0x11000064u /* 17 levels */,
                        0x10000000u /* quality 0 */, 0x10050064u /* quantizer 5 */}) {
    const SaveOptions o = xnSaveOptionsFromWord(word);
    EXPECT_EQ(packSaveOptions(o), packSaveOptions(defaults)) << std::hex << word;
  }
  EXPECT_EQ(packSaveOptions(xnSaveOptionsFromWord(0x03041463)), 0x03041463u);
}

}  // namespace
