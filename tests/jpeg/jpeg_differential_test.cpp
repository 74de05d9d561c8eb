// The fast paths against plain reference implementations written here from the codec's
// rules: the Huffman lookup against the canonical search (with its exhaustion and no-match
// rules), the inverse and forward DCT (every kernel) against straightforward loops doing
// the same float operations, the decoder with and without its AVX2 paths on whole levels,
// the encoders' entropy coding against a coefficient-by-coefficient coder with a
// bit-at-a-time writer. Results must be identical, bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "jpeg/jpeg_decode_internal.h"
#include "jpeg/jpeg_encode_internal.h"
#include "jpeg/jpeg_idct_avx2.h"
#include "jpeg/jpeg_tables.h"
#include "jpeg_test_support.h"
#include "libjpeg_support.h"

namespace vellum {
namespace {

// --- Huffman symbols -------------------------------------------------------------------

struct PlainResult {
  uint32_t symbol = 0, length = 0;
  bool exhausted = false;
};

// The canonical search over the top bits of a 64-bit buffer, no lookup.
PlainResult plainCanonicalSearch(const uint8_t counts[16], const uint8_t values[256], uint64_t buffer,
                                 uint32_t bitCount) {
  uint32_t code = 0, index = 0;
  for (uint32_t l = 1; l <= 16; ++l) {
    const uint32_t c = counts[l - 1];
    const uint32_t top = uint32_t(buffer >> (64 - l));
    if (c > 0 && top >= code && top - code < c) {
      PlainResult r;
      r.symbol = values[index + top - code];
      r.length = l;
      r.exhausted = bitCount < l;
      return r;
    }
    index += c;
    code = (code + c) * 2;
  }
  return {};
}

// Random tables of every shape: complete, sparse, oversubscribed, long codes, empty; their
// counts always sum to at most 256 (the decoder keeps only the first 256 codes).
void randomTable(std::mt19937& random, uint8_t counts[16], uint8_t values[256]) {
  std::memset(counts, 0, 16);
  const int shape = int(random() % 5);
  uint32_t room = 256;
  for (int l = 0; l < 16; ++l) {
    uint32_t c = 0;
    switch (shape) {
      case 0: c = random() % 3 == 0 ? random() % (1u << std::min(l + 1, 6)) : 0; break;  // sparse
      case 1: c = l >= 8 ? random() % 40 : random() % 3; break;                             // long codes
      case 2: c = random() % 256; break;                                                    // oversubscribed
      case 3: c = l == 15 ? random() % 4 : 0; break;                                        // only 16-bit codes
      default: c = 0; break;                                                                // empty
    }
    c = std::min(c, room);
    counts[l] = uint8_t(c);
    room -= c;
  }
  for (int i = 0; i < 256; ++i) values[i] = uint8_t(random());
}

TEST(JpegHuffmanLookup, MatchesThePlainCanonicalSearchExactly) {
  std::mt19937 random(2024);
  std::vector<uint8_t> store(sizeof(JpegDecoder));
  auto* state = reinterpret_cast<JpegDecoder*>(store.data());
  for (int table = 0; table < 400; ++table) {
    const int t = table % 8;
    randomTable(random, state->huffCounts[t], state->huffValues[t]);
    buildHuffmanLookup(state, t);
    for (int trial = 0; trial < 2000; ++trial) {
      // Buffers with every count of valid bits; the bits below the count are zero.
      const uint32_t bitCount = trial % 3 == 0 ? random() % 20 : 20 + random() % 45;
      uint64_t buffer = (uint64_t(random()) << 32) | random();
      if (trial % 7 == 0) buffer >>= random() % 20;  // many leading zeros
      if (trial % 11 == 0) buffer = ~(buffer >> (random() % 20));  // many leading ones
      buffer = bitCount == 0 ? 0 : buffer & (~uint64_t(0) << (64 - bitCount));
      const PlainResult expected = plainCanonicalSearch(state->huffCounts[t], state->huffValues[t], buffer, bitCount);
      state->bitBuffer = buffer;
      state->bitCount = uint8_t(bitCount);
      const HuffmanSymbol got = decodeHuffmanSymbol(state, t);
      ASSERT_EQ(got.length, expected.length) << table << "/" << trial;
      ASSERT_EQ(got.symbol, expected.symbol) << table << "/" << trial;
      ASSERT_EQ(got.exhausted, expected.exhausted) << table << "/" << trial;
      const uint32_t consumed = expected.length > 0 && !expected.exhausted ? expected.length : 0;
      ASSERT_EQ(state->bitCount, bitCount - consumed);
      ASSERT_EQ(state->bitBuffer, consumed == 0 ? buffer : buffer << consumed);
    }
  }
}

// --- Sequential scans ----------------------------------------------------------------------

// A plain reference of the sequential block decoder: a 32-bit bit buffer filled to 16 bits,
// the canonical search on every symbol, coefficients written in place as the rules say.
struct PlainScanDecoder {
  const uint8_t* data;
  size_t size, position = 0;
  uint32_t buffer = 0, count = 0;
  int32_t predictor = 0;

