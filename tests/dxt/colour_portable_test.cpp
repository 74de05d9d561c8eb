// The colour fit as a build without SSE2 makes it (one lane, plain ordering and colour
// merging; VELLUM_DXT_PORTABLE_LANES) against libsquish.
#include <gtest/gtest.h>

#include "dxt/colour_blocks.h"

namespace vellum {
namespace {

TEST(ColourFitPortable, SameBytesAsLibsquishInEveryFamily) {
  ASSERT_EQ(nullptr, dxt::clusterSearchSse2());
  ASSERT_EQ(nullptr, dxt::clusterSearchAvx2());
  ASSERT_EQ(dxt::clusterSearchScalar(), &dxt::clusterSearchBest());
  uint32_t mismatches = 0;
  for (uint32_t family = 0; family < testing::kColourFamilyCount; ++family) {
    for (uint32_t b = 0; b < 600; ++b) {
      const testing::ColourCase c = testing::makeColourCase(testing::ColourFamily(family), b);
      const dxt::ColourBlockKind kind = testing::kColourKinds[b % 3];
      uint8_t expected[8];
      testing::squishColourHalf(c, kind, expected);
      if (!testing::ourColourHalfEquals(c, kind, &dxt::clusterSearchBest(), expected) && ++mismatches <= 3)
        ADD_FAILURE() << testing::colourFamilyName(testing::ColourFamily(family)) << " block " << b;
    }
  }
  EXPECT_EQ(0u, mismatches);
}

}  // namespace
}  // namespace vellum
