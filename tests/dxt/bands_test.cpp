// Bands and threads: the split by level size, threaded output equal to one band, and the
// fall-back when a worker thread cannot be started.
#include <gtest/gtest.h>

#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#include "bench/support/texture.h"
#include "dxt/dxt_bands.h"
#include "dxt/dxt_compress.h"

namespace vellum {
namespace {

using Bytes = std::vector<uint8_t>;

struct ExpectedBand {
  uint32_t firstRow, rows;
};

void expectPlan(uint32_t w, uint32_t h, std::vector<ExpectedBand> expected) {
  const DxtBandPlan plan = planDxtBands(w, h);
  ASSERT_EQ(expected.size(), plan.count) << w << "x" << h;
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(expected[i].firstRow, plan.bands[i].firstRow) << w << "x" << h << " band " << i;
    EXPECT_EQ(expected[i].rows, plan.bands[i].rows) << w << "x" << h << " band " << i;
  }
}

TEST(BandPlan, BelowTheFirstThresholdOneBand) {
  expectPlan(512, 511, {{0, 511}});         // 261632 pixels
  expectPlan(1, 1, {{0, 1}});
  expectPlan(262143, 1, {{0, 1}});          // one pixel short of the threshold
}

TEST(BandPlan, FromTheFirstThresholdTwoBands) {
  expectPlan(512, 512, {{0, 256}, {256, 256}});  // 262144: rows 0-255 worker, 256-511 caller
  expectPlan(1023, 512, {{0, 256}, {256, 256}});  // 523776, still two
  // q = 218 rounded down to 216; the caller's band takes the rest, partial block row included.
  expectPlan(600, 437, {{0, 216}, {216, 221}});
}

TEST(BandPlan, FromTheSecondThresholdFourBands) {
  expectPlan(1024, 512, {{0, 128}, {128, 128}, {256, 128}, {384, 128}});  // 524288
  // q = 255 rounded down to 252; the remainder lands in the caller's band.
  expectPlan(1024, 1023, {{0, 252}, {252, 252}, {504, 252}, {756, 267}});
}

TEST(BandPlan, FewRowsMeanOneBandWhateverTheSize) {
  expectPlan(100000, 5, {{0, 5}});   // 500000 pixels, q = 2 rounded down to 0
  expectPlan(65536, 4, {{0, 4}});    // 262144 pixels, q = 2 rounded down to 0
  expectPlan(65535, 15, {{0, 15}});  // 983025 pixels, q = 3 rounded down to 0
  expectPlan(65535, 16, {{0, 4}, {4, 4}, {8, 4}, {12, 4}});
}

TEST(BandPlan, PixelCountIsComputedIn64Bits) {
  // 65535 x 65535 and 65536 x 65536 would wrap in 32 bits (the latter to 0).
  expectPlan(65535, 65535, {{0, 16380}, {16380, 16380}, {32760, 16380}, {49140, 16395}});
  expectPlan(65536, 65536, {{0, 16384}, {16384, 16384}, {32768, 16384}, {49152, 16384}});
}

TEST(BandPlan, BandsTileTheLevelInWholeBlockRows) {
  for (uint32_t h = 1; h <= 2100; h += 7) {
    for (uint32_t w : {1u, 130u, 255u, 256u, 511u, 512u, 1000u, 4096u}) {
      const DxtBandPlan plan = planDxtBands(w, h);
      ASSERT_GE(plan.count, 1u);
      ASSERT_LE(plan.count, 4u);
      EXPECT_TRUE(plan.count == 1 || plan.count == 2 || plan.count == 4);
      uint32_t next = 0;
      for (uint32_t i = 0; i < plan.count; ++i) {
        EXPECT_EQ(next, plan.bands[i].firstRow);
        EXPECT_GT(plan.bands[i].rows, 0u);
        if (i + 1 < plan.count) {
          EXPECT_EQ(0u, plan.bands[i].rows % 4);
        }
        next += plan.bands[i].rows;
      }
      EXPECT_EQ(h, next) << w << "x" << h;
    }
  }
}

Bytes texture(uint32_t w, uint32_t h, bool opaque) {
  Bytes pixels = bench::textureRgba(w, h, 7);
  if (opaque)
    for (size_t i = 3; i < pixels.size(); i += 4) pixels[i] = 255;
  return pixels;
}

// Every 4 x 4 block one colour and one alpha, different from block to block: quick for
// libsquish (single-colour fit) and the alpha search, yet a band compressed into the wrong
// place, or not at all, still shows.
Bytes mosaic(uint32_t w, uint32_t h) {
  Bytes pixels(size_t(w) * h * 4);
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      uint32_t v = ((x / 4) * 2654435761u) ^ ((y / 4) * 40503u + 0x9E37u);
      v ^= v >> 15;
      uint8_t* p = &pixels[(size_t(y) * w + x) * 4];
      p[0] = uint8_t(v);
      p[1] = uint8_t(v >> 8);
      p[2] = uint8_t(v >> 16);
      p[3] = uint8_t(v >> 24);
    }
  }
  return pixels;
}

