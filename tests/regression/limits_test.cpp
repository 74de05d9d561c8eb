// A 200-byte file that claims 32768 x 32768 pixels, through every reading path that can
// be driven natively: the core reader (XnView's path, and the command-line tool's with its
// pixel limit), the Photoshop open sequence, the Imagine load routine and the `vellum`
// program. None may allocate for the claim before it knows it can, read past the file or
// leave anything behind; each must end with its host's result for the case.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "core/blp_reader.h"
#include "hostile_files.h"
#include "imagine/fake_host.h"
#include "imagine/imagine_plugin.h"
#include "jpeg/jpeg_decoder.h"
#include "photoshop/native_host.h"

namespace {

using namespace vellum;
using hostile::blp2Word;
using hostile::Bytes;
using hostile::claimFile;

constexpr uint32_t kSide = 32768;

Bytes jpegClaim() { return claimFile("BLP1", 0, 8, kSide, kSide, hostile::hostileStream(hostile::StreamKind::Empty, 0)); }
Bytes palettedClaim() { return claimFile("BLP1", 1, 0, kSide, kSide, {1, 2, 3}); }
Bytes dxtClaim() { return claimFile("BLP2", 1, blp2Word(2, 8, 7), kSide, kSide, {0x55}); }
Bytes rawClaim() { return claimFile("BLP2", 1, blp2Word(3, 8, 0), kSide, kSide, {0x10, 0x20, 0x30, 0x40}); }
// A paletted level whose size field claims the whole plane (the file still has 200 bytes).
Bytes palettedAlphaClaim() {
  Bytes f = claimFile("BLP2", 1, blp2Word(1, 8, 8), kSide, kSide, {0});
  storeU32(&f[84], 0xFFFFFFFFu);
  return f;
}

// ---- The core reader ----

struct Opened {
  BlpReader reader;
  BlpInfo info;
  BlpStatus described = BlpStatus::Ok;
};

void openAndDescribe(const Bytes& file, uint64_t maxPixels, Opened* o) {
  ASSERT_EQ(file.size(), 200u);
  ASSERT_EQ(blpReaderOpen(&o->reader, memorySource(file.data(), file.size())), BlpStatus::Ok);
  o->reader.maxPixels = maxPixels;
  o->described = blpReaderDescribe(&o->reader, &o->info);
}

TEST(LimitsReader, JpegClaimIsRefusedByThePixelLimitBeforeAnyAllocation) {
  const Bytes file = jpegClaim();
  Opened o;
  openAndDescribe(file, uint64_t(8192) * 8192, &o);  // the command line's default
  EXPECT_EQ(o.described, BlpStatus::ImageTooLarge);
  EXPECT_EQ(o.reader.decoder.image, nullptr);
  EXPECT_EQ(o.reader.mode, BlpDecodeMode::None);
  blpReaderClose(&o.reader);
}

// Paletted, DXT and raw levels are read row by row: a claim costs no memory, and every row
// beyond the file's bytes comes out as zeros. (The reader reads through `file`, which the
// caller keeps alive.)
void expectRowsFromTheFileThenZeros(const Bytes& file, BlpDecodeMode mode, uint32_t bits) {
  Opened o;
  openAndDescribe(file, 0, &o);
  ASSERT_EQ(o.described, BlpStatus::Ok);
  EXPECT_EQ(o.info.mode, mode);
  EXPECT_EQ(o.info.bitsPerPixel, bits);
  std::vector<uint8_t> row(size_t(o.info.bytesPerRow), 0xEE);
  for (uint32_t y : {kSide - 1, kSide / 2, 1u}) {
    blpReaderReadRow(&o.reader, y, row.data());
    for (uint8_t b : row) ASSERT_EQ(b, 0) << "row " << y;
  }
  blpReaderClose(&o.reader);
}

TEST(LimitsReader, PalettedClaimGivesZeroRowsBeyondTheFile) {
  expectRowsFromTheFileThenZeros(palettedClaim(), BlpDecodeMode::Indexed, 8);
  // Row 0 holds the 43 index bytes the file has.
  const Bytes file = palettedClaim();
  Opened o;
  openAndDescribe(file, 0, &o);
  std::vector<uint8_t> row(kSide, 0xEE);
  blpReaderReadRow(&o.reader, 0, row.data());
  EXPECT_EQ(row[0], 1);
  EXPECT_EQ(row[42], 1);  // bytes 157..199: 43 bytes of 1, 2, 3, ...
  EXPECT_EQ(row[43], 0);
  blpReaderClose(&o.reader);
}

TEST(LimitsReader, PalettedAlphaClaimGivesTransparentBlackWhereTheFileEnds) {
  // Indices and plane lie beyond the file: entry 0 (all zero bytes) with alpha 0.
  expectRowsFromTheFileThenZeros(palettedAlphaClaim(), BlpDecodeMode::IndexedAlpha, 32);
}

TEST(LimitsReader, DxtClaimNeedsOneBlockRowOfMemory) {
  const Bytes file = dxtClaim();
  Opened o;
  openAndDescribe(file, 0, &o);
  ASSERT_EQ(o.described, BlpStatus::Ok);
  EXPECT_EQ(o.info.mode, BlpDecodeMode::Dxt);
  std::vector<uint8_t> row(size_t(o.info.bytesPerRow));
  blpReaderReadRow(&o.reader, kSide - 1, row.data());
  // A block of zero bytes: both colours black, alpha 0 (DXT5 with a0 = a1 = 0).
  for (uint8_t b : row) ASSERT_EQ(b, 0);
  blpReaderClose(&o.reader);
}

TEST(LimitsReader, RawClaimGivesZeroRowsBeyondTheFile) {
  expectRowsFromTheFileThenZeros(rawClaim(), BlpDecodeMode::Raw, 32);
}

// ---- Photoshop: filter, then the open sequence ----

int16_t openInPhotoshop(const Bytes& bytes, bool coords32, int16_t* filterResult) {
  pstest::resetHost();
  pstest::MemFile file;
  file.bytes = bytes;
  *filterResult = pshost::filterFile(pstest::pluginMain, pstest::handleOf(&file));
  pshost::HostOptions options;
  options.coords32 = coords32;
  const pshost::OpenResult opened = pshost::openFile(pstest::pluginMain, pstest::handleOf(&file), options);
  EXPECT_TRUE(pstest::hostClean());
  EXPECT_EQ(pshost::memory().news - pshost::memory().failedNews, pshost::memory().disposes);
  EXPECT_EQ(opened.failedSelector, ps::kSelectorReadPrepare);
  return opened.result;
}

TEST(LimitsPhotoshop, JpegClaimIsOutOfMemoryBeforeAnyHandleForPixels) {
  int16_t filtered = 0;
  EXPECT_EQ(openInPhotoshop(jpegClaim(), true, &filtered), ps::kMemFullErr);
  EXPECT_EQ(filtered, ps::kNoErr);  // the filter looks at the header only
  // Only PluginGlobals was ever asked for.
  EXPECT_EQ(pshost::memory().news, 1);
  // A host without 32-bit coordinates cannot take a side of 32768 at all.
  EXPECT_EQ(openInPhotoshop(jpegClaim(), false, &filtered), ps::kFormatCannotRead);
}

TEST(LimitsPhotoshop, LevelsShorterThanTheirContentAreRefused) {
  int16_t filtered = 0;
  EXPECT_EQ(openInPhotoshop(palettedClaim(), true, &filtered), ps::kFormatCannotRead);
  EXPECT_EQ(openInPhotoshop(dxtClaim(), true, &filtered), ps::kFormatCannotRead);
  EXPECT_EQ(openInPhotoshop(rawClaim(), true, &filtered), ps::kFormatCannotRead);
  // A level that claims to run past the end of the file is a read error.
  EXPECT_EQ(openInPhotoshop(palettedAlphaClaim(), true, &filtered), ps::kReadErr);
}

// ---- Imagine: the host decides whether it can create the image ----

TEST(LimitsImagine, ClaimsTheHostCannotCreateEndWithErrorThreeAndNoImage) {
  for (const Bytes& file : {jpegClaim(), palettedClaim(), dxtClaim(), rawClaim(), palettedAlphaClaim()}) {
    vellum::testing::FakeHost host;
    host.failCreate = true;  // 1 GiB (8-bit) or 4 GiB (32-bit) is more than the host has
    ImagineLoadRequest request;
    std::memset(&request, 0, sizeof request);
    request.length = int32_t(file.size());
    request.buffer = file.data();
    EXPECT_EQ(imagineLoadFile(host.hostInterface(), &request, 0), nullptr);
    EXPECT_EQ(request.errorCode, kImagineOutOfMemory);
    EXPECT_TRUE(host.allocations.empty());
    EXPECT_TRUE(host.violations.empty());
  }
}

TEST(LimitsImagine, JpegDecoderStoreAboveTheServicesLimitIsNeverRequested) {
  // 8 GiB of coefficients: more than the memory service can express.
  EXPECT_GT(jpegDecoderBytes(kSide, kSide), kImagineMaxAllocation);
}

// ---- vellum ----

struct VellumRun {
  int status = -1;
  std::string output;
};

VellumRun runVellum(const std::string& arguments) {
  VellumRun run;
  const std::string command = std::string(VELLUM_CLI_PATH) + " " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) run.output += buffer;
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(LimitsVellum, DecodeRefusesTheClaimAndWritesNothing) {
  char folder[] = "/tmp/vellum-limits-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string input = std::string(folder) + "/claim.blp";
  const Bytes file = jpegClaim();
  std::ofstream(input, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), long(file.size()));

  const VellumRun decoded = runVellum("decode " + input);
  EXPECT_EQ(decoded.status, 1) << decoded.output;
  EXPECT_NE(decoded.output.find("--max-pixels"), std::string::npos) << decoded.output;
  struct stat st;
  EXPECT_NE(stat((std::string(folder) + "/claim.png").c_str(), &st), 0);
  // Nothing else in the folder either (no temporary file left behind).
  const std::string list = std::string("ls -A ") + folder;
  FILE* ls = popen(list.c_str(), "r");
  std::string names;
  char buffer[256];
  while (ls != nullptr && std::fgets(buffer, sizeof buffer, ls) != nullptr) names += buffer;
  if (ls != nullptr) pclose(ls);
  EXPECT_EQ(names, "claim.blp\n");

  // info reads headers only and describes the claim.
  const VellumRun info = runVellum("info " + input);
  EXPECT_EQ(info.status, 0) << info.output;
  EXPECT_NE(info.output.find("32768"), std::string::npos) << info.output;
  std::remove(input.c_str());
  rmdir(folder);
}

}  // namespace
