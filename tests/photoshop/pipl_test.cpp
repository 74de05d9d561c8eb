// The PiPL resources as the build generates them (Vellum32's and Vellum64's), field by
// field against the published table of properties.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "photoshop-host/pipl_expected.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The generated resource and the entry-point key it must carry, as stored.
struct Generated {
  const char* plugin;
  const char* path;
  const char* entryKey;
};

class Pipl : public ::testing::TestWithParam<Generated> {};

Bytes readGenerated(const char* path) {
  Bytes bytes;
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return bytes;
  int c;
  while ((c = std::fgetc(f)) != EOF) bytes.push_back(uint8_t(c));
  std::fclose(f);
  return bytes;
}

uint32_t le32(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

TEST_P(Pipl, HeaderAndSize) {
  const Bytes pipl = readGenerated(GetParam().path);
  ASSERT_EQ(pipl.size(), 402u);
  EXPECT_EQ(pipl[0], 1);  // int16 1
  EXPECT_EQ(pipl[1], 0);
  EXPECT_EQ(le32(pipl, 2), 0u);   // PiPL version
  EXPECT_EQ(le32(pipl, 6), 16u);  // properties
}

TEST_P(Pipl, EveryPropertyAsPublished) {
  const Bytes pipl = readGenerated(GetParam().path);
  ASSERT_EQ(pipl.size(), 402u);
  size_t at = 10;
  for (const pshost::PiplProperty& p : pshost::expectedPiplProperties(GetParam().entryKey)) {
    SCOPED_TRACE(p.keyAsStored);
    ASSERT_LE(at + 16, pipl.size());
    EXPECT_EQ(std::string(pipl.begin() + long(at), pipl.begin() + long(at) + 4), "MIB8");  // vendor '8BIM'
    EXPECT_EQ(std::string(pipl.begin() + long(at) + 4, pipl.begin() + long(at) + 8), p.keyAsStored);
    EXPECT_EQ(le32(pipl, at + 8), 0u);  // property id
    const uint32_t length = le32(pipl, at + 12);
    EXPECT_EQ(length, p.data.size());
    EXPECT_EQ(length % 4, 0u);  // the length counts the padding
    ASSERT_LE(at + 16 + length, pipl.size());
    EXPECT_EQ(Bytes(pipl.begin() + long(at) + 16, pipl.begin() + long(at + 16 + length)), p.data);
    at += 16 + ((length + 3) & ~3u);  // the walk hosts do
  }
  EXPECT_EQ(at, pipl.size());
  EXPECT_EQ(pipl, pshost::expectedPipl(GetParam().entryKey));
}

// The flag encodings, spelled out: modes and format flags are stored most significant bit
// first, so Bitmap (mode 0) is bit 7 of the first byte and CanRead (flag 2) is 0x20.
TEST_P(Pipl, FlagBitsMostSignificantFirst) {
  const Bytes pipl = readGenerated(GetParam().path);
  ASSERT_EQ(pipl.size(), 402u);
  const auto find = [&](const char* key) -> size_t {
    for (size_t at = 10; at + 16 <= pipl.size(); at += 16 + ((le32(pipl, at + 12) + 3) & ~3u))
      if (std::memcmp(&pipl[at + 4], key, 4) == 0) return at + 16;
    return 0;
  };
  const size_t mode = find("edom");
  ASSERT_NE(mode, 0u);
  EXPECT_EQ(pipl[mode] & 0x80, 0x80);  // Bitmap
  EXPECT_EQ(pipl[mode] & 0x40, 0x40);  // Grayscale
  EXPECT_EQ(pipl[mode] & 0x20, 0x20);  // Indexed Color
  EXPECT_EQ(pipl[mode] & 0x10, 0x10);  // RGB Color
  EXPECT_EQ(pipl[mode] & 0x0F, 0);     // CMYK, HSL, HSB, Multichannel: no
  const size_t flags = find("ftmf");
  ASSERT_NE(flags, 0u);
  EXPECT_EQ(pipl[flags] & 0x20, 0x20);  // can read
  EXPECT_EQ(pipl[flags] & 0x10, 0x10);  // can write
  EXPECT_EQ(pipl[flags] & (0x80 | 0x40 | 0x08 | 0x01), 0);
}

INSTANTIATE_TEST_SUITE_P(Plugins, Pipl,
                         ::testing::Values(Generated{"Vellum32", VELLUM32_PIPL_BIN, pshost::kEntryKey32},
                                           Generated{"Vellum64", VELLUM64_PIPL_BIN, pshost::kEntryKey64}),
                         [](const ::testing::TestParamInfo<Generated>& info) { return std::string(info.param.plugin); });

// The two resources differ in the entry point's key alone: "68xw" ('wx86') against "4668"
// ('8664'), the fourth property's key, at bytes 102 to 105 (after the 10-byte header, the
// kind, name and vers properties of 16 + 4, 16 + 32 and 16 + 4 bytes, and a vendor).
TEST(PiplArchitectures, OnlyTheEntryPointKeyDiffers) {
  const Bytes p32 = readGenerated(VELLUM32_PIPL_BIN), p64 = readGenerated(VELLUM64_PIPL_BIN);
  ASSERT_EQ(p32.size(), 402u);
  ASSERT_EQ(p64.size(), 402u);
  std::vector<size_t> differing;
  for (size_t i = 0; i < p32.size(); ++i)
    if (p32[i] != p64[i]) differing.push_back(i);
  const size_t key = 10 + (16 + 4) + (16 + 32) + (16 + 4) + 4;
  EXPECT_EQ(std::string(p32.begin() + long(key), p32.begin() + long(key) + 4), "68xw");
  EXPECT_EQ(std::string(p64.begin() + long(key), p64.begin() + long(key) + 4), "4668");
  for (size_t i : differing) {
    EXPECT_GE(i, key);
    EXPECT_LT(i, key + 4);
  }
  EXPECT_FALSE(differing.empty());
}

}  // namespace
