// Reading: content codes, level choice, the checks of read prepare, buffer sizes, alpha
// expansion, DXT block rows and the chunk sequence of read continue.
#include <gtest/gtest.h>

#include <cstring>

#include "core/blp_format.h"
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

// Read prepare over a whole file held by the test host.
struct Prepared {
  pstest::MemFile file;
  PluginGlobals globals = {};
  ReadLevel level;
  int16_t result = 0;
  explicit Prepared(Bytes bytes, bool preview = false) {
    file.bytes = std::move(bytes);
    result = prepareReadLevel(&globals, pstest::platform(), pstest::handleOf(&file), preview, &level);
  }
};

// A header with level 0 at `offset`, `size` bytes, and a file long enough to hold it.
Bytes fileOf(Bytes header) {
  header.resize(156, 0);
  const bool blp2 = header[3] == '2';
  const uint32_t offset = loadU32(&header[blp2 ? 20 : 28]), size = loadU32(&header[blp2 ? 84 : 92]);
  header.resize(std::max<size_t>(header.size(), size_t(offset) + size), 0);
  return header;
}

uint32_t codeOf(const Bytes& header) {
  Prepared p(fileOf(header));
  EXPECT_EQ(p.result, 0);
  return p.level.contentCode;
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
  // A level of its indices alone is opaque whatever depth the header declares.
  EXPECT_EQ(codeOf(blpHeader("BLP2", 1, blp2Word(1, 8, 8), 8, 8, 1172, 64)), 0x002u);
  // DXT: the alpha encoding decides; DXT1 with an alpha depth has cut-out alpha.
  EXPECT_EQ(codeOf(blpHeader("BLP2", 1, blp2Word(2, 8, 1), 8, 8, 148, 64)), 0x803u);
  EXPECT_EQ(codeOf(blpHeader("BLP2", 1, blp2Word(2, 8, 7), 8, 8, 148, 64)), 0x805u);
  EXPECT_EQ(codeOf(blpHeader("BLP2", 1, blp2Word(2, 0, 0), 8, 8, 148, 32)), 0x001u);
  EXPECT_EQ(codeOf(blpHeader("BLP2", 1, blp2Word(2, 1, 0), 8, 8, 148, 32)), 0x801u);
  EXPECT_EQ(codeOf(blpHeader("BLP2", 1, blp2Word(2, 8, 5), 8, 8, 148, 32)), 0x801u);
  // Raw.
  EXPECT_EQ(codeOf(blpHeader("BLP2", 1, blp2Word(3, 8, 0), 8, 8, 148, 256)), 0x804u);
  EXPECT_EQ(codeOf(blpHeader("BLP2", 1, blp2Word(3, 0, 0), 8, 8, 148, 256)), 0x004u);
}

TEST(ReadPrepare, UnknownBlp2EncodingIsRefusedButNotByTheFilter) {
  for (uint8_t encoding : {0, 4, 9, 255}) {
    Bytes file = fileOf(blpHeader("BLP2", 1, blp2Word(encoding, 0, 0), 8, 8, 148, 64));
    EXPECT_EQ(Prepared(file).result, ps::kFormatCannotRead) << int(encoding);
    pstest::MemFile f;
    f.bytes = file;
    EXPECT_EQ(filterBlpFile(pstest::platform(), pstest::handleOf(&f)), ps::kNoErr);
  }
}

TEST(ReadPrepare, HeaderChecks) {
  auto prepare = [&](const Bytes& h) { return Prepared(fileOf(h)).result; };
  EXPECT_EQ(prepare(blpHeader("BLP1", 1, 0, 8, 8, 1180, 64)), ps::kNoErr);
  EXPECT_EQ(prepare(blpHeader("BLP3", 1, 0, 8, 8, 1180, 64)), ps::kFormatCannotRead);
  EXPECT_EQ(prepare(blpHeader("BLP1", 2, 0, 8, 8, 1180, 64)), ps::kFormatCannotRead);
  EXPECT_EQ(prepare(blpHeader("BLP1", 1, 0, 0, 8, 1180, 64)), ps::kFormatCannotRead);
  EXPECT_EQ(prepare(blpHeader("BLP1", 1, 0, 8, 32769, 1180, 64)), ps::kFormatCannotRead);
  EXPECT_EQ(prepare(blpHeader("BLP1", 1, 0, 32768, 1, 1180, 32768)), ps::kNoErr);
  EXPECT_EQ(prepare(blpHeader("BLP1", 1, 0, 8, 8, 1180, 0)), ps::kFormatCannotRead);  // level size 0
}

// A "BLP2" paletted header with a full chain of w x h: level k at a distinct offset.
Bytes chainHeader(uint32_t w, uint32_t h, uint32_t levels) {
  Bytes b = blpHeader("BLP2", 1, blp2Word(1, 8, 8), w, h, 1172, uint32_t(uint64_t(w) * h * 2));
  b.resize(156, 0);
  for (uint32_t k = 1; k < levels; ++k) {
    storeU32(&b[20 + 4 * k], 1172 + 1000 * k);
    storeU32(&b[84 + 4 * k], 2 * blpLevelSide(w, k) * blpLevelSide(h, k));
  }
  return b;
}

uint32_t previewOf(const Bytes& header) {
  BlpHeader h;
  parseBlpHeader(header.data(), &h);
  return blpLevelAtMost(h, kPsPreviewSide);
}

TEST(PreviewLevel, SmallestLevelUnder128) {
  Bytes h = chainHeader(512, 256, 10);
  EXPECT_EQ(previewOf(h), 3u);  // 512 >> 2 = 128 is not at most 127
  Bytes file = h;
  file.resize(1172 + 10000, 0);
  Prepared preview(file, true);
  ASSERT_EQ(preview.result, ps::kNoErr);
  EXPECT_EQ(preview.level.level, 3u);
  EXPECT_EQ(preview.level.columns, 64u);
  EXPECT_EQ(preview.level.rows, 32u);
  EXPECT_EQ(preview.globals.format.offset, 1172u + 3000u);
  EXPECT_EQ(previewOf(chainHeader(127, 5, 7)), 0u);
  EXPECT_EQ(previewOf(chainHeader(128, 5, 8)), 1u);
  EXPECT_EQ(previewOf(chainHeader(32768, 1, 16)), 9u);
}

TEST(PreviewLevel, MissingNextLevelStops) {
  EXPECT_EQ(previewOf(chainHeader(4000, 4000, 1)), 0u);
  EXPECT_EQ(previewOf(chainHeader(4000, 4000, 3)), 2u);
}

TEST(ReadBuffer, Sizes) {
  EXPECT_EQ(readBufferBytes(0x802, 30000, 30000, 1172, 5), kPsChunkBytes);
  // J: pixels, the stream's room (levelOffset + levelSize) aligned to 16, the decoder's store.
  const uint64_t j = readBufferBytes(0x806, 21, 33, 160, 1001);
  EXPECT_EQ(j, ((4u * 21 * 33 + 160 + 1001 + 15) & ~15u) + jpegDecoderBytes(33, 21) + kJpegDecoderAlignment - 1);
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
    EXPECT_EQ(prepareReadLevel(&globals, pstest::platform(), pstest::handleOf(&file), false, &level), ps::kNoErr);
    globals.rows = level.rows;
    globals.columns = level.columns;
    globals.levelOffset = globals.format.offset;
    globals.levelSize = globals.format.size;
    globals.contentCode = level.contentCode;
    const uint64_t size =
        readBufferBytes(level.contentCode, level.rows, level.columns, globals.levelOffset, globals.levelSize);
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
