// Damage reports: the flags and block counts of cut, flipped and malformed streams. Sound
// streams report nothing: the libjpeg-turbo cross-checks assert flags 0 for every stream
// of ours and theirs they decode.
#include <gtest/gtest.h>

#include "jpeg_stream_builder.h"
#include "jpeg_test_support.h"
#include "libjpeg_support.h"

namespace vellum {
namespace {

using testing::Bytes;
using testing::DecoderStore;
using testing::StreamBuilder;

constexpr uint32_t kWidth = 29, kHeight = 17, kColumns = (kWidth + 7) / 8;

struct Sample {
  const char* name;
  Bytes stream;
  bool sequential;
};

std::vector<Sample> samples() {
  const Bytes pixels = testing::smoothPixels(kWidth, kHeight, 3);
  testing::LibjpegEncodeOptions restartBlocks, restartRows;
  restartBlocks.optimize = true;
  restartBlocks.restartBlocks = 3;
  restartRows.progressive = true;
  restartRows.restartRows = 1;
  return {{"ours baseline", testing::encodeLevel(pixels, kWidth, kHeight, 75, false), true},
          {"ours progressive", testing::encodeLevel(pixels, kWidth, kHeight, 90, true), false},
          {"libjpeg baseline, restarts", testing::libjpegEncode(pixels, kWidth, kHeight, restartBlocks), true},
          {"libjpeg progressive, restarts", testing::libjpegEncode(pixels, kWidth, kHeight, restartRows), false}};
}

// Coefficients of the first `blocks` block positions that two decodes agree on.
bool sameCoefficients(const DecoderStore& a, const DecoderStore& b, uint64_t blocks) {
  for (uint64_t p = 0; p < blocks; ++p)
    for (uint32_t c = 0; c < 4; ++c)
      for (uint32_t n = 0; n < 64; ++n)
        if (a.coefficient(c, p / kColumns, p % kColumns, n) != b.coefficient(c, p / kColumns, p % kColumns, n))
          return false;
  return true;
}

// Every cut reports that the data ended early, unless it lost nothing but the EOI (and
// padding): then it warns of the missing end. In a sequential stream the count of blocks
// decoded grows with the cut, and those blocks are exactly those of the whole stream.
TEST(JpegDamage, EveryCutIsReported) {
  for (const Sample& sample : samples()) {
    SCOPED_TRACE(sample.name);
    DecoderStore whole(kWidth, kHeight, true), cut(kWidth, kHeight, true);
    whole.decode(sample.stream);
    ASSERT_EQ(whole.result.flags, 0u);
    const uint64_t total = whole.result.blocksTotal;
    uint64_t previous = 0;
    for (size_t length = 0; length < sample.stream.size(); ++length) {
      cut.decode(Bytes(sample.stream.begin(), sample.stream.begin() + length));
      const JpegDecodeResult& r = cut.result;
      ASSERT_LE(r.blocksDecoded, total);
      if (r.flags == kJpegMissingEnd) {
        ASSERT_TRUE(sameCoefficients(cut, whole, total)) << length;
        continue;
      }
      ASSERT_EQ(r.flags & (kJpegDataEndedEarly | kJpegWarnings), uint32_t(kJpegDataEndedEarly)) << length;
      if (!sample.sequential) continue;
      ASSERT_GE(r.blocksDecoded, previous) << length;
      previous = r.blocksDecoded;
      ASSERT_TRUE(sameCoefficients(cut, whole, r.blocksDecoded)) << length;
    }
    EXPECT_EQ(cut.result.flags, uint32_t(kJpegMissingEnd));  // the last cut: the EOI's last byte
  }
}

// A flipped byte in entropy-coded data changes codes, runs, DC predictions or the data's
// length; flips of value bits alone show in no decoder. Every flip that libjpeg-turbo
// notices (as a warning or an error), we notice too.
TEST(JpegDamage, FlippedEntropyBytesAreFoundWheneverLibjpegFindsThem) {
  for (const Sample& sample : samples()) {
    SCOPED_TRACE(sample.name);
    const Bytes& stream = sample.stream;
    DecoderStore store(kWidth, kHeight);
    int ours = 0, theirs = 0;
    bool inScan = false;
    for (size_t at = 2; at + 2 < stream.size(); ++at) {
      // Entropy-coded data: after a scan header up to the next marker other than RSTn.
      if (stream[at - 2] == 0xFF && stream[at - 1] == 0xDA) at += stream[at] << 8 | stream[at + 1], inScan = true;
      if (stream[at] == 0xFF && stream[at + 1] != 0 && (stream[at + 1] & 0xF8) != 0xD0) inScan = false;
      if (!inScan || stream[at] == 0xFF || stream[at - 1] == 0xFF) continue;
      for (uint8_t mask : {0xFF, 0x01}) {
        Bytes flipped = stream;
        flipped[at] ^= mask;
        if (flipped[at] == 0xFF) continue;
        store.decode(flipped);
        const bool found = (store.result.flags & kJpegErrors) != 0;
        const bool libjpegFound = !testing::libjpegDecodeFloat(flipped).ok;
        ours += found;
        theirs += libjpegFound;
        ASSERT_TRUE(found || !libjpegFound) << "byte " << at << " ^ " << int(mask);
      }
    }
    EXPECT_GT(ours, theirs);
  }
}

// Hand-made streams, one thing wrong in each. Two 8 x 8 blocks of DC 40 (category 6); a
// warning repairs without loss, so its pixels are those of the sound stream.
StreamBuilder twoBlocks(bool frame = true, bool quant = true, bool restarts = false) {
  StreamBuilder s;
  s.soi();
  if (quant) s.dqt(0, 1);
  if (frame) s.sof(0xC0, 16, 8, {{1, 0x11, 0}});
  testing::dcOnlyTables(s, 6);
  if (restarts) s.segment(0xDD, {0, 1});  // an interval of one MCU
  return s.sos({{1, 0x00}}, 0, 63, 0);
}

TEST(JpegDamage, MalformedStreamsGiveTheirFlags) {
  const std::string block = "0 101000 0 ";
  const Bytes sound = twoBlocks().bits(block + block).eoi().bytes;
  const Bytes restarts = twoBlocks(true, true, true).bits(block).raw({0xFF, 0xD0}).bits(block).eoi().bytes;
  Bytes twoFrames = sound, twoStarts = sound, strayRestart = sound, leftOver = sound, wrongRestart = restarts;
  twoFrames.insert(twoFrames.begin() + 71, sound.begin() + 71, sound.begin() + 84);  // the SOF again
  twoStarts.insert(twoStarts.begin() + 71, {0xFF, 0xD8});
  strayRestart.insert(strayRestart.begin() + 71, {0xFF, 0xD5});
  leftOver.insert(leftOver.end() - 2, {0x12, 0x34});
  wrongRestart[wrongRestart.size() - 4] = 0xD3;  // ... FF D0, one byte of data, FF D9
  Bytes noRestartMarker = restarts;
  noRestartMarker.erase(noRestartMarker.end() - 5, noRestartMarker.end() - 3);
  struct Case {
    const char* name;
    Bytes stream;
    uint32_t flags;
    const Bytes* samePixelsAs;  // for repairs without loss
  } cases[] = {
      {"sound", sound, 0, nullptr},
      {"restart interval of one block", restarts, 0, nullptr},
      {"no EOI", Bytes(sound.begin(), sound.end() - 2), kJpegMissingEnd, &sound},
      {"a second frame header", twoFrames, kJpegMisplacedMarker, &sound},
      {"a second SOI", twoStarts, kJpegMisplacedMarker, &sound},
      {"a restart marker outside a scan", strayRestart, kJpegMisplacedMarker, &sound},
      {"restart markers out of sequence", wrongRestart, kJpegMisplacedMarker, &restarts},
      {"a restart marker missing", noRestartMarker, kJpegCorruptData, &sound},
      {"data left after the last block", leftOver, kJpegCorruptData, &sound},
      {"no frame header", twoBlocks(false).bits(block + block).eoi().bytes, kJpegMissingTables, nullptr},
      {"no quantization table", twoBlocks(true, false).bits(block + block).eoi().bytes, kJpegMissingTables, nullptr},
      {"a code that matches nothing", twoBlocks().bits(block + "0 101000 1111111111111111").eoi().bytes,
       kJpegCorruptData, nullptr},
  };
  for (const Case& c : cases) {
    DecoderStore store(16, 8), reference(16, 8);
    const Bytes image = store.decode(c.stream);
    EXPECT_EQ(store.result.flags, c.flags) << c.name;
    EXPECT_EQ(store.result.blocksDecoded, 2u) << c.name;
    if (c.samePixelsAs != nullptr) {
      EXPECT_EQ(image, reference.decode(*c.samePixelsAs)) << c.name;
    }
  }
  // The restart resets the DC prediction: both blocks are DC 40 (samples 128 + 5).
  const Bytes image = testing::decodeStream(restarts, 16, 8);
  for (size_t i = 0; i < image.size(); i += 4) ASSERT_EQ(image[i], 133);
}

// A progressive stream without its last scan ends early although it has its EOI.
TEST(JpegDamage, ProgressiveStreamShortOfScans) {
  const Bytes stream = samples()[1].stream;
  size_t lastScan = 0;
  for (size_t i = 0; i + 1 < stream.size(); ++i) {
    if (stream[i] == 0xFF && stream[i + 1] == 0xDA) lastScan = i;
  }
  Bytes shortened(stream.begin(), stream.begin() + lastScan);
  shortened.insert(shortened.end(), {0xFF, 0xD9});
  DecoderStore store(kWidth, kHeight);
  store.decode(shortened);
  EXPECT_EQ(store.result.flags, uint32_t(kJpegDataEndedEarly));
  EXPECT_EQ(store.result.scans, 17u);
  EXPECT_EQ(store.result.blocksDecoded, store.result.blocksTotal);
}

}  // namespace
}  // namespace vellum
