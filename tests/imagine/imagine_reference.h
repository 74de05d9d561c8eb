// Expected results computed with the native core: the file the writer builds for a save
// case, and for a load case the file together with the pixels the core's reader delivers
// (turned into the host's form). The checks compare the plug-in's results with these.
#pragma once

#include <string>

#include "imagine/imagine_cases.h"

namespace vellum::testing {

// The bytes of the BLP file the core writes for the case's pixels and options.
bool referenceSave(const SaveCase& c, ByteVector* file);

// The file of a load case and what the core's reader makes of it.
bool referenceLoad(const std::string& name, ByteVector* file, ExpectedImage* expected);

}  // namespace vellum::testing
