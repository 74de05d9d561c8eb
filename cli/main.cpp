// vellum: BLP texture files from the command line.
#include "cli/commands.h"
#include "cli/output_file.h"
#include "cli/settings.h"

int main(int argc, char** argv) {
  using namespace vellum::cli;
  Settings settings;
  int rc = parseCommandLine(argc, argv, &settings);
  if (rc < 0) return kExitOk;  // --help or --version
  if (rc != kExitOk) return rc;
  installInterruptCleanup();
  switch (settings.command) {
    case Command::Info: return runInfo(settings);
    case Command::Decode:
    case Command::Encode: return runBatch(settings);
    case Command::Generate: return runGenerate(settings);
    case Command::Compare: return runCompare(settings);
    case Command::None: break;
  }
  return kExitUsage;
}