  void fill() {
    while (count < 16 && position < size) {
      const uint8_t byte = data[position];
      if (byte == 0xFF && position + 1 < size) {
        if (data[position + 1] != 0) return;
        position += 2;
      } else {
        position += 1;
      }
      buffer |= uint32_t(byte) << (24 - count);
      count += 8;
    }
  }
  void consume(uint32_t n) {
    buffer = n == 32 ? 0 : buffer << n;
    count -= n;
  }
  // Returns false (exhausted) when a code matches but runs past the bits.
  bool symbol(const uint8_t* counts, const uint8_t* values, uint32_t* out) {
    uint32_t code = 0, index = 0;
    for (uint32_t l = 1; l <= 16; ++l) {
      const uint32_t c = counts[l - 1], top = buffer >> (32 - l);
      if (c > 0 && top >= code && top - code < c) {
        if (count < l) return false;
        consume(l);
        *out = values[index + top - code];
        return true;
      }
      index += c;
      code = (code + c) * 2;
    }
    *out = 0;  // no match: nothing consumed
    return true;
  }
  bool valueBits(uint32_t n, int32_t* value) {
    fill();
    if (count < n) return false;
    const uint32_t bits = buffer >> (32 - n);
    consume(n);
    *value = (bits >> (n - 1)) ? int32_t(bits) : int32_t(bits) - int32_t((1u << n) - 1);
    return true;
  }

  void block(int16_t* b, uint32_t ss, uint32_t se, uint32_t al, const uint8_t* dcCounts, const uint8_t* dcValues,
             const uint8_t* acCounts, const uint8_t* acValues) {
    auto zero = [&](uint32_t from, uint32_t to) {
      for (uint32_t j = from; j <= to && j < 64; ++j) b[zigzagOrder[j]] = 0;
    };
    uint32_t k = ss;
    while (k <= se) {
      fill();
      if (count == 0) {
        zero(k, se);
        break;
      }
      uint32_t sym;
      if (!symbol(k == 0 ? dcCounts : acCounts, k == 0 ? dcValues : acValues, &sym)) {
        b[zigzagOrder[se]] = 0;
        buffer = count = 0;
        break;
      }
      if (k > 0) {
        for (uint32_t run = sym >> 4; run > 0; --run, ++k)
          if (k <= se) b[zigzagOrder[k]] = 0;
        if (sym == 0) {
          zero(k, se);
          break;
        }
      }
      int32_t value = 0;
      if ((sym & 15) != 0 && !valueBits(sym & 15, &value)) {
        zero(k, 63);
        buffer = count = 0;
        break;
      }
      if (k <= se) b[zigzagOrder[k]] = int16_t(uint16_t(uint32_t(value) << al));
      ++k;
    }
    if (ss == 0) {
      b[0] = int16_t(uint16_t(uint16_t(b[0]) + uint16_t(predictor)));
      predictor = b[0];
    }
  }
};

// Random Huffman table, counts summing to at most 256, as a DHT body part (0xFF escaped).
void randomDht(std::mt19937& random, uint8_t classAndId, uint8_t counts[16], uint8_t values[256],
               std::vector<uint8_t>& body) {
  uint32_t room = 256;
  const bool complete = random() % 2 == 0;
  for (int l = 0; l < 16; ++l) {
    uint32_t c = complete ? (l < 2 ? 1 : l < 8 ? random() % 6 : random() % 20) : random() % 12;
    c = std::min(c, room);
    counts[l] = uint8_t(c);
    room -= c;
  }
  body.push_back(classAndId);
  body.insert(body.end(), counts, counts + 16);
  std::memset(values, 0, 256);
  const uint32_t total = 256 - room;
  for (uint32_t i = 0; i < total; ++i) {
    values[i] = uint8_t(random() % 4 == 0 ? random() : (random() % 6) << 4 | (random() % 11));
    body.push_back(values[i]);
    if (values[i] == 0xFF) body.push_back(0x00);
  }
}

TEST(JpegSequentialScan, MatchesThePlainReferenceDecoder) {
  std::mt19937 random(31337);
  int blocksWithAc = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    const uint32_t width = 1 + random() % 40, height = 1 + random() % 24;
    uint8_t dcCounts[16], dcValues[256], acCounts[16], acValues[256];
    std::vector<uint8_t> dht;
    randomDht(random, 0x00, dcCounts, dcValues, dht);
    randomDht(random, 0x10, acCounts, acValues, dht);
    std::vector<uint8_t> stream = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x0B, 0x08, uint8_t(height >> 8), uint8_t(height),
                                   uint8_t(width >> 8), uint8_t(width), 0x01, 0x07, 0x11, 0x00,
                                   0xFF, 0xC4, uint8_t((dht.size() + 2) >> 8), uint8_t(dht.size() + 2)};
    stream.insert(stream.end(), dht.begin(), dht.end());
    // Two scans over the same blocks (the second sees the first one's coefficients), the
    // last one possibly cut short by the end of the stream.
    struct Scan {
      uint32_t ss, se, al;
      std::vector<uint8_t> data;
    } scans[2];
    for (Scan& scan : scans) {
      scan.ss = random() % 3 == 0 ? random() % 64 : 0;
      scan.se = random() % 3 == 0 ? random() % 64 : 63;
      scan.al = random() % 4 == 0 ? random() % 4 : 0;
      const size_t bytes = random() % 3 == 0 ? random() % 8 : random() % 400;
      for (size_t i = 0; i < bytes; ++i) {
        const uint8_t byte = uint8_t(random() % 8 == 0 ? 0xFF : random());
        scan.data.push_back(byte);
        if (byte == 0xFF) scan.data.push_back(0x00);
      }
      if (random() % 5 == 0 && !scan.data.empty() && scan.data.back() != 0x00) {
        scan.data.back() = 0xFF;  // a final 0xFF taken as data
      }
      const std::vector<uint8_t> header = {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x07, 0x00, uint8_t(scan.ss),
                                           uint8_t(scan.se), uint8_t(scan.al)};
      stream.insert(stream.end(), header.begin(), header.end());
      stream.insert(stream.end(), scan.data.begin(), scan.data.end());
      if (&scan == &scans[0]) {
        if (!scan.data.empty() && scan.data.back() == 0xFF) scan.data.push_back(0x00), stream.push_back(0x00);
      }
    }

