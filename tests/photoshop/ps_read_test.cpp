// Reading: content codes, level choice, the checks of read prepare, buffer sizes, alpha
// expansion, DXT block rows and the chunk sequence of read continue.
#include <gtest/gtest.h>

#include <cstring>

#include "core/blp_format.h"
#include "core/dxt_decode.h"
#include "jpeg/jpeg_decoder.h"
#include "photoshop/ps_read.h"
#include "photoshop/ps_reference.h"
#include "photoshop/native_host.h"
#include "support/blp_bytes.h"

namespace {

using namespace vellum;
using vellum::testing::blp2Word;
using vellum::testing::blpHeader;
using Bytes = std::vector<uint8_t>;

Bytes header156(Bytes h) {
  h.resize(kPsHeaderBytes, 0);
  return h;
}

uint32_t codeOf(const Bytes& header) {
  uint32_t code = 0xDEAD;
  EXPECT_TRUE(buildContentCode(header156(header).data(), &code));
  return code;
}

TEST(ContentCode, Blp1Files) {
  EXPECT_EQ(codeOf(blpHeader("BLP1", 1, 0, 8, 8, 1180, 64)), 0x002u);
  EXPECT_EQ(codeOf(blpHeader("BLP1", 1, 8, 8, 8, 1180, 128)), 0x802u);
  EXPECT_EQ(codeOf(blpHeader("BLP0", 1, 1, 8, 8, 1180, 128)), 0x802u);  // any non-zero alpha field
  EXPECT_EQ(codeOf(blpHeader("BLP1", 0, 0, 8, 8, 160, 64)), 0x10006u);
  EXPECT_EQ(codeOf(blpHeader("BLP1", 0, 8, 8, 8, 160, 64)), 0x10806u);
}

TEST(ContentCode, Blp2Files) {
  // JPEG: the alpha depth's low four bits.
  EXPECT_EQ(codeOf(blpHeader("BLP2", 0, blp2Word(0, 8, 0), 8, 8, 152, 64)), 0x806u);
  EXPECT_EQ(codeOf(blpHeader("BLP2", 0, blp2Word(0, 0x18, 0), 8, 8, 152, 64)), 0x806u);
  EXPECT_EQ(codeOf(blpHeader("BLP2", 0, blp2Word(0, 0, 0), 8, 8, 152, 64)), 0x006u);
  // Paletted: 0, 1, 2, 4 bits as they are; every other depth reads 8 bits.
  EXPECT_EQ(codeOf(blpHeader("BLP2", 1, blp2Word(1, 0, 8), 8, 8, 1172, 64)), 0x002u);
  EXPECT_EQ(codeOf(blpHeader("BLP2", 1, blp2Word(1, 1, 8), 8, 8, 1172, 72)), 0x102u);
  EXPECT_EQ(codeOf(blpHeader("BLP2", 1, blp2Word(1, 2, 8), 8, 8, 1172, 80)), 0x202u);
  EXPECT_EQ(codeOf(blpHeader("BLP2", 1, blp2Word(1, 4, 8), 8, 8, 1172, 96)), 0x402u);
  EXPECT_EQ(codeOf(blpHeader("BLP2", 1, blp2Word(1, 8, 8), 8, 8, 1172, 128)), 0x802u);
  EXPECT_EQ(codeOf(blpHeader("BLP2", 1, blp2Word(1, 3, 8), 8, 8, 1172, 128)), 0x802u);
  // DXT: the alpha encoding decides; DXT1 never has alpha, whatever its depth.
  EXPECT_EQ(codeOf(blpHeader("BLP2", 1, blp2Word(2, 8, 1), 8, 8, 148, 64)), 0x803u);
  EXPECT_EQ(codeOf(blpHeader("BLP2", 1, blp2Word(2, 8, 7), 8, 8, 148, 64)), 0x805u);
  EXPECT_EQ(codeOf(blpHeader("BLP2", 1, blp2Word(2, 1, 0), 8, 8, 148, 32)), 0x001u);
  EXPECT_EQ(codeOf(blpHeader("BLP2", 1, blp2Word(2, 8, 5), 8, 8, 148, 32)), 0x001u);
  // Raw.
  EXPECT_EQ(codeOf(blpHeader("BLP2", 1, blp2Word(3, 8, 0), 8, 8, 148, 256)), 0x804u);
  EXPECT_EQ(codeOf(blpHeader("BLP2", 1, blp2Word(3, 0, 0), 8, 8, 148, 256)), 0x004u);
}

TEST(ReadPrepare, UnknownBlp2EncodingIsRefused) {
  for (uint8_t encoding : {0, 4, 9, 255}) {
    Bytes h = header156(blpHeader("BLP2", 1, blp2Word(encoding, 0, 0), 8, 8, 148, 64));
    uint32_t code = 0;
    EXPECT_FALSE(buildContentCode(h.data(), &code));
    ReadLevel level;
    EXPECT_EQ(planReadLevel(h.data(), false, &level), ps::kFormatCannotRead) << int(encoding);
    EXPECT_EQ(filterBlpHeader(h.data()), ps::kNoErr);  // the filter does not look at it
  }
}

TEST(ReadPrepare, HeaderChecks) {
  ReadLevel level;
  auto plan = [&](const Bytes& h) { return planReadLevel(header156(h).data(), false, &level); };
  EXPECT_EQ(plan(blpHeader("BLP1", 1, 0, 8, 8, 1180, 64)), ps::kNoErr);
  EXPECT_EQ(level.rows, 8u);
  EXPECT_EQ(level.headerSize, 156u);
  EXPECT_EQ(plan(blpHeader("BLP3", 1, 0, 8, 8, 1180, 64)), ps::kFormatCannotRead);
  EXPECT_EQ(plan(blpHeader("BLP1", 2, 0, 8, 8, 1180, 64)), ps::kFormatCannotRead);
  EXPECT_EQ(plan(blpHeader("BLP1", 1, 0, 0, 8, 1180, 64)), ps::kFormatCannotRead);
  EXPECT_EQ(plan(blpHeader("BLP1", 1, 0, 8, 32769, 1180, 64)), ps::kFormatCannotRead);
  EXPECT_EQ(plan(blpHeader("BLP1", 1, 0, 32768, 1, 1180, 32768)), ps::kNoErr);
  EXPECT_EQ(plan(blpHeader("BLP1", 1, 0, 8, 8, 1180, 0)), ps::kFormatCannotRead);  // level size 0
  EXPECT_EQ(filterBlpHeader(header156(blpHeader("BLP2", 1, 0, 32768, 32768, 0, 0)).data()), ps::kNoErr);
  EXPECT_EQ(filterBlpHeader(header156(blpHeader("BLP2", 1, 0, 32769, 1, 0, 0)).data()), ps::kFormatCannotRead);
  EXPECT_EQ(filterBlpHeader(header156(blpHeader("BLP2", 2, 0, 1, 1, 0, 0)).data()), ps::kFormatCannotRead);
  EXPECT_EQ(filterBlpHeader(header156(blpHeader("blp2", 1, 0, 1, 1, 0, 0)).data()), ps::kFormatCannotRead);
}

// A "BLP2" paletted header with a full chain of w x h: level k at a distinct offset.
Bytes chainHeader(uint32_t w, uint32_t h, uint32_t levels) {
  Bytes b = header156(blpHeader("BLP2", 1, blp2Word(1, 8, 8), w, h, 1172, uint32_t(uint64_t(w) * h * 2)));
  for (uint32_t k = 1; k < levels; ++k) {
    storeU32(&b[20 + 4 * k], 1172 + 1000 * k);
    storeU32(&b[84 + 4 * k], 2 * blpLevelSide(w, k) * blpLevelSide(h, k));
  }
  return b;
}

TEST(PreviewLevel, SmallestLevelUnder128) {
  Bytes h = chainHeader(512, 256, 10);
  EXPECT_EQ(previewLevel(h.data()), 3u);  // 512 >> 2 = 128 is not at most 127
  ReadLevel level;
  ASSERT_EQ(planReadLevel(h.data(), true, &level), ps::kNoErr);
  EXPECT_EQ(level.level, 3u);
  EXPECT_EQ(level.columns, 64u);
  EXPECT_EQ(level.rows, 32u);
  EXPECT_EQ(level.levelOffset, 1172u + 3000u);
  ASSERT_EQ(planReadLevel(h.data(), false, &level), ps::kNoErr);
  EXPECT_EQ(level.level, 0u);
  EXPECT_EQ(previewLevel(chainHeader(127, 5, 7).data()), 0u);
  EXPECT_EQ(previewLevel(chainHeader(128, 5, 8).data()), 1u);
  EXPECT_EQ(previewLevel(chainHeader(32768, 1, 16).data()), 9u);
}

TEST(PreviewLevel, MissingNextLevelStops) {
  EXPECT_EQ(previewLevel(chainHeader(4000, 4000, 1).data()), 0u);
  EXPECT_EQ(previewLevel(chainHeader(4000, 4000, 3).data()), 2u);
}

TEST(ReadPrepare, LevelAgainstFile) {
  ReadLevel level;
  level.levelOffset = 1172;
  level.rows = 10;
  level.columns = 13;
  level.contentCode = 0x102;                           // indices and a 1-bit plane
  level.levelSize = 130 + 17;                          // ceil(130 / 8) = 17
  EXPECT_EQ(checkLevelInFile(level, 1172 + 147), ps::kNoErr);
  EXPECT_EQ(checkLevelInFile(level, 1172 + 146), ps::kReadErr);  // truncated file
  level.levelSize = 146;
  EXPECT_EQ(checkLevelInFile(level, 5000), ps::kFormatCannotRead);  // shorter than its content
  level.contentCode = 0x805;                           // DXT5: 4 x 3 blocks of 16 bytes
  level.levelSize = 192;
  EXPECT_EQ(checkLevelInFile(level, 5000), ps::kNoErr);
  level.levelSize = 191;
  EXPECT_EQ(checkLevelInFile(level, 5000), ps::kFormatCannotRead);
  level.contentCode = 0x001;                           // DXT1: 8-byte blocks
  level.levelSize = 96;
  EXPECT_EQ(checkLevelInFile(level, 5000), ps::kNoErr);
  level.contentCode = 0x004;                           // raw
  level.levelSize = 519;
  EXPECT_EQ(checkLevelInFile(level, 5000), ps::kFormatCannotRead);
  level.contentCode = 0x806;                           // JPEG: any size
  level.levelSize = 1;
  EXPECT_EQ(checkLevelInFile(level, 5000), ps::kNoErr);
  // Offsets and sizes near 2^32 do not wrap.
  level.levelOffset = 0xFFFFFFF0u;
  level.levelSize = 0x20;
  EXPECT_EQ(checkLevelInFile(level, 0xFFFFFFFFull), ps::kReadErr);
}

TEST(ReadBuffer, Sizes) {
  EXPECT_EQ(readBufferBytes(0x802, 30000, 30000, 1172, 5), kPsChunkBytes);
  // J: pixels, the stream's room (levelOffset + levelSize) aligned to 16, the decoder's
  // memory and the slack to align it.
  const uint64_t j = readBufferBytes(0x806, 21, 33, 160, 1001);
  EXPECT_EQ(j, ((4u * 21 * 33 + 160 + 1001 + 15) & ~15u) + jpegDecoderBytes(33, 21) + 15);
  const JpegBufferLayout layout = jpegBufferLayout(21, 33, 160, 1001);
  EXPECT_EQ(layout.streamOffset, 4u * 21 * 33);
  EXPECT_EQ(layout.stateOffset % 16, 0u);
  EXPECT_GE(layout.stateOffset, layout.streamOffset + 1161);
  EXPECT_EQ(layout.totalBytes, j);
  // A level whose buffer a 31-bit handle size cannot express.
  EXPECT_EQ(readBufferBytes(0x806, 32768, 32768, 152, 100), 0u);
  EXPECT_EQ(readBufferBytes(0x806, 16384, 16384, 152, 100), 0u);  // 1 GiB pixels + 2 GiB coefficients
  EXPECT_NE(readBufferBytes(0x806, 8192, 8192, 152, 100), 0u);
}

TEST(AlphaPlane, ExpandsEveryDepth) {
  Bytes one(10);
  one[0] = 0b10110001;
  one[1] = 0b00000010;
  expandAlphaPlane(one.data(), 10, 1);
  EXPECT_EQ(one, (Bytes{255, 0, 0, 0, 255, 255, 0, 255, 0, 255}));
  Bytes two(7);
  two[0] = 0b11100100;  // 0, 1, 2, 3
  two[1] = 0b00000010;  // 2
  expandAlphaPlane(two.data(), 5, 2);
  two.resize(5);
  EXPECT_EQ(two, (Bytes{0, 85, 170, 255, 170}));
  Bytes four(5);
  four[0] = 0xF1;
  four[1] = 0x0A;
  four[2] = 0x07;  // odd count: the last high nibble is unused
  expandAlphaPlane(four.data(), 5, 4);
  EXPECT_EQ(four, (Bytes{17, 255, 170, 0, 119}));
  Bytes eight = {1, 2, 3};
  expandAlphaPlane(eight.data(), 3, 8);
  EXPECT_EQ(eight, (Bytes{1, 2, 3}));
}

TEST(DxtRow, MatchesTheBlockDecoderAndDropsPaddingColumns) {
  pshost::Noise noise(7);
  for (DxtVariant variant : {DxtVariant::Dxt1, DxtVariant::Dxt3, DxtVariant::Dxt5}) {
    const uint32_t columns = 13, blocks = 4, bytes = dxtBlockBytes(variant);
    Bytes data(blocks * bytes);
    for (auto& b : data) b = uint8_t(noise.next());
    Bytes rows(4 * columns * 4 + 16, 0xEE);
    decodeDxtBlockRow(data.data(), variant, columns, rows.data());
    for (uint32_t b = 0; b < blocks; ++b) {
      uint8_t px[64];
      decodeDxtBlock(&data[b * bytes], variant, px);
      for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 4 && 4 * b + x < columns; ++x)
          EXPECT_EQ(std::memcmp(&rows[(y * columns + 4 * b + x) * 4], &px[(y * 4 + x) * 4], 4), 0);
    }
    for (size_t i = 4 * columns * 4; i < rows.size(); ++i) EXPECT_EQ(rows[i], 0xEE);
  }
}

