// The save choices, and the 32-bit word in which they travel from the Save Options dialog
// (and the command line's --options) to the writer:
//   bits 0-7 jpegQuality, 8-11 contentType, 12 progressive, 16-23 quantizer (readers use
//   16-19), 24-31 maxMipLevels.
#pragma once

#include <cstdint>

#include "core/blp_format.h"

namespace vellum {

enum class QuantizerKind : uint8_t {
  NeuQuant100 = 0,
  NeuQuant128 = 1,
  Dl3Fast = 2,
  Dl3Slow = 3,
  MedianCut = 4,
};
constexpr int kQuantizerKindCount = 5;

// The quantization list texts: "NeuQuant 100", ..., "Mediancut".
const char* quantizerLabel(QuantizerKind kind);

struct SaveOptions {
  BlpContentType contentType = BlpContentType::Blp1Jpeg;
  QuantizerKind quantizer = QuantizerKind::NeuQuant100;
  uint8_t jpegQuality = 100;   // 1..100
  bool progressive = false;    // only meaningful for the JPEG types
  uint8_t maxMipLevels = 16;   // 1..16
};

constexpr uint32_t kDefaultSaveOptionsWord = 0x10000064;

uint32_t packSaveOptions(const SaveOptions& options);

// Unpacks a word as the writer reads it: the quantizer from bits 16-19 (a value above 4
// selects median cut, as the writer's dispatch does), the content type from bits 8-11
// (a value above 6 is refused by isValidSaveOptionsWord), quality and level count as stored.
SaveOptions unpackSaveOptions(uint32_t word);

// True when every field of the word lies in its range (content type 0..6, quality 1..100,
// levels 1..16, quantizer 0..4).
bool isValidSaveOptionsWord(uint32_t word);

}  // namespace vellum
