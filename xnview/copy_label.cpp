#include "xnview/copy_label.h"

namespace vellum {

void copyLabel(char* destination, int32_t max, const char* text) {
  if (destination == nullptr || text == nullptr || max <= 0) return;
  for (int32_t i = 0; i < max; ++i) {
    destination[i] = text[i];
    if (text[i] == '\0') break;
  }
  destination[max - 1] = '\0';
}

}  // namespace vellum
