// Replays the inputs that once made a fuzz target fail (tests/regression/<target>/<file>)
// and the fuzz targets' seed corpora, through the fuzz entries themselves. An entry ends
// the process when one of its checks fails, and the sanitizer trees stop at any memory
// fault, so a test that returns has passed every check of its entry.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "fuzz/fuzz_entries.h"

namespace vellum::fuzz {
// Test names and messages show a target by its name.
void PrintTo(const FuzzEntry& entry, std::ostream* out) { *out << entry.name; }
}  // namespace vellum::fuzz

namespace {

namespace fs = std::filesystem;
using vellum::fuzz::FuzzEntry;
using vellum::fuzz::kFuzzEntries;

const char* const kRegressionFiles[] = {
#include "regression_files.inc"
    nullptr};

std::vector<uint8_t> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const FuzzEntry* entryNamed(const std::string& name) {
  for (const FuzzEntry& entry : kFuzzEntries)
    if (name == entry.name) return &entry;
  return nullptr;
}

void replay(const FuzzEntry& entry, const fs::path& path) {
  SCOPED_TRACE(path.string());
  ASSERT_TRUE(fs::is_regular_file(path));
  std::vector<uint8_t> bytes = readFile(path);
  // An exact-size copy, as libFuzzer hands inputs over: a read past the end is a fault.
  std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)]);
  if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
  EXPECT_EQ(entry.run(copy.get(), bytes.size()), 0);
}

// ---- Inputs that once failed: one test each ----

class Replay : public ::testing::TestWithParam<const char*> {};

TEST_P(Replay, Input) {
  const std::string relative = GetParam();
  const std::string target = relative.substr(0, relative.find('/'));
  const FuzzEntry* entry = entryNamed(target);
  ASSERT_NE(entry, nullptr) << "no fuzz target named " << target << " for " << relative;
  replay(*entry, fs::path(VELLUM_REGRESSION_DIR) / relative);
}

std::vector<const char*> regressionFiles() {
  std::vector<const char*> files;
  for (const char* const* f = kRegressionFiles; *f != nullptr; ++f) files.push_back(*f);
  return files;
}

std::string testName(const ::testing::TestParamInfo<const char*>& info) {
  std::string name = info.param;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Replay);
INSTANTIATE_TEST_SUITE_P(Regression, Replay, ::testing::ValuesIn(regressionFiles()), testName);

// Every regression file belongs to a target.
TEST(RegressionFolders, NameTheirTargets) {
  for (const char* relative : regressionFiles()) {
    const std::string r = relative;
    EXPECT_NE(entryNamed(r.substr(0, r.find('/'))), nullptr) << r;
  }
}

// ---- The seed corpora: one test per target ----

class Seeds : public ::testing::TestWithParam<FuzzEntry> {};

TEST_P(Seeds, ReplayWithoutFault) {
  const FuzzEntry& entry = GetParam();
  const fs::path folder = fs::path(VELLUM_FUZZ_CORPUS_DIR) / entry.name;
  ASSERT_TRUE(fs::is_directory(folder)) << folder;
  std::vector<fs::path> files;
  for (const auto& item : fs::directory_iterator(folder)) files.push_back(item.path());
  EXPECT_GE(files.size(), 5u) << "a target's seeds cover several layouts";
  for (const fs::path& file : files) replay(entry, file);
}

INSTANTIATE_TEST_SUITE_P(Corpus, Seeds, ::testing::ValuesIn(kFuzzEntries),
                         [](const ::testing::TestParamInfo<FuzzEntry>& info) { return std::string(info.param.name); });

}  // namespace