    testing::DecoderStore decoder(width, height, true);
    decoder.decode(stream);
    const JpegDecoder* state = decoder.state;

    const uint32_t columns = (width + 7) / 8, rows = (height + 7) / 8;
    std::vector<int16_t> expected(size_t(columns) * rows * 64, 0);
    for (const Scan& scan : scans) {
      PlainScanDecoder reference{scan.data.data(), scan.data.size()};
      for (uint32_t b = 0; b < columns * rows; ++b) {
        reference.block(&expected[size_t(b) * 64], scan.ss, scan.se, scan.al, dcCounts, dcValues, acCounts, acValues);
        reference.fill();
        if (reference.count == 0) break;
      }
    }
    ASSERT_EQ(std::memcmp(expected.data(), state->coefficients, expected.size() * 2), 0) << trial;
    blocksWithAc += std::count_if(expected.begin(), expected.end(), [](int16_t v) { return v != 0; }) > 0;
  }
  EXPECT_GT(blocksWithAc, 2000);  // the random data really decode to coefficients
}

// --- Streaming output and the fast sequential decoder ----------------------------------------

// A sequential stream decoded straight into the output (with the fast block decoder where
// the data allow) against the output stage over the coefficient buffer with the careful
// decoder only: the same pixels and the same damage report, whole, cut, flipped, and with
// the output stopped by the progress callback.
int stopAtSecondRow(void*, uint32_t percent) { return percent == 0; }

TEST(JpegStreamingOutput, MatchesTheOutputStageOverTheCoefficientBuffer) {
  using testing::Bytes;
  struct Source {
    Bytes stream;
    uint32_t width, height;
  };
  std::vector<Source> sources;
  for (const uint32_t quality : {1u, 75u, 100u})
    for (const auto& [w, h] : {std::pair{1u, 1u}, {13u, 7u}, {64u, 64u}, {127u, 65u}, {100u, 3u}})
      sources.push_back({testing::encodeLevel(testing::smoothPixels(w, h, quality), w, h, quality, false), w, h});
  testing::LibjpegEncodeOptions restarts;
  restarts.restartBlocks = 3;
  for (int components : {1, 3, 4}) {
    restarts.components = components;
    Bytes samples = testing::smoothPixels(61, 37, 9);
    for (size_t i = 0, j = 0; i < samples.size(); i += 4)
      for (int c = 0; c < components; ++c) samples[j++] = samples[i + c];
    samples.resize(size_t(61) * 37 * components);
    sources.push_back({testing::libjpegEncode(samples, 61, 37, restarts), 61, 37});
  }
  std::mt19937 random(5);
  int streamed = 0;
  for (const Source& source : sources) {
    testing::DecoderStore fast(source.width, source.height), plain(source.width, source.height, true);
    plain.state->carefulOnly = true;
    plain.state->avx2 = false;
    for (int variant = 0; variant < 24; ++variant) {
      Bytes stream = source.stream;
      if (variant % 3 == 1) stream.resize(random() % stream.size());
      if (variant % 3 == 2) stream[random() % stream.size()] ^= uint8_t(1 + random() % 255);
      for (JpegProgressCallback progress : {JpegProgressCallback(nullptr), stopAtSecondRow}) {
        fast.output.progress = plain.output.progress = progress;
        ASSERT_EQ(fast.decode(stream), plain.decode(stream)) << source.width << "x" << source.height << " " << variant;
        ASSERT_EQ(fast.result.flags, plain.result.flags) << variant;
        ASSERT_EQ(fast.result.blocksDecoded, plain.result.blocksDecoded) << variant;
        streamed += fast.state->streaming;
      }
    }
  }
  EXPECT_GT(streamed, 300);  // most of them did take the streaming path
}

