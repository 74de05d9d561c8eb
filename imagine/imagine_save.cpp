// Saving an Imagine image as a BLP file. The plug-in copies the host's rows into one
// array as they are (indices, or blue, green, red, alpha), hands it to the shared writer
// with the image's palette and the four option values, and hands the finished file to the
// host's output block in one write.
//
// All memory comes from the host's memory service and stays with the host. The writer's
// output area starts at 8 bytes a pixel + 6144 and grows through the same service when a
// level needs more (JPEG streams of noise at high quality); the output block is created
// once the file's final length is known.
#include <algorithm>
#include <cstring>

#include "core/blp_writer.h"
#include "imagine/imagine_plugin.h"

namespace vellum {

namespace {

constexpr int32_t kOutputBlockFlags = 0x8000;

// The nine "Format" choices: content type and progressive flag.
struct FormatChoice {
  BlpContentType type;
  bool progressive;
};
constexpr FormatChoice kFormats[9] = {
    {BlpContentType::Blp1Jpeg, false},      {BlpContentType::Blp1Jpeg, true},
    {BlpContentType::Blp1Paletted, false},  {BlpContentType::Blp2Jpeg, false},
    {BlpContentType::Blp2Jpeg, true},       {BlpContentType::Blp2Paletted8, false},
    {BlpContentType::Blp2Dxt, false},       {BlpContentType::Blp2Paletted4, false},
    {BlpContentType::Blp2Paletted1, false},
};
constexpr int32_t kDefaultFormat = 1;  // "BLP1 JPEG progressive"

uint8_t* hostAllocate(const ImagineServiceTable& host, uint64_t bytes) {
  if (bytes == 0 || bytes > kImagineMaxAllocation) return nullptr;
  return static_cast<uint8_t*>(host.allocate(int32_t(bytes)));
}

// Copies the host's rows into `pixels` as the writer takes them: 8-bit rows as their
// index bytes, 24- and 32-bit rows as blue, green, red and a fourth byte (the pixel's own
// for 32 bits, 255 for 24). A row the host cannot give (null) is taken as zero bytes.
void collectRows(const ImagineServiceTable& host, ImagineImage image, uint32_t width, uint32_t height, int32_t bits,
                 uint8_t* pixels) {
  const uint64_t rowBytes = uint64_t(width) * (bits == 8 ? 1 : 4);
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* out = pixels + uint64_t(y) * rowBytes;
    const uint8_t* row = host.rowAddress(image, int32_t(y));
    if (row == nullptr) {
      std::memset(out, 0, size_t(rowBytes));
    } else if (bits != 24) {
      std::memcpy(out, row, size_t(rowBytes));
    } else {
      for (uint32_t x = 0; x < width; ++x, out += 4, row += 3) {
        std::memcpy(out, row, 3);
        out[3] = 255;
      }
    }
  }
}

int32_t fail(ImagineSaveRequest* request, int32_t code) {
  request->errorCode = code;
  return 0;
}

}  // namespace

SaveOptions imagineSaveOptions(const int32_t values[4]) {
  SaveOptions options;
  options.jpegQuality = uint8_t(std::clamp<int32_t>(values[0], 1, 100));
  const int32_t format = values[1] >= 0 && values[1] < 9 ? values[1] : kDefaultFormat;
  options.contentType = kFormats[format].type;
  options.progressive = kFormats[format].progressive;
  options.quantizer = values[2] >= 0 && values[2] < kQuantizerKindCount ? QuantizerKind(values[2])
                                                                        : QuantizerKind::MedianCut;
  options.maxMipLevels = uint8_t(std::clamp<int32_t>(values[3], 1, 16));
  return options;
}

bool growThroughHost(void* growContext, uint64_t minCapacity, BlpOutput* output) {
  const auto& host = *static_cast<const ImagineServiceTable*>(growContext);
  uint8_t* bigger = hostAllocate(host, minCapacity);
  if (bigger == nullptr) return false;
  std::memcpy(bigger, output->data, size_t(std::min(output->capacity, minCapacity)));
  output->data = bigger;
  output->capacity = minCapacity;
  return true;
}

