// libvellum: the public C API over the codec core. Every entry checks its arguments,
// catches whatever C++ could throw, and answers with a vellum_status.
#include "vellum/vellum.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "core/blp_file.h"
#include "core/blp_level_decoder.h"
#include "core/blp_thumbnail.h"
#include "core/blp_writer.h"
#include "core/save_options.h"

#ifndef VELLUM_VERSION_STRING
#error "VELLUM_VERSION_STRING must be defined by the build"
#endif

using namespace vellum;

struct vellum_file {
  BlpFile file;
};

namespace {

int statusOf(BlpStatus status) {
  switch (status) {
    case BlpStatus::Ok: return VELLUM_OK;
    case BlpStatus::ShortHeader:
    case BlpStatus::FileTooShort: return VELLUM_ERR_TRUNCATED;
    case BlpStatus::BadSignature: return VELLUM_ERR_NOT_BLP;
    case BlpStatus::BadDimensions: return VELLUM_ERR_DIMENSIONS;
    case BlpStatus::BadStorage:
    case BlpStatus::BadCompression: return VELLUM_ERR_UNSUPPORTED;
    case BlpStatus::EmptyLevel: return VELLUM_ERR_NO_LEVEL;
    case BlpStatus::NoPaletteRoom: return VELLUM_ERR_MALFORMED;
    case BlpStatus::OutOfMemory: return VELLUM_ERR_NO_MEMORY;
    case BlpStatus::ImageTooLarge: return VELLUM_ERR_TOO_LARGE;
    case BlpStatus::FileTooLarge: return VELLUM_ERR_FILE_TOO_LARGE;
    case BlpStatus::BadArgument: return VELLUM_ERR_ARGUMENT;
    case BlpStatus::IoError: return VELLUM_ERR_IO;
    case BlpStatus::Cancelled: return VELLUM_ERR_CANCELLED;
  }
  return VELLUM_ERR_ARGUMENT;
}

bool validLayout(int layout) { return layout >= VELLUM_LAYOUT_INDICES && layout <= VELLUM_LAYOUT_BGRA; }

// The public layouts are the core's first five, in the same order.
BlpPixelLayout coreLayout(int layout) { return BlpPixelLayout(layout); }

void clearDamage(vellum_damage* damage, uint32_t level) {
  if (damage == nullptr) return;
  std::memset(damage, 0, sizeof *damage);
  damage->level = level;
}

void setMessage(vellum_damage* damage, const char* text) {
  if (damage == nullptr) return;
  std::snprintf(damage->message, sizeof damage->message, "%s", text);
}

int damageResult(const BlpDamage& found, uint32_t level, vellum_damage* damage) {
  if (damage != nullptr) {
    damage->flags = found.flags;
    damage->blocks_decoded = found.blocksDecoded;
    damage->blocks_total = found.blocksTotal;
    blpDamageMessage(found, level, damage->message, sizeof damage->message);
  }
  if (found.flags & kBlpDamageErrors) return VELLUM_ERR_DAMAGED;
  if (found.flags & kBlpDamageWarnings) return VELLUM_WARNING;
  return VELLUM_OK;
}

int32_t contentOf(const BlpFile& file) {
  switch (file.content) {
    case BlpContent::Jpeg: return VELLUM_CONTENT_JPEG;
    case BlpContent::Paletted: return VELLUM_CONTENT_PALETTED;
    case BlpContent::Raw: return VELLUM_CONTENT_RAW;
    case BlpContent::Dxt:
      return file.header.alphaType == 1 ? VELLUM_CONTENT_DXT3
             : file.header.alphaType == 7 ? VELLUM_CONTENT_DXT5
                                          : VELLUM_CONTENT_DXT1;
    default: return -1;
  }
}

const char* contentName(int32_t content) {
  static const char* const names[] = {"JPEG", "paletted", "DXT1", "DXT3", "DXT5", "raw"};
  return content >= 0 && content <= VELLUM_CONTENT_RAW ? names[content] : "unknown";
}

int finishOpen(vellum_file* handle, BlpSource source, vellum_file** out) {
  bool refused = false;
  int32_t code = blpFileOpen(&handle->file, source, readerPolicy(), &refused);
  if (!refused && handle->file.content == BlpContent::Unknown) {
    // A "BLP2" file of an encoding nobody knows holds no level that could be read.
    blpFileClose(&handle->file);
    code = int32_t(BlpStatus::BadCompression);
    refused = true;
  }
  if (refused) {
    delete handle;
    return statusOf(BlpStatus(code));
  }
  *out = handle;
  return VELLUM_OK;
}

// Describes a level for decoding: refuses entries without a level of their own, and what
// the reader policy refuses (an empty level 0, the pixel limit, a palette without room).
int describeForDecode(const vellum_file* handle, uint32_t level, BlpLevelFormat* format, vellum_damage* damage) {
  if (level >= kBlpMipCount) return VELLUM_ERR_ARGUMENT;
  bool refused = false;
  const int32_t code = blpDescribeLevel(handle->file, level, format, &refused);
  if (refused) {
    const int status = statusOf(BlpStatus(code));
    setMessage(damage, status == VELLUM_ERR_NO_LEVEL && level > 0 ? "the mipmap level is not stored in the file"
                                                                   : blpStatusText(BlpStatus(code)));
    return status;
  }
  if (format->state != BlpLevelState::Stored) {
    setMessage(damage, "the mipmap level is not stored in the file");
    return VELLUM_ERR_NO_LEVEL;
  }
  return VELLUM_OK;
}

// The level a thumbnail of `side` comes from: the smallest stored level whose longer side
// is at least `side`, or level 0 when that level cannot be read (a table entry of another
// writer pointing nowhere useful is no reason to refuse the thumbnail). Size queries and
// the thumbnail itself agree on it.
uint32_t chooseThumbnailLevel(const vellum_file* handle, uint32_t side, BlpLevelFormat* format) {
  uint32_t level = blpLevelAtLeast(handle->file.header, side);
  bool refused = false;
  blpDescribeLevel(handle->file, level, format, &refused);
  if (level != 0 && (refused || format->state != BlpLevelState::Stored)) {
    level = 0;
    blpDescribeLevel(handle->file, 0, format);
  }
  return level;
}

int decodeLevel(vellum_file* handle, const BlpLevelFormat& format, BlpPixelLayout layout, uint8_t* out,
                ptrdiff_t stride, vellum_damage* damage) {
  BlpLevelDecoder decoder;
  BlpStatus status = blpLevelDecoderOpen(&decoder, handle->file, format);
  if (status == BlpStatus::Ok) status = blpLevelDecode(&decoder, layout, out, int64_t(stride));
  if (status != BlpStatus::Ok) {
    blpLevelDecoderClose(&decoder);
    setMessage(damage, blpStatusText(status));
    return statusOf(status);
  }
  const int result = damageResult(decoder.damage, format.level, damage);
  blpLevelDecoderClose(&decoder);
  // An opaque level is opaque in every layout, whatever its data's fourth component holds.
  if (format.layout == BlpPixelLayout::Rgb && (layout == BlpPixelLayout::Rgba || layout == BlpPixelLayout::Bgra)) {
    for (uint32_t y = 0; y < format.height; ++y) {
      uint8_t* row = out + ptrdiff_t(y) * stride;
      for (uint32_t x = 0; x < format.width; ++x) row[4 * uint64_t(x) + 3] = 255;
    }
  }
  return result;
}

std::unique_ptr<uint8_t[]> allocate(uint64_t size) {
  if (size == 0 || size > uint64_t(SIZE_MAX) / 2) return nullptr;
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size_t(size)]);
}

