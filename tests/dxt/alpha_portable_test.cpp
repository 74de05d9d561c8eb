// The alpha encoder compiled with the portable lanes (what a build without SSE2 uses):
// the same bytes as the plain reference.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "dxt/alpha_blocks.h"
#include "dxt/alpha_lanes.h"
#include "dxt/alpha_reference.h"
#include "dxt/dxt_compress.h"

namespace vellum {
namespace {

static_assert(!VELLUM_DXT_SSE2_LANES, "this test must build the portable lanes");

TEST(AlphaBlockDxt5PortableLanes, SameBytesAsReferenceInEveryFamily) {
  using testing::AlphaFamily;
  std::mt19937 rng(77);
  int mismatches = 0;
  for (AlphaFamily family : {AlphaFamily::Uniform, AlphaFamily::FewValues, AlphaFamily::NearExtremes,
                             AlphaFamily::NarrowSpan, AlphaFamily::Gradient, AlphaFamily::Binary}) {
    for (int n = 0; n < 2500; ++n) {
      const testing::AlphaCase c = testing::makeAlphaCase(family, rng);
      uint8_t ours[8], reference[8];
      compressAlphaBlockDxt5(c.pixels, c.mask, ours);
      testing::referenceAlphaBlockDxt5(c.pixels, c.mask, reference);
      if (std::memcmp(ours, reference, 8) != 0 && ++mismatches <= 5)
        ADD_FAILURE() << "family " << int(family) << " block " << n;
    }
  }
  EXPECT_EQ(0, mismatches);
}

}  // namespace
}  // namespace vellum
