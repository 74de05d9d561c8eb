// The images and files of the byte-identity checks, shared by the native reference (which
// computes the expected results with the core) and the checks that run the plug-in
// (natively and as VellumIm.plg under Wine).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vellum::testing {

using ByteVector = std::vector<uint8_t>;

// One save: a host image of `bits` bits and alpha kind, and the four option values.
struct SaveCase {
  std::string name;
  uint32_t width, height;
  int32_t bits;       // 8, 24 or 32
  int32_t alphaKind;  // 0 or 3
  int32_t options[4]; // "Quality jpg", "Format", "To paletted", "Max mipmaps"
  uint32_t seed;
  bool noise;         // every byte random (the worst case for JPEG)
};

std::vector<SaveCase> saveCases();
const SaveCase* findSaveCase(const std::string& name);

// An image as the host keeps it: rows from the top, blue, green, red (, alpha) or
// indices, the palette as red, green, blue, flags entries.
struct HostPixels {
  uint32_t width = 0, height = 0;
  int32_t bits = 0;
  ByteVector rows;       // width * bits / 8 bytes a row, no padding
  uint8_t palette[1024] = {};
};
HostPixels makeHostPixels(const SaveCase& c);

// Names of the load cases (files the reference builds).
std::vector<std::string> loadCaseNames();

// What the plug-in must produce for a load case, in host form.
struct ExpectedImage {
  uint32_t width = 0, height = 0;
  int32_t bits = 0;           // 8 or 32
  bool compareAlpha = true;   // false: the fourth byte is not compared (JPEG without alpha)
  ByteVector pixels;          // rows from the top: indices, or blue, green, red, alpha
  uint8_t paletteRgb[768] = {};
};

ByteVector serializeExpected(const ExpectedImage& e);
bool parseExpected(const ByteVector& bytes, ExpectedImage* e);

// Appends by resizing and copying (GCC 12 mistakes vector::insert after a sized
// constructor for an overflow).
void appendBytes(ByteVector& to, const ByteVector& from);

// A small deterministic generator (xorshift32).
struct Random {
  uint32_t state;
  explicit Random(uint32_t seed) : state(seed ? seed : 0x9E3779B9u) {}
  uint32_t next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
  uint8_t byte() { return uint8_t(next() >> 24); }
};

}  // namespace vellum::testing
