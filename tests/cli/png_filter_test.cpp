// The PNG writer's row filter choice against the plain per-byte code it replaced: the same
// chosen filter and the same bytes for random rows, rows built to favour each filter and
// real texture rows, every width 1..67 at 1, 3 and 4 bytes a pixel.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "bench/support/texture.h"
#include "cli/png_filter.h"

namespace vellum::cli {
namespace {

// The reference: one filter at a time through a switch per byte, then the sum of magnitudes.
uint8_t paethReference(uint8_t a, uint8_t b, uint8_t c) {
  const int p = int(a) + int(b) - int(c);
  const int pa = p > a ? p - a : a - p, pb = p > b ? p - b : b - p, pc = p > c ? p - c : c - p;
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

uint8_t predictReference(int type, const uint8_t* row, const uint8_t* above, uint64_t i, uint32_t bpp) {
  const uint8_t a = i >= bpp ? row[i - bpp] : 0, b = above[i], c = i >= bpp ? above[i - bpp] : 0;
  switch (type) {
    case 0: return 0;
    case 1: return a;
    case 2: return b;
    case 3: return uint8_t((unsigned(a) + unsigned(b)) >> 1);
    default: return paethReference(a, b, c);
  }
}

int chooseReference(const uint8_t* row, const uint8_t* above, uint64_t n, uint32_t bpp, std::vector<uint8_t>* bytes) {
  int best = 0;
  uint64_t bestCost = 0;
  for (int type = 0; type <= 4; ++type) {
    std::vector<uint8_t> candidate(n);
    uint64_t cost = 0;
    for (uint64_t i = 0; i < n; ++i) {
      candidate[i] = uint8_t(row[i] - predictReference(type, row, above, i, bpp));
      cost += candidate[i] < 128 ? candidate[i] : 256 - candidate[i];
    }
    if (type == 0 || cost < bestCost) bestCost = cost, best = type, *bytes = candidate;
  }
  return best;
}

struct Rng {
  uint32_t state;
  uint8_t next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return uint8_t(state >> 24);
  }
};

enum class RowKind { Random, Favouring0, Favouring1, Favouring2, Favouring3, Favouring4, Texture, Flat };

// A row and the row above it. "Favouring t" rows are filter t's small residuals undone
// (PNG's reconstruction), so that t usually wins; texture rows are neighbours in the
// benchmarks' texture (its first `bpp` channels).
void makeRows(RowKind kind, uint32_t width, uint32_t bpp, uint32_t seed, std::vector<uint8_t>* row,
              std::vector<uint8_t>* above) {
  const uint64_t n = uint64_t(width) * bpp;
  Rng rng{seed * 2654435761u + 7};
  row->assign(n, 0);
  above->assign(n, 0);
  if (kind == RowKind::Flat) return;
  if (kind == RowKind::Texture) {
    const std::vector<uint8_t> rgba = bench::textureRgba(width, 40, seed);
    const uint32_t y = 1 + seed % 38;
    for (uint64_t x = 0; x < width; ++x)
      for (uint32_t k = 0; k < bpp; ++k) {
        (*above)[x * bpp + k] = rgba[((y - 1) * uint64_t(width) + x) * 4 + k];
        (*row)[x * bpp + k] = rgba[(y * uint64_t(width) + x) * 4 + k];
      }
    return;
  }
  for (auto& v : *above) v = rng.next();
  if (kind == RowKind::Random) {
    for (auto& v : *row) v = rng.next();
    return;
  }
  const int type = int(kind) - int(RowKind::Favouring0);
  for (uint64_t i = 0; i < n; ++i) {
    const uint8_t residual = uint8_t(rng.next() % 5 - 2);
    (*row)[i] = uint8_t(residual + predictReference(type, row->data(), above->data(), i, bpp));
  }
}

TEST(PngFilter, SameChoiceAndBytesAsThePlainCode) {
  const RowKind kinds[] = {RowKind::Random,     RowKind::Favouring0, RowKind::Favouring1, RowKind::Favouring2,
                           RowKind::Favouring3, RowKind::Favouring4, RowKind::Texture,    RowKind::Flat};
  const uint32_t bpps[] = {1, 3, 4};
  int wins[5] = {};
  std::vector<uint8_t> row, above, expected;
  for (RowKind kind : kinds)
    for (uint32_t bpp : bpps)
      for (uint32_t width = 1; width <= 67; ++width) {
        makeRows(kind, width, bpp, width * 11 + bpp, &row, &above);
        const uint64_t n = row.size();
        const int expectedType = chooseReference(row.data(), above.data(), n, bpp, &expected);
        // One guard byte past the end: the filter must not write beyond the row.
        std::vector<uint8_t> out(n + 2, 0xA5);
        const int type = filterPngRow(row.data(), above.data(), n, bpp, out.data());
        SCOPED_TRACE(testing::Message() << "kind " << int(kind) << ", bpp " << bpp << ", width " << width);
        ASSERT_EQ(type, expectedType);
        ASSERT_EQ(out[0], expectedType);
        ASSERT_EQ(0, std::memcmp(out.data() + 1, expected.data(), n));
        ASSERT_EQ(out[n + 1], 0xA5);
        ++wins[type];
      }
  // The table reaches every filter's own loop and store.
  for (int type = 0; type <= 4; ++type) EXPECT_GT(wins[type], 0) << "filter " << type << " never chosen";
}

}  // namespace
}  // namespace vellum::cli
