// The reading exports' bodies over the native reader: reported depth, colormap, labels,
// and untrusted row numbers and pointers.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "support/blp_bytes.h"
#include "xnview/xn_load.h"

using namespace vellum;
using namespace vellum::testing;

namespace {

struct Loaded {
  Bytes file;
  XnLoadContext context;
  explicit Loaded(Bytes bytes) : file(std::move(bytes)) {
    EXPECT_EQ(xnLoadOpen(&context, memorySource(file.data(), file.size())), BlpStatus::Ok);
  }
  ~Loaded() { xnLoadClose(&context); }
};

struct Info {
  int32_t type = -7, width = -7, height = -7, dpi = -7, bits = -7, bytesPerLine = -7, colormap = -7;
  char label[64] = {};
  int32_t result = -7;
};

Info getInfo(XnLoadContext* c, int32_t labelMax = 64) {
  Info i;
  i.result = xnLoadGetInfo(c, &i.type, &i.width, &i.height, &i.dpi, &i.bits, &i.bytesPerLine, &i.colormap, i.label,
                           labelMax);
  return i;
}

Bytes palettedAlpha8(uint32_t w, uint32_t h) {
  Bytes level(uint64_t(w) * h * 2);
  for (size_t i = 0; i < level.size(); ++i) level[i] = uint8_t(i * 7);
  return palettedFile("BLP1", 8, w, h, level);
}

TEST(XnLoad, PalettedWithAlphaIs32BitsWithoutColormapFlagYetHasAColormap) {
  Loaded l(palettedAlpha8(5, 3));
  Info i = getInfo(&l.context);
  EXPECT_EQ(i.result, 1);
  EXPECT_EQ(i.bits, 32);
  EXPECT_EQ(i.colormap, 0);
  EXPECT_EQ(i.bytesPerLine, 20);
  EXPECT_EQ(i.width, 5);
  EXPECT_EQ(i.height, 3);
  EXPECT_EQ(i.dpi, 72);
  EXPECT_EQ(i.type, 0);
  EXPECT_STREQ(i.label, "BLP paletted");
  uint8_t colormap[768];
  ASSERT_EQ(xnLoadGetColormap(&l.context, colormap), 1);
  const Bytes p = testPalette();  // file order blue, green, red
  for (int e = 0; e < 256; ++e) {
    EXPECT_EQ(colormap[e], p[4 * e + 2]);
    EXPECT_EQ(colormap[256 + e], p[4 * e + 1]);
    EXPECT_EQ(colormap[512 + e], p[4 * e]);
  }
}

TEST(XnLoad, PalettedWithoutAlphaIs8BitsWithColormap) {
  Bytes level(12, 3);
  Loaded l(palettedFile("BLP2", blp2Word(1, 0, 8), 4, 3, level));
  Info i = getInfo(&l.context);
  EXPECT_EQ(i.bits, 8);
  EXPECT_EQ(i.colormap, 1);
  EXPECT_EQ(i.bytesPerLine, 4);
}

TEST(XnLoad, DxtDepths) {
  for (auto [alphaType, bits, label] : {std::tuple{0, 24, "BLP DXT1"}, std::tuple{1, 32, "BLP DXT3"},
                                        std::tuple{7, 32, "BLP DXT5"}}) {
    Bytes file = blpHeader("BLP2", 1, blp2Word(2, alphaType ? 8 : 0, uint8_t(alphaType)), 6, 5, 148, 64);
    append(file, Bytes(64, 0x55));
    Loaded l(file);
    Info i = getInfo(&l.context);
    EXPECT_EQ(i.bits, bits);
    EXPECT_EQ(i.bytesPerLine, bits / 8 * 6);
    EXPECT_STREQ(i.label, label);
    uint8_t colormap[768];
    EXPECT_EQ(xnLoadGetColormap(&l.context, colormap), 0);
  }
}

TEST(XnLoad, Blp1JpegDepthFollowsAlphaBits) {
  for (auto [alphaBits, bits] : {std::pair{0u, 24}, std::pair{8u, 32}}) {
    Bytes file = blpHeader("BLP1", 0, alphaBits, 8, 8, 160, 40);
    putU32(file, 156, 0);
    append(file, Bytes(40, 0));
    Loaded l(file);
    Info i = getInfo(&l.context);
    EXPECT_EQ(i.result, 1);
    EXPECT_EQ(i.bits, bits);
    EXPECT_STREQ(i.label, "BLP JPEG");
  }
}

TEST(XnLoad, LabelIsCutByLabelMax) {
  Loaded l(palettedAlpha8(2, 2));
  Info i = getInfo(&l.context, 5);
  EXPECT_STREQ(i.label, "BLP ");
}

TEST(XnLoad, FailedDescribeReturnsZeroWithSizesWritten) {
  Bytes file = blpHeader("BLP2", 1, blp2Word(9, 0, 0), 7, 3, 148, 21);  // unknown compression
  append(file, Bytes(21, 0));
  Loaded l(file);
  Info i = getInfo(&l.context);
  EXPECT_EQ(i.result, 0);
  EXPECT_EQ(i.width, 7);
  EXPECT_EQ(i.height, 3);
  EXPECT_EQ(i.dpi, 72);
  EXPECT_EQ(i.bits, -7);
  uint8_t row[64];
  EXPECT_EQ(xnLoadGetLine(&l.context, 0, row), 0);
}

TEST(XnLoad, RowsOutsideTheImageAndNullPointersDeliverNothing) {
  Loaded l(palettedAlpha8(5, 3));
  uint8_t row[32];
  std::memset(row, 0xEE, sizeof row);
  EXPECT_EQ(xnLoadGetLine(&l.context, 0, row), 0);  // before GetInfo
  ASSERT_EQ(getInfo(&l.context).result, 1);
  for (int32_t line : {-1, 3, INT_MAX, INT_MIN}) EXPECT_EQ(xnLoadGetLine(&l.context, line, row), 0) << line;
  for (uint8_t b : row) EXPECT_EQ(b, 0xEE);
  EXPECT_EQ(xnLoadGetLine(&l.context, 0, nullptr), 0);
  EXPECT_EQ(xnLoadGetLine(nullptr, 0, row), 0);
  EXPECT_EQ(xnLoadGetColormap(&l.context, nullptr), 0);
  EXPECT_EQ(xnLoadGetLine(&l.context, 2, row), 1);
  EXPECT_EQ(row[20], 0xEE);  // exactly bytesPerLine bytes
}

TEST(XnLoad, NullOutPointersAreSkippedAndInfoRepeats) {
  Loaded l(palettedAlpha8(5, 3));
  EXPECT_EQ(xnLoadGetInfo(&l.context, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 10), 1);
  Info i = getInfo(&l.context);  // a second call describes the same file again
  EXPECT_EQ(i.result, 1);
  EXPECT_EQ(i.bits, 32);
  EXPECT_EQ(xnLoadGetInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0), 0);
}

TEST(XnLoad, FilesOf160BytesAreRefused161Pass) {
  for (auto [size, ok] : {std::pair{160u, false}, std::pair{161u, true}}) {
    Bytes file = blpHeader("BLP2", 1, blp2Word(2, 0, 0), 4, 4, 148, 8);
    file.resize(size, 0);
    XnLoadContext c;
    EXPECT_EQ(xnLoadOpen(&c, memorySource(file.data(), file.size())) == BlpStatus::Ok, ok) << size;
    xnLoadClose(&c);
  }
}

}  // namespace