size_t levelBytes(uint32_t w, uint32_t h, uint32_t alphaFlag) {
  return size_t((w + 3) / 4) * ((h + 3) / 4) * (alphaFlag ? 16 : 8);
}

Bytes oneBand(const Bytes& pixels, uint32_t w, uint32_t h, uint32_t alphaFlag) {
  Bytes out(levelBytes(w, h, alphaFlag), 0xCD);
  compressDxtRows(pixels.data(), out.data(), h, w, alphaFlag);
  return out;
}

struct LevelCase {
  uint32_t w, h, alphaFlag;
};

class ThreadedLevel : public ::testing::TestWithParam<LevelCase> {};

TEST_P(ThreadedLevel, SameBytesAsOneBand) {
  const LevelCase c = GetParam();
  const Bytes pixels = texture(c.w, c.h, c.alphaFlag == 0);
  Bytes threaded(levelBytes(c.w, c.h, c.alphaFlag), 0xCD);
  compressDxtLevel(pixels.data(), threaded.data(), c.h, c.w, c.alphaFlag);
  EXPECT_EQ(oneBand(pixels, c.w, c.h, c.alphaFlag), threaded);
}

// 600 x 500 (300 000 pixels) runs two bands, 1030 x 515 (530 450) four, with partial
// blocks on the right and at the bottom.
INSTANTIATE_TEST_SUITE_P(AboveBothThresholds, ThreadedLevel,
                         ::testing::Values(LevelCase{600, 500, 0}, LevelCase{600, 500, 1}, LevelCase{1030, 515, 0},
                                           LevelCase{1030, 515, 1}),
                         [](const ::testing::TestParamInfo<LevelCase>& info) {
                           return std::to_string(info.param.w) + "x" + std::to_string(info.param.h) +
                                  (info.param.alphaFlag ? "Dxt5" : "Dxt1");
                         });

// A starter that records every call, fails the calls marked in `refuse` (by throwing, or by
// handing back a thread that is not joinable), and starts real workers otherwise.
struct StarterLog {
  enum class Refusal { None, Throw, NotJoinable };
  Refusal refuse[3] = {Refusal::None, Refusal::None, Refusal::None};
  std::vector<DxtBandJob> jobs;
};

std::thread loggingStarter(const DxtBandJob& job, void* context) {
  auto* log = static_cast<StarterLog*>(context);
  const size_t call = log->jobs.size();
  log->jobs.push_back(job);
  const auto refusal = call < 3 ? log->refuse[call] : StarterLog::Refusal::None;
  if (refusal == StarterLog::Refusal::Throw)
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again), "no thread");
  if (refusal == StarterLog::Refusal::NotJoinable) return std::thread();
  return startDxtWorker(job, nullptr);
}

