#include "core/blp_reader.h"

#include <cstring>
#include <new>

namespace vellum {

std::unique_ptr<uint8_t[]> allocateBytes(uint64_t size) {
  if (size == 0 || size > uint64_t(SIZE_MAX) / 2) return nullptr;
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size_t(size)]);
}

BlpStatus blpReaderOpen(BlpReader* reader, BlpSource source) {
  blpReaderClose(reader);
  reader->mode = BlpDecodeMode::None;
  bool refused = false;
  const int32_t code = blpFileOpen(&reader->file, source, readerPolicy(), &refused);
  return refused ? BlpStatus(code) : BlpStatus::Ok;
}

namespace {

const char* labelOf(const BlpLevelFormat& f) {
  switch (f.content) {
    case BlpContent::Paletted: return "BLP paletted";
    case BlpContent::Dxt:
      return f.dxtVariant == DxtVariant::Dxt3 ? "BLP DXT3" : f.dxtVariant == DxtVariant::Dxt5 ? "BLP DXT5" : "BLP DXT1";
    case BlpContent::Raw: return "BLP uncompressed";
    case BlpContent::Jpeg: return "BLP JPEG";
    default: return "";
  }
}

BlpDecodeMode modeOf(const BlpLevelFormat& f) {
  switch (f.content) {
    case BlpContent::Paletted:
      return f.layout == BlpPixelLayout::Indices ? BlpDecodeMode::Indexed : BlpDecodeMode::IndexedAlpha;
    case BlpContent::Dxt: return BlpDecodeMode::Dxt;
    case BlpContent::Raw: return BlpDecodeMode::Raw;
    case BlpContent::Jpeg: return BlpDecodeMode::Jpeg;
    default: return BlpDecodeMode::None;
  }
}

}  // namespace

BlpStatus blpReaderDescribe(BlpReader* reader, BlpInfo* info) {
  if (reader->mode != BlpDecodeMode::None || reader->file.source.read == nullptr) return BlpStatus::BadArgument;
  reader->file.policy.maxPixels = reader->maxPixels;
  BlpLevelFormat format;
  bool refused = false;
  const int32_t code = blpDescribeLevel(reader->file, reader->mipLevel, &format, &refused);
  if (refused) return BlpStatus(code);
  BlpStatus status = blpLevelDecoderOpen(&reader->decoder, reader->file, format);
  if (status == BlpStatus::Ok) status = blpLevelPrepareRows(&reader->decoder);
  if (status != BlpStatus::Ok) {
    blpLevelDecoderClose(&reader->decoder);
    return status;
  }
  reader->mode = modeOf(format);
  // Paletted levels with alpha come as colours: the host takes 32-bit rows.
  reader->rowLayout = format.layout == BlpPixelLayout::IndicesAlpha ? BlpPixelLayout::Rgba : format.layout;
  info->width = format.width;
  info->height = format.height;
  info->bytesPerPixel = blpLayoutBytes(reader->rowLayout);
  info->bitsPerPixel = 8 * info->bytesPerPixel;
  info->bytesPerRow = uint64_t(info->bytesPerPixel) * format.width;
  info->hasPalette = reader->mode == BlpDecodeMode::Indexed;
  info->mode = reader->mode;
  info->label = labelOf(format);
  return BlpStatus::Ok;
}

void blpReaderReadRow(BlpReader* reader, uint32_t y, uint8_t* destination) {
  if (reader->mode == BlpDecodeMode::None) return;
  blpLevelRows(&reader->decoder, y, 1, reader->rowLayout, destination, 0);
}

bool blpReaderPalette(const BlpReader* reader, uint8_t rgb[256][3]) {
  if (reader->mode == BlpDecodeMode::None || !reader->file.hasPalette) return false;
  for (int i = 0; i < 256; ++i) std::memcpy(rgb[i], reader->file.palette + 4 * i, 3);
  return true;
}

void blpReaderClose(BlpReader* reader) {
  blpLevelDecoderClose(&reader->decoder);
  blpFileClose(&reader->file);
  reader->mode = BlpDecodeMode::None;
}

}  // namespace vellum
