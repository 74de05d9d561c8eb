// Cross-checks with libjpeg-turbo: it accepts every stream our encoders write and reads our
// quantized coefficients; our decoder reads its streams to the same coefficients and to
// pixels within +-2 of its float inverse DCT.
#include <gtest/gtest.h>

#include <cstdlib>

#include "jpeg/jpeg_encode_internal.h"
#include "jpeg/jpeg_tables.h"
#include "jpeg_test_support.h"
#include "libjpeg_support.h"

namespace vellum {
namespace {

using testing::Bytes;
using testing::DecoderStore;
using testing::EncoderStore;
using testing::LibjpegEncodeOptions;

// Our quantized coefficients of a level (natural order), per block position and component,
// as forwardDctQuantize leaves them (DC not yet differenced).
std::vector<int16_t> ourCoefficients(const Bytes& pixels, uint32_t width, uint32_t height, uint32_t quality) {
  EncoderStore store(width, height, quality);
  Bytes prologue(200);
  store.ctx->output = prologue.data();
  store.ctx->outputEnd = prologue.data() + prologue.size();
  store.ctx->pixels = pixels.data();
  store.ctx->width = width;
  store.ctx->height = height;
  writeQuantAndFrameHeader(store.ctx, 0xC0);
  forwardDctQuantize(store.ctx);
  const uint64_t blocks = encodeBlockCount(store.ctx);
  std::vector<int16_t> natural(blocks * 4 * 64);
  for (uint64_t b = 0; b < blocks; ++b)
    for (uint32_t c = 0; c < 4; ++c)
      for (int n = 0; n < 64; ++n) natural[(b * 4 + c) * 64 + n] = encodeBlock(store.ctx, b, c)[naturalToZigzag[n]];
  return natural;
}

struct Size {
  uint32_t width, height;
};

// Sizes of every kind: one pixel, partial blocks, exact blocks, the progressive threshold.
const Size kSizes[] = {{1, 1}, {13, 7}, {64, 64}, {63, 64}, {8, 8}, {9, 17}, {100, 3}, {3, 100}, {40, 24}, {127, 65}};

void expectLibjpegReadsOurStream(const Bytes& pixels, uint32_t width, uint32_t height, uint32_t quality,
                                 bool progressive) {
  SCOPED_TRACE(::testing::Message() << width << "x" << height << " q" << quality << (progressive ? " P" : " B"));
  const Bytes stream = testing::encodeLevel(pixels, width, height, quality, progressive);
  ASSERT_FALSE(stream.empty());
  const testing::LibjpegCoefficients theirs = testing::libjpegReadCoefficients(stream);
  ASSERT_TRUE(theirs.ok) << theirs.error;
  ASSERT_EQ(theirs.components, 4);
  const std::vector<int16_t> ours = ourCoefficients(pixels, width, height, quality);
  const int columns = int((width + 7) / 8), rows = int((height + 7) / 8);
  int mismatches = 0;
  for (int c = 0; c < 4; ++c) {
    ASSERT_EQ(theirs.widthInBlocks[c], columns);
    ASSERT_EQ(theirs.heightInBlocks[c], rows);
    for (int by = 0; by < rows; ++by)
      for (int bx = 0; bx < columns; ++bx)
        for (int n = 0; n < 64; ++n)
          if (theirs.at(c, by, bx, n) != ours[((size_t(by) * columns + bx) * 4 + c) * 64 + n] && ++mismatches < 5)
            ADD_FAILURE() << "component " << c << " block " << bx << "," << by << " coefficient " << n;
  }
  EXPECT_EQ(mismatches, 0);

  // Our decoder reads the same coefficients back, and finds nothing wrong.
  DecoderStore decoder(width, height, true);
  decoder.decode(stream);
  EXPECT_EQ(decoder.result.flags, 0u);
  EXPECT_EQ(decoder.result.blocksDecoded, decoder.result.blocksTotal);
  mismatches = 0;
  for (int c = 0; c < 4; ++c)
    for (int by = 0; by < rows; ++by)
      for (int bx = 0; bx < columns; ++bx)
        for (int n = 0; n < 64; ++n)
          if (decoder.coefficient(c, by, bx, n) != theirs.at(c, by, bx, n) && ++mismatches < 5)
            ADD_FAILURE() << "our decoder: component " << c << " block " << bx << "," << by << " coefficient " << n;
  EXPECT_EQ(mismatches, 0);
}

TEST(JpegLibjpegCrossCheck, LibjpegAcceptsOurBaselineStreamsAndReadsOurCoefficients) {
  uint32_t seed = 1;
  for (const Size& size : kSizes) {
    for (uint32_t quality : {1u, 10u, 50u, 75u, 90u, 100u}) {
      expectLibjpegReadsOurStream(testing::smoothPixels(size.width, size.height, seed), size.width, size.height,
                                  quality, false);
      expectLibjpegReadsOurStream(testing::noisePixels(size.width, size.height, seed), size.width, size.height,
                                  quality, false);
      ++seed;
    }
  }
}

TEST(JpegLibjpegCrossCheck, LibjpegAcceptsOurProgressiveStreamsAndReadsOurCoefficients) {
  uint32_t seed = 100;
  for (const Size& size : kSizes) {
    for (uint32_t quality : {1u, 10u, 50u, 75u, 90u, 100u}) {
      expectLibjpegReadsOurStream(testing::smoothPixels(size.width, size.height, seed), size.width, size.height,
                                  quality, true);
      expectLibjpegReadsOurStream(testing::noisePixels(size.width, size.height, seed), size.width, size.height,
                                  quality, true);
      ++seed;
    }
  }
}

TEST(JpegLibjpegCrossCheck, EveryQualityFrom1To100) {
  for (uint32_t quality = 1; quality <= 100; ++quality) {
    const Bytes pixels = testing::smoothPixels(24, 16, quality);
    expectLibjpegReadsOurStream(pixels, 24, 16, quality, quality % 2 == 0);
  }
}

// Long end-of-band runs (more than 32767 blocks) in a constant component, and a level with
// many runs broken by isolated coefficients.
TEST(JpegLibjpegCrossCheck, LongEndOfBandRuns) {
  Bytes pixels = testing::solidPixels(1600, 1320, 10, 20, 30, 255);
  for (uint32_t i = 0; i < 40; ++i) {
    const uint64_t at = (uint64_t(i * 97 % 1320) * 1600 + i * 331 % 1600) * 4;
    pixels[at] = 250;
    pixels[at + 3] = 0;
  }
  expectLibjpegReadsOurStream(pixels, 1600, 1320, 100, true);
  expectLibjpegReadsOurStream(pixels, 1600, 1320, 40, false);
}

// Samples of a decoded image that libjpeg produced, compared with ours (+-2 by default).
void expectPixelsClose(const Bytes& ours, const testing::LibjpegImage& theirs, uint32_t width, uint32_t height,
                       int tolerance = 2) {
  int worst = 0;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x)
      for (int c = 0; c < theirs.components; ++c) {
        const int a = testing::decodedSample(ours, width, height, x, y, c);
        const int b = theirs.samples[(size_t(y) * width + x) * theirs.components + c];
        worst = std::max(worst, std::abs(a - b));
      }
  EXPECT_LE(worst, tolerance);
}

TEST(JpegLibjpegCrossCheck, OurStreamsDecodeLikeLibjpegFloat) {
  for (bool progressive : {false, true}) {
    for (const Size& size : kSizes) {
      const Bytes pixels = testing::smoothPixels(size.width, size.height, 7);
      const Bytes stream = testing::encodeLevel(pixels, size.width, size.height, 80, progressive);
      const testing::LibjpegImage theirs = testing::libjpegDecodeFloat(stream);
      ASSERT_TRUE(theirs.ok) << theirs.error;
      expectPixelsClose(testing::decodeStream(stream, size.width, size.height), theirs, size.width, size.height);
    }
  }
}

// Samples of `components` bytes a pixel taken from four-byte pixels.
Bytes firstComponents(const Bytes& pixels, int components) {
  Bytes out(pixels.size() / 4 * components);
  for (size_t i = 0, j = 0; i < pixels.size(); i += 4)
    for (int c = 0; c < components; ++c) out[j++] = pixels[i + c];
  return out;
}

// Checks our decoder against libjpeg on a stream libjpeg wrote (components sampled 1 x 1):
// every coefficient, and the pixels within `tolerance` of libjpeg's float decode.
void expectWeReadLibjpegStream(uint32_t width, uint32_t height, const LibjpegEncodeOptions& options, uint32_t seed,
                               int tolerance = 2) {
  SCOPED_TRACE(::testing::Message() << width << "x" << height << " components " << options.components << " q"
                                    << options.quality << (options.optimize ? " optimised" : "")
                                    << (options.progressive ? " progressive" : "") << " restart "
                                    << options.restartBlocks << " rows " << options.restartRows);
  const Bytes pixels = testing::smoothPixels(width, height, seed);
  const Bytes stream = testing::libjpegEncode(firstComponents(pixels, options.components), width, height, options);
  ASSERT_FALSE(stream.empty());
  const testing::LibjpegCoefficients theirs = testing::libjpegReadCoefficients(stream);
  ASSERT_TRUE(theirs.ok) << theirs.error;

  DecoderStore decoder(width, height, true);
  const Bytes ours = decoder.decode(stream);
  EXPECT_EQ(decoder.result.flags, 0u);
  EXPECT_EQ(decoder.result.blocksDecoded, decoder.result.blocksTotal);
  const int columns = int((width + 7) / 8), rows = int((height + 7) / 8);
  int mismatches = 0;
  for (int c = 0; c < options.components; ++c) {
    ASSERT_EQ(theirs.widthInBlocks[c], columns);
    for (int b = 0; b < columns * rows; ++b)
      for (int n = 0; n < 64; ++n)
        if (decoder.coefficient(c, b / columns, b % columns, n) != theirs.at(c, b / columns, b % columns, n) &&
            ++mismatches < 5)
          ADD_FAILURE() << "component " << c << " block " << b << " coefficient " << n;
  }
  EXPECT_EQ(mismatches, 0);

  const testing::LibjpegImage image = testing::libjpegDecodeFloat(stream);
  ASSERT_TRUE(image.ok) << image.error;
  ASSERT_EQ(image.components, options.components);
  if (options.components == 4 || options.components == 1) expectPixelsClose(ours, image, width, height, tolerance);
  if (options.components == 1) {
    // Grey: bytes 0, 1 and 2 repeat the sample; byte 3 is opaque.
    for (size_t i = 0; i < ours.size(); i += 4) {
      ASSERT_EQ(ours[i + 1], ours[i]);
      ASSERT_EQ(ours[i + 2], ours[i]);
      ASSERT_EQ(ours[i + 3], 255);
    }
  }
}

TEST(JpegLibjpegCrossCheck, WeReadLibjpegBaselineStreams) {
  uint32_t seed = 1;
  for (int components = 1; components <= 4; ++components) {
    for (bool optimize : {false, true}) {
      for (int quality : {5, 50, 75, 95, 100}) {
        LibjpegEncodeOptions options;
        options.components = components;
        options.quality = quality;
        options.optimize = optimize;
        expectWeReadLibjpegStream(61, 37, options, seed++);
        expectWeReadLibjpegStream(8, 8, options, seed++);
        expectWeReadLibjpegStream(1, 1, options, seed++);
      }
    }
  }
}

TEST(JpegLibjpegCrossCheck, WeReadLibjpegProgressiveStreams) {
  uint32_t seed = 50;
  for (int components = 1; components <= 4; ++components) {
    for (int quality : {20, 75, 100}) {
      LibjpegEncodeOptions options;
      options.components = components;
      options.quality = quality;
      options.progressive = true;
      expectWeReadLibjpegStream(77, 45, options, seed++);
      expectWeReadLibjpegStream(16, 16, options, seed++);
    }
  }
}

// Restart intervals: every interval decodes (markers resynchronise the reader, reset the DC
// predictions and the end-of-band run), to libjpeg's coefficients and within +-1 of its
// pixels. Intervals in MCUs (one that divides the MCU count, one that does not, one MCU)
// and in MCU rows.
TEST(JpegLibjpegCrossCheck, WeReadLibjpegStreamsWithRestartIntervals) {
  struct Interval {
    int blocks, rows;
  };
  uint32_t seed = 80;
  for (int components : {1, 3, 4}) {
    for (bool progressive : {false, true}) {
      for (const Interval interval : {Interval{5, 0}, Interval{10, 0}, Interval{1, 0}, Interval{0, 1}, Interval{0, 3}}) {
        LibjpegEncodeOptions options;
        options.components = components;
        options.quality = 85;
        options.progressive = progressive;
        options.optimize = !progressive;
        options.restartBlocks = interval.blocks;
        options.restartRows = interval.rows;
        expectWeReadLibjpegStream(80, 40, options, seed++, 1);
        expectWeReadLibjpegStream(61, 37, options, seed++, 1);
      }
    }
  }
}

// 16-bit quantization tables (quality 5 without the baseline limit; libjpeg writes SOF1).
TEST(JpegLibjpegCrossCheck, WeReadSixteenBitQuantizationTables) {
  const Bytes pixels = testing::smoothPixels(32, 32, 9);
  jpeg_compress_struct info;
  testing::StrictErrors errors;
  testing::installStrictErrors(&errors, &info.err);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = 32;
  info.image_height = 32;
  info.input_components = 4;
  info.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 2, FALSE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < 32) {
    JSAMPROW row = const_cast<uint8_t*>(pixels.data()) + size_t(info.next_scanline) * 32 * 4;
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  const Bytes stream(buffer, buffer + size);
  free(buffer);
  // The stream really carries a 16-bit DQT and a SOF1.
  bool wideTable = false, sof1 = false;
  for (size_t i = 0; i + 4 < stream.size(); ++i) {
    if (stream[i] == 0xFF && stream[i + 1] == 0xDB && (stream[i + 4] >> 4) == 1) wideTable = true;
    if (stream[i] == 0xFF && stream[i + 1] == 0xC1) sof1 = true;
  }
  ASSERT_TRUE(wideTable);
  ASSERT_TRUE(sof1);
  const testing::LibjpegImage image = testing::libjpegDecodeFloat(stream);
  ASSERT_TRUE(image.ok) << image.error;
  expectPixelsClose(testing::decodeStream(stream, 32, 32), image, 32, 32);
}

// Three components, luma sampled 2 x 2 (libjpeg's default for colour images): the
// interleaved MCUs of a baseline stream whose size is a whole number of MCUs decode to
// libjpeg's coefficients. Our block store keeps a subsampled component's block at the
// position of its top-left pixel.
TEST(JpegLibjpegCrossCheck, WeReadSubsampledBaselineStreams) {
  const uint32_t width = 64, height = 48;
  const Bytes pixels = firstComponents(testing::smoothPixels(width, height, 3), 3);
  LibjpegEncodeOptions options;
  options.components = 3;
  options.ycc420 = true;
  options.optimize = true;
  const Bytes stream = testing::libjpegEncode(pixels, width, height, options);
  const testing::LibjpegCoefficients theirs = testing::libjpegReadCoefficients(stream);
  ASSERT_TRUE(theirs.ok) << theirs.error;
  ASSERT_EQ(theirs.hSampling[0], 2);
  DecoderStore decoder(width, height, true);
  decoder.decode(stream);
  int mismatches = 0, compared = 0;
  for (int c = 0; c < 3; ++c) {
    const int h = theirs.hSampling[c], v = theirs.vSampling[c];
    for (int by = 0; by < theirs.heightInBlocks[c]; ++by)
      for (int bx = 0; bx < theirs.widthInBlocks[c]; ++bx) {
        const int ourX = (bx / h) * 2 + (bx % h) * (2 / h), ourY = (by / v) * 2 + (by % v) * (2 / v);
        for (int n = 0; n < 64; ++n, ++compared)
          if (decoder.coefficient(c, ourY, ourX, n) != theirs.at(c, by, bx, n)) ++mismatches;
      }
  }
  EXPECT_GT(compared, 0);
  EXPECT_EQ(mismatches, 0);

  // Pixels: chroma replicated over 2 x 2 pixels, like libjpeg's plain upsampling. Bytes 0 to
  // 2 are Y, Cb, Cr as stored (no colour transform); byte 3 is opaque.
  const Bytes ours = decoder.decode(stream);
  const testing::LibjpegImage image = testing::libjpegDecodeFloat(stream, false);
  ASSERT_TRUE(image.ok) << image.error;
  ASSERT_EQ(image.components, 3);
  expectPixelsClose(ours, image, width, height);
  for (size_t i = 3; i < ours.size(); i += 4) ASSERT_EQ(ours[i], 255);
}

}  // namespace
}  // namespace vellum