// --- Inverse DCT ---------------------------------------------------------------------------

// The reference inverse DCT: separate arrays, explicit temporaries, the zero-AC shortcut.
void plainInverseDct(const int16_t* coefficients, const float* dequant, float* out) {
  float work[64];
  for (int col = 0; col < 8; ++col) {
    bool acZero = true;
    for (int row = 1; row < 8; ++row) acZero = acZero && coefficients[row * 8 + col] == 0;
    float d[8];
    for (int row = 0; row < 8; ++row) d[row] = float(coefficients[row * 8 + col]) * dequant[row * 8 + col];
    if (acZero) {
      for (int row = 0; row < 8; ++row) work[row * 8 + col] = d[0];
      continue;
    }
    float a0 = d[0] + d[4];
    float a1 = d[0] - d[4];
    float a3 = d[2] + d[6];
    float a2 = (d[2] - d[6]) * 1.4142135f;
    a2 = a2 - a3;
    float e0 = a0 + a3, e3 = a0 - a3, e1 = a1 + a2, e2 = a1 - a2;
    float z13 = d[5] + d[3], z10 = d[5] - d[3], z11 = d[1] + d[7], z12 = d[1] - d[7];
    float o7 = z11 + z13;
    float t11 = (z11 - z13) * 1.4142135f;
    float z5 = (z10 + z12) * 1.847759f;
    float p10 = z12 * 1.0823922f;
    float t10 = z5 - p10;
    float p12 = z10 * 2.613126f;
    float t12 = z5 - p12;
    float o6 = t12 - o7;
    float o5 = t11 - o6;
    float o4 = t10 - o5;
    const float column[8] = {e0 + o7, e1 + o6, e2 + o5, e3 + o4, e3 - o4, e2 - o5, e1 - o6, e0 - o7};
    for (int row = 0; row < 8; ++row) work[row * 8 + col] = column[row];
  }
  for (int row = 0; row < 8; ++row) {
    float d[8];
    for (int i = 0; i < 8; ++i) d[i] = work[row * 8 + i];
    d[0] = d[0] + 128.5f;
    float a0 = d[0] + d[4], a1 = d[0] - d[4], a3 = d[2] + d[6];
    float a2 = (d[2] - d[6]) * 1.4142135f - a3;
    float e0 = a0 + a3, e3 = a0 - a3, e1 = a1 + a2, e2 = a1 - a2;
    float z13 = d[5] + d[3], z10 = d[5] - d[3], z11 = d[1] + d[7], z12 = d[1] - d[7];
    float o7 = z11 + z13;
    float t11 = (z11 - z13) * 1.4142135f;
    float z5 = (z10 + z12) * 1.847759f;
    float t10 = z5 - z12 * 1.0823922f;
    float t12 = z5 - z10 * 2.613126f;
    float o6 = t12 - o7, o5 = t11 - o6, o4 = t10 - o5;
    const float r[8] = {e0 + o7, e1 + o6, e2 + o5, e3 + o4, e3 - o4, e2 - o5, e1 - o6, e0 - o7};
    for (int i = 0; i < 8; ++i) out[row * 8 + i] = r[i];
  }
}

void randomCoefficients(std::mt19937& random, int16_t* block) {
  const int kind = int(random() % 4);
  for (int n = 0; n < 64; ++n) {
    switch (kind) {
      case 0: block[n] = n == 0 ? int16_t(int(random() % 2048) - 1024) : 0; break;           // DC only
      case 1: block[n] = random() % 6 == 0 ? int16_t(int(random() % 64) - 32) : 0; break;    // sparse
      case 2: block[n] = int16_t(int(random() % 2048) - 1024); break;                        // dense
      default: block[n] = int16_t(random()); break;                                          // extreme
    }
  }
  if (kind == 1 && random() % 2) {  // whole columns without AC terms
    for (int col = 0; col < 8; col += 2)
      for (int row = 1; row < 8; ++row) block[row * 8 + col] = 0;
  }
}

