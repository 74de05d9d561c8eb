// JPEG levels: the shared header (the u32 after the file's header, then that many bytes)
// followed by the level's own bytes form one stream, decoded whole.
#include <cstring>
#include <new>

#include "core/blp_level_decoder.h"

namespace vellum {

namespace {

std::unique_ptr<uint8_t[]> allocate(uint64_t size) {
  if (size == 0 || size > uint64_t(SIZE_MAX) / 2) return nullptr;
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size_t(size)]);
}

// Where the level's stream comes from: both parts cut at the end of the file.
struct StreamPlan {
  uint64_t sharedStart = 0;
  uint64_t sharedBytes = 0;
  uint64_t levelBytes = 0;
  const uint8_t* inPlace = nullptr;  // the whole stream, when a memory source holds it in one piece
  uint64_t total() const { return sharedBytes + levelBytes; }
};

StreamPlan planStream(const BlpLevelDecoder& level) {
  const BlpFile& file = *level.file;
  const uint64_t length = file.source.length;
  StreamPlan plan;
  plan.sharedStart = uint64_t(file.headerSize) + 4;
  if (plan.sharedStart < length) {
    const uint64_t room = length - plan.sharedStart;
    plan.sharedBytes = file.jpegHeaderSize < room ? file.jpegHeaderSize : room;
  }
  plan.levelBytes = level.format.available;
  // The decoder takes a 32-bit length; a larger stream is cut there.
  if (plan.total() > UINT32_MAX) plan.levelBytes = UINT32_MAX - plan.sharedBytes;
  if (file.source.memory != nullptr && level.format.offset == plan.sharedStart + plan.sharedBytes)
    plan.inPlace = file.source.memory + plan.sharedStart;
  return plan;
}

uint32_t damageFromJpeg(uint32_t flags) {
  uint32_t damage = 0;
  if (flags & kJpegDataEndedEarly) damage |= kBlpDamageJpegTruncated;
  if (flags & kJpegCorruptData) damage |= kBlpDamageJpegCorrupt;
  if (flags & kJpegMissingTables) damage |= kBlpDamageJpegTables;
  if (flags & kJpegTimeBound) damage |= kBlpDamageJpegTimeBound;
  if (flags & kJpegMisplacedMarker) damage |= kBlpDamageJpegMarkers;
  if (flags & kJpegMissingEnd) damage |= kBlpDamageJpegNoEnd;
  return damage;
}

// Decodes the level's stream into `out` (blue, green, red, alpha, top row first).
BlpStatus decodeStream(BlpLevelDecoder* level, uint8_t* out, int64_t stride, const BlpJpegMemory* memory,
                       JpegProgressCallback progress, void* progressContext) {
  const BlpLevelFormat& f = level->format;
  const BlpFile& file = *level->file;
  const StreamPlan plan = planStream(*level);

  std::unique_ptr<uint8_t[]> ownStream, ownDecoder;
  const uint8_t* stream = plan.inPlace;
  if (stream == nullptr) {
    uint8_t* room = memory != nullptr && plan.total() != 0 ? memory->stream : nullptr;
    if (room == nullptr) {
      ownStream = allocate(plan.total() + 1);
      room = ownStream.get();
    }
    if (room == nullptr) return BlpStatus::OutOfMemory;
    readSourceOrZero(file.source, plan.sharedStart, uint32_t(plan.sharedBytes), room);
    readSourceOrZero(file.source, f.offset, uint32_t(plan.levelBytes), room + plan.sharedBytes);
    stream = room;
  }
  const uint64_t decoderBytes = jpegDecoderBytes(f.width, f.height);
  uint8_t* decoderMemory = memory != nullptr ? memory->decoder : nullptr;
  if (decoderMemory == nullptr) {
    ownDecoder = allocate(blpJpegDecoderRoom(f.width, f.height));
    decoderMemory = ownDecoder.get();
  }
  JpegDecoder* decoder = nullptr;
  if (decoderMemory != nullptr && decoderBytes != 0) {
    const uintptr_t base = reinterpret_cast<uintptr_t>(decoderMemory);
    const uintptr_t aligned = (base + kJpegDecoderAlignment - 1) & ~uintptr_t(kJpegDecoderAlignment - 1);
    decoder = jpegDecoderInit(reinterpret_cast<void*>(aligned), decoderBytes, f.width, f.height);
  }
  if (decoder == nullptr) return BlpStatus::OutOfMemory;

  JpegOutput output;
  output.pixels = out;
  output.stride = stride;
  output.progress = progress;
  output.progressContext = progressContext;
  const JpegDecodeResult result = decodeJpeg(decoder, stream, uint32_t(plan.total()), output);
  level->damage.flags |= damageFromJpeg(result.flags);
  level->damage.blocksDecoded = result.blocksDecoded;
  level->damage.blocksTotal = result.blocksTotal;
  level->damage.jpegScans = result.scans;
  return BlpStatus::Ok;
}

}  // namespace

uint64_t blpJpegStreamBytes(const BlpLevelDecoder& level) {
  const StreamPlan plan = planStream(level);
  return plan.inPlace != nullptr ? 0 : plan.total();
}

BlpStatus blpLevelPrepareRows(BlpLevelDecoder* level) {
  const BlpLevelFormat& f = level->format;
  if (f.content != BlpContent::Jpeg || level->imageReady) return BlpStatus::Ok;
  const uint64_t rowBytes = uint64_t(f.width) * 4;
  level->image = allocate(rowBytes * f.height);
  if (!level->image) return BlpStatus::OutOfMemory;
  const BlpStatus status = decodeStream(level, level->image.get(), int64_t(rowBytes), nullptr, nullptr, nullptr);
  if (status != BlpStatus::Ok) {
    level->image.reset();
    return status;
  }
  level->imageReady = true;
  return BlpStatus::Ok;
}

BlpStatus blpLevelDecode(BlpLevelDecoder* level, BlpPixelLayout layout, uint8_t* out, int64_t stride,
                         const BlpJpegMemory* memory, JpegProgressCallback progress, void* progressContext) {
  const BlpLevelFormat& f = level->format;
  if (!blpLevelHasLayout(f, layout)) return BlpStatus::BadArgument;
  if (f.content != BlpContent::Jpeg) {
    blpLevelRows(level, 0, f.height, layout, out, stride);
    return BlpStatus::Ok;
  }
  if (level->imageReady) {
    blpLevelRows(level, 0, f.height, layout, out, stride);
    return BlpStatus::Ok;
  }
  // Four-byte layouts take the decoder's pixels straight into the caller's rows; the
  // others go through a whole-level image of the level decoder's own.
  if (layout == BlpPixelLayout::Bgra || layout == BlpPixelLayout::Rgba) {
    const BlpStatus status = decodeStream(level, out, stride, memory, progress, progressContext);
    if (status != BlpStatus::Ok || layout == BlpPixelLayout::Bgra) return status;
    uint8_t* row = out;
    for (uint32_t y = 0; y < f.height; ++y, row += stride) convertPixels(row, true, f.width, layout, row);
    return BlpStatus::Ok;
  }
  const uint64_t rowBytes = uint64_t(f.width) * 4;
  level->image = allocate(rowBytes * f.height);
  if (!level->image) return BlpStatus::OutOfMemory;
  const BlpStatus status = decodeStream(level, level->image.get(), int64_t(rowBytes), memory, progress, progressContext);
  if (status != BlpStatus::Ok) return status;
  level->imageReady = true;
  blpLevelRows(level, 0, f.height, layout, out, stride);
  return BlpStatus::Ok;
}

}  // namespace vellum
