#include <gtest/gtest.h>

#include <cmath>

#include "jpeg/jpeg_tables.h"

namespace vellum {
namespace {

TEST(JpegTables, ZigzagIsTheStandardScanAndItsInverse) {
  const uint8_t start[] = {0, 1, 8, 16, 9, 2, 3, 10, 17, 24, 32, 25, 18, 11, 4, 5};
  for (int k = 0; k < 16; ++k) EXPECT_EQ(zigzagOrder[k], start[k]);
  EXPECT_EQ(zigzagOrder[62], 62);
  EXPECT_EQ(zigzagOrder[63], 63);
  const uint8_t inverseStart[] = {0, 1, 5, 6, 14, 15, 27, 28, 2, 4, 7, 13};
  for (int n = 0; n < 12; ++n) EXPECT_EQ(naturalToZigzag[n], inverseStart[n]);
  bool seen[64] = {};
  for (int k = 0; k < 64; ++k) {
    ASSERT_LT(zigzagOrder[k], 64);
    EXPECT_FALSE(seen[zigzagOrder[k]]);
    seen[zigzagOrder[k]] = true;
    EXPECT_EQ(naturalToZigzag[zigzagOrder[k]], k);
    // Consecutive positions are neighbours (the scan moves by one step, or diagonally).
    if (k > 0) {
      const int dr = std::abs(zigzagOrder[k] / 8 - zigzagOrder[k - 1] / 8);
      const int dc = std::abs(zigzagOrder[k] % 8 - zigzagOrder[k - 1] % 8);
      EXPECT_LE(dr, 1);
      EXPECT_LE(dc, 1);
    }
  }
}

TEST(JpegTables, BaseQuantizationTable) {
  const uint8_t firstRow[] = {11, 7, 7, 11, 16, 26, 34, 40};
  const uint8_t lastRow[] = {48, 61, 63, 65, 74, 66, 68, 65};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(baseQuantTable[i], firstRow[i]);
    EXPECT_EQ(baseQuantTable[56 + i], lastRow[i]);
  }
  EXPECT_EQ(baseQuantTable[4 * 8 + 5], 72);
}

// The committed tables are the nearest single-precision values of the exact scale factors:
// checked here against long-double arithmetic (the library itself never calls cos).
TEST(JpegTables, ScaleTablesAreTheRoundedExactValues) {
  auto s = [](int k) -> long double {
    return k == 0 ? 1.0L : std::sqrt(2.0L) * std::cos(k * 3.14159265358979323846264338327950288L / 16);
  };
  for (int u = 0; u < 8; ++u) {
    for (int v = 0; v < 8; ++v) {
      const long double inverse = s(u) * s(v) / 8, forward = 1 / (8 * s(u) * s(v));
      const float fi = idctScaleTable[u * 8 + v], ff = fdctScaleTable[u * 8 + v];
      // Within half a unit in the last place of the float.
      EXPECT_LE(std::fabs(fi - inverse), 0.5L * (std::nextafter(fi, 2 * fi) - fi)) << u << "," << v;
      EXPECT_LE(std::fabs(ff - forward), 0.5L * (std::nextafter(ff, 2 * ff) - ff)) << u << "," << v;
      EXPECT_EQ(idctScaleTable[u * 8 + v], idctScaleTable[v * 8 + u]);
    }
  }
  EXPECT_EQ(idctScaleTable[0], 0.125f);
  EXPECT_NEAR(idctScaleTable[1], 0.17338f, 1e-5);
  EXPECT_NEAR(idctScaleTable[63], 0.009515f, 1e-6);
  EXPECT_EQ(fdctScaleTable[0], 0.125f);
  EXPECT_NEAR(fdctScaleTable[7], 0.453064f, 1e-6);
  EXPECT_NEAR(fdctScaleTable[63], 1.642134f, 1e-6);
}

}  // namespace
}  // namespace vellum
