#include "core/save_options.h"

namespace vellum {

const char* quantizerLabel(QuantizerKind kind) {
  switch (kind) {
    case QuantizerKind::NeuQuant100: return "NeuQuant 100";
    case QuantizerKind::NeuQuant128: return "NeuQuant 128";
    case QuantizerKind::Dl3Fast: return "Dennis Lee3 fast";
    case QuantizerKind::Dl3Slow: return "Dennis Lee3 slow";
    case QuantizerKind::MedianCut: return "Mediancut";
  }
  return "";
}

uint32_t packSaveOptions(const SaveOptions& options) {
  return uint32_t(options.jpegQuality) | (uint32_t(options.contentType) & 0x0F) << 8 |
         uint32_t(options.progressive ? 1 : 0) << 12 | uint32_t(options.quantizer) << 16 |
         uint32_t(options.maxMipLevels) << 24;
}

SaveOptions unpackSaveOptions(uint32_t word) {
  SaveOptions options;
  options.jpegQuality = uint8_t(word & 0xFF);
  options.contentType = BlpContentType((word >> 8) & 0x0F);
  options.progressive = (word >> 12) & 1;
  options.quantizer = QuantizerKind((word >> 16) & 0x0F);
  options.maxMipLevels = uint8_t(word >> 24);
  return options;
}

bool isValidSaveOptionsWord(uint32_t word) {
  SaveOptions o = unpackSaveOptions(word);
  return uint32_t(o.contentType) < kBlpContentTypeCount && o.jpegQuality >= 1 && o.jpegQuality <= 100 &&
         o.maxMipLevels >= 1 && o.maxMipLevels <= 16 && ((word >> 16) & 0xFF) < kQuantizerKindCount;
}

}  // namespace vellum