TEST(JpegInverseDct, IsBitIdenticalToThePlainFlowGraph) {
  std::mt19937 random(99);
  int avx2Blocks = 0;
  for (int trial = 0; trial < 20000; ++trial) {
    int16_t block[64];
    randomCoefficients(random, block);
    float dequant[64];
    const int q = trial % 3;
    for (int n = 0; n < 64; ++n)
      dequant[n] = float(q == 0 ? 1 : q == 1 ? 1 + random() % 255 : random() % 65536) * idctScaleTable[n];
    float expected[64], got[64];
    plainInverseDct(block, dequant, expected);
    inverseDctBlock(block, dequant, got);
    ASSERT_EQ(std::memcmp(expected, got, sizeof got), 0) << trial;
    if (!jpegAvx2Available()) continue;
    // The AVX2 kernel's samples: the range table's mapping of the truncated values, or a
    // refusal exactly when one of them lies outside the 32-bit range.
    uint8_t plainSamples[64], avx2Samples[64];
    bool outside = false;
    for (int n = 0; n < 64; ++n) {
      outside = outside || !(expected[n] > -2147483648.0f && expected[n] < 2147483648.0f);
      const uint32_t index = uint32_t(uint64_t(int64_t(expected[n]))) & 1023;
      plainSamples[n] = uint8_t(index < 256 ? index : index < 512 ? 255 : 0);
    }
    const bool vectorDone = inverseDctSamplesAvx2(block, dequant, avx2Samples);
    ASSERT_EQ(vectorDone, !outside) << trial;
    if (vectorDone) {
      ASSERT_EQ(std::memcmp(plainSamples, avx2Samples, 64), 0) << trial;
    }
    avx2Blocks += vectorDone;
  }
  if (jpegAvx2Available()) {
    EXPECT_GT(avx2Blocks, 12000);
  }
}

// Whole levels decoded with the AVX2 paths and without (the SSE2 ones): the same bytes and
// damage reports, baseline and progressive, edge blocks, intact and with flipped bytes.
TEST(JpegInverseDct, Avx2DecodesWholeLevelsLikeThePlainPath) {
  if (!jpegAvx2Available()) GTEST_SKIP() << "no AVX2 on this processor or in this build";
  std::mt19937 random(13);
  for (const bool progressive : {false, true})
    for (const uint32_t quality : {1u, 50u, 75u, 100u})
      for (const auto& [w, h] : {std::pair{1u, 1u}, {13u, 7u}, {64u, 64u}, {127u, 65u}}) {
        const testing::Bytes pixels = quality == 50 ? testing::noisePixels(w, h, w) : testing::smoothPixels(w, h, h);
        const testing::Bytes intact = testing::encodeLevel(pixels, w, h, quality, progressive);
        testing::DecoderStore vector(w, h), plain(w, h);
        plain.state->avx2 = false;
        for (int variant = 0; variant < 4; ++variant) {
          testing::Bytes stream = intact;
          if (variant > 0) stream[stream.size() / 2 + random() % (stream.size() / 2)] ^= uint8_t(1 + random() % 255);
          ASSERT_EQ(vector.decode(stream), plain.decode(stream)) << w << "x" << h << " q" << quality << " " << variant;
          ASSERT_EQ(vector.result.flags, plain.result.flags);
        }
      }
}

// --- Forward DCT ---------------------------------------------------------------------------

void plainForwardPass(const float* in, float* out, float shift) {
  float t0 = in[0] + in[7], t7 = in[0] - in[7], t1 = in[1] + in[6], t6 = in[1] - in[6];
  float t2 = in[2] + in[5], t5 = in[2] - in[5], t3 = in[3] + in[4], t4 = in[3] - in[4];
  float u10 = t0 + t3, u13 = t0 - t3, u11 = t1 + t2, u12 = t1 - t2;
  out[0] = u10 + u11;
  if (shift != 0.0f) out[0] = out[0] - shift;
  out[4] = u10 - u11;
  float z1 = (u12 + u13) * 0.70710677f;
  out[2] = u13 + z1;
  out[6] = u13 - z1;
  float s45 = t4 + t5, s56 = t5 + t6, s67 = t6 + t7;
  float z5 = (s45 - s67) * 0.38268343f;
  float z2 = 0.5411961f * s45 + z5;
  float z4 = 1.306563f * s67 + z5;
  float z3 = s56 * 0.70710677f;
  float z11 = t7 + z3, z13 = t7 - z3;
  out[5] = z13 + z2;
  out[3] = z13 - z2;
  out[1] = z11 + z4;
  out[7] = z11 - z4;
}