TEST(Flip, TurnsRowsOver) {
  Bytes p = {1, 1, 2, 2, 3, 3};
  flipRows(p.data(), 3, 2);
  EXPECT_EQ(p, (Bytes{3, 3, 2, 2, 1, 1}));
  Bytes q = {1, 2, 3, 4};
  flipRows(q.data(), 2, 2);
  EXPECT_EQ(q, (Bytes{3, 4, 1, 2}));
}

// Read continue over a file: prepares the globals as read prepare and start would.
struct ChunkRun {
  pstest::MemFile file;
  PluginGlobals globals = {};
  Bytes buffer;
  std::vector<ReadChunk> chunks;
  int16_t status = 0;

  explicit ChunkRun(Bytes bytes, uint64_t guard = 64) {
    file.bytes = std::move(bytes);
    ReadLevel level;
    EXPECT_EQ(planReadLevel(file.bytes.data(), false, &level), ps::kNoErr);
    globals.rows = level.rows;
    globals.columns = level.columns;
    globals.levelOffset = level.levelOffset;
    globals.levelSize = level.levelSize;
    globals.contentCode = level.contentCode;
    const uint64_t size = readBufferBytes(level.contentCode, level.rows, level.columns, level.levelOffset, level.levelSize);
    buffer.assign(size + guard, 0xC3);
    globals.pixels = buffer.data();
  }
  bool guardIntact(uint64_t guard = 64) const {
    for (size_t i = buffer.size() - guard; i < buffer.size(); ++i)
      if (buffer[i] != 0xC3) return false;
    return true;
  }
  void runAll() {
    for (int i = 0; i < 100000; ++i) {
      ReadChunk c;
      status = readNextChunk(&globals, pstest::platform(), pstest::handleOf(&file), &c);
      if (status != 0 || c.done) return;
      chunks.push_back(c);
    }
  }
};