// The writer's output area, grown with realloc so that it can be handed to the caller and
// released with vellum_free.
bool growMalloc(void*, uint64_t minCapacity, BlpOutput* output) {
  if (minCapacity > uint64_t(SIZE_MAX) / 2) return false;
  void* bigger = std::realloc(output->data, size_t(minCapacity));
  if (bigger == nullptr) return false;
  output->data = static_cast<uint8_t*>(bigger);
  output->capacity = minCapacity;
  return true;
}

bool saveOptionsOf(const vellum_encode_options& o, SaveOptions* options) {
  if (o.content_type < 0 || o.content_type >= kBlpContentTypeCount || o.quality < 1 || o.quality > 100 ||
      o.quantizer < 0 || o.quantizer >= kQuantizerKindCount || o.max_levels < 1 || o.max_levels > 16)
    return false;
  options->contentType = BlpContentType(o.content_type);
  options->jpegQuality = uint8_t(o.quality);
  options->progressive = o.progressive != 0;
  options->quantizer = QuantizerKind(o.quantizer);
  options->maxMipLevels = uint8_t(o.max_levels);
  return true;
}

int encode(const vellum_image* image, const vellum_encode_options* options, vellum_write_fn write, void* context,
           void** out, size_t* outSize) {
  if (out != nullptr) *out = nullptr;
  if (outSize != nullptr) *outSize = 0;
  if (image == nullptr || image->pixels == nullptr || (write == nullptr) == (out == nullptr) ||
      (out != nullptr && outSize == nullptr) || !validLayout(image->layout))
    return VELLUM_ERR_ARGUMENT;
  vellum_encode_options chosen;
  vellum_encode_defaults(&chosen);
  if (options != nullptr) chosen = *options;
  SaveOptions saveOptions;
  if (!saveOptionsOf(chosen, &saveOptions)) return VELLUM_ERR_ARGUMENT;
  const bool indexed = isIndexedLayout(coreLayout(image->layout));
  if (indexed && (image->palette == nullptr || image->palette_count < 1 || image->palette_count > 256))
    return VELLUM_ERR_ARGUMENT;
  if (image->width < 1 || image->height < 1 || image->width > kBlpMaxSide || image->height > kBlpMaxSide)
    return VELLUM_ERR_DIMENSIONS;

  BlpSourceImage source;
  source.width = image->width;
  source.height = image->height;
  source.layout = coreLayout(image->layout);
  source.pixels = static_cast<const uint8_t*>(image->pixels);
  source.stride = int64_t(image->stride);
  source.palette = image->palette;
  source.paletteCount = image->palette_count;
  source.hasAlpha = image->has_alpha != 0;

  // A palette with transparency (a PNG's tRNS) is alpha a pixel over an opaque palette, as
  // the command-line tool hands a paletted PNG to the writer: the same pixels, the same bytes.
  std::unique_ptr<uint8_t[]> indexedAlpha;
  uint8_t opaquePalette[kBlpPaletteBytes];
  if (source.layout == BlpPixelLayout::Indices && source.hasAlpha) {
    indexedAlpha = allocate(uint64_t(image->width) * image->height * 2);
    if (!indexedAlpha) return VELLUM_ERR_NO_MEMORY;
    const ptrdiff_t step = image->stride != 0 ? image->stride : ptrdiff_t(image->width);
    for (uint32_t y = 0; y < image->height; ++y) {
      const uint8_t* row = source.pixels + ptrdiff_t(y) * step;
      uint8_t* out = indexedAlpha.get() + uint64_t(y) * image->width * 2;
      for (uint32_t x = 0; x < image->width; ++x) {
        out[2 * x] = row[x];
        out[2 * x + 1] = row[x] < image->palette_count ? image->palette[4 * row[x] + 3] : 0;
      }
    }
    std::memcpy(opaquePalette, image->palette, size_t(image->palette_count) * 4);
    for (uint32_t i = 0; i < image->palette_count; ++i) opaquePalette[4 * i + 3] = 255;
    source.layout = BlpPixelLayout::IndicesAlpha;
    source.pixels = indexedAlpha.get();
    source.stride = 0;
    source.palette = opaquePalette;
  }

  BlpOutput output;
  output.grow = growMalloc;
  const uint64_t capacity = blpOutputCapacity(image->width, image->height);
  if (!growMalloc(nullptr, capacity, &output)) return VELLUM_ERR_NO_MEMORY;
  uint64_t length = 0;
  BlpEncodeProgress progress;
  progress.report = chosen.progress;
  progress.context = chosen.progress_context;
  const BlpStatus status = encodeBlpSource(source, saveOptions, &output, &length, &progress);
  if (status != BlpStatus::Ok) {
    std::free(output.data);
    return statusOf(status);
  }
  if (write != nullptr) {
    const int ok = write(context, output.data, size_t(length));
    std::free(output.data);
    return ok ? VELLUM_OK : VELLUM_ERR_OUTPUT;
  }
  // Hand over the area itself, shrunk to the file.
  void* file = std::realloc(output.data, size_t(length));
  *out = file != nullptr ? file : output.data;
  *outSize = size_t(length);
  return VELLUM_OK;
}

}  // namespace