void plainForwardDct(const int32_t* samples, const float* multiplier, int16_t* zigzag) {
  float rows[64], result[64];
  for (int r = 0; r < 8; ++r) {
    // Samples of 0..255: sums of their floats are exact, like the integer sums converted.
    const int32_t* d = samples + 8 * r;
    const float in[8] = {float(d[0]), float(d[1]), float(d[2]), float(d[3]),
                         float(d[4]), float(d[5]), float(d[6]), float(d[7])};
    plainForwardPass(in, rows + 8 * r, 1024.0f);
  }
  for (int c = 0; c < 8; ++c) {
    float in[8], out[8];
    for (int r = 0; r < 8; ++r) in[r] = rows[8 * r + c];
    plainForwardPass(in, out, 0.0f);
    for (int r = 0; r < 8; ++r) result[8 * r + c] = out[r];
  }
  for (int n = 0; n < 64; ++n) zigzag[naturalToZigzag[n]] = int16_t(int32_t(result[n] * multiplier[n]));
}

TEST(JpegForwardDct, IsBitIdenticalToThePlainFlowGraph) {
  // Samples are 0..255: the float sums of samples equal the integer sums converted.
  std::mt19937 random(7);
  for (int trial = 0; trial < 20000; ++trial) {
    int32_t samples[64];
    const int kind = trial % 3;
    for (int i = 0; i < 64; ++i)
      samples[i] = kind == 0 ? int32_t(random() % 256) : kind == 1 ? int32_t(100 + random() % 5) : (i * 37) % 256;
    uint8_t q[64];
    quantTableForQuality(trial % 101, q);
    float multiplier[64];
    for (int k = 0; k < 64; ++k) multiplier[zigzagOrder[k]] = fdctScaleTable[zigzagOrder[k]] / float(q[k]);
    int16_t expected[64], got[64];
    plainForwardDct(samples, multiplier, expected);
    forwardDctBlock(samples, multiplier, got);
    ASSERT_EQ(std::memcmp(expected, got, sizeof got), 0) << trial;
  }
}

// Every kernel (plain, SSE2, AVX2 where the processor has it) on whole levels: edge blocks,
// odd numbers of positions per row (AVX2 pairs them), every kind of content.
TEST(JpegForwardDct, EveryKernelMatchesThePlainFlowGraphOnWholeLevels) {
  struct Case { uint32_t width, height, quality; int kind; };
  const Case cases[] = {{1, 1, 100, 0}, {7, 3, 75, 0}, {8, 8, 1, 1}, {9, 17, 50, 2}, {24, 8, 100, 2},
                        {33, 20, 90, 0}, {40, 9, 75, 1}, {64, 64, 37, 3}, {57, 31, 100, 3}};
  int kernels = 0;
  for (FdctPath path : {FdctPath::Plain, FdctPath::Sse2, FdctPath::Avx2}) {
    const FdctKernel kernel = fdctKernel(path);
    if (kernel == nullptr) continue;
    ++kernels;
    for (const Case& k : cases) {
      const testing::Bytes pixels = k.kind == 0 ? testing::noisePixels(k.width, k.height, k.width)
                                    : k.kind == 1 ? testing::smoothPixels(k.width, k.height, 3)
                                    : k.kind == 2 ? testing::solidPixels(k.width, k.height, 0, 255, 128, 1)
                                                  : testing::noisePixels(k.width, k.height, 5);
      testing::Bytes extreme = pixels;  // kind 3: bytes of 0 and 255 only, the largest terms
      for (auto& b : extreme) b = b & 1 ? 255 : 0;
      const testing::Bytes& source = k.kind == 3 ? extreme : pixels;
      testing::EncoderStore store(k.width, k.height, k.quality);
      testing::Bytes area(200);
      store.ctx->output = area.data();
      store.ctx->outputEnd = area.data() + area.size();
      store.ctx->pixels = source.data();
      store.ctx->width = k.width;
      store.ctx->height = k.height;
      writeQuantAndFrameHeader(store.ctx, 0xC0);
      forwardDctQuantizeRows(store.ctx, kernel, 0, (k.height + 7) / 8);
      const uint32_t columns = (k.width + 7) / 8;
      for (uint32_t b = 0; b < encodeBlockCount(store.ctx); ++b) {
        for (uint32_t c = 0; c < 4; ++c) {
          int32_t samples[64];
          for (uint32_t i = 0; i < 64; ++i) {
            const uint32_t y = std::min(b / columns * 8 + i / 8, k.height - 1);
            const uint32_t x = std::min(b % columns * 8 + i % 8, k.width - 1);
            samples[i] = source[(uint64_t(y) * k.width + x) * 4 + c];
          }
          int16_t expected[64];
          plainForwardDct(samples, store.ctx->quantMultiplier, expected);
          ASSERT_EQ(std::memcmp(expected, encodeBlock(store.ctx, b, c), sizeof expected), 0)
              << int(path) << " " << k.width << "x" << k.height << " block " << b << " component " << c;
        }
      }
    }
  }
  EXPECT_GE(kernels, 2);  // the plain one and at least SSE2 on x86
}

