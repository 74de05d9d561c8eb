// Bad inputs, unwritable outputs, the no-overwrite rule and interruption: the documented
// exit code, one line on stderr naming the file, and no output or temporary file left.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "cli_harness.h"
#include "test_images.h"

namespace vellum::clitest {
namespace {

constexpr int kBadInput = 1, kUsage = 2, kCannotWrite = 3;

// One "vellum: FILE: reason" line on stderr.
void expectOneLineAbout(const RunResult& r, const std::string& file) {
  EXPECT_EQ(lineCount(withoutWarnings(r.err)), 1u) << r.err;
  EXPECT_EQ(r.err.rfind("vellum: " + file + ": ", 0), 0u) << r.err;
}

// A small valid BLP written by the tool itself.
void makeBlp(const ScratchDir& dir, const std::string& name, const char* format = "blp2-paletted8") {
  ASSERT_TRUE(writePngFile(dir / "src.png", makeSource(InputKind::Rgba).png));
  ASSERT_EQ(runVellum({"encode", "-q", "-f", "--format", format, dir / "src.png", "-o", dir / name}).exitCode, 0);
}

TEST(CliBadInput, NotAPng) {
  ScratchDir dir;
  writeBytes(dir / "fake.png", Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  RunResult r = runVellum({"encode", dir / "fake.png"});
  EXPECT_EQ(r.exitCode, kBadInput);
  expectOneLineAbout(r, dir / "fake.png");
  EXPECT_NE(r.err.find("not an image vellum reads"), std::string::npos) << r.err;
  EXPECT_EQ(filesIn(dir.path), std::vector<std::string>{"fake.png"});
}

TEST(CliBadInput, TruncatedPng) {
  ScratchDir dir;
  ASSERT_TRUE(writePngFile(dir / "whole.png", makeSource(InputKind::Rgb).png));
  Bytes png = readBytes(dir / "whole.png");
  png.resize(png.size() / 2);
  writeBytes(dir / "half.png", png);
  RunResult r = runVellum({"encode", dir / "half.png"});
  EXPECT_EQ(r.exitCode, kBadInput);
  expectOneLineAbout(r, dir / "half.png");
  EXPECT_FALSE(fileExists(dir / "half.blp"));
  EXPECT_FALSE(anyTemporary(dir.path));
}

TEST(CliBadInput, TruncatedBlp) {
  ScratchDir dir;
  makeBlp(dir, "whole.blp");
  Bytes blp = readBytes(dir / "whole.blp");
  for (size_t keep : {size_t(0), size_t(3), size_t(100), size_t(160)}) {
    SCOPED_TRACE(keep);
    writeBytes(dir / "cut.blp", Bytes(blp.begin(), blp.begin() + keep));
    RunResult r = runVellum({"decode", dir / "cut.blp"});
    EXPECT_EQ(r.exitCode, kBadInput);
    expectOneLineAbout(r, dir / "cut.blp");
    EXPECT_FALSE(fileExists(dir / "cut.png"));
    RunResult info = runVellum({"info", dir / "cut.blp"});
    EXPECT_EQ(info.exitCode, kBadInput);
    expectOneLineAbout(info, dir / "cut.blp");
  }
  EXPECT_FALSE(anyTemporary(dir.path));
}

// A level cut by the end of the file, or JPEG data flipped inside, is an error naming the
// file and what was wrong: nothing is written unless --salvage asks for what was recovered.
TEST(CliBadInput, DamagedLevelIsAnErrorUnlessSalvaged) {
  ScratchDir dir;
  struct Case {
    const char* format;
    bool flip;
    const char* message;
  };
  for (const Case& c : {Case{"blp2-paletted8", false, "level 0 runs past the end of the file"},
                        Case{"blp1-jpeg", false, "JPEG data ends after"},
                        Case{"blp2-jpeg", true, "JPEG data"}}) {
    SCOPED_TRACE(c.format);
    makeBlp(dir, "whole.blp", c.format);
    Bytes blp = readBytes(dir / "whole.blp");
    const size_t at = c.format[3] == '2' ? 20 : 28;
    const uint32_t offset = uint32_t(blp[at]) | uint32_t(blp[at + 1]) << 8 | uint32_t(blp[at + 2]) << 16 | uint32_t(blp[at + 3]) << 24;
    const uint32_t size = uint32_t(blp[at + 64]) | uint32_t(blp[at + 65]) << 8 | uint32_t(blp[at + 66]) << 16 |
                          uint32_t(blp[at + 67]) << 24;
    if (c.flip) {
      for (size_t i = offset + size / 2; i < offset + size / 2 + 30; i += 3) blp[i] ^= 0x5A;  // inside level 0's scan
    } else {
      blp.resize(offset + (blp.size() - offset) / 3);
    }
    writeBytes(dir / "bad.blp", blp);
    RunResult r = runVellum({"decode", dir / "bad.blp"});
    EXPECT_EQ(r.exitCode, kBadInput);
    expectOneLineAbout(r, dir / "bad.blp");
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_FALSE(fileExists(dir / "bad.png"));
    RunResult salvaged = runVellum({"decode", "--salvage", "-q", dir / "bad.blp"});
    EXPECT_EQ(salvaged.exitCode, 0);
    EXPECT_NE(salvaged.err.find("warning: "), std::string::npos) << salvaged.err;
    EXPECT_TRUE(fileExists(dir / "bad.png"));
    RunResult info = runVellum({"info", "--verify", dir / "bad.blp"});
    EXPECT_EQ(info.exitCode, kBadInput);
    expectOneLineAbout(info, dir / "bad.blp");
    std::remove((dir / "bad.png").c_str());
  }
  EXPECT_FALSE(anyTemporary(dir.path));
}

TEST(CliBadInput, MissingFileAndFolderOperand) {
  ScratchDir dir;
  for (const char* command : {"encode", "decode", "info"}) {
    RunResult r = runVellum({command, dir / "nothing.png"});
    EXPECT_EQ(r.exitCode, kBadInput) << command;
    expectOneLineAbout(r, dir / "nothing.png");
    EXPECT_NE(r.err.find("No such file"), std::string::npos);
  }
  RunResult r = runVellum({"encode", dir.path});
  EXPECT_EQ(r.exitCode, kBadInput);
  expectOneLineAbout(r, dir.path);
  EXPECT_TRUE(filesIn(dir.path).empty());
}

TEST(CliBadInput, NotABlp) {
  ScratchDir dir;
  ASSERT_TRUE(writePngFile(dir / "image.blp", makeSource(InputKind::Rgb).png));  // a PNG named .blp
  RunResult r = runVellum({"decode", dir / "image.blp"});
  EXPECT_EQ(r.exitCode, kBadInput);
  expectOneLineAbout(r, dir / "image.blp");
  EXPECT_NE(r.err.find("not a BLP file"), std::string::npos);
  EXPECT_FALSE(fileExists(dir / "image.png"));
}

TEST(CliBadInput, PngOverThePixelLimit) {
  ScratchDir dir;
  ASSERT_TRUE(writePngFile(dir / "in.png", makeSource(InputKind::Rgb).png));  // 37 x 29 = 1073
  RunResult r = runVellum({"encode", "--max-pixels", "1000", dir / "in.png"});
  EXPECT_EQ(r.exitCode, kBadInput);
  expectOneLineAbout(r, dir / "in.png");
  EXPECT_NE(r.err.find("--max-pixels"), std::string::npos);
  EXPECT_FALSE(fileExists(dir / "in.blp"));
  EXPECT_FALSE(anyTemporary(dir.path));
  EXPECT_EQ(runVellum({"encode", "-q", "--max-pixels", "1073", dir / "in.png"}).exitCode, 0);
}

// A header that claims 32768 x 32768 JPEG pixels (4 GiB decoded) in a file of a few
// hundred bytes is refused by the default limit before anything is allocated.
TEST(CliBadInput, BlpClaimingAnEnormousSize) {
  ScratchDir dir;
  Bytes blp(400, 0);
  std::memcpy(blp.data(), "BLP1", 4);
  storeLe(blp, 8, 8);        // alphaBits
  storeLe(blp, 12, 32768);   // width
  storeLe(blp, 16, 32768);   // height
  storeLe(blp, 28, 160);     // level 0 offset
  storeLe(blp, 92, 240);     // level 0 size
  writeBytes(dir / "huge.blp", blp);
  RunResult r = runVellum({"decode", dir / "huge.blp"});
  EXPECT_EQ(r.exitCode, kBadInput);
  expectOneLineAbout(r, dir / "huge.blp");
  EXPECT_NE(r.err.find("over the limit"), std::string::npos) << r.err;
  EXPECT_FALSE(fileExists(dir / "huge.png"));
  EXPECT_FALSE(anyTemporary(dir.path));
  // info reads only the header and tables.
  RunResult info = runVellum({"info", dir / "huge.blp"});
  EXPECT_EQ(info.exitCode, 0) << info.err;
}

// BLP readers accept sides up to 32768: a larger side is refused rather than written into
// a file no reader opens; 32768 itself is saved.
TEST(CliBadInput, SideAboveTheReadersLimit) {
  struct Row {
    uint32_t width, height;
    bool saved;
  };
  for (const Row& row : {Row{32769, 1, false}, Row{1, 32769, false}, Row{32768, 1, true}}) {
    ScratchDir dir;
    PngImage png;
    png.width = row.width;
    png.height = row.height;
    png.colourType = 0;
    png.samples.assign(size_t(row.width) * row.height, 128);
    ASSERT_TRUE(writePngFile(dir / "side.png", png));
    RunResult r = runVellum({"encode", dir / "side.png"});
    EXPECT_EQ(fileExists(dir / "side.blp"), row.saved) << row.width << " x " << row.height;
    EXPECT_FALSE(anyTemporary(dir.path));
    if (row.saved) {
      EXPECT_EQ(r.exitCode, 0) << r.err;
      continue;
    }
    EXPECT_EQ(r.exitCode, kBadInput);
    expectOneLineAbout(r, dir / "side.png");
    EXPECT_NE(r.err.find("sides 1 to 32768"), std::string::npos) << r.err;
  }
}

TEST(CliCannotWrite, OutputFolderThatCannotBeMade) {
  ScratchDir dir;
  ASSERT_TRUE(writePngFile(dir / "in.png", makeSource(InputKind::Rgb).png));
  writeBytes(dir / "plain-file", Bytes{1});
  // A folder below a plain file cannot exist, for root as for anyone.
  RunResult r = runVellum({"encode", dir / "in.png", "-o", dir / "plain-file/out/"});
  EXPECT_EQ(r.exitCode, kCannotWrite);
  EXPECT_EQ(lineCount(withoutWarnings(r.err)), 1u) << r.err;
  EXPECT_NE(r.err.find("cannot create folder"), std::string::npos) << r.err;
  EXPECT_EQ(filesIn(dir.path).size(), 2u);
  // The folders of a single output file are created.
  RunResult r2 = runVellum({"encode", "-q", dir / "in.png", "-o", dir / "new/sub/out.blp"});
  EXPECT_EQ(r2.exitCode, 0) << r2.err;
  EXPECT_TRUE(fileExists(dir / "new/sub/out.blp"));
}

TEST(CliCannotWrite, ReadOnlyFolder) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  ScratchDir dir;
  ASSERT_TRUE(writePngFile(dir / "in.png", makeSource(InputKind::Rgb).png));
  mkdir((dir / "ro").c_str(), 0555);
  RunResult r = runVellum({"encode", dir / "in.png", "-o", dir / "ro/out.blp"});
  EXPECT_EQ(r.exitCode, kCannotWrite);
  expectOneLineAbout(r, dir / "ro/out.blp");
  EXPECT_TRUE(filesIn(dir / "ro").empty());
}

TEST(CliOverwrite, KeptWithoutForceReplacedWithForce) {
  ScratchDir dir;
  ASSERT_TRUE(writePngFile(dir / "in.png", makeSource(InputKind::Rgb).png));
  writeBytes(dir / "in.blp", Bytes{'o', 'l', 'd'});
  RunResult r = runVellum({"encode", dir / "in.png"});
  EXPECT_EQ(r.exitCode, kCannotWrite);
  expectOneLineAbout(r, dir / "in.blp");
  EXPECT_NE(r.err.find("--force"), std::string::npos);
  EXPECT_EQ(readBytes(dir / "in.blp"), (Bytes{'o', 'l', 'd'}));

  RunResult forced = runVellum({"encode", "--force", dir / "in.png"});
  EXPECT_EQ(forced.exitCode, 0) << forced.err;
  Bytes now = readBytes(dir / "in.blp");
  ASSERT_GT(now.size(), 4u);
  EXPECT_EQ(std::string(now.begin(), now.begin() + 4), "BLP1");
  EXPECT_EQ(filesIn(dir.path).size(), 2u);

  // The same rule for decode.
  writeBytes(dir / "in.png.bak", readBytes(dir / "in.png"));
  RunResult d = runVellum({"decode", dir / "in.blp"});
  EXPECT_EQ(d.exitCode, kCannotWrite);
  EXPECT_EQ(readBytes(dir / "in.png"), readBytes(dir / "in.png.bak"));
  EXPECT_EQ(runVellum({"decode", "-f", dir / "in.blp"}).exitCode, 0);
}

TEST(CliUsage, HelpVersionAndErrors) {
  RunResult help = runVellum({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("Usage: vellum"), std::string::npos);
  EXPECT_EQ(help.err, "");
  // Per command: exactly the options the command takes.
  RunResult encodeHelp = runVellum({"encode", "--help"});
  EXPECT_EQ(encodeHelp.exitCode, 0);
  EXPECT_EQ(runVellum({"help", "encode"}).out, encodeHelp.out);
  EXPECT_NE(encodeHelp.out.find("--dxt-fit"), std::string::npos);
  EXPECT_EQ(encodeHelp.out.find("--salvage"), std::string::npos);
  RunResult generateHelp = runVellum({"help", "generate"});
  EXPECT_EQ(generateHelp.out.find("--recursive"), std::string::npos) << generateHelp.out;
  for (const std::string& line : {encodeHelp.out, generateHelp.out, help.out})
    for (size_t at = 0, next; (next = line.find('\n', at)) != std::string::npos; at = next + 1)
      EXPECT_LE(next - at, 80u) << line.substr(at, next - at);
  RunResult version = runVellum({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("vellum ", 0), 0u);
  for (auto args : std::vector<std::vector<std::string>>{{}, {"paint"}, {"encode"}, {"decode", "--level"},
                                                          {"decode", "--level", "2", "--all-levels", "x.blp"},
                                                          {"info", "--format", "blp2-dxt", "x.blp"}}) {
    RunResult r = runVellum(args);
    EXPECT_EQ(r.exitCode, kUsage);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("vellum: ", 0), 0u);
  }
}

// Several files: the good ones are converted, each bad one is reported, the exit code is
// the largest of the failures.
TEST(CliBatch, MixedResults) {
  ScratchDir dir;
  ASSERT_TRUE(writePngFile(dir / "a.png", makeSource(InputKind::Rgb).png));
  writeBytes(dir / "b.png", Bytes{1, 2, 3});
  ASSERT_TRUE(writePngFile(dir / "c.png", makeSource(InputKind::Grey).png));
  writeBytes(dir / "c.blp", Bytes{9});
  RunResult r = runVellum({"encode", dir / "a.png", dir / "b.png", dir / "c.png"});
  EXPECT_EQ(r.exitCode, kCannotWrite);
  EXPECT_EQ(lineCount(withoutWarnings(r.err)), 2u) << r.err;
  EXPECT_NE(r.err.find("vellum: " + (dir / "b.png") + ": "), std::string::npos);
  EXPECT_NE(r.err.find("vellum: " + (dir / "c.blp") + ": "), std::string::npos);
  EXPECT_TRUE(fileExists(dir / "a.blp"));
  EXPECT_FALSE(fileExists(dir / "b.blp"));
  EXPECT_EQ(lineCount(r.out), 1u);  // the summary
  EXPECT_NE(r.out.find("1 of 3 files converted, 0 skipped, 2 failed"), std::string::npos) << r.out;
}

// SIGINT or SIGTERM during a conversion: the temporary file is removed and no output
// appears.
TEST(CliInterrupt, LeavesNoTemporaryFile) {
  ScratchDir dir;
  SourceImage big = makeSource(InputKind::Rgba, 1536, 1536);
  ASSERT_TRUE(writePngFile(dir / "big.png", big.png));
  for (int signalNumber : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signalNumber);
    pid_t pid = startVellum({"encode", "--format", "blp2-dxt", dir / "big.png", "-o", dir / "out/"});
    bool sawTemporary = false;
    for (int i = 0; i < 20000 && !sawTemporary; ++i) {
      sawTemporary = anyTemporary(dir / "out");
      if (!sawTemporary) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    kill(pid, signalNumber);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(sawTemporary);
    if (WIFSIGNALED(status)) {
      EXPECT_EQ(WTERMSIG(status), signalNumber);
      EXPECT_FALSE(fileExists(dir / "out/big.blp"));
    }
    // Finished before the signal arrived: the output is then complete (rare).
    EXPECT_FALSE(anyTemporary(dir / "out"));
    std::remove((dir / "out/big.blp").c_str());
  }
}

}  // namespace
}  // namespace vellum::clitest
