// The PiPL resource as the build generates it, field by field against the published
// table of Vellum32's properties.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "photoshop-host/pipl_expected.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes readGenerated() {
  Bytes bytes;
  std::FILE* f = std::fopen(VELLUM32_PIPL_BIN, "rb");
  if (f == nullptr) return bytes;
  int c;
  while ((c = std::fgetc(f)) != EOF) bytes.push_back(uint8_t(c));
  std::fclose(f);
  return bytes;
}

uint32_t le32(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

TEST(Pipl, HeaderAndSize) {
  const Bytes pipl = readGenerated();
  ASSERT_EQ(pipl.size(), 402u);
  EXPECT_EQ(pipl[0], 1);  // int16 1
  EXPECT_EQ(pipl[1], 0);
  EXPECT_EQ(le32(pipl, 2), 0u);   // PiPL version
  EXPECT_EQ(le32(pipl, 6), 16u);  // properties
}

TEST(Pipl, EveryPropertyAsPublished) {
  const Bytes pipl = readGenerated();
  ASSERT_EQ(pipl.size(), 402u);
  size_t at = 10;
  for (const pshost::PiplProperty& p : pshost::expectedPiplProperties()) {
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
  EXPECT_EQ(pipl, pshost::expectedPipl());
}

// The flag encodings, spelled out: modes and format flags are stored most significant bit
// first, so Bitmap (mode 0) is bit 7 of the first byte and CanRead (flag 2) is 0x20.
TEST(Pipl, FlagBitsMostSignificantFirst) {
  const Bytes pipl = readGenerated();
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

}  // namespace