// --- Entropy coding ------------------------------------------------------------------------

// A scan as a plain coder sees it: Huffman symbols of table slot 0 or 1 (-1: none), each
// followed by raw bits. Coded with the optimal tables of its own symbols.
struct PlainScan {
  struct Event {
    int slot;
    uint32_t symbol, bits, count;
  };
  std::vector<Event> events;

  void symbol(int slot, uint32_t s, uint32_t bits = 0, uint32_t count = 0) { events.push_back({slot, s, bits, count}); }
  void raw(uint32_t bits, uint32_t count) { events.push_back({-1, 0, bits, count}); }
  // A coefficient's magnitude category s and its s value bits (v - 1 for negative v).
  void value(int slot, uint32_t run, int32_t v) {
    const uint32_t s = v == 0 ? 0 : 32 - uint32_t(__builtin_clz(uint32_t(std::abs(v))));
    symbol(slot, run * 16 + s, uint32_t(v < 0 ? v - 1 : v) & ((1u << s) - 1), s);
  }

  testing::Bytes code(JpegEncodeContext* ctx) const {
    for (int slot = 0; slot < 2; ++slot) {
      uint64_t frequencies[257] = {};
      for (const Event& e : events)
        if (e.slot == slot) ++frequencies[e.symbol];
      frequencies[256] = 1;
      buildHuffmanTable(ctx, frequencies, slot);
    }
    testing::Bytes out;
    uint32_t byte = 0, filled = 0;
    auto bit = [&](uint32_t b) {
      byte = byte << 1 | b;
      if (++filled < 8) return;
      out.push_back(uint8_t(byte));
      if (byte == 0xFF) out.push_back(0x00);
      byte = filled = 0;
    };
    for (const Event& e : events) {
      if (e.slot >= 0)
        for (uint32_t l = ctx->codeLengths[e.slot][e.symbol]; l-- > 0;) bit(ctx->huffCodes[e.slot][e.symbol] >> l & 1);
      for (uint32_t i = e.count; i-- > 0;) bit(e.bits >> i & 1);
    }
    while (filled != 0) bit(1);
    return out;
  }
};

// End-of-band runs: symbol 16n with n = floor(log2(run)) and the run's low n bits, then the
// correction bits held back for the blocks of the run.
struct PlainEobRun {
  uint32_t blocks = 0;
  std::vector<uint32_t> held;
  void flush(PlainScan& scan) {
    if (blocks == 0) return;
    const uint32_t n = 31 - uint32_t(__builtin_clz(blocks));
    scan.symbol(1, 16 * n, blocks & ((1u << n) - 1), n);
    for (uint32_t b : held) scan.raw(b, 1);
    blocks = 0;
    held.clear();
  }
  void add(PlainScan& scan, const std::vector<uint32_t>& bits) {
    held.insert(held.end(), bits.begin(), bits.end());
    if (++blocks == 32767) flush(scan);
  }
};

