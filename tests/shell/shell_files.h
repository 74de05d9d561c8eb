// The files shell_reference (native) writes for the Explorer handler's host (Windows, under
// Wine), read and written by both:
//   <case>.blp                   a texture of one content type
//   <case>.<side>.thumb          its expected thumbnail: u32 width, u32 height, BGRA rows
//   <case>.props                 "width height bitDepth" then the compression text
//   damaged.txt                  "<file> <properties readable 0|1>" a line: files that give
//                                no thumbnail at any side
//   corpus.txt                   "<file> <properties status> <status>:<hash> x 3" a line:
//                                the fuzz corpus as the native build handles it (each
//                                file without its first byte, the fuzz entry's choice)
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vellum::shell_test {

// The sides asked for, as Explorer does for small, large and extra large icons.
constexpr uint32_t kSides[] = {32, 96, 256};

struct Thumb {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> bgra;  // top-down rows of width * 4 bytes
};

// FNV-1a over the size and the pixels: the corpus compares thumbnails by this.
inline uint64_t thumbHash(const Thumb& t) {
  uint64_t h = 1469598103934665603ull;
  auto mix = [&h](uint8_t b) { h = (h ^ b) * 1099511628211ull; };
  for (int i = 0; i < 4; ++i) mix(uint8_t(t.width >> (8 * i)));
  for (int i = 0; i < 4; ++i) mix(uint8_t(t.height >> (8 * i)));
  for (uint8_t b : t.bgra) mix(b);
  return h;
}

inline bool readBytes(const std::string& path, std::vector<uint8_t>* bytes) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  bytes->clear();
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes->insert(bytes->end(), buffer, buffer + n);
  std::fclose(f);
  return true;
}

inline bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

inline bool writeThumb(const std::string& path, const Thumb& t) {
  std::vector<uint8_t> bytes(8);
  for (int i = 0; i < 4; ++i) {
    bytes[i] = uint8_t(t.width >> (8 * i));
    bytes[4 + i] = uint8_t(t.height >> (8 * i));
  }
  bytes.insert(bytes.end(), t.bgra.begin(), t.bgra.end());
  return writeBytes(path, bytes);
}

inline bool readThumb(const std::string& path, Thumb* t) {
  std::vector<uint8_t> bytes;
  if (!readBytes(path, &bytes) || bytes.size() < 8) return false;
  t->width = t->height = 0;
  for (int i = 0; i < 4; ++i) {
    t->width |= uint32_t(bytes[i]) << (8 * i);
    t->height |= uint32_t(bytes[4 + i]) << (8 * i);
  }
  t->bgra.assign(bytes.begin() + 8, bytes.end());
  return uint64_t(t->width) * t->height * 4 == t->bgra.size();
}

}  // namespace vellum::shell_test
