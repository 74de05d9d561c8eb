// The name scan of the XnView plug-in's file-name resolution, and the two path helpers the
// Windows side applies to its result (the directory of a name, a name put in place of the
// last component). A name is either terminated within its first 1024 bytes or handed over
// in a buffer of exactly 1024 bytes without a terminator; the scan must not look past it.
// The scan's copy must hold no byte that Windows refuses in a search pattern apart from
// '?', its positions must agree with it, and its verdict must follow from them.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/fuzz_entries.h"
#include "fuzz/fuzz_support.h"
#include "xnview/name_scan.h"

namespace vellum::fuzz {

namespace {

// A UTF-16 buffer of exactly `capacity` characters (an over-run is reported).
std::unique_ptr<char16_t[]> wideBuffer(size_t capacity) { return std::unique_ptr<char16_t[]>(new char16_t[capacity]); }

size_t wideLength(const char16_t* s, size_t capacity) {
  size_t n = 0;
  while (n < capacity && s[n] != 0) ++n;
  return n;
}

void checkScan(const NameScan& scan, const char* name, bool terminated) {
  if (!terminated) {
    FUZZ_REQUIRE(scan.result == NameScanResult::GiveUp);
    return;
  }
  const int32_t length = scan.length;
  FUZZ_REQUIRE(length >= 0 && length < int32_t(kNameBufferSize) && name[length] == 0 && scan.sanitised[length] == 0);
  int32_t lastSeparator = -1;
  for (int32_t i = 0; i < length; ++i) {
    const uint8_t in = uint8_t(name[i]), out = uint8_t(scan.sanitised[i]);
    FUZZ_REQUIRE(in != 0);
    if (in == '/' || in == '\\') {
      FUZZ_REQUIRE(out == '\\');
      lastSeparator = i;
    } else if (in == '*' || in == '<' || in == '>' || in == '|' || in >= 0x80) {
      FUZZ_REQUIRE(out == '?');
      FUZZ_REQUIRE(scan.firstBad >= 0 && scan.firstBad <= i);
    } else {
      FUZZ_REQUIRE(out == in);
    }
  }
  FUZZ_REQUIRE(scan.lastSeparator == lastSeparator);
  if (scan.firstBad >= 0) {
    FUZZ_REQUIRE(scan.firstBad < length && scan.sanitised[scan.firstBad] == '?');
    for (int32_t i = 0; i < scan.firstBad; ++i) {
      const uint8_t in = uint8_t(name[i]);
      FUZZ_REQUIRE(!(in == '*' || in == '<' || in == '>' || in == '|' || in >= 0x80));
    }
  }
  NameScanResult expected = NameScanResult::GiveUp;
  if (scan.firstBad >= 0 && lastSeparator >= 0 && lastSeparator != length - 1)
    expected = scan.firstBad > lastSeparator ? NameScanResult::SearchFileName : NameScanResult::DialogOnly;
  FUZZ_REQUIRE(scan.result == expected);
}

// The Windows side's steps on the sanitised name, with byte-to-character conversion
// standing in for the code page: the directory, then the found name in its place.
void checkPathHelpers(const NameScan& scan, const uint8_t* extra, size_t extraSize, size_t capacity) {
  auto path = wideBuffer(capacity);
  size_t n = 0;
  for (; n + 1 < capacity && n < kNameBufferSize && scan.sanitised[n] != 0; ++n) path[n] = char16_t(uint8_t(scan.sanitised[n]));
  path[n] = 0;

  auto directory = wideBuffer(capacity);
  directoryOf(path.get(), directory.get(), capacity);
  const size_t dirLength = wideLength(directory.get(), capacity);
  FUZZ_REQUIRE(dirLength < capacity);
  FUZZ_REQUIRE(std::memcmp(directory.get(), path.get(), dirLength * sizeof(char16_t)) == 0);
  FUZZ_REQUIRE(dirLength == 0 || directory[dirLength - 1] == u'\\');

  std::vector<char16_t> found(extraSize + 1, 0);
  for (size_t i = 0; i < extraSize; ++i) found[i] = extra[i] == 0 ? u'x' : char16_t(extra[i] | 0x100);
  replaceFileName(path.get(), capacity, found.data());
  const size_t replaced = wideLength(path.get(), capacity);
  FUZZ_REQUIRE(replaced < capacity);
  // The directory part stays; what follows is the found name, cut to the capacity.
  size_t cut = 0;
  for (size_t i = 0; i < n; ++i)
    if (scan.sanitised[i] == '\\') cut = i + 1;
  FUZZ_REQUIRE(replaced == std::min(cut + extraSize, capacity - 1));
  for (size_t i = cut; i < replaced; ++i) FUZZ_REQUIRE(path[i] == found[i - cut]);
}

}  // namespace

int nameScanEntry(const uint8_t* data, size_t size) {
  ControlBytes control{data, size};
  const uint8_t mode = control.byte();
  const bool terminated = (mode & 1) == 0;
  // A terminated name ends at its first zero byte (or after what the input holds); an
  // unterminated one fills exactly kNameBufferSize bytes with no zero among them.
  std::unique_ptr<char[]> name;
  size_t bytes = 0;
  if (terminated) {
    bytes = std::min<size_t>(control.size, 2 * kNameBufferSize) + 1;
    name.reset(new char[bytes]);
    std::memcpy(name.get(), control.data, bytes - 1);
    name[bytes - 1] = 0;
  } else {
    bytes = kNameBufferSize;
    name.reset(new char[bytes]);
    for (size_t i = 0; i < bytes; ++i) {
      const uint8_t c = i < control.size ? control.data[i] : uint8_t('a' + i % 26);
      name[i] = char(c == 0 ? '_' : c);
    }
  }
  const bool fits = terminated && std::memchr(name.get(), 0, std::min<size_t>(bytes, kNameBufferSize)) != nullptr;

  NameScan scan;
  const NameScanResult result = scanFileName(name.get(), &scan);
  FUZZ_REQUIRE(result == scan.result);
  checkScan(scan, name.get(), fits);

  const size_t capacity = 1 + (mode >> 1) % 64 * 17;  // 1 to 1072 characters
  const size_t nameEnd = std::min<size_t>(control.size, 64);
  checkPathHelpers(scan, control.data, nameEnd, capacity);
  return 0;
}

}  // namespace vellum::fuzz
