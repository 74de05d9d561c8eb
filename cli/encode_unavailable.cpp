// Stand-in for encode.cpp in trees whose core library has no writer yet.
#include "cli/commands.h"

namespace vellum::cli {

Outcome encodeFile(const Job& job, const Settings&) {
  return failure(kExitBadInput, job.input, "encoding is not available in this build");
}

}  // namespace vellum::cli