class WorkerFallback : public ::testing::Test {
 protected:
  static constexpr uint32_t kWidth = 1024, kHeight = 520;  // four bands: q = 128, last 136
  static void SetUpTestSuite() {
    pixels_ = new Bytes(mosaic(kWidth, kHeight));
    expected_ = new Bytes(oneBand(*pixels_, kWidth, kHeight, 1));
  }
  static void TearDownTestSuite() {
    delete pixels_;
    delete expected_;
  }
  // The output starts filled with 0xCD, so a band that nobody compressed shows.
  Bytes run(StarterLog& log) {
    Bytes out(levelBytes(kWidth, kHeight, 1), 0xCD);
    compressDxtLevelWith(pixels_->data(), out.data(), kHeight, kWidth, 1, loggingStarter, &log);
    if (!log.jobs.empty()) {
      EXPECT_EQ(out.data(), log.jobs[0].output);
    }
    return out;
  }
  static Bytes* pixels_;
  static Bytes* expected_;
};

Bytes* WorkerFallback::pixels_ = nullptr;
Bytes* WorkerFallback::expected_ = nullptr;

TEST_F(WorkerFallback, WorkersGetTheirBandsInOrder) {
  StarterLog log;
  EXPECT_EQ(*expected_, run(log));
  ASSERT_EQ(3u, log.jobs.size());
  const uint64_t outputPerRow = uint64_t(kWidth / 4) * 16 / 4;
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(pixels_->data() + uint64_t(i) * 128 * kWidth * 4, log.jobs[i].pixels) << "band " << i;
    EXPECT_EQ(uint64_t(i) * 128 * outputPerRow, uint64_t(log.jobs[i].output - log.jobs[0].output)) << "band " << i;
    EXPECT_EQ(128u, log.jobs[i].rows);
    EXPECT_EQ(kWidth, log.jobs[i].width);
    EXPECT_EQ(1u, log.jobs[i].alphaFlag);
  }
}

TEST_F(WorkerFallback, NoThreadAtAllCompressesEveryBandOnTheCaller) {
  StarterLog log;
  for (auto& r : log.refuse) r = StarterLog::Refusal::Throw;
  EXPECT_EQ(*expected_, run(log));
  EXPECT_EQ(3u, log.jobs.size());  // every worker was tried
}

TEST_F(WorkerFallback, OneRefusedThreadLeavesTheOthersRunning) {
  StarterLog log;
  log.refuse[1] = StarterLog::Refusal::Throw;
  EXPECT_EQ(*expected_, run(log));
  EXPECT_EQ(3u, log.jobs.size());
}

TEST_F(WorkerFallback, ThreadThatIsNotJoinableCountsAsNotStarted) {
  StarterLog log;
  log.refuse[0] = StarterLog::Refusal::NotJoinable;
  log.refuse[2] = StarterLog::Refusal::NotJoinable;
  EXPECT_EQ(*expected_, run(log));
}

TEST(WorkerFallbackSmallLevel, TwoBandLevelWithoutThread) {
  const uint32_t w = 512, h = 513;  // two bands: 256 rows on the worker, 257 on the caller
  const Bytes pixels = mosaic(w, h);
  const Bytes expected = oneBand(pixels, w, h, 0);
  StarterLog log;
  log.refuse[0] = StarterLog::Refusal::Throw;
  Bytes out(levelBytes(w, h, 0), 0xCD);
  compressDxtLevelWith(pixels.data(), out.data(), h, w, 0, loggingStarter, &log);
  EXPECT_EQ(expected, out);
  EXPECT_EQ(1u, log.jobs.size());
}

TEST(WorkerFallbackSmallLevel, SmallLevelsStartNoThread) {
  const uint32_t w = 512, h = 511;
  const Bytes pixels = mosaic(w, h);
  StarterLog log;
  Bytes out(levelBytes(w, h, 0), 0xCD);
  compressDxtLevelWith(pixels.data(), out.data(), h, w, 0, loggingStarter, &log);
  EXPECT_EQ(oneBand(pixels, w, h, 0), out);
  EXPECT_EQ(0u, log.jobs.size());
}

}  // namespace
}  // namespace vellum
