// The PNG writer's filter choice against the plain per-byte code it replaced: the same
// filter and bytes for widths 1..67 at 1, 3 and 4 bytes a pixel, rows of kind 0 random,
// 1..5 filter kind-1's residuals of -2..2 undone (so that it usually wins), 6 the
// benchmarks' texture, 7 zeros (ties).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "bench/support/texture.h"
#include "cli/png_filter.h"

namespace vellum::cli {
namespace {

uint8_t predictReference(int type, const uint8_t* row, const uint8_t* above, uint64_t i, uint32_t bpp) {
  const int a = i >= bpp ? row[i - bpp] : 0, b = above[i], c = i >= bpp ? above[i - bpp] : 0;
  const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  const int predictors[5] = {0, a, b, (a + b) >> 1, pa <= pb && pa <= pc ? a : pb <= pc ? b : c};
  return uint8_t(predictors[type]);
}

TEST(PngFilter, SameChoiceAndBytesAsThePlainCode) {
  int wins[5] = {};
  for (int kind = 0; kind < 8; ++kind)
    for (uint32_t bpp : {1u, 3u, 4u})
      for (uint32_t width = 1; width <= 67; ++width) {
        const uint64_t n = uint64_t(width) * bpp;
        std::vector<uint8_t> row(n), above(n), expected, out(n + 2, 0xA5);
        uint32_t state = width * 131 + bpp * 7 + uint32_t(kind);
        auto next = [&state]() { return uint8_t((state = state * 1103515245u + 12345u) >> 23); };
        const std::vector<uint8_t> texture = bench::textureRgba(width, 2, width);
        for (uint64_t i = 0; i < n; ++i) {
          const uint64_t t = (i / bpp) * 4 + i % bpp;
          above[i] = kind == 7 ? 0 : kind == 6 ? texture[t] : next();
          row[i] = kind == 7 ? 0 : kind == 6 ? texture[width * 4 + t] : next();
          if (kind >= 1 && kind <= 5)
            row[i] = uint8_t(row[i] % 5 - 2 + predictReference(kind - 1, row.data(), above.data(), i, bpp));
        }
        int expectedType = 0;  // the plain choice: each filter in full, then its cost
        for (uint64_t type = 0, bestCost = UINT64_MAX, cost = 0; type <= 4; ++type, cost = 0) {
          std::vector<uint8_t> candidate(n);
          for (uint64_t i = 0; i < n; ++i) {
            candidate[i] = uint8_t(row[i] - predictReference(int(type), row.data(), above.data(), i, bpp));
            cost += candidate[i] < 128 ? candidate[i] : 256 - candidate[i];
          }
          if (cost < bestCost) bestCost = cost, expectedType = int(type), expected = candidate;
        }
        const int type = filterPngRow(row.data(), above.data(), n, bpp, out.data());
        SCOPED_TRACE(testing::Message() << "kind " << kind << ", bpp " << bpp << ", width " << width);
        ASSERT_TRUE(type == expectedType && out[0] == type) << type << " against " << expectedType;
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), out.begin() + 1));
        ASSERT_EQ(out[n + 1], 0xA5);  // nothing written past the row
        ++wins[type];
      }
  for (int type = 0; type <= 4; ++type) EXPECT_GT(wins[type], 0) << "filter " << type << " never chosen";
}

}  // namespace
}  // namespace vellum::cli