int32_t saveBlpFromHost(const ImagineServiceTable& host, ImagineImage image, ImagineSaveRequest* request,
                        int32_t saveFlags) {
  const int32_t bits = host.bitsPerPixel(image);
  const int32_t alphaKind = host.alphaKind(image);
  if ((bits != 8 && bits != 24 && bits != 32) || (alphaKind != kImagineAlphaNone && alphaKind != kImagineAlphaBlend))
    return fail(request, kImagineColourNotSupported);
  if (saveFlags & kImagineSaveTestOnly) return 1;

  const int32_t height = host.height(image), width = host.width(image);
  // Sides above kBlpMaxSide would make a file no reader opens; sizes whose buffers this
  // build (or the host's 32-bit size arguments) cannot hold are short memory.
  if (width < 1 || height < 1) return fail(request, kImagineSizeNotSupported);
  const BlpStatus sizeStatus = checkSaveSize(uint32_t(width), uint32_t(height));
  if (sizeStatus == BlpStatus::BadDimensions) return fail(request, kImagineSizeNotSupported);
  if (sizeStatus != BlpStatus::Ok) return fail(request, kImagineOutOfMemory);
  const uint64_t count = uint64_t(width) * uint64_t(height);

  // Work memory: the palette, the pixel array (also the writer's working memory), then the
  // writer's output area.
  const uint64_t outputBytes = blpOutputCapacity(uint32_t(width), uint32_t(height));
  uint8_t* work = hostAllocate(host, kBlpPaletteBytes + 4 * count + outputBytes);
  if (work == nullptr) return fail(request, kImagineOutOfMemory);
  uint8_t* palette = work;
  uint8_t* pixels = work + kBlpPaletteBytes;

  const SaveOptions options = imagineSaveOptions(request->option);
  BlpSourceImage source;
  source.width = uint32_t(width);
  source.height = uint32_t(height);
  source.pixels = pixels;
  source.workPixels = pixels;
  source.hasAlpha = alphaKind == kImagineAlphaBlend && bits != 24;
  if (bits == 8) {
    // The image's palette, as the host gives it in the file's byte order (blue, green, red,
    // fourth byte), is the file's palette; with alpha the fourth bytes are the alpha.
    uint8_t hostPalette[kBlpPaletteBytes] = {};
    host.copyPalette(image, hostPalette);
    host.hostPaletteToBytes(hostPalette, palette, 256, 2);
    source.layout = BlpPixelLayout::Indices;
    source.palette = palette;
    source.paletteLayout = BlpPixelLayout::Bgra;
    source.paletteCount = 256;
  } else {
    source.layout = BlpPixelLayout::Bgra;
  }
  collectRows(host, image, uint32_t(width), uint32_t(height), bits, pixels);

  BlpOutput output;
  output.data = pixels + 4 * count;
  output.capacity = outputBytes;
  output.growContext = const_cast<ImagineServiceTable*>(&host);
  output.grow = growThroughHost;

  uint64_t fileLength = 0;
  const BlpStatus status = encodeBlpSource(source, options, &output, &fileLength);
  if (status == BlpStatus::OutOfMemory) return fail(request, kImagineOutOfMemory);
  if (status != BlpStatus::Ok || fileLength > kImagineMaxAllocation) return fail(request, kImagineSizeNotSupported);

  ImagineSmartBuffer* block = host.createOutputBlock(int32_t(fileLength), kOutputBlockFlags);
  request->output = block;
  if (block == nullptr) return fail(request, kImagineOutOfMemory);
  if (host.write(block, block->current, output.data, int32_t(fileLength)) == 0)
    request->errorCode = kImagineWriteError;
  return 1;
}

int32_t VELLUM_IMAGINE_CALL imagineSaveFile(const ImagineHostInterface* host, ImagineImage image,
                                            ImagineSaveRequest* request, int32_t saveFlags) {
  if (host == nullptr || host->iface == nullptr || host->iface->services == nullptr || request == nullptr)
    return 0;
  return saveBlpFromHost(*host->iface->services, image, request, saveFlags);
}

}  // namespace vellum
