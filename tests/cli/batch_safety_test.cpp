// Incremental batches, the checks on options and outputs made before anything is read,
// and the safety of replacing files: links, modes, temporary files of killed runs.
#include <gtest/gtest.h>
#include <utime.h>

#include "cli_harness.h"
#include "test_images.h"

namespace vellum::clitest {
namespace {

void touchAt(const std::string& path, time_t when) {
  utimbuf times{when, when};
  utime(path.c_str(), &times);
}

// 50 files, converted; 5 change: --newer converts those 5, --skip-existing none; a new
// file is converted by both.
TEST(CliIncremental, NewerAndSkipExistingOnFiftyFiles) {
  ScratchDir dir;
  mkdir((dir / "src").c_str(), 0777);
  const Bytes png = [&] {
    writePngFile(dir / "seed.png", makeSource(InputKind::Rgb, 16, 16).png);
    return readBytes(dir / "seed.png");
  }();
  for (int i = 0; i < 50; ++i) {
    writeBytes(dir / ("src/" + std::to_string(i) + ".png"), png);
    touchAt(dir / ("src/" + std::to_string(i) + ".png"), 1000000);
  }
  RunResult first = runVellum({"encode", "-r", "--format", "blp2-dxt", dir / "src", "-o", dir / "out/"});
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(first.out.rfind("encode: 50 of 50 files converted, 0 skipped, 0 failed", 0), 0u) << first.out;
  // Without either option a rerun fails on every existing output.
  EXPECT_EQ(runVellum({"encode", "-q", "-r", dir / "src", "-o", dir / "out/"}).exitCode, 3);
  // Outputs of an older run; five inputs changed after it.
  for (int i = 0; i < 50; ++i) touchAt(dir / ("out/" + std::to_string(i) + ".blp"), 2000000);
  for (int i = 0; i < 50; i += 10) touchAt(dir / ("src/" + std::to_string(i) + ".png"), 3000000);
  struct Case {
    const char* option;
    const char* summary;
  };
  for (const Case& c : {Case{"--dry-run", "5 of 50 files would be converted, 45 skipped"},
                        Case{"--skip-existing", "0 of 50 files converted, 50 skipped, 0 failed"},
                        Case{"--newer", "5 of 50 files converted, 45 skipped, 0 failed"},
                        Case{"--newer", "0 of 50 files converted, 50 skipped, 0 failed"}}) {
    std::vector<std::string> args = {"encode", "-r", c.option, "--format", "blp2-dxt", dir / "src", "-o", dir / "out/"};
    if (std::string(c.option) == "--dry-run") args.push_back("--newer");
    RunResult r = runVellum(args);
    EXPECT_EQ(r.exitCode, 0) << c.option << r.err;
    EXPECT_NE(r.out.find(c.summary), std::string::npos) << c.option << "\n" << r.out;
  }
  EXPECT_EQ(filesIn(dir / "out").size(), 50u);
}

// Numbers are decimal; options the format ignores are named; outputs that are inputs, that
// have the wrong extension or that should be folders are refused before anything is read.
TEST(CliChecks, OptionsAndOutputsRefusedUpFront) {
  ScratchDir dir;
  ASSERT_TRUE(writePngFile(dir / "a.png", makeSource(InputKind::Rgb, 16, 16).png));
  ASSERT_TRUE(writePngFile(dir / "b.png", makeSource(InputKind::Rgb, 16, 16).png));
  EXPECT_EQ(symlink((dir / "a.png").c_str(), (dir / "link.blp").c_str()), 0);
  const Bytes original = readBytes(dir / "a.png");
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* message;
  };
  const Case cases[] = {
      {{"encode", "--quality", "0x50", "a.png"}, 2, "'0x50' for --quality"},
      {{"encode", "--mips", "8k", "a.png"}, 2, "invalid level count"},
      {{"encode", "-f", "a.png", "-o", "a.png"}, 2, "a.png: encode writes BLP files"},
      {{"encode", "-f", "a.png", "-o", "link.blp"}, 2, "link.blp: is an input of this command"},
      {{"decode", "--to", "dds", "a.blp", "-o", "a.png"}, 2, "--to dds writes DDS files"},
      {{"encode", "a.png", "b.png", "-o", "out.blp"}, 2, "several inputs need an output folder"},
      {{"generate", "g.blp"}, 2, "generate writes a PNG file"},
      {{"generate", "-r", "g.png"}, 2, "invalid option -- 'r' for generate"},
      {{"compare", "--min-psnr", "3e1", "a.png", "b.png"}, 2, "invalid PSNR"},
  };
  for (const Case& c : cases) {
    RunResult r = runVellum(c.args, dir.path);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args[1] << " " << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  EXPECT_EQ(readBytes(dir / "a.png"), original);
  EXPECT_FALSE(fileExists(dir / "out.blp"));
  // 010 is ten, as 10 is.
  ASSERT_EQ(runVellum({"encode", "-q", "--quality", "010", "a.png", "-o", "q1.blp"}, dir.path).exitCode, 0);
  ASSERT_EQ(runVellum({"encode", "-q", "--quality", "10", "a.png", "-o", "q2.blp"}, dir.path).exitCode, 0);
  EXPECT_EQ(readBytes(dir / "q1.blp"), readBytes(dir / "q2.blp"));
  RunResult ignored = runVellum({"encode", "-q", "--format", "blp2-dxt", "--quality", "5", "--quantizer", "dl3-fast",
                                 "a.png", "-o", "d.blp"},
                                dir.path);
  EXPECT_EQ(ignored.exitCode, 0);
  EXPECT_NE(ignored.err.find("warning: blp2-dxt ignores --quality, --quantizer"), std::string::npos) << ignored.err;
}

// -f writes through a link to its target and keeps the target's mode; a temporary file of
// a process that is gone is removed, one of a running process is kept.
TEST(CliSafety, LinksModesAndStaleTemporaries) {
  ScratchDir dir;
  ASSERT_TRUE(writePngFile(dir / "a.png", makeSource(InputKind::Rgb, 16, 16).png));
  mkdir((dir / "real").c_str(), 0777);
  writeBytes(dir / "real/t.blp", Bytes{'o', 'l', 'd'});
  chmod((dir / "real/t.blp").c_str(), 0640);
  ASSERT_EQ(symlink("real/t.blp", (dir / "t.blp").c_str()), 0);
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  const std::string staleName = dir / ("real/.t.blp.vellum-" + std::to_string(gone) + "-abcdef");
  const std::string liveName = dir / ("real/.t.blp.vellum-" + std::to_string(getppid()) + "-ghijkl");
  writeBytes(staleName, Bytes{1});
  writeBytes(liveName, Bytes{2});

  ASSERT_EQ(runVellum({"encode", "-q", "-f", dir / "a.png", "-o", dir / "t.blp"}).exitCode, 0);
  struct stat link, target;
  ASSERT_EQ(lstat((dir / "t.blp").c_str(), &link), 0);
  EXPECT_TRUE(S_ISLNK(link.st_mode));
  ASSERT_EQ(stat((dir / "real/t.blp").c_str(), &target), 0);
  EXPECT_EQ(target.st_mode & 07777, 0640u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(readBytes(dir / "real/t.blp").data()), 4), "BLP1");
  EXPECT_FALSE(fileExists(staleName));
  EXPECT_TRUE(fileExists(liveName));
}

TEST(CliReports, CompareAndInfoJson) {
  ScratchDir dir;
  ASSERT_TRUE(writePngFile(dir / "a.png", makeSource(InputKind::Rgba, 32, 32).png));
  ASSERT_EQ(runVellum({"encode", "-q", "--format", "blp2-dxt", dir / "a.png"}).exitCode, 0);
  RunResult json = runVellum({"compare", "--json", "--level", "1", dir / "a.blp", dir / "a.blp"});
  EXPECT_EQ(json.exitCode, 0);
  EXPECT_NE(json.out.find("\"level\":1,\"width\":16,\"height\":16,\"psnrColour\":null"), std::string::npos) << json.out;
  RunResult low = runVellum({"compare", "--min-psnr", "99", dir / "a.png", dir / "a.blp"});
  EXPECT_EQ(low.exitCode, 1);
  EXPECT_NE(low.err.find(dir / "a.blp" + ": PSNR below 99.00 dB"), std::string::npos) << low.err;
  // A level cut off by the end of the file: the damage report in the JSON line.
  Bytes blp = readBytes(dir / "a.blp");
  blp.resize(loadLe(blp, 20) + 100);
  writeBytes(dir / "cut.blp", blp);
  RunResult info = runVellum({"info", "--json", dir / "cut.blp"});
  EXPECT_NE(info.out.find("\"damage\":[{\"level\":0,\"error\":true,\"message\":\"runs past the end of the file\"}"),
            std::string::npos)
      << info.out;
  ASSERT_TRUE(writePngFile(dir / "odd.png", makeSource(InputKind::Rgb, 24, 16).png));
  RunResult odd = runVellum({"encode", "-q", dir / "odd.png"});
  EXPECT_NE(odd.err.find(dir / "odd.png" + ": warning: sides of 24 x 16 are not powers of two"), std::string::npos);
  // The warning names the file it is about.
  EXPECT_NE(runVellum({"info", dir / "odd.blp"}).err.find(dir / "odd.blp" + ": warning: sides of 24 x 16"),
            std::string::npos);
}

}  // namespace
}  // namespace vellum::clitest