// The scans of our streams, written plainly from the untouched coefficients: baseline one
// interleaved scan; progressive the 18-scan script of jpeg_progressive.cpp.
std::vector<PlainScan> plainScans(JpegEncodeContext* ctx, bool progressive) {
  const uint64_t blocks = encodeBlockCount(ctx);
  auto coefficient = [&](uint64_t b, uint32_t c, uint32_t k) { return int32_t(encodeBlock(ctx, b, c)[k]); };
  std::vector<PlainScan> scans;
  auto dcScan = [&](uint32_t al) {
    PlainScan scan;
    int32_t previous[4] = {0, 0, 0, 0};
    for (uint64_t b = 0; b < blocks; ++b)
      for (uint32_t c = 0; c < 4; ++c) {
        const int32_t dc = coefficient(b, c, 0) >> al;
        if (!progressive) {  // the baseline scan: DC, then the AC coefficients of the block
          scan.value(0, 0, int32_t(int16_t(dc - previous[c])));
          uint32_t r = 0;
          for (uint32_t k = 1; k < 64; ++k) {
            const int32_t v = coefficient(b, c, k);
            if (v == 0 && ++r) continue;
            for (; r > 15; r -= 16) scan.symbol(1, 0xF0);
            scan.value(1, r, v);
            r = 0;
          }
          if (r > 0) scan.symbol(1, 0x00);
        } else {
          scan.value(0, 0, dc - previous[c]);
        }
        previous[c] = dc;
      }
    scans.push_back(scan);
  };
  auto acFirst = [&](uint32_t c, uint32_t ss, uint32_t se) {
    PlainScan scan;
    PlainEobRun run;
    for (uint64_t b = 0; b < blocks; ++b) {
      uint32_t r = 0;
      for (uint32_t k = ss; k <= se; ++k) {
        const int32_t v = coefficient(b, c, k), m = std::abs(v) >> 2;
        if (m == 0 && ++r) continue;
        run.flush(scan);
        for (; r > 15; r -= 16) scan.symbol(1, 0xF0);
        scan.value(1, r, v < 0 ? -m : m);
        r = 0;
      }
      if (r > 0) run.add(scan, {});
    }
    run.flush(scan);
    scans.push_back(scan);
  };
  auto acRefine = [&](uint32_t c, uint32_t al) {
    PlainScan scan;
    PlainEobRun run;
    for (uint64_t b = 0; b < blocks; ++b) {
      uint32_t last = 0;
      for (uint32_t k = 1; k < 64; ++k)
        if (std::abs(coefficient(b, c, k)) >> al == 1) last = k;
      if (last > 0) run.flush(scan);
      std::vector<uint32_t> correction;
      uint32_t r = 0;
      for (uint32_t k = 1; k < 64; ++k) {
        const int32_t v = coefficient(b, c, k), a = std::abs(v) >> al;
        if (k > last) {
          if (a != 0) correction.push_back(a & 1);
          continue;
        }
        if (a > 1) {
          correction.push_back(a & 1);
          continue;
        }
        if (a == 0 && ++r < 16) continue;
        scan.symbol(1, a == 0 ? 0xF0 : 16 * r + 1, a == 0 ? 0 : v > 0, a == 0 ? 0 : 1);
        for (uint32_t bit : correction) scan.raw(bit, 1);
        correction.clear();
        r = 0;
      }
      if (last < 63) run.add(scan, correction);
    }
    run.flush(scan);
    scans.push_back(scan);
  };
  if (!progressive) {
    dcScan(0);
    return scans;
  }
  dcScan(1);
  for (uint32_t c = 0; c < 4; ++c) acFirst(c, 1, 5);
  for (uint32_t c = 0; c < 4; ++c) acFirst(c, 6, 63);
  for (uint32_t c = 0; c < 4; ++c) acRefine(c, 1);
  PlainScan dcBits;
  for (uint64_t b = 0; b < blocks; ++b)
    for (uint32_t c = 0; c < 4; ++c) dcBits.raw(uint32_t(coefficient(b, c, 0)) & 1, 1);
  scans.push_back(dcBits);
  for (uint32_t c = 0; c < 4; ++c) acRefine(c, 0);
  return scans;
}

TEST(JpegEntropyCoding, EveryScanMatchesThePlainCoder) {
  struct Case { uint32_t width, height; int kind; };
  const Case cases[] = {{1, 1, 0}, {9, 17, 0}, {64, 64, 1}, {100, 37, 2}, {257, 129, 1}, {48, 40, 3}};
  for (const Case& k : cases) {
    const testing::Bytes pixels = k.kind == 0 ? testing::noisePixels(k.width, k.height, k.height)
                                  : k.kind == 1 ? testing::smoothPixels(k.width, k.height, k.width)
                                  : k.kind == 2 ? testing::solidPixels(k.width, k.height, 9, 200, 77, 255)
                                                : testing::smoothPixels(k.width, k.height, 1);
    for (uint32_t quality : {1u, 37u, 75u, 90u, 100u}) {
      for (bool progressive : {false, true}) {
        const testing::Bytes stream = testing::encodeLevel(pixels, k.width, k.height, quality, progressive);
        testing::EncoderStore store(k.width, k.height, quality);
        testing::Bytes area(200);
        store.ctx->output = area.data();
        store.ctx->outputEnd = area.data() + area.size();
        store.ctx->pixels = pixels.data();
        store.ctx->width = k.width;
        store.ctx->height = k.height;
        writeQuantAndFrameHeader(store.ctx, 0xC0);
        forwardDctQuantizeRows(store.ctx, fdctKernel(FdctPath::Plain), 0, (k.height + 7) / 8);
        const std::vector<PlainScan> plain = plainScans(store.ctx, progressive);
        const std::vector<testing::Bytes> ours = testing::scanData(stream);
        ASSERT_EQ(ours.size(), plain.size());
        for (size_t s = 0; s < plain.size(); ++s)
          ASSERT_EQ(ours[s], plain[s].code(store.ctx))
              << k.width << "x" << k.height << " kind " << k.kind << " q" << quality << " scan " << s;
      }
    }
  }
}

}  // namespace
}  // namespace vellum
