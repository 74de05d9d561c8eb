#include "photoshop/ps_write.h"

#include <algorithm>
#include <cstring>

#include "jpeg/jpeg_encoder.h"

namespace vellum {

namespace {

constexpr uint64_t kMaxHandleBytes = 0x7FFFFFFF;  // handle sizes and maxData are int32

int32_t clampToInt32(uint64_t v) { return v > kMaxHandleBytes ? int32_t(kMaxHandleBytes) : int32_t(v); }

void setEntry(uint8_t* palette, uint32_t i, uint8_t b, uint8_t g, uint8_t r, uint8_t a) {
  palette[4 * i + 0] = b;
  palette[4 * i + 1] = g;
  palette[4 * i + 2] = r;
  palette[4 * i + 3] = a;
}

}  // namespace

int32_t estimateMinBytes(uint32_t rows, uint32_t columns) { return clampToInt32(uint64_t(rows) * columns + 1024); }

int32_t estimateMaxBytes(uint32_t rows, uint32_t columns) { return clampToInt32(uint64_t(rows) * columns * 8); }

uint64_t fileImageOffset(uint32_t rows, uint32_t columns, uint32_t saveOptions) {
  uint64_t offset = uint64_t(rows) * columns * 4;
  if (isJpegContent(unpackSaveOptions(saveOptions).contentType))
    offset += sizeof(JpegEncodeContext) + jpegEncodeCoefficientBytes(columns, rows);
  return offset;
}

int16_t writeBufferBytes(uint32_t rows, uint32_t columns, uint32_t saveOptions, uint64_t* bytes) {
  *bytes = 0;
  if (checkSaveSize(columns, rows) != BlpStatus::Ok) return ps::kMemFullErr;
  const uint64_t s = fileImageOffset(rows, columns, saveOptions) + 8 * uint64_t(rows) * columns + 8192;
  if (s > kMaxHandleBytes) return ps::kMemFullErr;
  *bytes = s;
  return ps::kNoErr;
}

WriteLayout writeLayout(int16_t imageMode, int16_t planes) {
  WriteLayout layout;
  const uint32_t most = imageMode == ps::kModeRGBColor ? 4 : imageMode == ps::kModeBitmap ? 1 : 2;
  const uint32_t least = imageMode == ps::kModeRGBColor ? 3 : 1;
  layout.planes = std::min<uint32_t>(std::max<int32_t>(planes, int32_t(least)), most);
  layout.hasAlpha = imageMode == ps::kModeRGBColor ? layout.planes == 4 : layout.planes == 2;
  layout.colBytes = imageMode == ps::kModeRGBColor ? 4 : int16_t(layout.planes);
  return layout;
}

uint64_t hostDataOffset(int16_t imageMode, uint32_t rows, uint32_t columns) {
  return imageMode == ps::kModeRGBColor ? 0 : uint64_t(rows) * columns * 4;
}

BlpSourceImage hostImageSource(const HostImage& image, uint8_t palette[1024], uint8_t* work) {
  BlpSourceImage source;
  source.width = image.columns;
  source.height = image.rows;
  source.pixels = image.data;
  source.workPixels = work;
  source.hasAlpha = image.layout.hasAlpha;
  switch (image.imageMode) {
    case ps::kModeBitmap: {
      // One bit a pixel, most significant first; a row every `columns` bytes. Set is black,
      // entry 0. Each row is unpacked in place into index bytes, from its last pixel back, so
      // that every bit is read before its byte is overwritten.
      setEntry(palette, 0, 0, 0, 0, 255);
      setEntry(palette, 1, 255, 255, 255, 255);
      for (uint32_t y = 0; y < image.rows; ++y) {
        uint8_t* row = image.data + uint64_t(y) * image.columns;
        for (uint32_t x = image.columns; x-- > 0;) row[x] = (row[x / 8] >> (7 - x % 8)) & 1 ? 0 : 1;
      }
      source.layout = BlpPixelLayout::Indices;
      source.palette = palette;
      source.paletteCount = 2;  // the other entries are written as zero bytes
      return source;
    }
    case ps::kModeGrayScale:
      for (uint32_t i = 0; i < 256; ++i) setEntry(palette, i, uint8_t(i), uint8_t(i), uint8_t(i), 255);
      break;
    case ps::kModeIndexedColor:
      for (uint32_t i = 0; i < 256; ++i) setEntry(palette, i, image.redLUT[i], image.greenLUT[i], image.blueLUT[i], 255);
      if (image.layout.planes == 1 && image.lutCount < 256 && image.transparentIndex >= 1 &&
          image.transparentIndex <= 255)
        setEntry(palette, uint32_t(image.transparentIndex), 0, 0, 0, 0);
      break;
    default:  // RGB: red, green, blue and a fourth byte (alpha, or whatever the host left)
      source.layout = BlpPixelLayout::Rgba;
      return source;
  }
  // Grayscale and Indexed Color: one index byte a pixel, or index and alpha.
  source.layout = image.layout.colBytes == 2 ? BlpPixelLayout::IndicesAlpha : BlpPixelLayout::Indices;
  source.palette = palette;
  source.paletteCount = 256;
  return source;
}

bool growFileImage(void* context, uint64_t minCapacity, BlpOutput* output) {
  auto* store = static_cast<FileImageStore*>(context);
  if (store == nullptr || store->handles == nullptr || minCapacity > kMaxHandleBytes) return false;
  ps::PSHandleSuite2* suite = store->handles;
  ps::Handle grown = suite->New(int32_t(minCapacity));
  if (grown == nullptr) return false;
  ps::Ptr address = nullptr;
  ps::Boolean oldLock = 0;
  suite->SetLock(grown, 1, &address, &oldLock);
  if (address == nullptr) {
    suite->Dispose(grown);
    return false;
  }
  std::memcpy(address, output->data, size_t(std::min(output->capacity, minCapacity)));
  if (*store->handle != nullptr) {
    ps::Ptr previous = reinterpret_cast<ps::Ptr>(output->data);
    suite->SetLock(*store->handle, 0, &previous, &oldLock);
    suite->Dispose(*store->handle);
  }
  *store->handle = grown;
  output->data = reinterpret_cast<uint8_t*>(address);
  output->capacity = minCapacity;
  return true;
}

int16_t encodeHostImage(const BlpSourceImage& source, uint32_t saveOptions, BlpOutput* output, uint64_t* fileLength) {
  *fileLength = 0;
  const SaveOptions options = unpackSaveOptions(saveOptions);
  if (uint32_t(options.contentType) >= kBlpContentTypeCount) return ps::kFormatCannotRead;
  const BlpStatus status = encodeBlpSource(source, options, output, fileLength);
  switch (status) {
    case BlpStatus::Ok:
      return ps::kNoErr;
    case BlpStatus::BadArgument:
      return ps::kFormatCannotRead;
    default:  // no memory, or sizes no buffer of this build can hold
      return ps::kMemFullErr;
  }
}

int16_t writeFileImage(const PsPlatform& platform, intptr_t file, const uint8_t* bytes, uint64_t length) {
  if (!platform.seek(platform.context, file, 0)) return ps::kWritErr;
  if (length > 0xFFFFFFFFu) return ps::kReadErr;
  const int64_t done = platform.write(platform.context, file, bytes, uint32_t(length));
  if (done != int64_t(length)) return ps::kReadErr;
  return platform.setEnd(platform.context, file) ? ps::kNoErr : ps::kReadErr;
}

}  // namespace vellum
