// The long identity run, by hand (not part of the suite): BLOCKS blocks of every family of
// colour_blocks.h, each in all three kinds (four colours, DXT1 with the alpha cut-off, DXT1
// opaque), through our widest lanes against libsquish; every 16th block also through every
// other lane width and the plain loops. Prints the counts; exit status 1 on any difference.
//
//   build/native/tests/dxt/dxt_colour_identity BLOCKS_PER_FAMILY [THREADS]
#include <squish.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "dxt/colour_blocks.h"
#include "dxt/colour_fit.h"

using namespace vellum;
using dxt::ColourBlockKind;

namespace {

constexpr ColourBlockKind kKinds[3] = {ColourBlockKind::FourColour, ColourBlockKind::Dxt1AlphaCutoff,
                                       ColourBlockKind::Dxt1Opaque};

struct Counts {
  std::atomic<uint64_t> blocks{0}, compared{0}, differing{0};
};

void run(uint32_t family, uint32_t first, uint32_t last, Counts* counts) {
  const dxt::ClusterSearch* lanes[] = {dxt::clusterSearchScalar(), dxt::clusterSearchSse2(),
                                       dxt::clusterSearchAvx2(), dxt::clusterSearchAvx512()};
  uint64_t compared = 0, differing = 0;
  for (uint32_t b = first; b < last; ++b) {
    const testing::ColourCase c = testing::makeColourCase(testing::ColourFamily(family), b);
    for (ColourBlockKind kind : kKinds) {
      uint8_t in[64], block[16];
      std::memcpy(in, c.pixels, 64);
      if (kind == ColourBlockKind::Dxt1Opaque)
        for (int k = 0; k < 16; ++k) in[4 * k + 3] = 255;
      std::memset(block, 0xCD, sizeof block);
      squish::CompressMasked(in, int(c.mask), block, kind == ColourBlockKind::FourColour ? squish::kDxt5 : squish::kDxt1);
      const uint8_t* expected = kind == ColourBlockKind::FourColour ? block + 8 : block;
      auto check = [&](const uint8_t ours[8]) {
        ++compared;
        if (std::memcmp(ours, expected, 8) != 0 && ++differing <= 10)
          std::printf("DIFFERENT: %s block %u kind %d\n", testing::colourFamilyName(testing::ColourFamily(family)), b,
                      int(kind));
      };
      uint8_t ours[8];
      std::memset(ours, 0xCD, sizeof ours);
      dxt::compressColourBlock(c.pixels, c.mask, kind, dxt::clusterSearchBest(), ours);
      check(ours);
      if (b % 16 != 0) continue;
      for (const dxt::ClusterSearch* l : lanes) {
        if (l == nullptr) continue;
        std::memset(ours, 0xCD, sizeof ours);
        dxt::compressColourBlock(c.pixels, c.mask, kind, *l, ours);
        check(ours);
      }
      std::memset(ours, 0xCD, sizeof ours);
      dxt::compressColourBlockPlain(c.pixels, c.mask, kind, ours);
      check(ours);
    }
  }
  counts[family].blocks += last - first;
  counts[family].compared += compared;
  counts[family].differing += differing;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s BLOCKS_PER_FAMILY [THREADS]\n", argv[0]);
    return 2;
  }
  const uint32_t perFamily = uint32_t(std::strtoul(argv[1], nullptr, 10));
  const uint32_t threads = argc > 2 ? uint32_t(std::strtoul(argv[2], nullptr, 10)) : 2;
  std::printf("lanes: best %s, avx-512 %s, avx2 %s, sse2 %s\n",
              &dxt::clusterSearchBest() == dxt::clusterSearchAvx512() ? "avx-512"
              : &dxt::clusterSearchBest() == dxt::clusterSearchAvx2() ? "avx2"
                                                                       : "sse2 or one lane",
              dxt::clusterSearchAvx512() ? "yes" : "no", dxt::clusterSearchAvx2() ? "yes" : "no",
              dxt::clusterSearchSse2() ? "yes" : "no");
  std::vector<Counts> counts(testing::kColourFamilyCount);
  // Chunks of 4096 blocks handed out in turn.
  std::atomic<uint64_t> next{0};
  const uint64_t chunk = 4096, chunksPerFamily = (perFamily + chunk - 1) / chunk;
  const uint64_t totalChunks = chunksPerFamily * testing::kColourFamilyCount;
  std::vector<std::thread> pool;
  for (uint32_t t = 0; t < threads; ++t) {
    pool.emplace_back([&] {
      for (uint64_t i; (i = next++) < totalChunks;) {
        const uint32_t family = uint32_t(i / chunksPerFamily);
        const uint64_t first = (i % chunksPerFamily) * chunk;
        const uint64_t last = first + chunk < perFamily ? first + chunk : perFamily;
        run(family, uint32_t(first), uint32_t(last), counts.data());
      }
    });
  }
  for (auto& t : pool) t.join();
  uint64_t blocks = 0, compared = 0, differing = 0;
  for (uint32_t f = 0; f < testing::kColourFamilyCount; ++f) {
    std::printf("%-12s %10llu blocks %10llu comparisons %llu different\n",
                testing::colourFamilyName(testing::ColourFamily(f)), (unsigned long long)counts[f].blocks.load(),
                (unsigned long long)counts[f].compared.load(), (unsigned long long)counts[f].differing.load());
    blocks += counts[f].blocks;
    compared += counts[f].compared;
    differing += counts[f].differing;
  }
  std::printf("total        %10llu blocks %10llu comparisons %llu different\n", (unsigned long long)blocks,
              (unsigned long long)compared, (unsigned long long)differing);
  return differing == 0 ? 0 : 1;
}
