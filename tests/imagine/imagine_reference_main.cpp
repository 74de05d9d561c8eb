// imagine_reference --list: the names of every host check, for the Windows trees' CTest.
// imagine_reference DIR: writes the expected results of the byte-identity checks, computed
// by this (native) build of the core, for the emulator that runs VellumIm.plg under Wine:
//   save_<case>.blp        the file the core writes for a save case
//   load_<case>.blp        the file of a load case
//   load_<case>.expected   the pixels the core's reader delivers for it, in host form
#include <cstdio>
#include <filesystem>
#include <string>

#include "imagine/host_checks.h"
#include "imagine/imagine_reference.h"

namespace {

bool writeFile(const std::string& path, const vellum::testing::ByteVector& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vellum::testing;
  if (argc == 2 && std::string(argv[1]) == "--list") {
    for (const HostCheck& check : hostChecks()) std::printf("%s\n", check.name.c_str());
    return 0;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: imagine_reference --list | DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  int failures = 0;
  for (const SaveCase& c : saveCases()) {
    ByteVector file;
    if (!referenceSave(c, &file) || !writeFile(dir + "/save_" + c.name + ".blp", file)) {
      std::fprintf(stderr, "save case %s failed\n", c.name.c_str());
      ++failures;
    }
  }
  for (const std::string& name : loadCaseNames()) {
    ByteVector file;
    ExpectedImage expected;
    if (!referenceLoad(name, &file, &expected) || !writeFile(dir + "/load_" + name + ".blp", file) ||
        !writeFile(dir + "/load_" + name + ".expected", serializeExpected(expected))) {
      std::fprintf(stderr, "load case %s failed\n", name.c_str());
      ++failures;
    }
  }
  std::printf("imagine_reference: %d failures\n", failures);
  return failures ? 1 : 0;
}
