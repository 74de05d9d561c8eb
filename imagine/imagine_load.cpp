// Loading a BLP file into an Imagine image. The host hands over the whole file in memory;
// the plug-in creates the host's image and fills it from level 0 through the service
// table: JPEG levels straight into the image's pixel memory, paletted, DXT and raw levels
// row by row. Host images keep blue, green, red (, alpha) and number rows from the top.
//
// Every read is bounded by the file's length: a level that runs past the end is cut to
// the bytes present, and pixels the file does not hold are written as zero bytes.
#include <algorithm>
#include <cstring>

#include "core/blp_format.h"
#include "core/dxt_decode.h"
#include "imagine/imagine_plugin.h"
#include "jpeg/jpeg_decoder.h"

namespace vellum {

namespace {

// One load: the host, the request and the progress record the host's progress function
// receives. Lives on the stack of the load call and reaches the JPEG decoder's progress
// routine through its context pointer.
struct LoadContext {
  const ImagineServiceTable* host;
  ImagineLoadRequest* request;
  const uint8_t* file;
  uint64_t length;
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

// Copies up to `count` bytes from [offset, end) of the file and zero-fills the rest.
// A row the host cannot give (null) is passed over.
void copyClipped(const LoadContext& load, uint64_t offset, uint64_t end, uint64_t count, uint8_t* out) {
  if (out == nullptr) return;
  uint64_t available = offset < end ? end - offset : 0;
  uint64_t n = std::min(count, available);
  if (n) std::memcpy(out, load.file + offset, size_t(n));
  if (n < count) std::memset(out + n, 0, size_t(count - n));
}

struct Level {
  uint32_t headerSize;
  uint64_t offset;
  uint64_t size;  // cut to the bytes the file holds
  uint64_t end() const { return offset + size; }
};

void loadJpeg(LoadContext* load, const BlpHeader& h, const Level& level) {
  const ImagineServiceTable& host = *load->host;
  host.setSourceKind(load->image, kImagineSourceJpeg);
  host.setAlphaKind(load->image, kImagineAlphaBlend);

  // The shared JPEG header follows its u32 size; a size past the end is cut to the file.
  const uint64_t sharedStart = uint64_t(level.headerSize) + 4;
  uint64_t shared = loadU32(load->file + level.headerSize);
  shared = std::min(shared, load->length - sharedStart);
  const uint64_t streamBytes = shared + level.size;  // both bounded by the file: fits 32 bits

  const uint8_t* stream = load->file + sharedStart;
  if (level.offset != sharedStart + shared) {
    uint8_t* joined = hostAllocate(host, streamBytes);
    if (joined == nullptr) {
      load->request->errorCode = kImagineOutOfMemory;
      return;
    }
    std::memcpy(joined, load->file + sharedStart, size_t(shared));
    std::memcpy(joined + shared, load->file + level.offset, size_t(level.size));
    stream = joined;
  }

  // The host's allocator need not align the decoder's memory: room to do it here.
  const uint64_t decoderBytes = jpegDecoderBytes(h.width, h.height);
  uint8_t* store = decoderBytes ? hostAllocate(host, decoderBytes + kJpegDecoderAlignment - 1) : nullptr;
  uint8_t* pixels = host.pixelMemory(load->image);
  if (store == nullptr || pixels == nullptr) {
    load->request->errorCode = kImagineOutOfMemory;
    return;
  }
  const uintptr_t aligned =
      (reinterpret_cast<uintptr_t>(store) + kJpegDecoderAlignment - 1) & ~uintptr_t(kJpegDecoderAlignment - 1);
  JpegDecoder* decoder = jpegDecoderInit(reinterpret_cast<void*>(aligned), decoderBytes, h.width, h.height);
  // The host image is a bottom-up 32-bit bitmap: its pixel memory starts with the last row.
  const int64_t rowBytes = int64_t(h.width) * 4;
  JpegOutput output;
  output.pixels = pixels + (int64_t(h.height) - 1) * rowBytes;
  output.stride = -rowBytes;
  load->record.total = 100;
  output.progress = load->reporting ? jpegProgress : nullptr;
  output.progressContext = load;
  decodeJpeg(decoder, stream, uint32_t(streamBytes), output);
}

void loadIndexedRows(LoadContext* load, const BlpHeader& h, const Level& level) {
  const ImagineServiceTable& host = *load->host;
  // The host palette from the entries the file holds (mode 2: four bytes an entry, blue,
  // green, red, fourth byte). The buffer is zeroed so entries the file lacks are black.
  uint8_t hostPalette[kBlpPaletteBytes] = {};
  const uint64_t paletteBytes = load->length - level.headerSize;
  const int32_t entries = int32_t(std::min<uint64_t>(256, paletteBytes / 4));
  host.buildHostPalette(hostPalette, load->file + level.headerSize, entries, 2);
  host.setPalette(load->image, hostPalette);

  load->record.total = int32_t(h.height);
  for (uint32_t y = 0; y < h.height; ++y) {
    copyClipped(*load, level.offset + uint64_t(y) * h.width, level.end(), h.width, host.rowAddress(load->image, int32_t(y)));
    if (!reportProgress(load, int32_t(y + 1))) return;
  }
  const uint32_t alphaWord = loadU32(load->file + 8);
  if (alphaWord == 0 || (alphaWord & 0xFFFF) == 1) {
    host.setAlphaKind(load->image, kImagineAlphaNone);
  } else if (level.headerSize == kBlp1HeaderSize) {
    host.setAlphaKind(load->image, kImagineAlphaBlend);
  }
}

// Alpha of pixel i from a plane of `planeBytes` bytes with `depth` bits a pixel; false
// when the pixel's byte lies beyond the level.
bool planeAlpha(const uint8_t* plane, uint64_t planeBytes, uint32_t depth, uint64_t i, uint8_t* alpha) {
  const uint64_t byte = i * depth / 8;
  if (byte >= planeBytes) return false;
  const uint8_t v = plane[byte];
  switch (depth) {
    case 8: *alpha = v; break;
    case 4: *alpha = uint8_t(((i & 1) ? v >> 4 : v & 15) * 17); break;
    case 2: *alpha = uint8_t(((v >> (2 * (i & 3))) & 3) * 85); break;
    default: *alpha = ((v >> (i & 7)) & 1) ? 255 : 0; break;
  }
  return true;
}

void loadPalettedAlphaRows(LoadContext* load, const BlpHeader& h, const Level& level) {
  const ImagineServiceTable& host = *load->host;
  host.setAlphaKind(load->image, kImagineAlphaBlend);
  // Palette entries as 32-bit pixels (blue, green, red, fourth byte); entries that lie
  // beyond the end of the file are zero.
  uint8_t palette[kBlpPaletteBytes] = {};
  copyClipped(*load, level.headerSize, load->length, kBlpPaletteBytes, palette);

  // Alpha depths other than 1, 2, 4 and 8 have no plane that could be read: such rows
  // take the palette entries alone, fourth byte included.
  const uint32_t depth = level.headerSize == kBlp1HeaderSize ? 8 : h.alphaDepth & 15;
  const bool hasPlane = depth == 1 || depth == 2 || depth == 4 || depth == 8;
  const uint64_t pixels = uint64_t(h.width) * h.height;  // the level holds all indices
  const uint8_t* indices = load->file + level.offset;
  const uint8_t* plane = indices + pixels;
  const uint64_t planeBytes = level.size - pixels;

  load->record.total = int32_t(h.height);
  for (uint32_t y = 0; y < h.height; ++y) {
    uint8_t* row = host.rowAddress(load->image, int32_t(y));
    const uint64_t first = uint64_t(y) * h.width;
    for (uint32_t x = 0; row != nullptr && x < h.width; ++x) {
      std::memcpy(row + 4 * x, palette + 4 * indices[first + x], 4);
      if (hasPlane) planeAlpha(plane, planeBytes, depth, first + x, row + 4 * x + 3);
    }
    if (!reportProgress(load, int32_t(y + 1))) return;
  }
}

void loadPaletted(LoadContext* load, const BlpHeader& h, const Level& level, uint32_t bits) {
  load->host->setSourceKind(load->image, kImagineSourcePlain);
  if (level.offset <= level.headerSize) {
    load->request->errorCode = kImagineReadError;
    return;
  }
  if (bits == 8) {
    loadIndexedRows(load, h, level);
  } else {
    loadPalettedAlphaRows(load, h, level);
  }
}

void loadDxt(LoadContext* load, const BlpHeader& h, const Level& level) {
  const ImagineServiceTable& host = *load->host;
  host.setAlphaKind(load->image, kImagineAlphaBlend);
  DxtVariant variant = DxtVariant::Dxt1;
  if (h.alphaType == 1) {
    variant = DxtVariant::Dxt3;
  } else if (h.alphaType == 7) {
    variant = DxtVariant::Dxt5;
  } else if (h.alphaType != 0) {
    load->request->errorCode = kImagineUnsupportedType;  // decoded as DXT1
  }
  const uint64_t blockBytes = dxtBlockBytes(variant);
  const uint64_t blocksPerRow = (uint64_t(h.width) + 3) / 4;
  const uint8_t* data = load->file + level.offset;

  load->record.total = int32_t(h.height);
  uint8_t pixels[64];
  for (uint32_t y = 0; y < h.height; y += 4) {
    const uint32_t rows = std::min<uint32_t>(4, h.height - y);
    uint8_t* out[4];
    for (uint32_t j = 0; j < rows; ++j) out[j] = host.rowAddress(load->image, int32_t(y + j));
    const uint64_t rowStart = uint64_t(y / 4) * blocksPerRow * blockBytes;
    for (uint32_t x = 0; x < h.width; x += 4) {
      const uint64_t at = rowStart + uint64_t(x / 4) * blockBytes;
      if (at + blockBytes <= level.size) {
        decodeDxtBlock(data + at, variant, pixels);
      } else {
        std::memset(pixels, 0, sizeof pixels);  // the block lies beyond the file
      }
      const uint32_t columns = std::min<uint32_t>(4, h.width - x);
      for (uint32_t j = 0; j < rows; ++j) {
        for (uint32_t i = 0; out[j] != nullptr && i < columns; ++i) {
          const uint8_t* p = pixels + 4 * (4 * j + i);
          uint8_t* q = out[j] + 4 * uint64_t(x + i);
          q[0] = p[2];
          q[1] = p[1];
          q[2] = p[0];
          q[3] = p[3];
        }
      }
    }
    if (!reportProgress(load, int32_t(y + rows))) return;
  }
  host.setDescription(load->image, host.unicodeText ? static_cast<const void*>(kImagineDxtDescriptionW)
                                                    : static_cast<const void*>(kImagineDxtDescriptionA));
}

void loadRaw(LoadContext* load, const BlpHeader& h, const Level& level) {
  const ImagineServiceTable& host = *load->host;
  host.setSourceKind(load->image, kImagineSourcePlain);
  host.setAlphaKind(load->image, kImagineAlphaBlend);
  const uint64_t rowBytes = uint64_t(h.width) * 4;
  load->record.total = int32_t(h.height);
  for (uint32_t y = 0; y < h.height; ++y) {
    copyClipped(*load, level.offset + uint64_t(y) * rowBytes, level.end(), rowBytes, host.rowAddress(load->image, int32_t(y)));
    if (!reportProgress(load, int32_t(y + 1))) return;
  }
}

}  // namespace

ImagineImage loadBlpIntoHost(const ImagineServiceTable& host, ImagineLoadRequest* request, int32_t loadFlags) {
  LoadContext load = {};
  load.host = &host;
  load.request = request;
  load.file = request->buffer;
  load.length = request->buffer != nullptr && request->length > 0 ? uint64_t(request->length) : 0;
  if (load.length <= 160) {
    request->errorCode = kImagineReadError;
    return nullptr;
  }

  BlpHeader h;
  parseBlpHeader(load.file, &h);
  Level level;
  level.headerSize = h.layout == BlpLayout::Blp2 ? kBlp2HeaderSize : kBlp1HeaderSize;
  level.offset = h.mipOffsets[0];
  level.size = h.mipSizes[0];
  if (level.offset + level.size > load.length) level.size = level.offset < load.length ? load.length - level.offset : 0;

  const bool sideOk = h.width >= 1 && h.width <= kBlpMaxSide && h.height >= 1 && h.height <= kBlpMaxSide;
  if (!hasBlpSignature(load.file) || level.size == 0 || !sideOk || h.storage >= 2 || level.offset >= load.length) {
    request->errorCode = kImagineInvalidData;
    return nullptr;
  }
  if (loadFlags & kImagineLoadInfoOnly) {
    request->errorCode = kImagineInfoNotSupported;
    return nullptr;
  }

  const bool blp2 = h.layout == BlpLayout::Blp2;
  const bool paletted = h.storage == 1 && (!blp2 || h.compression == 1);
  const uint64_t pixels = uint64_t(h.width) * h.height;
  const bool noAlpha = blp2 ? h.alphaDepth == 0 : h.alphaBits == 0;
  const uint32_t bits = paletted && (noAlpha || level.size < pixels) ? 8 : 32;

  load.image = host.createImage(int32_t(h.width), int32_t(h.height), int32_t(bits), loadFlags);
  if (load.image == nullptr) {
    request->errorCode = kImagineOutOfMemory;
    return nullptr;
  }
  load.reporting = (loadFlags & kImagineLoadProgress) != 0 && request->progress != nullptr;
  load.record.image = load.image;
  load.record.param = request->progressParam;

  if (h.storage == 0) {
    loadJpeg(&load, h, level);
  } else if (paletted) {
    loadPaletted(&load, h, level, bits);
  } else if (h.compression == 2) {
    loadDxt(&load, h, level);
  } else if (h.compression == 3) {
    loadRaw(&load, h, level);
  } else {
    request->errorCode = kImagineUnsupportedType;
  }
  return load.image;
}

ImagineImage VELLUM_IMAGINE_CALL imagineLoadFile(const ImagineHostInterface* host, ImagineLoadRequest* request,
                                                 int32_t loadFlags) {
  if (host == nullptr || host->iface == nullptr || host->iface->services == nullptr || request == nullptr)
    return nullptr;
  return loadBlpIntoHost(*host->iface->services, request, loadFlags);
}

}  // namespace vellum
