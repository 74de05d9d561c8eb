// Writing: estimate and buffer sizes, the planes requested, the conversion of every image
// mode, and the single write.
#include <gtest/gtest.h>

#include "jpeg/jpeg_encoder.h"
#include "photoshop/native_host.h"
#include "photoshop/ps_reference.h"
#include "photoshop/ps_write.h"

namespace {

using namespace vellum;
using Bytes = std::vector<uint8_t>;

TEST(WriteSizes, EstimateStaysInInt32) {
  EXPECT_EQ(estimateMinBytes(23, 37), 23 * 37 + 1024);
  EXPECT_EQ(estimateMaxBytes(23, 37), 8 * 23 * 37);
  EXPECT_EQ(estimateMinBytes(32767, 32767), 32767 * 32767 + 1024);
  EXPECT_EQ(estimateMaxBytes(32767, 32767), 0x7FFFFFFF);  // 8.6e9 does not fit
  EXPECT_EQ(estimateMaxBytes(65535, 65535), 0x7FFFFFFF);
  EXPECT_EQ(estimateMinBytes(65535, 65535), 0x7FFFFFFF);
}

TEST(WriteSizes, BufferForEveryFormat) {
  uint64_t s = 0;
  for (uint32_t format = 0; format < 7; ++format) {
    ASSERT_EQ(writeBufferBytes(23, 37, format << 8 | 0x10000064, &s), ps::kNoErr);
    uint64_t expected = 12 * 23 * 37 + 8192;
    if (format == 0 || format == 2) expected += sizeof(JpegEncodeContext) + 512 * 5 * 3;
    EXPECT_EQ(s, expected) << format;
    EXPECT_GE(s - 4 * 23 * 37, 8 * 23 * 37 + 6144u);  // the writer's output area fits behind the pixels
  }
}

TEST(WriteSizes, RefusesWhatAHandleCannotHold) {
  uint64_t s = 1;
  // 12 * 13377^2 + 8192 fits 31 bits, 12 * 13378^2 does not.
  EXPECT_EQ(writeBufferBytes(13377, 13377, 0x10000164, &s), ps::kNoErr);
  EXPECT_LE(s, 0x7FFFFFFFu);
  EXPECT_EQ(writeBufferBytes(13378, 13378, 0x10000164, &s), ps::kMemFullErr);
  EXPECT_EQ(s, 0u);
  // The JPEG formats need their coefficient room on top.
  EXPECT_EQ(writeBufferBytes(13377, 13377, 0x10000064, &s), ps::kMemFullErr);
  // The largest side a reader opens is saved; one more is refused.
  EXPECT_EQ(writeBufferBytes(1, 32768, 0x10000164, &s), ps::kNoErr);
  EXPECT_EQ(writeBufferBytes(32769, 1, 0x10000164, &s), ps::kMemFullErr);
  EXPECT_EQ(writeBufferBytes(1, 32769, 0x10000064, &s), ps::kMemFullErr);
  EXPECT_EQ(writeBufferBytes(0, 5, 0x10000164, &s), ps::kMemFullErr);
}

TEST(WriteLayoutTable, PlanesTakenPerMode) {
  struct Row {
    int16_t mode, planes;
    uint32_t taken;
    bool alpha;
    int16_t colBytes;
  };
  const Row rows[] = {
      {ps::kModeRGBColor, 3, 3, false, 4}, {ps::kModeRGBColor, 4, 4, true, 4}, {ps::kModeRGBColor, 6, 4, true, 4},
      {ps::kModeGrayScale, 1, 1, false, 1}, {ps::kModeGrayScale, 2, 2, true, 2}, {ps::kModeGrayScale, 4, 2, true, 2},
      {ps::kModeIndexedColor, 1, 1, false, 1}, {ps::kModeIndexedColor, 2, 2, true, 2}, {ps::kModeBitmap, 1, 1, false, 1},
  };
  for (const Row& r : rows) {
    const WriteLayout l = writeLayout(r.mode, r.planes);
    EXPECT_EQ(l.planes, r.taken) << r.mode << "/" << r.planes;
    EXPECT_EQ(l.hasAlpha, r.alpha) << r.mode << "/" << r.planes;
    EXPECT_EQ(l.colBytes, r.colBytes) << r.mode << "/" << r.planes;
  }
  EXPECT_EQ(hostDataOffset(ps::kModeRGBColor, 3, 5), 0u);
  EXPECT_EQ(hostDataOffset(ps::kModeGrayScale, 3, 5), 60u);
}

struct Described {
  BlpSourceImage source;
  Bytes data;  // the host data after the description (Bitmap: unpacked to indices)
  Bytes palette = Bytes(1024, 0x77);
  Bytes entry(int i) const { return Bytes(palette.begin() + 4 * i, palette.begin() + 4 * i + 4); }
};

// Describes the image as the plug-in does: host data behind the pixel array.
Described describe(int16_t mode, int16_t planes, uint32_t rows, uint32_t columns, const Bytes& data,
                   int32_t lutCount = 256, int32_t transparentIndex = -1) {
  static uint8_t red[256], green[256], blue[256];
  for (int i = 0; i < 256; ++i) {
    red[i] = uint8_t(i);
    green[i] = uint8_t(i + 1);
    blue[i] = uint8_t(i + 2);
  }
  Described out;
  const uint64_t pixelBytes = uint64_t(rows) * columns * 4;
  Bytes buffer(pixelBytes * 3, 0xEE);
  const uint64_t at = hostDataOffset(mode, rows, columns);
  std::copy(data.begin(), data.end(), buffer.begin() + long(at));
  HostImage image;
  image.imageMode = mode;
  image.layout = writeLayout(mode, planes);
  image.rows = rows;
  image.columns = columns;
  image.data = buffer.data() + at;
  image.redLUT = red;
  image.greenLUT = green;
  image.blueLUT = blue;
  image.lutCount = lutCount;
  image.transparentIndex = transparentIndex;
  out.source = hostImageSource(image, out.palette.data(), buffer.data());
  EXPECT_EQ(out.source.pixels, image.data);
  EXPECT_EQ(out.source.workPixels, buffer.data());
  out.data.assign(buffer.begin() + long(at), buffer.begin() + long(at + data.size()));
  return out;
}

TEST(Describe, BitmapIsUnpackedToBlackAndWhiteIndices) {
  // 10 x 2; rows every 10 bytes, bits most significant first; set is black (entry 0).
  Bytes data(20, 0);
  data[0] = 0b10100000;
  data[1] = 0b01000000;  // pixel 9
  data[10] = 0xFF;
  data[11] = 0xC0;  // row 1: all ten set
  Described d = describe(ps::kModeBitmap, 1, 2, 10, data);
  EXPECT_EQ(d.source.layout, BlpPixelLayout::Indices);
  EXPECT_EQ(d.source.paletteCount, 2u);
  EXPECT_EQ(Bytes(d.palette.begin(), d.palette.begin() + 8), (Bytes{0, 0, 0, 255, 255, 255, 255, 255}));
  EXPECT_EQ(d.data, (Bytes{0, 1, 0, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(Describe, LayoutPaletteAndAlphaPerMode) {
  struct Row {
    int16_t mode, planes;
    BlpPixelLayout layout;
    bool alpha;
    int entry;
    Bytes expected;  // palette entry `entry`: red, green, blue, alpha
  };
  const Row rows[] = {
      {ps::kModeGrayScale, 1, BlpPixelLayout::Indices, false, 200, {200, 200, 200, 255}},
      {ps::kModeGrayScale, 2, BlpPixelLayout::IndicesAlpha, true, 9, {9, 9, 9, 255}},
      // An extra alpha channel (3 planes) is not requested: the data are index, alpha pairs.
      {ps::kModeGrayScale, 3, BlpPixelLayout::IndicesAlpha, true, 0, {0, 0, 0, 255}},
      {ps::kModeIndexedColor, 1, BlpPixelLayout::Indices, false, 3, {3, 4, 5, 255}},
      {ps::kModeIndexedColor, 2, BlpPixelLayout::IndicesAlpha, true, 7, {7, 8, 9, 255}},
      {ps::kModeRGBColor, 3, BlpPixelLayout::Rgba, false, -1, {}},
      {ps::kModeRGBColor, 4, BlpPixelLayout::Rgba, true, -1, {}},
  };
  for (const Row& r : rows) {
    Described d = describe(r.mode, r.planes, 1, 2, Bytes(8, 1));
    EXPECT_EQ(d.source.layout, r.layout) << r.mode << "/" << r.planes;
    EXPECT_EQ(d.source.hasAlpha, r.alpha) << r.mode << "/" << r.planes;
    EXPECT_EQ(d.source.palette != nullptr, r.entry >= 0) << r.mode << "/" << r.planes;
    if (r.entry >= 0) {
      EXPECT_EQ(d.entry(r.entry), r.expected) << r.mode << "/" << r.planes;
    }
  }
}

TEST(Describe, TransparentIndexRule) {
  const Bytes zero = {0, 0, 0, 0};
  // Index 5 of a 200-entry table: the entry becomes 0 and its pixels black.
  Described d = describe(ps::kModeIndexedColor, 1, 1, 2, Bytes{5, 6}, 200, 5);
  EXPECT_EQ(d.entry(5), zero);
  EXPECT_EQ(d.entry(6), (Bytes{6, 7, 8, 255}));
  // Index 0, a full table, two planes, or an index outside 1..255: nothing changes.
  EXPECT_EQ(describe(ps::kModeIndexedColor, 1, 1, 1, Bytes{0}, 200, 0).entry(0), (Bytes{0, 1, 2, 255}));
  EXPECT_EQ(describe(ps::kModeIndexedColor, 1, 1, 1, Bytes{0}, 256, 5).entry(5), (Bytes{5, 6, 7, 255}));
  EXPECT_EQ(describe(ps::kModeIndexedColor, 2, 1, 1, Bytes{0, 0}, 200, 5).entry(5), (Bytes{5, 6, 7, 255}));
  EXPECT_EQ(describe(ps::kModeIndexedColor, 1, 1, 1, Bytes{0}, 200, 256).entry(0), (Bytes{0, 1, 2, 255}));
  EXPECT_EQ(describe(ps::kModeIndexedColor, 1, 1, 1, Bytes{0}, 200, 255).entry(255), zero);
}

// The writer on a file image far too small: it grows into host handles, and the file is
// the same as with room enough.
struct GrowthRun {
  ps::Handle grown = nullptr;
  int16_t status = 0;
  Bytes file;
};

GrowthRun saveWithRoom(const pshost::SaveCase& c, uint64_t room) {
  const pshost::HostImage img = pshost::saveImage(c);
  const uint64_t count = uint64_t(c.rows) * c.columns;
  Bytes pixels(count * 4);
  for (uint64_t i = 0; i < count; ++i)
    for (int p = 0; p < 4; ++p) pixels[4 * i + p] = img.planeBytes[size_t(p)][i];
  Bytes palette(1024);
  HostImage image;
  image.imageMode = c.mode;
  image.layout = writeLayout(c.mode, c.planes);
  image.rows = uint32_t(c.rows);
  image.columns = uint32_t(c.columns);
  image.data = pixels.data();
  const BlpSourceImage source = hostImageSource(image, palette.data(), pixels.data());
  Bytes small(room);
  GrowthRun run;
  FileImageStore store;
  store.handles = &pshost::handleSuite();
  store.handle = &run.grown;
  BlpOutput output;
  output.data = small.data();
  output.capacity = small.size();
  output.growContext = &store;
  output.grow = growFileImage;
  uint64_t length = 0;
  run.status = encodeHostImage(source, c.options, &output, &length);
  if (run.status == 0) run.file.assign(output.data, output.data + length);
  return run;
}

TEST(Growth, FileImageMovesToAHandleOfItsOwn) {
  pstest::resetHost();
  const pshost::SaveCase& c = *pshost::findSaveCase("rgb4_blp2_jpeg_progressive");
  Bytes want;
  ASSERT_TRUE(psref::expectedSave(c, &want));
  GrowthRun run = saveWithRoom(c, 1200);
  ASSERT_EQ(run.status, 0);
  EXPECT_TRUE(run.file == want);
  ASSERT_NE(run.grown, nullptr);
  EXPECT_GE(pshost::memory().news, 2);  // grown more than once: every earlier handle went back
  EXPECT_EQ(pshost::memory().live.size(), 1u);
  EXPECT_TRUE(pshost::memory().isLive(run.grown));
  pshost::hostDispose(run.grown);
}

TEST(Growth, NoMemoryForTheLargerImage) {
  pstest::resetHost();
  pshost::memory().failNewAt = 1;
  GrowthRun run = saveWithRoom(*pshost::findSaveCase("rgb4_blp2_jpeg_progressive"), 1200);
  EXPECT_EQ(run.status, ps::kMemFullErr);
  EXPECT_EQ(run.grown, nullptr);
  EXPECT_TRUE(pshost::memory().live.empty());
  // Sizes beyond a 31-bit handle are never asked of the host.
  FileImageStore store;
  store.handles = &pshost::handleSuite();
  ps::Handle h = nullptr;
  store.handle = &h;
  uint8_t byte = 0;
  BlpOutput output;
  output.data = &byte;
  output.capacity = 1;
  const int newsBefore = pshost::memory().news;
  EXPECT_FALSE(growFileImage(&store, 0x80000000ull, &output));
  EXPECT_EQ(pshost::memory().news, newsBefore);
}

TEST(WriteFile, OneWriteFromTheStart) {
  pstest::MemFile f;
  f.bytes = Bytes(10, 0x55);
  f.position = 7;
  const Bytes data = {1, 2, 3};
  EXPECT_EQ(writeFileImage(pstest::platform(), pstest::handleOf(&f), data.data(), 3), ps::kNoErr);
  EXPECT_EQ(f.writes, 1);
  EXPECT_EQ(f.bytes, data);  // the seven stale bytes after the image are gone
  f.failSeek = true;
  EXPECT_EQ(writeFileImage(pstest::platform(), pstest::handleOf(&f), data.data(), 3), ps::kWritErr);
  f.failSeek = false;
  f.failWrite = true;
  EXPECT_EQ(writeFileImage(pstest::platform(), pstest::handleOf(&f), data.data(), 3), ps::kReadErr);
  f.failWrite = false;
  f.writeLimit = 2;  // a full disk
  EXPECT_EQ(writeFileImage(pstest::platform(), pstest::handleOf(&f), data.data(), 3), ps::kReadErr);
  f.writeLimit = -1;
  f.failSetEnd = true;
  EXPECT_EQ(writeFileImage(pstest::platform(), pstest::handleOf(&f), data.data(), 3), ps::kReadErr);
}

}  // namespace
