#include "xnview/name_scan.h"

namespace vellum {

NameScanResult scanFileName(const char* name, NameScan* scan) {
  *scan = NameScan{};
  if (name == nullptr) return scan->result;

  bool terminated = false;
  for (int32_t i = 0; i < int32_t(kNameBufferSize); ++i) {
    const uint8_t c = uint8_t(name[i]);
    char stored = char(c);
    bool doubtful = false;
    if (c == 0) {
      scan->sanitised[i] = 0;
      scan->length = i;
      terminated = true;
      break;
    }
    if (c == '/' || c == '\\') {
      stored = '\\';
      scan->lastSeparator = i;
    } else if (c == '?') {
      // The '?' of a long-path prefix ("\\?\") is not a replaced character. Bytes after
      // position 1023 are never looked at.
      const bool prefixMark = i >= 2 && scan->sanitised[i - 1] == '\\' && scan->sanitised[i - 2] == '\\' &&
                              i + 1 < int32_t(kNameBufferSize) && (name[i + 1] == '\\' || name[i + 1] == '/');
      doubtful = !prefixMark;
    } else if (c == '*' || c == '<' || c == '>' || c == '|' || c >= 0x80) {
      stored = '?';
      doubtful = true;
    }
    scan->sanitised[i] = stored;
    if (doubtful && scan->firstBad < 0) scan->firstBad = i;
  }

  if (!terminated || scan->firstBad < 0 || scan->lastSeparator < 0 || scan->lastSeparator == scan->length - 1) {
    scan->result = NameScanResult::GiveUp;
  } else if (scan->firstBad > scan->lastSeparator) {
    scan->result = NameScanResult::SearchFileName;
  } else {
    scan->result = NameScanResult::DialogOnly;
  }
  return scan->result;
}

}  // namespace vellum
