// PluginMain's sequences as the host plays them, natively: opening every kind of level
// against the core reader, saving every mode in every format against the core writer,
// and the dispatch rules (host check, state handles, clean-up, results).
#include <gtest/gtest.h>

#include <cstdlib>

#include "core/blp_format.h"
#include "photoshop/native_host.h"
#include "photoshop/ps_reference.h"

namespace {

using namespace vellum;
using pstest::answers;
using pstest::Bytes;
using pstest::MemFile;

struct Fresh : ::testing::Test {
  void SetUp() override { pstest::resetHost(); }
};

// Compares the host's planes with what the core reader gives; JPEG colours may differ by
// the decoder's rounding only.
void expectPlanes(const pshost::OpenResult& got, const pshost::ExpectedOpen& want) {
  ASSERT_EQ(got.imageMode, want.imageMode);
  ASSERT_EQ(got.rows, want.rows);
  ASSERT_EQ(got.columns, want.columns);
  ASSERT_EQ(got.planes, want.planes);
  ASSERT_EQ(got.depth, 8);
  if (want.imageMode == ps::kModeIndexedColor) {
    EXPECT_EQ(got.lutCount, 256);
    EXPECT_EQ(std::memcmp(got.lut, want.lut, sizeof want.lut), 0);
  }
  for (int p = 0; p < want.planes; ++p) {
    const Bytes& a = got.planeBytes[size_t(p)];
    const Bytes& b = want.planeBytes[size_t(p)];
    ASSERT_EQ(a.size(), b.size());
    size_t differences = 0;
    for (size_t i = 0; i < a.size(); ++i) {
      const int d = std::abs(int(a[i]) - int(b[i]));
      if (d > (want.jpeg ? 1 : 0)) ++differences;
    }
    EXPECT_EQ(differences, 0u) << "plane " << p;
  }
}

class OpenCase : public ::testing::TestWithParam<pshost::OpenCase> {
  void SetUp() override { pstest::resetHost(); }
};

TEST_P(OpenCase, PlanesEqualTheCoreReader) {
  const pshost::OpenCase& c = GetParam();
  MemFile file;
  file.bytes = psref::openCaseFile(c.name);
  ASSERT_FALSE(file.bytes.empty());
  answers().alphaYes = !c.answerNo;
  pshost::HostOptions o;
  o.preview = c.preview;
  const pshost::OpenResult got = pshost::openFile(pstest::pluginMain, pstest::handleOf(&file), o);
  ASSERT_EQ(got.result, 0) << "selector " << got.failedSelector;
  ASSERT_TRUE(got.problem.empty()) << got.problem;
  pshost::ExpectedOpen want;
  ASSERT_TRUE(psref::expectedOpen(file.bytes, psref::expectedLevel(file.bytes, c.preview), &want));
  expectPlanes(got, want);
  const bool alpha = want.planes == (want.imageMode == ps::kModeIndexedColor ? 2 : 4);
  // The question comes only with alpha, never in a preview; No makes the last plane the
  // layer's transparency, Yes (or a preview) leaves -1 (a separate alpha channel).
  EXPECT_EQ(answers().questions, alpha && !c.preview ? 1 : 0);
  EXPECT_EQ(got.transparencyPlane, alpha && c.answerNo && !c.preview ? want.planes - 1 : -1);
  if (alpha) {
    EXPECT_EQ(got.transparencyMatting, 0);
  }
  EXPECT_EQ(got.dataAfter, 0);
  EXPECT_TRUE(pstest::hostClean());
}

INSTANTIATE_TEST_SUITE_P(Every, OpenCase, ::testing::ValuesIn(pshost::openCases()),
                         [](const ::testing::TestParamInfo<pshost::OpenCase>& info) { return std::string(info.param.name); });

pshost::OpenResult openBytes(const Bytes& bytes, pshost::HostOptions o = {}) {
  MemFile file;
  file.bytes = bytes;
  return pshost::openFile(pstest::pluginMain, pstest::handleOf(&file), o);
}

TEST_F(Fresh, PreviewOf512x256OpensLevel3WithoutQuestion) {
  const pshost::OpenResult got = openBytes(psref::openCaseFile("preview_512x256"), {true, true});
  ASSERT_EQ(got.result, 0);
  EXPECT_EQ(got.columns, 64);
  EXPECT_EQ(got.rows, 32);
  EXPECT_EQ(got.planes, 2);
  EXPECT_EQ(answers().questions, 0);
  EXPECT_EQ(got.transparencyPlane, -1);
}

TEST_F(Fresh, AlphaQuestionYesAndNo) {
  const Bytes file = psref::openCaseFile("blp2_dxt5");
  answers().alphaYes = true;
  pshost::OpenResult yes = openBytes(file);
  EXPECT_EQ(yes.planes, 4);
  EXPECT_EQ(yes.transparencyPlane, -1);
  answers().alphaYes = false;
  pshost::OpenResult no = openBytes(file);
  EXPECT_EQ(no.planes, 4);
  EXPECT_EQ(no.transparencyPlane, 3);
  EXPECT_EQ(answers().questions, 2);
}

TEST_F(Fresh, SixteenBitCoordinates) {
  pshost::HostOptions o;
  o.coords32 = false;
  const Bytes file = psref::openCaseFile("blp2_dxt5_odd");
  pshost::OpenResult got = openBytes(file, o);
  ASSERT_EQ(got.result, 0);
  pshost::ExpectedOpen want;
  ASSERT_TRUE(psref::expectedOpen(file, 0, &want));
  expectPlanes(got, want);
  // A side of 32768 does not fit the host's 16-bit coordinates: refused.
  Bytes wide = psref::openCaseFile("blp2_raw");
  storeU32(&wide[12], 32768);
  storeU32(&wide[16], 1);
  storeU32(&wide[84], 4 * 32768);
  wide.resize(148 + 4 * 32768, 0);
  got = openBytes(wide, o);
  EXPECT_EQ(got.result, ps::kFormatCannotRead);
  EXPECT_EQ(got.failedSelector, 1);
  EXPECT_TRUE(pstest::hostClean());
  o.coords32 = true;
  got = openBytes(wide, o);
  EXPECT_EQ(got.result, 0);
  EXPECT_EQ(got.columns, 32768);
}

TEST_F(Fresh, AlphaChunksOfWholeBytes) {
  const pshost::OpenResult got = openBytes(psref::openCaseFile("blp2_paletted_wide_alpha1"));
  ASSERT_EQ(got.result, 0);
  bool alphaSeen = false;
  for (size_t i = 0; i < got.chunks.size(); ++i) {
    const pshost::Chunk& c = got.chunks[i];
    if (c.loPlane != 1) continue;
    alphaSeen = true;
    const bool last = i + 1 == got.chunks.size();
    if (!last) {
      EXPECT_EQ((c.bottom - c.top) % 8, 0);
    }
  }
  EXPECT_TRUE(alphaSeen);
  for (uint8_t v : got.planeBytes[1]) ASSERT_TRUE(v == 0 || v == 255);
}

TEST_F(Fresh, DxtBottomChunkOfOneToThreeRows) {
  for (uint32_t height : {9u, 10u, 11u}) {
    Bytes file = psref::openCaseFile("blp2_dxt1");  // 40 wide
    storeU32(&file[16], height);
    const pshost::OpenResult got = openBytes(file);
    ASSERT_EQ(got.result, 0);
    ASSERT_FALSE(got.chunks.empty());
    EXPECT_EQ(got.chunks.back().bottom - got.chunks.back().top, int32_t(height - 8));
    EXPECT_EQ(got.planes, 3);
  }
}

// ---- Refusals of the open path ----

TEST_F(Fresh, FilterAcceptsAndRefuses) {
  MemFile f;
  f.bytes = psref::openCaseFile("blp2_dxt1");
  intptr_t data = 1234;
  EXPECT_EQ(pshost::filterFile(pstest::pluginMain, pstest::handleOf(&f), &data), 0);
  f.bytes[3] = '3';
  EXPECT_EQ(pshost::filterFile(pstest::pluginMain, pstest::handleOf(&f)), ps::kFormatCannotRead);
  f.bytes.resize(155);  // fewer than 156 bytes
  EXPECT_EQ(pshost::filterFile(pstest::pluginMain, pstest::handleOf(&f)), ps::kReadErr);
  f.failSeek = true;
  EXPECT_EQ(pshost::filterFile(pstest::pluginMain, pstest::handleOf(&f)), ps::kWritErr);
  EXPECT_TRUE(pstest::hostClean());
  EXPECT_EQ(pshost::memory().news, 0);
}

TEST_F(Fresh, TruncatedFileGivesReadError) {
  Bytes file = psref::openCaseFile("blp2_dxt5");
  file.resize(file.size() - 1);
  pshost::OpenResult got = openBytes(file);
  EXPECT_EQ(got.result, ps::kReadErr);
  EXPECT_EQ(got.failedSelector, 1);
  EXPECT_EQ(got.dataAfter, 0);
  EXPECT_TRUE(pstest::hostClean());
  file.resize(100);
  got = openBytes(file);
  EXPECT_EQ(got.result, ps::kReadErr);
  EXPECT_TRUE(pstest::hostClean());
}

TEST_F(Fresh, SeekFailureGivesPositionError) {
  MemFile f;
  f.bytes = psref::openCaseFile("blp2_dxt5");
  f.failSeek = true;
  const pshost::OpenResult got = pshost::openFile(pstest::pluginMain, pstest::handleOf(&f), {});
  EXPECT_EQ(got.result, ps::kWritErr);
  EXPECT_TRUE(pstest::hostClean());
}

TEST_F(Fresh, InconsistentLevelsAreRefused) {
  // A level shorter than its content.
  Bytes shortLevel = psref::openCaseFile("blp2_paletted_alpha4");
  storeU32(&shortLevel[84], loadU32(&shortLevel[84]) - 1);
  pshost::OpenResult got = openBytes(shortLevel);
  EXPECT_EQ(got.result, ps::kFormatCannotRead);
  EXPECT_EQ(got.failedSelector, 1);
  // A level that starts beyond the end of the file.
  Bytes beyond = psref::openCaseFile("blp2_raw");
  storeU32(&beyond[20], uint32_t(beyond.size()) + 16);
  got = openBytes(beyond);
  EXPECT_EQ(got.result, ps::kReadErr);
  // A shared JPEG header larger than the room before the level: refused at read start.
  Bytes jpeg = psref::openCaseFile("blp2_jpeg_mips");
  storeU32(&jpeg[148], 0x7FFFFFFF);
  got = openBytes(jpeg);
  EXPECT_EQ(got.result, ps::kFormatCannotRead);
  EXPECT_EQ(got.failedSelector, 2);
  // An unknown "BLP2" encoding: refused at read prepare.
  Bytes unknown = psref::openCaseFile("blp2_raw");
  unknown[8] = 4;
  got = openBytes(unknown);
  EXPECT_EQ(got.result, ps::kFormatCannotRead);
  EXPECT_EQ(got.failedSelector, 1);
  EXPECT_TRUE(pstest::hostClean());
}

TEST_F(Fresh, JpegBufferTooLargeForAHandle) {
  // A 16384 x 16384 JPEG level needs more than 2 GiB of working buffer.
  Bytes file = psref::openCaseFile("blp2_jpeg_1x1");
  storeU32(&file[12], 16384);
  storeU32(&file[16], 16384);
  const pshost::OpenResult got = openBytes(file);
  EXPECT_EQ(got.result, ps::kMemFullErr);
  EXPECT_EQ(got.failedSelector, 1);
  EXPECT_TRUE(pstest::hostClean());
}

// ---- Dispatch rules ----

TEST_F(Fresh, HostWithoutServicesIsRefused) {
  MemFile f;
  f.bytes = psref::openCaseFile("blp2_dxt1");
  for (int missing = 0; missing < 3; ++missing) {
    pshost::HostOptions o;
    if (missing == 0) o.withAdvanceState = false;
    if (missing == 1) o.withResourceProcs = false;
    ps::ResourceProcs partial = pshost::resourceProcs();
    for (int16_t selector = 1; selector <= 17; ++selector) {
      ps::FormatRecord r;
      pshost::initRecord(&r, pstest::handleOf(&f), o);
      if (missing == 2) {
        partial.addProc = nullptr;
        r.resourceProcs = &partial;
      }
      intptr_t data = 0;
      int16_t result = 0;
      pstest::pluginMain(selector, &r, &data, &result);
      EXPECT_EQ(result, ps::kErrPlugInHostInsufficient) << "selector " << selector;
      EXPECT_EQ(data, 0);
    }
  }
  EXPECT_EQ(pshost::memory().news, 0);
  EXPECT_EQ(pshost::memory().acquires, 0);
  int16_t result = 7;
  pstest::pluginMain(0, nullptr, nullptr, &result);  // About needs nothing
  EXPECT_EQ(result, 0);
}

TEST_F(Fresh, AboutFirstTouchesNothing) {
  uint8_t aboutRecord[256] = {};
  intptr_t data = 0;
  int16_t result = 99;
  pstest::pluginMain(ps::kSelectorAbout, aboutRecord, &data, &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(answers().abouts, 1);
  EXPECT_EQ(pshost::memory().news, 0);
  for (uint8_t b : aboutRecord) EXPECT_EQ(b, 0);
}

TEST_F(Fresh, FailingNewAtReadPrepare) {
  MemFile f;
  f.bytes = psref::openCaseFile("blp2_dxt1");
  pshost::memory().failNewAt = 1;
  const pshost::OpenResult got = pshost::openFile(pstest::pluginMain, pstest::handleOf(&f), {});
  EXPECT_EQ(got.result, ps::kMemFullErr);
  EXPECT_EQ(got.failedSelector, 1);
  EXPECT_EQ(got.dataAfter, 0);
  EXPECT_EQ(pshost::memory().acquires, 1);
  EXPECT_EQ(pshost::memory().releases, 1);
  EXPECT_TRUE(pstest::hostClean());
}

TEST_F(Fresh, FailingNewForThePixelBuffer) {
  MemFile f;
  f.bytes = psref::openCaseFile("blp2_dxt1");
  pshost::memory().failNewAt = 2;
  const pshost::OpenResult got = pshost::openFile(pstest::pluginMain, pstest::handleOf(&f), {});
  EXPECT_EQ(got.result, ps::kMemFullErr);
  EXPECT_EQ(got.failedSelector, 2);
  EXPECT_TRUE(pstest::hostClean());
}

TEST_F(Fresh, FinishReleasesEverythingAndTheNextOpenStartsAfresh) {
  MemFile f;
  f.bytes = psref::openCaseFile("blp2_paletted_alpha8");
  pshost::openFile(pstest::pluginMain, pstest::handleOf(&f), {});
  EXPECT_TRUE(pstest::hostClean());
  EXPECT_EQ(pshost::memory().news, 2);
  EXPECT_EQ(pshost::memory().disposes, 2);
  const pshost::OpenResult again = pshost::openFile(pstest::pluginMain, pstest::handleOf(&f), {});
  EXPECT_EQ(again.result, 0);
  EXPECT_EQ(pshost::memory().news, 4);
  EXPECT_TRUE(pstest::hostClean());
}

TEST_F(Fresh, ExistingHandleIsResized) {
  MemFile f;
  f.bytes = psref::openCaseFile("blp2_dxt1");
  ps::FormatRecord r;
  pshost::initRecord(&r, pstest::handleOf(&f), {});
  ps::Handle h = pshost::hostNew(16);
  intptr_t data = reinterpret_cast<intptr_t>(h);
  int16_t result = 0;
  pstest::pluginMain(ps::kSelectorReadPrepare, &r, &data, &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(data, reinterpret_cast<intptr_t>(h));
  EXPECT_EQ(pshost::memory().setSizes, 1);
  EXPECT_GE(pshost::hostGetSize(h), kPsPluginGlobalsBytes);
  pstest::pluginMain(ps::kSelectorReadFinish, &r, &data, &result);
  EXPECT_TRUE(pstest::hostClean());
}

TEST_F(Fresh, ExistingHandleThatCannotGrowIsRefused) {
  MemFile f;
  f.bytes = psref::openCaseFile("blp2_dxt1");
  ps::FormatRecord r;
  pshost::initRecord(&r, pstest::handleOf(&f), {});
  ps::Handle h = pshost::hostNew(16);
  pshost::memory().failSetSize = true;
  intptr_t data = reinterpret_cast<intptr_t>(h);
  int16_t result = 0;
  pstest::pluginMain(ps::kSelectorReadPrepare, &r, &data, &result);
  EXPECT_EQ(result, ps::kMemFullErr);  // a 16-byte block would be written past its end
  EXPECT_EQ(data, 0);
  EXPECT_FALSE(pshost::memory().isLive(h));
  EXPECT_TRUE(pstest::hostClean());
}

TEST_F(Fresh, QuietSelectorsLeaveTheResult) {
  MemFile f;
  ps::FormatRecord r;
  pshost::initRecord(&r, pstest::handleOf(&f), {});
  for (int16_t selector : {7, 8, 11, 12, 18, 25, 41}) {
    intptr_t data = 0;
    int16_t result = 1234;
    r.maxData = 5;
    pstest::pluginMain(selector, &r, &data, &result);
    EXPECT_EQ(result, 1234) << selector;
    EXPECT_EQ(r.maxData, 5);
    EXPECT_EQ(r.PluginUsing32BitCoordinates, 1);
  }
  EXPECT_EQ(pshost::memory().news, 0);
  ps::FormatRecord r16;
  pshost::HostOptions o;
  o.coords32 = false;
  pshost::initRecord(&r16, pstest::handleOf(&f), o);
  intptr_t data = 0;
  int16_t result = 0;
  pstest::pluginMain(7, &r16, &data, &result);
  EXPECT_EQ(r16.PluginUsing32BitCoordinates, 0);
  pstest::pluginMain(5, &r16, &data, &result);
  EXPECT_EQ(r16.maxData, 0x100000);
  r16.data = &r16;
  pstest::pluginMain(6, &r16, &data, &result);
  EXPECT_TRUE(r16.data == nullptr);
}

// ---- Saving ----

class SaveCase : public ::testing::TestWithParam<pshost::SaveCase> {
  void SetUp() override { pstest::resetHost(); }
};

TEST_P(SaveCase, FileEqualsTheCoreWriter) {
  const pshost::SaveCase& c = GetParam();
  Bytes want;
  ASSERT_TRUE(psref::expectedSave(c, &want));
  MemFile file;
  answers().dialogWord = c.options;
  pshost::HostOptions o;
  o.coords32 = c.coords32;
  const pshost::SaveResult got = pshost::saveFile(pstest::pluginMain, pstest::handleOf(&file), pshost::saveImage(c), o);
  ASSERT_EQ(got.result, 0) << "selector " << got.failedSelector;
  ASSERT_TRUE(got.problem.empty()) << got.problem;
  EXPECT_TRUE(got.dataNullAfterContinue);
  EXPECT_EQ(answers().dialogs, 1);
  EXPECT_EQ(file.writes, 1);
  EXPECT_TRUE(file.bytes == want) << "saved " << file.bytes.size() << " bytes, expected " << want.size();
  EXPECT_EQ(got.minDataBytes, c.rows * c.columns + 1024);
  EXPECT_EQ(got.maxDataBytes, 8 * c.rows * c.columns);
  EXPECT_EQ(got.dataAfter, 0);
  EXPECT_TRUE(pstest::hostClean());
}

INSTANTIATE_TEST_SUITE_P(Every, SaveCase, ::testing::ValuesIn(pshost::saveCases()),
                         [](const ::testing::TestParamInfo<pshost::SaveCase>& info) { return info.param.name; });

pshost::SaveResult saveTo(MemFile* file, const pshost::SaveCase& c, pshost::HostOptions o = {}) {
  return pshost::saveFile(pstest::pluginMain, pstest::handleOf(file), pshost::saveImage(c), o);
}

TEST_F(Fresh, DialogWithoutAnswerSavesWithTheDefaults) {
  pshost::SaveCase c = *pshost::findSaveCase("rgb4_format3");
  for (uint32_t noAnswer : {0u, 0xFFFFFFFFu}) {
    pstest::resetHost();
    answers().dialogWord = noAnswer;
    MemFile file;
    ASSERT_EQ(saveTo(&file, c).result, 0);
    pshost::SaveCase defaults = c;
    defaults.options = 0x10000064;
    Bytes want;
    ASSERT_TRUE(psref::expectedSave(defaults, &want));
    EXPECT_TRUE(file.bytes == want);
    EXPECT_EQ(std::memcmp(file.bytes.data(), "BLP1", 4), 0);
  }
}

TEST_F(Fresh, BitmapPaletteHasTwoEntriesAndZeros) {
  const pshost::SaveCase& c = *pshost::findSaveCase("bitmap1_format1");  // "BLP1 Paletted"
  answers().dialogWord = c.options;
  MemFile file;
  ASSERT_EQ(saveTo(&file, c).result, 0);
  ASSERT_GT(file.bytes.size(), 156u + 1024u);
  const uint8_t* palette = file.bytes.data() + 156;
  EXPECT_EQ(Bytes(palette, palette + 8), (Bytes{0, 0, 0, 255, 255, 255, 255, 255}));
  EXPECT_EQ(Bytes(palette + 8, palette + 1024), Bytes(1016, 0));
  EXPECT_EQ(loadU32(&file.bytes[8]), 0u);  // opaque: no alpha plane
  // Every index is 0 (black) or 1 (white).
  const uint32_t offset = loadU32(&file.bytes[28]), size = loadU32(&file.bytes[92]);
  ASSERT_EQ(size, uint32_t(c.rows * c.columns));
  for (uint32_t i = 0; i < size; ++i) ASSERT_LE(file.bytes[offset + i], 1);
}

TEST_F(Fresh, TransparentIndexIsSavedBlackWithoutAlpha) {
  const pshost::SaveCase& c = *pshost::findSaveCase("indexed1_transparent5");  // 200 entries, index 5
  answers().dialogWord = c.options;
  MemFile file;
  ASSERT_EQ(saveTo(&file, c).result, 0);
  EXPECT_EQ(loadU32(&file.bytes[8]), 0u);  // no alpha bits
  const uint8_t* palette = file.bytes.data() + 156;
  EXPECT_EQ(Bytes(palette + 20, palette + 24), (Bytes{0, 0, 0, 0}));
  const pshost::HostImage img = pshost::saveImage(c);
  const uint32_t offset = loadU32(&file.bytes[28]);
  size_t transparent = 0;
  for (size_t i = 0; i < img.planeBytes[0].size(); ++i) {
    if (img.planeBytes[0][i] != 5) continue;
    ++transparent;
    const uint8_t* entry = palette + 4 * file.bytes[offset + i];
    EXPECT_EQ(Bytes(entry, entry + 3), (Bytes{0, 0, 0}));  // black
  }
  EXPECT_GT(transparent, 0u);
}

TEST_F(Fresh, ModesOtherThanTheFourAreRefusedBeforeTheDialog) {
  pshost::SaveCase c = *pshost::findSaveCase("rgb3_format0");
  for (int16_t mode : {4, 7, 9, -1}) {
    pshost::HostImage img = pshost::saveImage(c);
    img.mode = mode;
    MemFile file;
    const pshost::SaveResult got = pshost::saveFile(pstest::pluginMain, pstest::handleOf(&file), img, {});
    EXPECT_EQ(got.result, ps::kFormatCannotRead);
    EXPECT_EQ(got.failedSelector, 10);
    EXPECT_EQ(got.dataAfter, 0);
  }
  EXPECT_EQ(answers().dialogs, 0);
  EXPECT_TRUE(pstest::hostClean());
}

TEST_F(Fresh, FailingNewAtWriteStart) {
  pshost::SaveCase c = *pshost::findSaveCase("gray2_format4");
  pshost::memory().failNewAt = 2;  // PluginGlobals, then the pixel buffer
  MemFile file;
  const pshost::SaveResult got = saveTo(&file, c);
  EXPECT_EQ(got.result, ps::kMemFullErr);
  EXPECT_EQ(got.failedSelector, 14);
  EXPECT_EQ(file.writes, 0);
  EXPECT_TRUE(pstest::hostClean());
}

TEST_F(Fresh, ImageTooLargeForTheBufferIsRefusedAtWritePrepare) {
  pshost::SaveCase c = *pshost::findSaveCase("rgb3_format1");
  pshost::HostImage img = pshost::saveImage(c);
  img.rows = img.columns = 20000;  // 12 * 4e8 bytes: no 31-bit handle holds it
  MemFile file;
  const pshost::SaveResult got = pshost::saveFile(pstest::pluginMain, pstest::handleOf(&file), img, {});
  EXPECT_EQ(got.result, ps::kMemFullErr);
  EXPECT_EQ(got.failedSelector, 13);
  EXPECT_EQ(got.maxDataBytes, 0x7FFFFFFF);
  EXPECT_TRUE(pstest::hostClean());
}

TEST_F(Fresh, WriteFailures) {
  pshost::SaveCase c = *pshost::findSaveCase("indexed2_format6");
  MemFile seek;
  seek.failSeek = true;
  pshost::SaveResult got = saveTo(&seek, c);
  EXPECT_EQ(got.result, ps::kWritErr);
  EXPECT_EQ(got.failedSelector, 15);
  MemFile full;
  full.writeLimit = 100;
  got = saveTo(&full, c);
  EXPECT_EQ(got.result, ps::kReadErr);
  MemFile broken;
  broken.failWrite = true;
  got = saveTo(&broken, c);
  EXPECT_EQ(got.result, ps::kReadErr);
  EXPECT_TRUE(pstest::hostClean());
}

TEST_F(Fresh, ExceptionBecomesMinusOneAndReleasesTheSequence) {
  answers().throwInDialog = true;
  MemFile file;
  const pshost::SaveResult got = saveTo(&file, *pshost::findSaveCase("rgb3_format0"));
  EXPECT_EQ(got.result, ps::kExceptionErr);
  EXPECT_EQ(got.failedSelector, 10);
  EXPECT_EQ(got.dataAfter, 0);
  EXPECT_TRUE(pstest::hostClean());
}

}  // namespace
