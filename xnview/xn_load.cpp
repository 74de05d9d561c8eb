#include "xnview/xn_load.h"

#include "xnview/copy_label.h"

namespace vellum {

namespace {

void put(int32_t* out, int64_t value) {
  if (out != nullptr) *out = int32_t(value);
}

}  // namespace

BlpStatus xnLoadOpen(XnLoadContext* context, BlpSource source) {
  context->described = false;
  context->info = BlpInfo{};
  return blpReaderOpen(&context->reader, source);
}

int32_t xnLoadGetInfo(XnLoadContext* context, int32_t* pictureType, int32_t* width, int32_t* height,
                      int32_t* dpi, int32_t* bitsPerPixel, int32_t* bytesPerLine, int32_t* hasColormap,
                      char* label, int32_t labelMax) {
  if (context == nullptr) return 0;
  const BlpHeader& h = context->reader.file.header;
  put(width, h.width);
  put(height, h.height);
  put(dpi, kXnDpi);
  put(hasColormap, 0);
  put(pictureType, kXnRgbOrder);
  // Describe runs once per file; asking again reports the same description.
  if (!context->described) {
    BlpInfo described;
    if (blpReaderDescribe(&context->reader, &described) != BlpStatus::Ok) return 0;
    context->info = described;
    context->described = true;
  }
  const BlpInfo& info = context->info;
  // Sides are at most 32768 and rows at most 4 bytes a pixel: bytesPerLine fits an INT.
  copyLabel(label, labelMax, info.label);
  put(bitsPerPixel, info.bitsPerPixel);
  put(hasColormap, info.mode == BlpDecodeMode::Indexed ? 1 : 0);
  put(bytesPerLine, int64_t(info.bytesPerRow));
  put(pictureType, kXnRgbOrder);
  return 1;
}

int32_t xnLoadGetLine(XnLoadContext* context, int32_t line, uint8_t* buffer) {
  if (context == nullptr || buffer == nullptr || !context->described) return 0;
  if (line < 0 || uint32_t(line) >= context->info.height) return 0;
  blpReaderReadRow(&context->reader, uint32_t(line), buffer);
  return 1;
}

int32_t xnLoadGetColormap(const XnLoadContext* context, uint8_t* colormap) {
  if (context == nullptr || colormap == nullptr) return 0;
  uint8_t rgb[256][3];
  if (!blpReaderPalette(&context->reader, rgb)) return 0;
  for (int i = 0; i < 256; ++i) {
    colormap[i] = rgb[i][0];
    colormap[256 + i] = rgb[i][1];
    colormap[512 + i] = rgb[i][2];
  }
  return 1;
}

void xnLoadClose(XnLoadContext* context) {
  blpReaderClose(&context->reader);
  context->described = false;
}

}  // namespace vellum
