// The name scan of openBlpFile: XnView passes file names in the ANSI code page, and a
// character that the code page cannot hold arrives as '?', so the name does not open.
// The scan turns every doubtful character into a one-character wildcard and tells the
// Windows side what to try next: a wildcard search in the directory (doubt in the file
// name), the Open or Save dialog without an initial directory (doubt in a directory
// name), or nothing (a plain name that simply failed to open).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellum {

constexpr uint32_t kNameBufferSize = 1024;

enum class NameScanResult : uint8_t {
  GiveUp,          // no doubtful character, no separator, a name ending in a separator,
                   // or no terminator within the first 1024 bytes
  SearchFileName,  // doubt after the last separator: search the directory, then dialog
  DialogOnly,      // doubt in a directory name: dialog, no search, no initial directory
};

struct NameScan {
  char sanitised[kNameBufferSize] = {};  // separators as '\', doubtful bytes as '?'
  int32_t firstBad = -1;                 // position of the first doubtful byte
  int32_t lastSeparator = -1;            // position of the last '\' or '/'
  int32_t length = 0;                    // position of the terminator
  NameScanResult result = NameScanResult::GiveUp;
};

// Scans a name (null is refused) into scan; returns scan->result.
NameScanResult scanFileName(const char* name, NameScan* scan);

// Replaces everything after the last backslash of `path` (a terminated string in a
// buffer of `capacity` characters) by `name`; the result is cut to capacity - 1
// characters and always terminated. Works on UTF-16 names (wchar_t on Windows,
// char16_t in the native tests).
template <typename Char>
void replaceFileName(Char* path, size_t capacity, const Char* name) {
  if (path == nullptr || name == nullptr || capacity == 0) return;
  size_t end = 0, cut = 0;
  while (end < capacity && path[end] != 0) {
    if (path[end] == Char('\\')) cut = end + 1;
    ++end;
  }
  size_t out = cut;
  for (size_t i = 0; name[i] != 0 && out + 1 < capacity; ++i) path[out++] = name[i];
  path[out < capacity ? out : capacity - 1] = 0;
}

// Cuts a copy of `path` right after its last backslash (the directory with its
// separator); an empty string when there is none.
template <typename Char>
void directoryOf(const Char* path, Char* directory, size_t capacity) {
  if (directory == nullptr || capacity == 0) return;
  directory[0] = 0;
  if (path == nullptr) return;
  size_t cut = 0, i = 0;
  for (; i + 1 < capacity && path[i] != 0; ++i) {
    directory[i] = path[i];
    if (path[i] == Char('\\')) cut = i + 1;
  }
  directory[cut] = 0;
}

}  // namespace vellum
