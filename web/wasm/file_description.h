// A BLP file's description for the page, as JSON: the fields and level table of
// `vellum info --json` (without "file"), each level with its state and the layout it
// decodes to, and the file's alpha bits, level counts and layout.
#pragma once

#include <string>

#include "vellum/vellum.h"

namespace vellum::web {

std::string describeFile(const vellum_file* file);

}  // namespace vellum::web