extern "C" {

const char* vellum_status_text(int status) {
  switch (status) {
    case VELLUM_OK: return "ok";
    case VELLUM_WARNING: return "the file had damage that was repaired";
    case VELLUM_ERR_DAMAGED: return "the level is damaged";
    case VELLUM_ERR_ARGUMENT: return "invalid argument";
    case VELLUM_ERR_NOT_BLP: return blpStatusText(BlpStatus::BadSignature);
    case VELLUM_ERR_TRUNCATED: return blpStatusText(BlpStatus::FileTooShort);
    case VELLUM_ERR_DIMENSIONS: return blpStatusText(BlpStatus::BadDimensions);
    case VELLUM_ERR_UNSUPPORTED: return "unsupported storage or compression";
    case VELLUM_ERR_NO_LEVEL: return "the mipmap level is not stored in the file";
    case VELLUM_ERR_MALFORMED: return blpStatusText(BlpStatus::NoPaletteRoom);
    case VELLUM_ERR_TOO_LARGE: return blpStatusText(BlpStatus::ImageTooLarge);
    case VELLUM_ERR_NO_MEMORY: return blpStatusText(BlpStatus::OutOfMemory);
    case VELLUM_ERR_IO: return blpStatusText(BlpStatus::IoError);
    case VELLUM_ERR_FILE_TOO_LARGE: return blpStatusText(BlpStatus::FileTooLarge);
    case VELLUM_ERR_OUTPUT: return "writing the output failed";
    case VELLUM_ERR_CANCELLED: return "cancelled";
  }
  return "unknown status";
}

const char* vellum_version(void) { return VELLUM_VERSION_STRING; }

int vellum_version_number(void) { return VELLUM_VERSION_NUMBER; }

int vellum_open_memory(const void* data, size_t size, vellum_file** file) {
  if (file == nullptr) return VELLUM_ERR_ARGUMENT;
  *file = nullptr;
  if (data == nullptr && size != 0) return VELLUM_ERR_ARGUMENT;
  auto* handle = new (std::nothrow) vellum_file;
  if (handle == nullptr) return VELLUM_ERR_NO_MEMORY;
  BlpSource source = memorySource(static_cast<const uint8_t*>(data), size);
  if (source.read == nullptr) {
    delete handle;
    return VELLUM_ERR_NO_MEMORY;
  }
  return finishOpen(handle, source, file);
}

int vellum_open_file(const char* path, vellum_file** file) {
  if (file == nullptr || path == nullptr) return VELLUM_ERR_ARGUMENT;
  *file = nullptr;
  auto* handle = new (std::nothrow) vellum_file;
  if (handle == nullptr) return VELLUM_ERR_NO_MEMORY;
  BlpSource source;
  const BlpStatus status = openFileSource(path, &source);
  if (status != BlpStatus::Ok) {
    delete handle;
    return statusOf(status);
  }
  return finishOpen(handle, source, file);
}

void vellum_close(vellum_file* file) {
  if (file == nullptr) return;
  blpFileClose(&file->file);
  delete file;
}

int vellum_set_max_pixels(vellum_file* file, uint64_t maxPixels) {
  if (file == nullptr) return VELLUM_ERR_ARGUMENT;
  file->file.policy.maxPixels = maxPixels;
  return VELLUM_OK;
}

uint32_t vellum_layout_bytes(int layout) { return validLayout(layout) ? blpLayoutBytes(coreLayout(layout)) : 0; }

int vellum_get_level_info(const vellum_file* file, uint32_t level, vellum_level_info* info) {
  if (file == nullptr || info == nullptr || level >= kBlpMipCount) return VELLUM_ERR_ARGUMENT;
  BlpLevelFormat format;
  blpDescribeLevel(file->file, level, &format);
  std::memset(info, 0, sizeof *info);
  info->width = format.width;
  info->height = format.height;
  info->offset = format.offset;
  info->size = format.size;
  info->state = int32_t(format.state);
  info->layout = int32_t(format.layout);
  info->damage = format.damage;
  return VELLUM_OK;
}

int vellum_get_info(const vellum_file* file, vellum_info* info) {
  if (file == nullptr || info == nullptr) return VELLUM_ERR_ARGUMENT;
  const BlpFile& f = file->file;
  const BlpHeader& h = f.header;
  std::memset(info, 0, sizeof *info);
  std::memcpy(info->signature, h.magic, 4);
  info->content = contentOf(f);
  info->content_name = contentName(info->content);
  info->alpha_depth = h.layout == BlpLayout::Blp1 ? (h.alphaBits != 0 ? 8 : 0) : h.alphaDepth;
  info->width = h.width;
  info->height = h.height;
  const uint32_t chain = blpFullChainLength(h.width, h.height);
  info->chain_length = chain < kBlpMipCount ? chain : kBlpMipCount;
  while (info->level_count < info->chain_length && blpLevelState(h, info->level_count) == BlpLevelState::Stored)
    ++info->level_count;
  BlpLevelFormat format;
  blpDescribeLevel(f, 0, &format);
  info->layout = int32_t(format.layout);
  info->alpha_bits = format.paletteAlpha ? 8 : format.alphaBits;
  info->jpeg_header_size = f.content == BlpContent::Jpeg ? f.jpegHeaderSize : 0;
  info->file_size = f.source.length;
  return VELLUM_OK;
}

int vellum_get_palette(const vellum_file* file, uint8_t palette[1024]) {
  if (file == nullptr || palette == nullptr || !file->file.hasPalette) return VELLUM_ERR_ARGUMENT;
  std::memcpy(palette, file->file.palette, kBlpPaletteBytes);
  return VELLUM_OK;
}

int vellum_decode_level(vellum_file* file, uint32_t level, int layout, void* pixels, ptrdiff_t stride,
                        vellum_damage* damage) {
  clearDamage(damage, level);
  if (file == nullptr || pixels == nullptr || !validLayout(layout)) return VELLUM_ERR_ARGUMENT;
  try {
    BlpLevelFormat format;
    const int described = describeForDecode(file, level, &format, damage);
    if (described != VELLUM_OK) return described;
    if (!blpLevelHasLayout(format, coreLayout(layout))) return VELLUM_ERR_ARGUMENT;
    return decodeLevel(file, format, coreLayout(layout), static_cast<uint8_t*>(pixels), stride, damage);
  } catch (...) {
    return VELLUM_ERR_NO_MEMORY;
  }
}

int vellum_thumbnail_size(const vellum_file* file, uint32_t side, uint32_t* level, uint32_t* width,
                          uint32_t* height) {
  if (file == nullptr || side == 0) return VELLUM_ERR_ARGUMENT;
  BlpLevelFormat format;
  chooseThumbnailLevel(file, side, &format);
  uint32_t w = 0, h = 0;
  blpThumbnailSize(format.width, format.height, side, &w, &h);
  if (level != nullptr) *level = format.level;
  if (width != nullptr) *width = w;
  if (height != nullptr) *height = h;
  return VELLUM_OK;
}

int vellum_thumbnail(vellum_file* file, uint32_t side, int layout, void* pixels, ptrdiff_t stride,
                     uint32_t* width, uint32_t* height, vellum_damage* damage) {
  clearDamage(damage, 0);
  if (file == nullptr || pixels == nullptr || side == 0 ||
      (layout != VELLUM_LAYOUT_RGB && layout != VELLUM_LAYOUT_RGBA && layout != VELLUM_LAYOUT_BGRA))
    return VELLUM_ERR_ARGUMENT;
  try {
    BlpLevelFormat format;
    const uint32_t level = chooseThumbnailLevel(file, side, &format);
    uint32_t w = 0, h = 0;
    blpThumbnailSize(format.width, format.height, side, &w, &h);
    const int status = describeForDecode(file, level, &format, damage);
    if (status != VELLUM_OK) return status;
    if (damage != nullptr) damage->level = level;
    if (width != nullptr) *width = w;
    if (height != nullptr) *height = h;
    uint8_t* out = static_cast<uint8_t*>(pixels);
    if (w == format.width && h == format.height) return decodeLevel(file, format, coreLayout(layout), out, stride, damage);

    const uint64_t levelRow = uint64_t(format.width) * 4;
    std::unique_ptr<uint8_t[]> whole = allocate(levelRow * format.height);
    std::unique_ptr<uint8_t[]> scaled = allocate(uint64_t(w) * h * 4);
    if (!whole || !scaled) return VELLUM_ERR_NO_MEMORY;
    const int decoded = decodeLevel(file, format, BlpPixelLayout::Rgba, whole.get(), ptrdiff_t(levelRow), damage);
    if (decoded < VELLUM_ERR_DAMAGED) return decoded;
    if (!boxFilterScale(whole.get(), format.width, format.height, int64_t(levelRow), scaled.get(), w, h,
                        int64_t(w) * 4, 4))
      return VELLUM_ERR_NO_MEMORY;
    for (uint32_t y = 0; y < h; ++y)
      convertPixels(scaled.get() + uint64_t(y) * w * 4, false, w, coreLayout(layout), out + ptrdiff_t(y) * stride);
    return decoded;
  } catch (...) {
    return VELLUM_ERR_NO_MEMORY;
  }
}

void vellum_encode_defaults(vellum_encode_options* options) {
  if (options == nullptr) return;
  std::memset(options, 0, sizeof *options);
  vellum_options_from_word(kDefaultSaveOptionsWord, options);
}

int vellum_options_from_word(uint32_t word, vellum_encode_options* options) {
  if (options == nullptr || !isValidSaveOptionsWord(word)) return VELLUM_ERR_ARGUMENT;
  const SaveOptions o = unpackSaveOptions(word);
  options->content_type = int32_t(o.contentType);
  options->quality = o.jpegQuality;
  options->progressive = o.progressive ? 1 : 0;
  options->quantizer = int32_t(o.quantizer);
  options->max_levels = o.maxMipLevels;
  return VELLUM_OK;
}

uint32_t vellum_options_word(const vellum_encode_options* options) {
  if (options == nullptr) return kDefaultSaveOptionsWord;
  SaveOptions o;
  if (!saveOptionsOf(*options, &o)) return 0;
  return packSaveOptions(o);
}

int vellum_encode(const vellum_image* image, const vellum_encode_options* options, vellum_write_fn write,
                  void* writeContext, void** out, size_t* outSize) {
  try {
    return encode(image, options, write, writeContext, out, outSize);
  } catch (...) {
    return VELLUM_ERR_NO_MEMORY;
  }
}

void vellum_free(void* memory) { std::free(memory); }

}  // extern "C"
