// ps_reference DIRECTORY: writes what the Wine emulator of the Photoshop host compares the
// real Vellum32.8BI against, computed natively by the core without the plug-in:
//   <name>.blp     each file to open         <name>.planes  the planes the host must get
//   <name>.saved   the file each save case must write
#include <cstdio>
#include <string>

#include "photoshop/ps_reference.h"

//
// ps_reference --list open|save: the names of the cases (one CTest test each).
int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--list") {
    const std::string family = argv[2];
    if (family == "open") {
      for (const pshost::OpenCase& c : pshost::openCases()) std::printf("%s\n", c.name);
    } else if (family == "save") {
      for (const pshost::SaveCase& c : pshost::saveCases()) std::printf("%s\n", c.name.c_str());
    } else {
      return 2;
    }
    return 0;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY | --list open|save\n", argv[0]);
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  int failures = 0;
  for (const pshost::OpenCase& c : pshost::openCases()) {
    const psref::Bytes file = psref::openCaseFile(c.name);
    pshost::ExpectedOpen expected;
    if (file.empty() || !psref::expectedOpen(file, psref::expectedLevel(file, c.preview), &expected) ||
        !pshost::writeBytes(dir + c.name + ".blp", file) ||
        !pshost::writeBytes(dir + c.name + ".planes", pshost::serializeExpectedOpen(expected))) {
      std::fprintf(stderr, "ps_reference: open case %s failed\n", c.name);
      ++failures;
    }
  }
  for (const pshost::SaveCase& c : pshost::saveCases()) {
    psref::Bytes saved;
    if (!psref::expectedSave(c, &saved) || !pshost::writeBytes(dir + c.name + ".saved", saved)) {
      std::fprintf(stderr, "ps_reference: save case %s failed\n", c.name.c_str());
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}