TEST(ReadContinue, PalettedAlphaChunksAreWholeBytesOfThePlane) {
  ChunkRun run(psref::openCaseFile("blp2_paletted_wide_alpha1"));
  run.runAll();
  ASSERT_EQ(run.status, 0);
  // Indices: 0x100000 / 20000 = 52 rows a chunk; alpha: 48 (a multiple of 8), last 4.
  std::vector<std::pair<uint32_t, uint32_t>> spans;
  for (const ReadChunk& c : run.chunks) spans.push_back({c.top, c.bottom});
  const std::vector<std::pair<uint32_t, uint32_t>> expected = {{0, 52}, {52, 100}, {0, 48}, {48, 96}, {96, 100}};
  EXPECT_EQ(spans, expected);
  for (size_t i = 0; i < run.chunks.size(); ++i) {
    const ReadChunk& c = run.chunks[i];
    EXPECT_EQ(c.colBytes, 1);
    EXPECT_EQ(c.rowBytes, 20000);
    EXPECT_EQ(c.loPlane, i < 2 ? 0 : 1);
    EXPECT_EQ(c.hiPlane, i < 2 ? 0 : 1);
  }
  EXPECT_TRUE(run.guardIntact());
}

TEST(ReadContinue, DxtLastChunkHoldsTheRemainingRows) {
  ChunkRun run(psref::openCaseFile("blp2_dxt5_odd"));  // 13 x 10
  run.runAll();
  ASSERT_EQ(run.status, 0);
  ASSERT_EQ(run.chunks.size(), 3u);
  EXPECT_EQ(run.chunks[2].top, 8u);
  EXPECT_EQ(run.chunks[2].bottom, 10u);
  EXPECT_EQ(run.chunks[0].hiPlane, 3);
  EXPECT_EQ(run.chunks[0].colBytes, 4);
  EXPECT_TRUE(run.guardIntact());
}

