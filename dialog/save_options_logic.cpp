#include "dialog/save_options_logic.h"

#include "core/blp_format.h"
#include "core/save_options.h"

namespace vellum {

namespace {

int32_t clampTo(int32_t v, int32_t low, int32_t high) { return v < low ? low : v > high ? high : v; }

}  // namespace

int32_t clampDraggedQuality(int32_t position) { return clampTo(position, kQualityMin, kQualityMax); }

int32_t stepQuality(int32_t current, int32_t direction) {
  int32_t q = current;
  if (direction < 0 && q > kQualityMin) --q;
  if (direction > 0 && q < kQualityMax) ++q;
  return clampTo(q, kQualityMin, kQualityMax);
}

void qualityText(int32_t quality, char text[4]) {
  const int32_t q = clampTo(quality, 0, 999);
  int n = 0;
  if (q >= 100) text[n++] = char('0' + q / 100);
  if (q >= 10) text[n++] = char('0' + q / 10 % 10);
  text[n++] = char('0' + q % 10);
  text[n] = '\0';
}

uint32_t correctedMipLevels(uint32_t value) {
  if (value == 0) return kMipLevelsMin;
  if (value > uint32_t(kMipLevelsMax)) return kMipLevelsMax;
  return 0;
}

uint32_t saveOptionsWordAtOk(int32_t quality, int32_t formatIndex, bool progressiveChecked, int32_t quantizerIndex,
                             int32_t mipLevels) {
  if (formatIndex < 0 || formatIndex >= kBlpContentTypeCount) formatIndex = 0;
  if (quantizerIndex < 0 || quantizerIndex >= kQuantizerKindCount) quantizerIndex = 0;
  SaveOptions options;
  options.jpegQuality = uint8_t(clampTo(quality, kQualityMin, kQualityMax));
  options.contentType = BlpContentType(formatIndex);
  options.progressive = progressiveChecked && isJpegContent(options.contentType);
  options.quantizer = QuantizerKind(quantizerIndex);
  options.maxMipLevels = uint8_t(clampTo(mipLevels, kMipLevelsMin, kMipLevelsMax));
  return packSaveOptions(options);
}

}  // namespace vellum
