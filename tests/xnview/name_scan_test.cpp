// The name scan of openBlpFile and the UTF-16 path helpers, natively.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "xnview/copy_label.h"
#include "xnview/name_scan.h"

using namespace vellum;

namespace {

NameScan scan(const std::string& name) {
  NameScan s;
  scanFileName(name.c_str(), &s);
  return s;
}

TEST(CopyLabel, CutsToMaxAndTerminates) {
  char label[16];
  std::memset(label, 'x', sizeof label);
  copyLabel(label, 10, "BLP Blizzard Picture format");
  EXPECT_STREQ(label, "BLP Blizz");
  EXPECT_EQ(label[10], 'x');  // nothing beyond max

  std::memset(label, 'x', sizeof label);
  copyLabel(label, 4, "blp");  // exactly fits
  EXPECT_STREQ(label, "blp");
  copyLabel(label, 1, "blp");
  EXPECT_STREQ(label, "");
}

TEST(CopyLabel, WritesNothingForZeroNegativeOrNull) {
  char label[4] = {'a', 'b', 'c', 'd'};
  copyLabel(label, 0, "blp");
  copyLabel(label, -5, "blp");
  copyLabel(label, 4, nullptr);
  EXPECT_EQ(std::string(label, 4), "abcd");
  copyLabel(nullptr, 10, "blp");  // no crash
}

TEST(NameScan, DoubtInFileNameSearchesTheDirectory) {
  NameScan s = scan("Images\\Caf?.blp");
  EXPECT_EQ(s.result, NameScanResult::SearchFileName);
  EXPECT_EQ(s.firstBad, 10);
  EXPECT_EQ(s.lastSeparator, 6);
  EXPECT_STREQ(s.sanitised, "Images\\Caf?.blp");
}

TEST(NameScan, DoubtInDirectoryGivesDialogOnly) {
  EXPECT_EQ(scan("Old?\\x.blp").result, NameScanResult::DialogOnly);
  EXPECT_EQ(scan("C:/A\xC3\xA9/b/x.blp").result, NameScanResult::DialogOnly);
}

TEST(NameScan, PlainNamesNoSeparatorOrSeparatorLastGiveUp) {
  EXPECT_EQ(scan("Images\\missing.blp").result, NameScanResult::GiveUp);
  EXPECT_EQ(scan("x?.blp").result, NameScanResult::GiveUp);
  EXPECT_EQ(scan("Images\\").result, NameScanResult::GiveUp);
  EXPECT_EQ(scan("Im?ges\\").result, NameScanResult::GiveUp);
  EXPECT_EQ(scan("").result, NameScanResult::GiveUp);
  NameScan s;
  EXPECT_EQ(scanFileName(nullptr, &s), NameScanResult::GiveUp);
}

TEST(NameScan, SeparatorsAndDoubtfulBytesAreRewritten) {
  NameScan s = scan("a/b\\c*<>|\x80\xFF.blp");
  EXPECT_STREQ(s.sanitised, "a\\b\\c??????.blp");
  EXPECT_EQ(s.lastSeparator, 3);
  EXPECT_EQ(s.firstBad, 5);
  EXPECT_EQ(s.length, 15);
  EXPECT_EQ(s.result, NameScanResult::SearchFileName);
}

TEST(NameScan, LongPathPrefixIsNotDoubtful) {
  EXPECT_EQ(scan("\\\\?\\C:\\dir\\x.blp").result, NameScanResult::GiveUp);
  EXPECT_EQ(scan("//?/C:/dir/x.blp").result, NameScanResult::GiveUp);
  NameScan s = scan("\\\\?\\C:\\dir\\Caf?.blp");
  EXPECT_EQ(s.result, NameScanResult::SearchFileName);
  EXPECT_EQ(s.firstBad, 14);
  // Not a prefix: a '?' after two backslashes but not followed by one.
  EXPECT_EQ(scan("\\\\?x\\y.blp").result, NameScanResult::DialogOnly);
  // A '?' after only one backslash counts.
  EXPECT_EQ(scan("a\\?\\y.blp").result, NameScanResult::DialogOnly);
}

TEST(NameScan, NamesWithoutTerminatorInFirst1024BytesGiveUp) {
  std::string name = "dir\\" + std::string(1030, 'a');
  name[20] = '?';
  EXPECT_EQ(scan(name).result, NameScanResult::GiveUp);
  std::string fits = "dir\\" + std::string(1019, 'a');  // 1023 characters and terminator
  fits[20] = '?';
  NameScan s = scan(fits);
  EXPECT_EQ(s.result, NameScanResult::SearchFileName);
  EXPECT_EQ(s.length, 1023);
  // A '?' at position 1023 never looks past the scanned window.
  std::string edge = std::string(1021, 'a') + "\\\\";
  edge += "?";
  edge += std::string(10, '\\');
  EXPECT_EQ(scan(edge).result, NameScanResult::GiveUp);
}

TEST(PathHelpers, ReplaceFileNameAfterLastBackslash) {
  char16_t path[32] = u"C:\\Images\\Caf?.blp";
  replaceFileName(path, 32, u"Caf\u00E9.blp");
  EXPECT_EQ(std::u16string(path), u"C:\\Images\\Caf\u00E9.blp");
  char16_t bare[16] = u"x?.blp";
  replaceFileName(bare, 16, u"xy.blp");
  EXPECT_EQ(std::u16string(bare), u"xy.blp");
}

TEST(PathHelpers, ReplaceFileNameCutsAtCapacity) {
  char16_t path[12] = u"C:\\d\\a?";
  replaceFileName(path, 12, u"abcdefghijkl");
  EXPECT_EQ(std::u16string(path), u"C:\\d\\abcdef");  // 11 characters and terminator
}

TEST(PathHelpers, DirectoryOfKeepsTheSeparator) {
  char16_t dir[32];
  directoryOf(u"C:\\Images\\Caf?.blp", dir, 32);
  EXPECT_EQ(std::u16string(dir), u"C:\\Images\\");
  directoryOf(u"nothing", dir, 32);
  EXPECT_EQ(std::u16string(dir), u"");
  directoryOf(u"a\\b\\c\\d", dir, 4);  // cut at capacity, then after the last separator seen
  EXPECT_EQ(std::u16string(dir), u"a\\");
}

}  // namespace
