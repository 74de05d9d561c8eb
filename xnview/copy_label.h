// Copying the plug-in's texts (format label, extension) into buffers that XnView owns.
#pragma once

#include <cstdint>

namespace vellum {

// Copies text, terminator included, but at most `max` characters, then sets
// destination[max - 1] to 0: a text longer than max - 1 characters is cut. Nothing is
// written when max is 0 or negative, or when destination or text is null.
void copyLabel(char* destination, int32_t max, const char* text);

}  // namespace vellum
