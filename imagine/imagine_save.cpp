// Saving an Imagine image as a BLP file. The plug-in copies the host's rows into one
// array of 32-bit pixels in the writer's working order, runs the shared writer with the
// four option values, and hands the finished file to the host's output block in one write.
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

// Copies the host's rows into `pixels` in source order: true-colour rows become red,
// green, blue, alpha; 8-bit rows become their palette entries (`entries`: four bytes an
// entry) with the first and third byte exchanged when `exchangeEntry` is set. The fourth
// byte is 255 unless the output keeps alpha. A row the host cannot give (null) is taken
// as zero bytes.
void collectPixels(const ImagineServiceTable& host, ImagineImage image, uint32_t width, uint32_t height,
                   int32_t bits, const uint8_t* entries, bool exchangeEntry, bool keepAlpha, uint8_t* pixels) {
  uint8_t* out = pixels;
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* row = host.rowAddress(image, int32_t(y));
    if (row == nullptr) {
      std::memset(out, 0, size_t(uint64_t(width) * 4));
      out += uint64_t(width) * 4;
      continue;
    }
    for (uint32_t x = 0; x < width; ++x, out += 4) {
      if (bits == 8) {
        const uint8_t* e = entries + 4 * row[x];
        out[0] = exchangeEntry ? e[2] : e[0];
        out[1] = e[1];
        out[2] = exchangeEntry ? e[0] : e[2];
        out[3] = keepAlpha ? e[3] : 255;
      } else {
        const uint32_t step = uint32_t(bits) / 8;
        const uint8_t* p = row + uint64_t(x) * step;  // blue, green, red (, alpha)
        out[0] = p[2];
        out[1] = p[1];
        out[2] = p[0];
        out[3] = bits == 32 && keepAlpha ? p[3] : 255;
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
  // Sides above 65535 cannot be described by the 16 mipmap table entries; sizes whose
  // buffers this build (or the host's 32-bit size arguments) cannot hold are short memory.
  if (width < 1 || height < 1) return fail(request, kImagineSizeNotSupported);
  const BlpStatus sizeStatus = checkSaveSize(uint32_t(width), uint32_t(height));
  if (sizeStatus == BlpStatus::BadDimensions) return fail(request, kImagineSizeNotSupported);
  if (sizeStatus != BlpStatus::Ok) return fail(request, kImagineOutOfMemory);
  const uint64_t count = uint64_t(width) * uint64_t(height);

  // Work memory: the palette, the pixel array, then the writer's output area.
  const uint64_t outputBytes = blpOutputCapacity(uint32_t(width), uint32_t(height));
  uint8_t* work = hostAllocate(host, kBlpPaletteBytes + 4 * count + outputBytes);
  if (work == nullptr) return fail(request, kImagineOutOfMemory);
  uint8_t* palette = work;
  uint8_t* pixels = work + kBlpPaletteBytes;

  const SaveOptions options = imagineSaveOptions(request->option);
  const bool dxt = options.contentType == BlpContentType::Blp2Dxt;
  const bool indexed = bits == 8;
  const uint8_t alphaDepth = outputAlphaDepth(options.contentType, alphaKind == kImagineAlphaBlend && bits != 24);

  if (indexed && !dxt) {
    // The image's palette becomes the file's palette (blue, green, red, fourth byte).
    uint8_t hostPalette[kBlpPaletteBytes] = {};
    host.copyPalette(image, hostPalette);
    host.hostPaletteToBytes(hostPalette, palette, 256, 2);
    collectPixels(host, image, uint32_t(width), uint32_t(height), bits, palette, false, alphaDepth != 0, pixels);
  } else if (indexed) {
    // DXT takes the host's palette as it keeps it; the exchange here and the working-order
    // exchange below cancel out, handing the host's entry bytes to the compressor unchanged.
    std::memset(palette, 0, kBlpPaletteBytes);
    host.copyPalette(image, palette);
    collectPixels(host, image, uint32_t(width), uint32_t(height), bits, palette, true, alphaDepth != 0, pixels);
  } else {
    std::memset(palette, 0, kBlpPaletteBytes);
    collectPixels(host, image, uint32_t(width), uint32_t(height), bits, nullptr, false, alphaDepth != 0, pixels);
  }
  if (needsRedBlueSwap(options.contentType, indexed)) swapRedBlue(pixels, count);

  SaveImage save;
  save.width = uint32_t(width);
  save.height = uint32_t(height);
  save.trueColour = !indexed;
  save.alphaDepth = alphaDepth;
  save.palette = palette;
  save.paletteCount = 256;
  save.pixels = pixels;
  save.output.data = pixels + 4 * count;
  save.output.capacity = outputBytes;
  save.output.growContext = const_cast<ImagineServiceTable*>(&host);
  save.output.grow = growThroughHost;

  uint64_t fileLength = 0;
  const BlpStatus status = buildBlpImage(&save, options, &fileLength);
  if (status == BlpStatus::OutOfMemory) return fail(request, kImagineOutOfMemory);
  if (status != BlpStatus::Ok || fileLength > kImagineMaxAllocation) return fail(request, kImagineSizeNotSupported);

  ImagineSmartBuffer* block = host.createOutputBlock(int32_t(fileLength), kOutputBlockFlags);
  request->output = block;
  if (block == nullptr) return fail(request, kImagineOutOfMemory);
  if (host.write(block, block->current, save.output.data, int32_t(fileLength)) == 0)
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
