// A whole save through the collected image and the writer: palettes completed for images
// without a colormap, alpha depths from the host's bytes per pixel.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "core/blp_reader.h"
#include "xnview/xn_save.h"

using namespace vellum;

namespace {

struct Saved {
  BlpStatus status;
  std::vector<uint8_t> file;
  BlpHeader header = {};
};

Saved save(XnSaveImage* image, uint32_t word) {
  Saved s;
  uint64_t length = 0;
  s.status = xnSaveEncode(image, xnSaveOptionsFromWord(word), &length);
  if (s.status == BlpStatus::Ok) {
    s.file.assign(image->output.data, image->output.data + length);
    std::vector<uint8_t> raw(s.file);
    raw.resize(std::max<size_t>(raw.size(), kBlpHeaderReadSize));
    parseBlpHeader(raw.data(), &s.header);
  }
  return s;
}

TEST(XnSaveEncode, EightBitGreyWithoutColormapStoresTheGreyRamp) {
  XnSaveImage image;
  ASSERT_EQ(xnSaveBegin(&image, 4, 2, 8), BlpStatus::Ok);
  const uint8_t row[] = {0, 80, 160, 255};
  xnSavePutLine(&image, 0, row);
  xnSavePutLine(&image, 1, row);
  Saved s = save(&image, 0x01000164);  // Blp1Paletted, one level
  ASSERT_EQ(s.status, BlpStatus::Ok);
  ASSERT_GE(s.file.size(), 1180u + 8);
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(s.file[156 + 4 * i], i);
    EXPECT_EQ(s.file[156 + 4 * i + 1], i);
    EXPECT_EQ(s.file[156 + 4 * i + 2], i);
  }
  EXPECT_EQ(s.file[1180 + 1], 80);  // index of grey 80 is 80
  xnSaveRelease(&image);
}

TEST(XnSaveEncode, TwentyFourBitDxtIsDxt1AndThirtyTwoBitPaletted4HasA4BitPlane) {
  XnSaveImage rgb;
  ASSERT_EQ(xnSaveBegin(&rgb, 5, 3, 24), BlpStatus::Ok);
  Saved dxt = save(&rgb, 0x01000464);
  ASSERT_EQ(dxt.status, BlpStatus::Ok);
  EXPECT_EQ(blpWordAt8(dxt.header), 0x01000002u);  // compression 2, alphaDepth 0, alphaType 0
  EXPECT_EQ(dxt.header.mipSizes[0], 2u * 1 * 8);
  xnSaveRelease(&rgb);

  XnSaveImage rgba;
  ASSERT_EQ(xnSaveBegin(&rgba, 3, 5, 32), BlpStatus::Ok);
  const uint8_t row[] = {10, 20, 30, 0x70, 10, 20, 30, 0xF0, 10, 20, 30, 0x00};
  for (int y = 0; y < 5; ++y) xnSavePutLine(&rgba, y, row);
  Saved p4 = save(&rgba, 0x01000564);
  ASSERT_EQ(p4.status, BlpStatus::Ok);
  EXPECT_EQ(p4.header.alphaDepth, 4);
  EXPECT_EQ(p4.header.mipSizes[0], 15u + 8u);
  const uint8_t* plane = p4.file.data() + p4.header.mipOffsets[0] + 15;
  EXPECT_EQ(plane[0], 0xF7);  // pixel 0 low nibble 7, pixel 1 high nibble 15
  EXPECT_EQ(plane[7], 0x00);  // pixel 14 alpha 0 in the low nibble, high nibble unused
  xnSaveRelease(&rgba);
}

TEST(XnSaveEncode, OneBitWithoutColormapGetsBlackAndWhite) {
  XnSaveImage image;
  ASSERT_EQ(xnSaveBegin(&image, 3, 1, 1), BlpStatus::Ok);
  const uint8_t row[] = {0xA0};
  xnSavePutLine(&image, 0, row);
  Saved s = save(&image, 0x01000364);  // Blp2Paletted8
  ASSERT_EQ(s.status, BlpStatus::Ok);
  const uint8_t* palette = s.file.data() + 148;
  EXPECT_EQ(palette[0] | palette[1] | palette[2], 0);
  EXPECT_EQ(palette[4] & palette[5] & palette[6], 255);
  const uint8_t* indices = s.file.data() + s.header.mipOffsets[0];
  EXPECT_EQ(indices[0], 1);
  EXPECT_EQ(indices[1], 0);
  EXPECT_EQ(indices[2], 1);
  xnSaveRelease(&image);
}

}  // namespace