TEST(ReadContinue, ReadErrorStillDeliversTheChunkExceptJpeg) {
  ChunkRun run(psref::openCaseFile("blp2_raw_alpha"));
  run.file.bytes.resize(run.file.bytes.size() - 1);  // the last read comes up short
  run.runAll();
  EXPECT_EQ(run.status, ps::kReadErr);
  EXPECT_EQ(run.globals.rowsDone, run.globals.rows);
  run.file.failSeek = true;
  run.globals.rowsDone = 0;
  ReadChunk c;
  EXPECT_EQ(readNextChunk(&run.globals, pstest::platform(), pstest::handleOf(&run.file), &c), ps::kWritErr);
  EXPECT_FALSE(c.done);
  EXPECT_EQ(c.planeMap[0], 2);  // raw pixels are blue, green, red, alpha
  EXPECT_EQ(c.planeMap[2], 0);

  ChunkRun jpeg(psref::openCaseFile("blp2_jpeg_alpha"));
  jpeg.file.failRead = true;
  ReadChunk j;
  EXPECT_EQ(readNextChunk(&jpeg.globals, pstest::platform(), pstest::handleOf(&jpeg.file), &j), ps::kReadErr);
  EXPECT_EQ(jpeg.globals.rowsDone, 0u);
}

TEST(ReadContinue, JpegHeaderLargerThanItsRoomIsRefusedUntouched) {
  Bytes file = psref::openCaseFile("blp2_jpeg_mips");
  ASSERT_GT(file.size(), 156u);
  const uint32_t levelOffset = loadU32(&file[20]);
  for (uint32_t size : {levelOffset + 1, 0xFFFFFFFFu}) {
    Bytes bad = file;
    storeU32(&bad[148], size);
    ChunkRun run(bad);
    const Bytes before = run.buffer;
    ReadChunk c;
    EXPECT_EQ(readNextChunk(&run.globals, pstest::platform(), pstest::handleOf(&run.file), &c), ps::kFormatCannotRead);
    EXPECT_EQ(run.buffer, before);  // nothing was read or decoded
  }
  // Exactly the room: accepted (the reads then fail on the file's own bytes or not, but
  // stay inside the buffer).
  Bytes edge = file;
  storeU32(&edge[148], levelOffset);
  ChunkRun run(edge);
  ReadChunk c;
  readNextChunk(&run.globals, pstest::platform(), pstest::handleOf(&run.file), &c);
  EXPECT_TRUE(run.guardIntact());
}

TEST(ReadContinue, JpegWholeImageInOneChunkTopRowFirst) {
  ChunkRun run(psref::openCaseFile("blp1_jpeg_alpha"));
  run.runAll();
  ASSERT_EQ(run.status, 0);
  ASSERT_EQ(run.chunks.size(), 1u);
  EXPECT_EQ(run.chunks[0].top, 0u);
  EXPECT_EQ(run.chunks[0].bottom, run.globals.rows);
  EXPECT_EQ(run.chunks[0].hiPlane, 3);
  EXPECT_EQ(run.chunks[0].planeMap[0], 2);
  EXPECT_TRUE(run.guardIntact());
}

}  // namespace
