// The Imagine plug-in's portable code, tested natively: every host check (the same ones
// the emulator runs on VellumIm.plg under Wine) with the core computing the expected
// results in process, and unit tests of the option mapping and the output growth.
#include <gtest/gtest.h>

#include <cstring>

#include "imagine/fake_host.h"
#include "imagine/host_checks.h"
#include "imagine/imagine_plugin.h"
#include "imagine/imagine_reference.h"
#include "core/blp_writer_stage.h"

namespace vellum::testing {

void PrintTo(const HostCheck& check, std::ostream* os) { *os << check.name; }

namespace {

class InProcessReference : public ReferenceSource {
 public:
  bool save(const SaveCase& c, ByteVector* file) override { return referenceSave(c, file); }
  bool load(const std::string& name, ByteVector* file, ExpectedImage* expected) override {
    return referenceLoad(name, file, expected);
  }
};

class HostChecks : public ::testing::TestWithParam<HostCheck> {};

TEST_P(HostChecks, Pass) {
  InProcessReference reference;
  CheckRun run;
  run.entries = {ImaginePluginGetInfoA, ImaginePluginGetInfoW};
  run.reference = &reference;
  GetParam().run(run);
  for (const std::string& failure : run.failures) ADD_FAILURE() << failure;
}

INSTANTIATE_TEST_SUITE_P(Imagine, HostChecks, ::testing::ValuesIn(hostChecks()),
                         [](const ::testing::TestParamInfo<HostCheck>& info) { return info.param.name; });

TEST(ImagineOptions, FormatIndexMapsToContentTypes) {
  const BlpContentType types[9] = {BlpContentType::Blp1Jpeg,     BlpContentType::Blp1Jpeg,
                                   BlpContentType::Blp1Paletted, BlpContentType::Blp2Jpeg,
                                   BlpContentType::Blp2Jpeg,     BlpContentType::Blp2Paletted8,
                                   BlpContentType::Blp2Dxt,      BlpContentType::Blp2Paletted4,
                                   BlpContentType::Blp2Paletted1};
  for (int32_t f = 0; f < 9; ++f) {
    const int32_t values[4] = {55, f, 2, 7};
    SaveOptions o = imagineSaveOptions(values);
    EXPECT_EQ(o.contentType, types[f]) << f;
    EXPECT_EQ(o.progressive, f == 1 || f == 4) << f;
    EXPECT_EQ(o.jpegQuality, 55);
    EXPECT_EQ(o.quantizer, QuantizerKind::Dl3Fast);
    EXPECT_EQ(o.maxMipLevels, 7);
  }
  const int32_t wild[4] = {1000, -1, -3, 0};
  SaveOptions o = imagineSaveOptions(wild);
  EXPECT_EQ(o.jpegQuality, 100);
  EXPECT_EQ(o.contentType, BlpContentType::Blp1Jpeg);
  EXPECT_TRUE(o.progressive);
  EXPECT_EQ(o.quantizer, QuantizerKind::MedianCut);
  EXPECT_EQ(o.maxMipLevels, 1);
}

TEST(ImagineOutput, GrowsThroughHostMemoryKeepingTheBytes) {
  FakeHost host;
  const auto& table = *host.hostInterface()->iface->services;
  uint8_t first[16];
  for (int i = 0; i < 16; ++i) first[i] = uint8_t(i * 7);
  BlpOutput output;
  output.data = first;
  output.capacity = sizeof first;
  ASSERT_TRUE(growThroughHost(const_cast<ImagineServiceTable*>(&table), 40, &output));
  EXPECT_EQ(output.capacity, 40u);
  EXPECT_NE(output.data, first);
  EXPECT_EQ(std::memcmp(output.data, first, 16), 0);
  ASSERT_EQ(host.allocations.size(), 1u);
  EXPECT_EQ(host.allocations[0], 40);

  // Sizes beyond the host's signed 32-bit size argument, or a refusal, leave the output alone.
  uint8_t* before = output.data;
  EXPECT_FALSE(growThroughHost(const_cast<ImagineServiceTable*>(&table), 0x80000000ull, &output));
  host.allocationLimit = 50;
  EXPECT_FALSE(growThroughHost(const_cast<ImagineServiceTable*>(&table), 64, &output));
  EXPECT_EQ(output.data, before);
  EXPECT_EQ(output.capacity, 40u);
}

// The whole writer on an output area that starts far too small: every level's room comes
// from the host's memory service, and the file equals one built in a large area.
TEST(ImagineOutput, WriterGrowsThroughHostMemory) {
  SaveCase c{"", 96, 80, 32, 3, {100, 1, 0, 16}, 91, true};
  // Host rows are blue, green, red, alpha: the writer's working order for JPEG content.
  const HostPixels p = makeHostPixels(c);
  SaveOptions options;
  options.contentType = BlpContentType::Blp2Jpeg;
  options.progressive = true;
  options.jpegQuality = 100;

  uint8_t palette[1024] = {};
  ByteVector big(size_t(blpOutputCapacity(c.width, c.height)));
  ByteVector pixels = p.rows;
  SaveImage plain;
  plain.width = c.width;
  plain.height = c.height;
  plain.trueColour = true;
  plain.alphaDepth = 8;
  plain.palette = palette;
  plain.pixels = pixels.data();
  plain.output.data = big.data();
  plain.output.capacity = big.size();
  uint64_t plainLength = 0;
  ASSERT_EQ(buildBlpImage(&plain, options, &plainLength), BlpStatus::Ok);

  FakeHost host;
  const ImagineServiceTable* table = host.hostInterface()->iface->services;
  uint8_t* small = static_cast<uint8_t*>(table->allocate(2048));
  ByteVector pixels2 = p.rows;
  SaveImage grown = plain;
  grown.pixels = pixels2.data();
  grown.output.data = small;
  grown.output.capacity = 2048;
  grown.output.growContext = const_cast<ImagineServiceTable*>(table);
  grown.output.grow = growThroughHost;
  uint64_t grownLength = 0;
  ASSERT_EQ(buildBlpImage(&grown, options, &grownLength), BlpStatus::Ok);
  EXPECT_GT(host.allocations.size(), 2u);
  ASSERT_EQ(grownLength, plainLength);
  EXPECT_EQ(std::memcmp(grown.output.data, big.data(), size_t(plainLength)), 0);
}

TEST(ImagineSignature, NeedsMoreThan160BytesAndSaneFields) {
  uint8_t bytes[161] = {'B', 'L', 'P', '1'};
  storeU32(bytes + 4, 1);
  storeU32(bytes + 12, 1);
  storeU32(bytes + 16, 32768);
  EXPECT_TRUE(imagineRecognises(bytes, 161));
  EXPECT_FALSE(imagineRecognises(bytes, 160));
  EXPECT_FALSE(imagineRecognises(nullptr, 161));
  storeU32(bytes + 4, 0xFFFFFFFF);
  EXPECT_FALSE(imagineRecognises(bytes, 161));
}

}  // namespace
}  // namespace vellum::testing
