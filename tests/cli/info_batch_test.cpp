// info (text and JSON) against the bytes of the file, and batches: folders walked with -r,
// outputs mirrored below -o DIR, and -j 2 writing the same bytes as -j 1.
#include <gtest/gtest.h>

#include <sstream>

#include "cli_harness.h"
#include "mini_json.h"
#include "test_images.h"

namespace vellum::clitest {
namespace {

const char* const kFormats[] = {"blp1-jpeg", "blp1-paletted", "blp2-jpeg", "blp2-paletted8",
                                "blp2-dxt", "blp2-paletted4", "blp2-paletted1"};

TEST(CliInfo, JsonCarriesTheHeaderAndTheMipmapTable) {
  ScratchDir dir;
  ASSERT_TRUE(writePngFile(dir / "in.png", makeSource(InputKind::Rgba).png));
  const char* content[] = {"JPEG", "paletted", "JPEG", "paletted", "DXT5", "paletted", "paletted"};
  const int alphaDepth[] = {8, 8, 8, 8, 8, 4, 1};
  for (int t = 0; t < 7; ++t) {
    SCOPED_TRACE(kFormats[t]);
    ASSERT_EQ(runVellum({"encode", "-q", "-f", "--format", kFormats[t], "--mips", "4", dir / "in.png"}).exitCode, 0);
    Bytes file = readBytes(dir / "in.blp");
    RunResult r = runVellum({"info", "--json", dir / "in.blp"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(lineCount(r.out), 1u);
    Json j;
    ASSERT_TRUE(JsonParser(r.out).parse(&j)) << r.out;
    EXPECT_EQ(j["file"].text, dir / "in.blp");
    EXPECT_EQ(j["signature"].text, t < 2 ? "BLP1" : "BLP2");
    EXPECT_EQ(j["content"].text, content[t]);
    EXPECT_EQ(j["width"].number, 37);
    EXPECT_EQ(j["height"].number, 29);
    EXPECT_EQ(j["alphaDepth"].number, alphaDepth[t]);
    EXPECT_EQ(j["fileSize"].number, double(file.size()));
    EXPECT_EQ(j["bitsPerPixel"].number, 32);
    const bool blp2 = t >= 2;
    const size_t offsets = blp2 ? 20 : 28, sizes = blp2 ? 84 : 92, headerSize = blp2 ? 148 : 156;
    EXPECT_EQ(j.has("jpegHeaderSize"), t == 0 || t == 2);
    if (j.has("jpegHeaderSize")) {
      EXPECT_EQ(j["jpegHeaderSize"].number, loadLe(file, headerSize));
    }
    // Four stored levels, then entries 4 and 5 repeating level 3 down to 1 x 1.
    const Json& levels = j["levels"];
    ASSERT_EQ(levels.kind, Json::Array);
    ASSERT_EQ(levels.items.size(), 6u);
    for (size_t k = 0; k < 6; ++k) {
      const Json& level = levels.items[k];
      EXPECT_EQ(level["level"].number, k);
      EXPECT_EQ(level["width"].number, std::max(1u, 37u >> k));
      EXPECT_EQ(level["height"].number, std::max(1u, 29u >> k));
      EXPECT_EQ(level["offset"].number, loadLe(file, offsets + 4 * k));
      EXPECT_EQ(level["size"].number, loadLe(file, sizes + 4 * k));
      EXPECT_EQ(level.has("repeats"), k >= 4);
    }
    EXPECT_EQ(loadLe(file, offsets + 24), 0u);
  }
}

TEST(CliInfo, TextAndSeveralFiles) {
  ScratchDir dir;
  ASSERT_TRUE(writePngFile(dir / "a.png", makeSource(InputKind::Grey).png));
  ASSERT_TRUE(writePngFile(dir / "b.png", makeSource(InputKind::Rgb).png));
  ASSERT_EQ(runVellum({"encode", "-q", "--format", "blp1-paletted", dir / "a.png"}).exitCode, 0);
  ASSERT_EQ(runVellum({"encode", "-q", "--format", "blp2-dxt", dir / "b.png"}).exitCode, 0);
  RunResult text = runVellum({"info", dir / "a.blp", dir / "b.blp"});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  EXPECT_NE(text.out.find(dir / "a.blp" + ": BLP1 paletted, 37 x 29, alpha depth 0"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("decodes as 8-bit indices with a palette"), std::string::npos);
  EXPECT_NE(text.out.find(dir / "b.blp" + ": BLP2 DXT1, 37 x 29, alpha depth 0"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("decodes as 24-bit RGB"), std::string::npos);

  RunResult json = runVellum({"info", "--json", dir / "a.blp", dir / "missing.blp", dir / "b.blp"});
  EXPECT_EQ(json.exitCode, 1);
  EXPECT_EQ(lineCount(withoutWarnings(json.err)), 1u);
  std::istringstream lines(json.out);
  std::string line;
  std::vector<std::string> contents;
  while (std::getline(lines, line)) {
    Json j;
    ASSERT_TRUE(JsonParser(line).parse(&j)) << line;
    contents.push_back(j["content"].text);
  }
  EXPECT_EQ(contents, (std::vector<std::string>{"paletted", "DXT1"}));
}

TEST(CliInfo, NamesWithQuotesAreEscaped) {
  ScratchDir dir;
  ASSERT_TRUE(writePngFile(dir / "we\"ird\\.png", makeSource(InputKind::Grey).png));
  ASSERT_EQ(runVellum({"encode", "-q", dir / "we\"ird\\.png"}).exitCode, 0);
  RunResult r = runVellum({"info", "--json", dir / "we\"ird\\.blp"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  Json j;
  ASSERT_TRUE(JsonParser(r.out).parse(&j)) << r.out;
  EXPECT_EQ(j["file"].text, dir / "we\"ird\\.blp");
}

// A tree of inputs of every kind, converted with one worker and with two.
void makeTree(const ScratchDir& dir) {
  mkdir((dir / "src").c_str(), 0777);
  mkdir((dir / "src/sub").c_str(), 0777);
  const InputKind kinds[] = {InputKind::Grey, InputKind::GreyAlpha, InputKind::Paletted, InputKind::PalettedTrns,
                             InputKind::Rgb,  InputKind::Rgba,      InputKind::Grey16Alpha, InputKind::Rgb16};
  int n = 0;
  for (InputKind k : kinds) {
    std::string name = (n % 2 ? "src/sub/" : "src/") + std::string(kindName(k)) + ".png";
    ASSERT_TRUE(writePngFile(dir / name, makeSource(k, 64 + 8 * n, 48 + 4 * n).png));
    ++n;
  }
  writeBytes(dir / "src/readme.txt", Bytes{'x'});  // not a PNG: skipped by the walk
}

TEST(CliBatch, TwoWorkersWriteTheSameBytesAsOne) {
  ScratchDir dir;
  makeTree(dir);
  for (const char* format : {"blp1-paletted", "blp2-dxt", "blp2-jpeg", "blp2-paletted4"}) {
    SCOPED_TRACE(format);
    const std::string one = dir / (std::string("one-") + format), two = dir / (std::string("two-") + format);
    RunResult a = runVellum({"encode", "-q", "-r", "-j", "1", "--format", format, dir / "src", "-o", one});
    RunResult b = runVellum({"encode", "-q", "-r", "-j2", "--format", format, dir / "src", "-o", two});
    ASSERT_EQ(a.exitCode, 0) << a.err;
    ASSERT_EQ(b.exitCode, 0) << b.err;
    std::vector<std::string> names = filesIn(one), names2 = filesIn(two);
    std::sort(names.begin(), names.end());
    std::sort(names2.begin(), names2.end());
    ASSERT_EQ(names.size(), 8u);
    EXPECT_EQ(names, names2);
    EXPECT_NE(std::find(names.begin(), names.end(), "sub/GreyAlpha.blp"), names.end());
    for (const std::string& name : names) EXPECT_EQ(readBytes(one + "/" + name), readBytes(two + "/" + name)) << name;

    // And back: decode the tree both ways.
    RunResult c = runVellum({"decode", "-q", "-r", "-j", "1", one, "-o", one + "-png"});
    RunResult d = runVellum({"decode", "-q", "-r", "-j", "2", one, "-o", two + "-png"});
    ASSERT_EQ(c.exitCode, 0) << c.err;
    ASSERT_EQ(d.exitCode, 0) << d.err;
    for (const std::string& name : filesIn(one + "-png"))
      EXPECT_EQ(readBytes(one + "-png/" + name), readBytes(two + "-png/" + name)) << name;
    EXPECT_EQ(filesIn(one + "-png").size(), 8u);
  }
}

TEST(CliBatch, SummaryLineAndOutputCollisions) {
  ScratchDir dir;
  mkdir((dir / "a").c_str(), 0777);
  mkdir((dir / "b").c_str(), 0777);
  ASSERT_TRUE(writePngFile(dir / "a/x.png", makeSource(InputKind::Rgb).png));
  ASSERT_TRUE(writePngFile(dir / "b/x.png", makeSource(InputKind::Grey).png));
  RunResult r = runVellum({"encode", dir / "a/x.png", dir / "b/x.png", "-o", dir / "out"});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(lineCount(withoutWarnings(r.err)), 1u) << r.err;
  EXPECT_NE(r.err.find("also the output of an earlier input"), std::string::npos) << r.err;
  EXPECT_EQ(lineCount(r.out), 1u);
  EXPECT_EQ(r.out.rfind("encode: 1 of 2 files converted, 0 skipped, 1 failed, 1 file written", 0), 0u) << r.out;
  EXPECT_EQ(filesIn(dir / "out"), std::vector<std::string>{"x.blp"});
  // Not a terminal: no progress line.
  EXPECT_EQ(r.err.find('\r'), std::string::npos);
}

}  // namespace
}  // namespace vellum::clitest
