// The reader's Jpeg mode end to end: BLP files assembled from our encoder's streams read
// back through BlpReader.
#include <gtest/gtest.h>

#include "core/blp_reader.h"
#include "jpeg_test_support.h"
#include "support/blp_bytes.h"

namespace vellum {
namespace {

using testing::Bytes;

constexpr uint32_t kWidth = 19, kHeight = 11;

// A JPEG BLP file whose level 0 is `stream`, the first `shared` bytes of it moved into the
// shared header. `levelSize` overrides the size in the table (0: the true size).
Bytes jpegFile(const char* magic, uint32_t word8, const Bytes& stream, uint32_t shared, uint32_t levelSize = 0) {
  const bool blp2 = std::string(magic) == "BLP2";
  const uint32_t headerSize = blp2 ? kBlp2HeaderSize : kBlp1HeaderSize;
  const uint32_t offset = headerSize + 4 + shared;
  const uint32_t size = levelSize ? levelSize : uint32_t(stream.size()) - shared;
  Bytes file = testing::blpHeader(magic, 0, word8, kWidth, kHeight, offset, size);
  testing::putU32(file, headerSize, shared);
  file.insert(file.end(), stream.begin(), stream.end());
  return file;
}

struct Read {
  BlpInfo info;
  BlpStatus status;
  std::vector<Bytes> rows;
};

Read readAll(const Bytes& file) {
  BlpReader reader;
  Read r;
  r.status = blpReaderOpen(&reader, memorySource(file.data(), file.size()));
  if (r.status == BlpStatus::Ok) r.status = blpReaderDescribe(&reader, &r.info);
  if (r.status == BlpStatus::Ok) {
    for (uint32_t y = 0; y < r.info.height; ++y) {
      Bytes row(r.info.bytesPerRow, 0xCD);
      blpReaderReadRow(&reader, y, row.data());
      r.rows.push_back(row);
    }
  }
  blpReaderClose(&reader);
  return r;
}

// What the reader must deliver for `stream`: our decoder's image, rows top first, pixels
// red, green, blue (, alpha).
std::vector<Bytes> expectedRows(const Bytes& stream, bool alpha) {
  const Bytes image = testing::decodeStream(stream, kWidth, kHeight);
  std::vector<Bytes> rows;
  for (uint32_t y = 0; y < kHeight; ++y) {
    Bytes row;
    for (uint32_t x = 0; x < kWidth; ++x) {
      row.push_back(testing::decodedSample(image, kWidth, kHeight, x, y, 2));
      row.push_back(testing::decodedSample(image, kWidth, kHeight, x, y, 1));
      row.push_back(testing::decodedSample(image, kWidth, kHeight, x, y, 0));
      if (alpha) row.push_back(testing::decodedSample(image, kWidth, kHeight, x, y, 3));
    }
    rows.push_back(row);
  }
  return rows;
}

class BlpJpegLevel : public ::testing::Test {
 protected:
  // Working order: blue, green, red, alpha.
  Bytes pixels = testing::smoothPixels(kWidth, kHeight, 31);
  Bytes stream = testing::encodeLevel(pixels, kWidth, kHeight, 100, false);
};

TEST_F(BlpJpegLevel, Blp1With8AlphaBitsIs32BitRgbaTopRowFirst) {
  for (uint32_t shared : {0u, 100u}) {
    const Read r = readAll(jpegFile("BLP1", 8, stream, shared));
    ASSERT_EQ(r.status, BlpStatus::Ok);
    EXPECT_EQ(r.info.bitsPerPixel, 32u);
    EXPECT_EQ(r.info.mode, BlpDecodeMode::Jpeg);
    EXPECT_STREQ(r.info.label, "BLP JPEG");
    EXPECT_EQ(r.rows, expectedRows(stream, true));
    // Close to the pixels that were encoded: row 0 is the image's first row.
    for (uint32_t x = 0; x < kWidth; ++x) {
      EXPECT_NEAR(r.rows[0][x * 4 + 0], pixels[x * 4 + 2], 2);
      EXPECT_NEAR(r.rows[0][x * 4 + 2], pixels[x * 4 + 0], 2);
      EXPECT_NEAR(r.rows[0][x * 4 + 3], pixels[x * 4 + 3], 2);
    }
  }
}

TEST_F(BlpJpegLevel, Blp1WithoutAlphaIs24BitRgb) {
  for (uint32_t shared : {0u, 93u}) {
    const Read r = readAll(jpegFile("BLP1", 0, stream, shared));
    ASSERT_EQ(r.status, BlpStatus::Ok);
    EXPECT_EQ(r.info.bitsPerPixel, 24u);
    EXPECT_EQ(r.info.bytesPerRow, 3u * kWidth);
    EXPECT_EQ(r.rows, expectedRows(stream, false));
  }
}

TEST_F(BlpJpegLevel, Blp2DescribesByTheWholeWordAt8) {
  for (uint32_t shared : {0u, 150u}) {
    const Read withMips = readAll(jpegFile("BLP2", testing::blp2Word(0, 0, 0, 1), stream, shared));
    ASSERT_EQ(withMips.status, BlpStatus::Ok);
    EXPECT_EQ(withMips.info.bitsPerPixel, 32u);  // hasMips 1: as our writer writes it
    EXPECT_EQ(withMips.rows, expectedRows(stream, true));
    const Read zero = readAll(jpegFile("BLP2", 0, stream, shared));
    ASSERT_EQ(zero.status, BlpStatus::Ok);
    EXPECT_EQ(zero.info.bitsPerPixel, 24u);
    EXPECT_EQ(zero.rows, expectedRows(stream, false));
  }
}

TEST_F(BlpJpegLevel, ProgressiveLevelsReadLikeBaselineOnes) {
  const Bytes progressive = testing::encodeLevel(pixels, kWidth, kHeight, 100, true);
  const Read r = readAll(jpegFile("BLP2", testing::blp2Word(0, 8, 0, 1), progressive, 120));
  ASSERT_EQ(r.status, BlpStatus::Ok);
  // Same coefficients, so the same pixels as the baseline stream.
  EXPECT_EQ(r.rows, expectedRows(stream, true));
}

TEST_F(BlpJpegLevel, LevelCutShortByTheEndOfTheFileIsDecodedFromWhatExists) {
  const uint32_t shared = 50;
  Bytes file = jpegFile("BLP1", 8, stream, shared, uint32_t(stream.size()) + 5000);
  file.resize(file.size() - 40);  // the last 40 bytes of the stream are missing
  const Read r = readAll(file);
  ASSERT_EQ(r.status, BlpStatus::Ok);
  const Bytes cut(stream.begin(), stream.end() - 40);
  EXPECT_EQ(r.rows, expectedRows(cut, true));
  EXPECT_NE(r.rows, expectedRows(stream, true));
}

}  // namespace
}  // namespace vellum
