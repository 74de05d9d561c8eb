#include <gtest/gtest.h>

#include "core/blp_format.h"
#include "support/blp_bytes.h"

namespace vellum {
namespace {

using testing::blp2Word;
using testing::blpHeader;
using testing::Bytes;

BlpHeader parse(Bytes bytes) {
  bytes.resize(kBlpHeaderReadSize, 0);
  BlpHeader h;
  parseBlpHeader(bytes.data(), &h);
  return h;
}

TEST(BlpHeaderLayout, Blp1FieldsAndTablesAt28And92) {
  Bytes b = blpHeader("BLP1", 1, 8, 640, 480, 1180, 12345);
  testing::putU32(b, 20, 4);
  testing::putU32(b, 24, 1);
  testing::putU32(b, 28 + 4 * 15, 77);
  testing::putU32(b, 92 + 4 * 15, 88);
  BlpHeader h = parse(b);
  EXPECT_EQ(h.layout, BlpLayout::Blp1);
  EXPECT_EQ(blpHeaderSize(h), 156u);
  EXPECT_EQ(h.storage, 1u);
  EXPECT_EQ(h.alphaBits, 8u);
  EXPECT_EQ(h.width, 640u);
  EXPECT_EQ(h.height, 480u);
  EXPECT_EQ(h.pictureType, 4u);
  EXPECT_EQ(h.pictureSubtype, 1u);
  EXPECT_EQ(h.mipOffsets[0], 1180u);
  EXPECT_EQ(h.mipSizes[0], 12345u);
  EXPECT_EQ(h.mipOffsets[15], 77u);
  EXPECT_EQ(h.mipSizes[15], 88u);
  EXPECT_EQ(blpWordAt8(h), 8u);
}

TEST(BlpHeaderLayout, Blp2BytesAt8AndTablesAt20And84) {
  Bytes b = blpHeader("BLP2", 1, blp2Word(2, 8, 7, 1), 5, 3, 148, 32);
  BlpHeader h = parse(b);
  EXPECT_EQ(h.layout, BlpLayout::Blp2);
  EXPECT_EQ(blpHeaderSize(h), 148u);
  EXPECT_EQ(h.compression, 2);
  EXPECT_EQ(h.alphaDepth, 8);
  EXPECT_EQ(h.alphaType, 7);
  EXPECT_EQ(h.hasMips, 1);
  EXPECT_EQ(h.mipOffsets[0], 148u);
  EXPECT_EQ(h.mipSizes[0], 32u);
  EXPECT_EQ(blpWordAt8(h), 0x01070802u);
}

TEST(BlpHeaderLayout, Blp0IsReadWithTheBlp1Layout) {
  BlpHeader h = parse(blpHeader("BLP0", 0, 0, 16, 16, 160, 100));
  EXPECT_EQ(h.layout, BlpLayout::Blp1);
  EXPECT_EQ(h.mipOffsets[0], 160u);
  EXPECT_EQ(checkBlpHeader(h, 1000), BlpStatus::Ok);
}

TEST(BlpHeaderLayout, SerializeRoundTripsBothLayouts) {
  for (const char* magic : {"BLP1", "BLP2"}) {
    Bytes b = blpHeader(magic, 1, 0x01080801, 300, 200, 1172, 60000);
    for (uint32_t k = 1; k < 16; ++k) {
      uint32_t tables = magic[3] == '2' ? 20 : 28;
      testing::putU32(b, tables + 4 * k, 1000 * k);
      testing::putU32(b, tables + 64 + 4 * k, 7 * k);
    }
    BlpHeader h = parse(b);
    Bytes out(kBlpHeaderReadSize, 0);
    uint32_t n = serializeBlpHeader(h, out.data());
    ASSERT_EQ(n, b.size());
    EXPECT_EQ(Bytes(out.begin(), out.begin() + n), b) << magic;
  }
}

TEST(BlpAcceptance, SignatureSidesStorageAndLength) {
  EXPECT_EQ(checkBlpHeader(parse(blpHeader("BLP3", 1, 0, 4, 4, 1180, 16)), 2000), BlpStatus::BadSignature);
  EXPECT_EQ(checkBlpHeader(parse(blpHeader("blp1", 1, 0, 4, 4, 1180, 16)), 2000), BlpStatus::BadSignature);
  EXPECT_EQ(checkBlpHeader(parse(blpHeader("BLP1", 1, 0, 0, 4, 1180, 16)), 2000), BlpStatus::BadDimensions);
  EXPECT_EQ(checkBlpHeader(parse(blpHeader("BLP1", 1, 0, 4, 32769, 1180, 16)), 2000), BlpStatus::BadDimensions);
  EXPECT_EQ(checkBlpHeader(parse(blpHeader("BLP2", 1, 0, 32768, 1, 1180, 16)), 2000), BlpStatus::Ok);
  EXPECT_EQ(checkBlpHeader(parse(blpHeader("BLP2", 2, 0, 4, 4, 1180, 16)), 2000), BlpStatus::BadStorage);
  BlpHeader h = parse(blpHeader("BLP2", 1, 0, 4, 4, 148, 16));
  EXPECT_EQ(checkBlpHeader(h, 160), BlpStatus::FileTooShort);
  EXPECT_EQ(checkBlpHeader(h, 161), BlpStatus::Ok);
}

TEST(BlpLevels, SizesHalveDownToOne) {
  EXPECT_EQ(blpLevelSide(256, 0), 256u);
  EXPECT_EQ(blpLevelSide(256, 8), 1u);
  EXPECT_EQ(blpLevelSide(5, 1), 2u);
  EXPECT_EQ(blpLevelSide(5, 3), 1u);
  EXPECT_EQ(blpLevelSide(65535, 40), 1u);
  EXPECT_EQ(blpFullChainLength(1, 1), 1u);
  EXPECT_EQ(blpFullChainLength(5, 3), 3u);
  EXPECT_EQ(blpFullChainLength(256, 64), 9u);
  EXPECT_EQ(blpFullChainLength(32768, 1), 16u);
  EXPECT_EQ(blpFullChainLength(65535, 1), 16u);
  EXPECT_EQ(blpFullChainLength(65536, 1), 17u);
  EXPECT_EQ(blpAlphaPlaneBytes(15, 4), 8u);
  EXPECT_EQ(blpAlphaPlaneBytes(15, 1), 2u);
  EXPECT_EQ(blpDxtLevelBytes(5, 3, 8), 16u);
  EXPECT_EQ(blpDxtLevelBytes(5, 3, 16), 32u);
  EXPECT_EQ(blpDxtLevelBytes(32768, 32768, 16), uint64_t(1) << 30);
}

TEST(BlpContentTypes, LabelsFollowTheFormatList) {
  EXPECT_STREQ(blpContentTypeLabel(BlpContentType::Blp1Jpeg), "BLP1 JPEG");
  EXPECT_STREQ(blpContentTypeLabel(BlpContentType::Blp2Dxt), "BLP2 DirX Compress");
  EXPECT_STREQ(blpContentTypeLabel(BlpContentType::Blp2Paletted1), "BLP2 Paletted 1-bit alpha");
  EXPECT_STREQ(blpContentTypeLabel(BlpContentType(7)), "");
  EXPECT_TRUE(isJpegContent(BlpContentType::Blp2Jpeg));
  EXPECT_FALSE(isJpegContent(BlpContentType::Blp2Dxt));
  EXPECT_TRUE(isPalettedContent(BlpContentType::Blp2Paletted4));
  EXPECT_FALSE(isPalettedContent(BlpContentType::Blp2Dxt));
}

}  // namespace
}  // namespace vellum
