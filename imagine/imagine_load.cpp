// Loading a BLP file into an Imagine image. The host hands over the whole file in memory;
// the plug-in creates the host's image and fills it from level 0 through the service
// table: JPEG levels straight into the image's pixel memory, paletted, DXT and raw levels
// row by row. Host images keep blue, green, red (, alpha) and number rows from the top;
// their pixel memory starts with the bottom row.
//
// The decoding is the core's level decoder under Imagine's read policy: a level that runs
// past the end of the file is cut to the bytes present, pixels the file does not hold are
// zero bytes (a paletted pixel without its alpha bits keeps its palette entry's fourth
// byte), and the header's refusals come back as the host's error words.
#include <cstring>

#include "core/blp_level_decoder.h"
#include "imagine/imagine_plugin.h"

namespace vellum {

namespace {

// One load: the host, the request and the progress record the host's progress function
// receives. Lives on the stack of the load call and reaches the JPEG decoder's progress
// routine through its context pointer.
struct LoadContext {
  const ImagineServiceTable* host;
  ImagineLoadRequest* request;
  ImagineImage image;
  bool reporting;  // load flag 2 and a progress function to call
  ImagineProgressRecord record;
};

// Reports progress; false when the host asks to stop (error 9 is then set).
bool reportProgress(LoadContext* load, int32_t current) {
  if (!load->reporting) return true;
  load->record.current = current;
  if (load->request->progress(&load->record) != 0) return true;
  load->request->errorCode = kImagineAborted;
  return false;
}

int jpegProgress(void* context, uint32_t percent) {
  auto* load = static_cast<LoadContext*>(context);
  return reportProgress(load, int32_t(percent)) ? 1 : 0;
}

// Host memory for `bytes` bytes, or null when the service cannot take the size.
uint8_t* hostAllocate(const ImagineServiceTable& host, uint64_t bytes) {
  if (bytes == 0 || bytes > kImagineMaxAllocation) return nullptr;
  return static_cast<uint8_t*>(host.allocate(int32_t(bytes)));
}

}  // namespace

BlpReadPolicy imagineReadPolicy() {
  BlpReadPolicy policy;
  auto rule = [&](BlpFinding f, BlpFindingAction action, int32_t code) { policy.rules[int(f)] = {action, code}; };
  const auto refuse = BlpFindingAction::Refuse;
  rule(BlpFinding::ShortHeader, refuse, kImagineReadError);
  rule(BlpFinding::FileTooShort, refuse, kImagineReadError);
  rule(BlpFinding::BadSignature, refuse, kImagineInvalidData);
  rule(BlpFinding::BadDimensions, refuse, kImagineInvalidData);
  rule(BlpFinding::BadStorage, refuse, kImagineInvalidData);
  rule(BlpFinding::EmptyLevel, refuse, kImagineInvalidData);
  rule(BlpFinding::OffsetPastEnd, refuse, kImagineInvalidData);
  rule(BlpFinding::BadCompression, refuse, kImagineUnsupportedType);
  rule(BlpFinding::NoPaletteRoom, refuse, kImagineReadError);
  rule(BlpFinding::UnusualDxtAlpha, BlpFindingAction::Report, kImagineUnsupportedType);
  policy.lengthFirst = true;
  policy.boundToLevel = true;
  policy.zeroBlocksOutside = true;
  policy.missingAlphaFromPalette = true;
  policy.clippedSizeDecidesAlpha = true;
  return policy;
}

namespace {

void loadJpeg(LoadContext* load, BlpLevelDecoder* level) {
  const ImagineServiceTable& host = *load->host;
  host.setSourceKind(load->image, kImagineSourceJpeg);
  host.setAlphaKind(load->image, kImagineAlphaBlend);
  const BlpLevelFormat& f = level->format;

  // The stream is used where it lies in the host's copy of the file when it lies in one
  // piece; otherwise its two parts are joined in host memory.
  BlpJpegMemory memory;
  const uint64_t streamBytes = blpJpegStreamBytes(*level);
  if (streamBytes != 0) {
    memory.stream = hostAllocate(host, streamBytes);
    if (memory.stream == nullptr) {
      load->request->errorCode = kImagineOutOfMemory;
      return;
    }
  }
  memory.decoder = hostAllocate(host, blpJpegDecoderRoom(f.width, f.height));
  uint8_t* pixels = host.pixelMemory(load->image);
  if (memory.decoder == nullptr || pixels == nullptr) {
    load->request->errorCode = kImagineOutOfMemory;
    return;
  }
  load->record.total = 100;
  const int64_t rowBytes = int64_t(f.width) * 4;
  uint8_t* topRow = pixels + (int64_t(f.height) - 1) * rowBytes;
  if (blpLevelDecode(level, BlpPixelLayout::Bgra, topRow, -rowBytes, &memory, load->reporting ? jpegProgress : nullptr,
                     load) != BlpStatus::Ok)
    load->request->errorCode = kImagineOutOfMemory;
}

// Rows in `layout` into the host's rows, reporting after every `step` rows.
void loadRows(LoadContext* load, BlpLevelDecoder* level, BlpPixelLayout layout, uint32_t step) {
  const ImagineServiceTable& host = *load->host;
  const uint32_t height = level->format.height;
  load->record.total = int32_t(height);
  for (uint32_t y = 0; y < height; y += step) {
    const uint32_t rows = height - y < step ? height - y : step;
    for (uint32_t j = 0; j < rows; ++j) {
      uint8_t* row = host.rowAddress(load->image, int32_t(y + j));
      if (row != nullptr) blpLevelRows(level, y + j, 1, layout, row, 0);
    }
    if (!reportProgress(load, int32_t(y + rows))) return;
  }
}

void loadPaletted(LoadContext* load, const BlpFile& file, BlpLevelDecoder* level) {
  const ImagineServiceTable& host = *load->host;
  host.setSourceKind(load->image, kImagineSourcePlain);
  if (level->format.layout == BlpPixelLayout::IndicesAlpha) {
    host.setAlphaKind(load->image, kImagineAlphaBlend);
    loadRows(load, level, BlpPixelLayout::Bgra, 1);
    return;
  }
  // The host palette from the entries the file holds (mode 2: four bytes an entry, blue,
  // green, red, fourth byte). The buffer is zeroed so entries the file lacks are black.
  uint8_t hostPalette[kBlpPaletteBytes] = {};
  const uint64_t paletteBytes = file.source.length - file.headerSize;
  const int32_t entries = int32_t(paletteBytes / 4 < 256 ? paletteBytes / 4 : 256);
  host.buildHostPalette(hostPalette, load->request->buffer + file.headerSize, entries, 2);
  host.setPalette(load->image, hostPalette);
  loadRows(load, level, BlpPixelLayout::Indices, 1);
  if (load->request->errorCode == kImagineAborted) return;
  const uint32_t alphaWord = blpWordAt8(file.header);
  if (alphaWord == 0 || (alphaWord & 0xFFFF) == 1) {
    host.setAlphaKind(load->image, kImagineAlphaNone);
  } else if (file.header.layout == BlpLayout::Blp1) {
    host.setAlphaKind(load->image, kImagineAlphaBlend);
  }
}

}  // namespace

ImagineImage loadBlpIntoHost(const ImagineServiceTable& host, ImagineLoadRequest* request, int32_t loadFlags) {
  const uint64_t length = request->buffer != nullptr && request->length > 0 ? uint64_t(request->length) : 0;
  BlpFile file;
  bool refused = false;
  int32_t code = blpFileOpen(&file, memorySource(request->buffer, length), imagineReadPolicy(), &refused);
  if (refused) {
    request->errorCode = code;
    return nullptr;
  }
  BlpLevelFormat format;
  BlpFinding which = BlpFinding::BadSignature;
  code = blpDescribeLevel(file, 0, &format, &refused);
  firstActingRule(file.policy, format.findings, &which);
  // A level that is not there (size 0, or past the end) is refused before an image exists;
  // an encoding that cannot be read, or a palette without room, leave the empty image.
  if (refused && (which == BlpFinding::EmptyLevel || which == BlpFinding::OffsetPastEnd)) {
    request->errorCode = code;
    blpFileClose(&file);
    return nullptr;
  }
  if (loadFlags & kImagineLoadInfoOnly) {
    request->errorCode = kImagineInfoNotSupported;
    blpFileClose(&file);
    return nullptr;
  }

  const int32_t bits = format.layout == BlpPixelLayout::Indices ? 8 : 32;
  LoadContext load = {};
  load.host = &host;
  load.request = request;
  load.image = host.createImage(int32_t(format.width), int32_t(format.height), bits, loadFlags);
  if (load.image == nullptr) {
    request->errorCode = kImagineOutOfMemory;
    blpFileClose(&file);
    return nullptr;
  }
  load.reporting = (loadFlags & kImagineLoadProgress) != 0 && request->progress != nullptr;
  load.record.image = load.image;
  load.record.param = request->progressParam;
  if (code != 0) request->errorCode = code;  // refused, or reported (an unusual DXT alpha type)
  if (refused) {
    if (format.content == BlpContent::Paletted) host.setSourceKind(load.image, kImagineSourcePlain);
    blpFileClose(&file);
    return load.image;
  }

  BlpLevelDecoder level;
  if (blpLevelDecoderOpen(&level, file, format) != BlpStatus::Ok) {
    request->errorCode = kImagineOutOfMemory;
  } else {
    switch (format.content) {
      case BlpContent::Jpeg:
        loadJpeg(&load, &level);
        break;
      case BlpContent::Paletted:
        loadPaletted(&load, file, &level);
        break;
      case BlpContent::Dxt:
        host.setAlphaKind(load.image, kImagineAlphaBlend);
        loadRows(&load, &level, BlpPixelLayout::Bgra, 4);
        if (request->errorCode != kImagineAborted)
          host.setDescription(load.image, host.unicodeText ? static_cast<const void*>(kImagineDxtDescriptionW)
                                                           : static_cast<const void*>(kImagineDxtDescriptionA));
        break;
      case BlpContent::Raw:
        host.setSourceKind(load.image, kImagineSourcePlain);
        host.setAlphaKind(load.image, kImagineAlphaBlend);
        loadRows(&load, &level, BlpPixelLayout::Bgra, 1);
        break;
      case BlpContent::Unknown:
        break;
    }
  }
  blpLevelDecoderClose(&level);
  blpFileClose(&file);
  return load.image;
}

ImagineImage VELLUM_IMAGINE_CALL imagineLoadFile(const ImagineHostInterface* host, ImagineLoadRequest* request,
                                                 int32_t loadFlags) {
  if (host == nullptr || host->iface == nullptr || host->iface->services == nullptr || request == nullptr)
    return nullptr;
  return loadBlpIntoHost(*host->iface->services, request, loadFlags);
}

}  // namespace vellum
