#include "photoshop/ps_read.h"

#include <algorithm>
#include <cstring>

namespace vellum {

namespace {

constexpr uint64_t kMaxHandleBytes = 0x7FFFFFFF;  // handle sizes are int32

uint64_t alignUp16(uint64_t v) { return (v + 15) & ~uint64_t(15); }

uint32_t readFromHost(void* context, uint64_t offset, uint32_t count, uint8_t* destination) {
  auto* reader = static_cast<PsFileReader*>(context);
  const PsPlatform& platform = *reader->platform;
  if (offset > UINT32_MAX || !platform.seek(platform.context, reader->file, uint32_t(offset))) {
    if (reader->error == 0) reader->error = ps::kWritErr;
    return 0;
  }
  const int64_t got = count == 0 ? 0 : platform.read(platform.context, reader->file, destination, count);
  if (got != int64_t(count) && reader->error == 0) reader->error = ps::kReadErr;
  return got > 0 ? uint32_t(std::min<int64_t>(got, count)) : 0;
}

// Opens the file through the host's handle; the header's own refusals, or a header that
// could not be read (-19 / -20), come back as the result.
int16_t openHostFile(BlpFile* file, PsFileReader* reader, const PsPlatform& platform, intptr_t handle) {
  uint64_t length = 0;
  // Every read positions the file first; a handle that cannot even be positioned fails as a
  // positioning failure, whatever the size query said.
  if (!platform.length(platform.context, handle, &length))
    return platform.seek(platform.context, handle, 0) ? ps::kReadErr : ps::kWritErr;
  reader->platform = &platform;
  reader->file = handle;
  bool refused = false;
  const int32_t code = blpFileOpen(file, psFileSource(reader, length), photoshopReadPolicy(), &refused);
  // A header that could not be read is the read's failure, not the header's.
  if (file->findings & findingBit(BlpFinding::ShortHeader)) {
    if (!refused) blpFileClose(file);
    return reader->error != 0 ? reader->error : ps::kReadErr;
  }
  return refused ? int16_t(code) : ps::kNoErr;
}

}  // namespace

BlpReadPolicy photoshopReadPolicy() {
  BlpReadPolicy policy;
  auto rule = [&](BlpFinding f, BlpFindingAction action, int16_t code) { policy.rules[int(f)] = {action, code}; };
  const auto refuse = BlpFindingAction::Refuse;
  rule(BlpFinding::ShortHeader, refuse, ps::kReadErr);
  rule(BlpFinding::BadSignature, refuse, ps::kFormatCannotRead);
  rule(BlpFinding::BadDimensions, refuse, ps::kFormatCannotRead);
  rule(BlpFinding::BadStorage, refuse, ps::kFormatCannotRead);
  rule(BlpFinding::EmptyLevel, refuse, ps::kFormatCannotRead);
  rule(BlpFinding::BadCompression, refuse, ps::kFormatCannotRead);
  rule(BlpFinding::OffsetPastEnd, refuse, ps::kReadErr);
  rule(BlpFinding::LevelPastEnd, refuse, ps::kReadErr);
  rule(BlpFinding::ShortLevel, refuse, ps::kFormatCannotRead);
  rule(BlpFinding::SharedHeaderTooLarge, BlpFindingAction::Report, ps::kFormatCannotRead);
  policy.lengthFirst = true;
  policy.alphaFromDepthBits = true;
  policy.unusualDepthAsEightBits = true;
  return policy;
}

BlpSource psFileSource(PsFileReader* reader, uint64_t length) {
  BlpSource source;
  source.context = reader;
  source.length = length;
  source.read = readFromHost;
  return source;
}

int16_t filterBlpFile(const PsPlatform& platform, intptr_t file) {
  BlpFile blp;
  PsFileReader reader;
  const int16_t result = openHostFile(&blp, &reader, platform, file);
  if (result == ps::kNoErr) blpFileClose(&blp);
  return result;
}

uint32_t contentCodeOf(const BlpFile& file, const BlpLevelFormat& format) {
  switch (format.content) {
    case BlpContent::Paletted:
      return (format.alphaBits << 8) + kKindPaletteIndices;
    case BlpContent::Dxt:
      switch (format.dxtVariant) {
        case DxtVariant::Dxt3: return 0x800u + kKindDxt3;
        case DxtVariant::Dxt5: return 0x800u + kKindDxt5;
        case DxtVariant::Dxt1Alpha: return 0x800u + kKindDxt1;
        default: return kKindDxt1;
      }
    case BlpContent::Raw:
      return (format.alphaBits << 8) + kKindRawPixels;
    case BlpContent::Jpeg: {
      const uint32_t longHeader = file.header.layout == BlpLayout::Blp1 ? 0x10000u : 0u;
      return longHeader + (format.alphaBits << 8) + kKindJpeg;
    }
    default:
      return 0;
  }
}

int16_t prepareReadLevel(PluginGlobals* g, const PsPlatform& platform, intptr_t file, bool preview,
                         ReadLevel* level) {
  *level = ReadLevel{};
  PsFileReader reader;
  int16_t result = openHostFile(&g->file, &reader, platform, file);
  if (result != ps::kNoErr) return result;
  const uint32_t index = preview ? blpLevelAtMost(g->file.header, kPsPreviewSide) : 0;
  bool refused = false;
  const int32_t code = blpDescribeLevel(g->file, index, &g->format, &refused);
  // The source lives on this call's stack: the globals keep the file without it.
  const BlpSource source = g->file.source;
  g->file.source = BlpSource{};
  g->file.source.length = source.length;
  if (refused) return int16_t(code);
  // The palette comes with the header; a file too short to hold it is a failed read.
  if (reader.error != ps::kNoErr) return reader.error;
  level->level = index;
  level->rows = g->format.height;
  level->columns = g->format.width;
  level->contentCode = contentCodeOf(g->file, g->format);
  return ps::kNoErr;
}

JpegBufferLayout jpegBufferLayout(uint32_t rows, uint32_t columns, uint32_t levelOffset, uint32_t levelSize) {
  JpegBufferLayout layout;
  const uint64_t store = blpJpegDecoderRoom(columns, rows);
  if (store == 0) return layout;
  layout.streamOffset = uint64_t(rows) * columns * 4;
  layout.stateOffset = alignUp16(layout.streamOffset + levelOffset + levelSize);
  layout.totalBytes = layout.stateOffset + store;
  return layout;
}

uint64_t readBufferBytes(uint32_t contentCode, uint32_t rows, uint32_t columns, uint32_t levelOffset,
                         uint32_t levelSize) {
  if (contentKind(contentCode) != kKindJpeg) return kPsChunkBytes;
  const uint64_t bytes = jpegBufferLayout(rows, columns, levelOffset, levelSize).totalBytes;
  return bytes <= kMaxHandleBytes ? bytes : 0;
}

namespace {

// The JPEG level in one chunk: the core decodes it into the pixel buffer, top row first,
// with the stream and the decoder in the buffer's later parts.
int16_t readJpegLevel(PluginGlobals* g, BlpLevelDecoder* level, const PsFileReader& reader) {
  BlpFinding which;
  const BlpFindingRule* rule = firstActingRule(g->file.policy, g->format.findings, &which);
  if (rule != nullptr) return int16_t(rule->code);
  const JpegBufferLayout layout = jpegBufferLayout(g->rows, g->columns, g->format.offset, g->format.size);
  if (layout.totalBytes == 0) return ps::kMemFullErr;
  BlpJpegMemory memory;
  memory.stream = g->pixels + layout.streamOffset;
  memory.decoder = g->pixels + layout.stateOffset;
  const BlpStatus status = blpLevelDecode(level, BlpPixelLayout::Bgra, g->pixels, int64_t(g->columns) * 4, &memory);
  if (reader.error != ps::kNoErr) return reader.error;
  if (status != BlpStatus::Ok) return ps::kMemFullErr;
  g->rowsDone = g->rows;
  return ps::kNoErr;
}

}  // namespace

int16_t readNextChunk(PluginGlobals* g, const PsPlatform& platform, intptr_t file, ReadChunk* chunk) {
  *chunk = ReadChunk{};
  if (g->rowsDone >= g->rows) {
    if (contentKind(g->contentCode) == kKindPaletteIndices && contentAlphaBits(g->contentCode) != 0) {
      g->rowsDone = 0;
      g->contentCode += 6;  // the alpha plane follows the indices
    } else {
      chunk->done = true;
      return ps::kNoErr;
    }
  }
  PsFileReader reader;
  reader.platform = &platform;
  reader.file = file;
  const uint64_t fileLength = g->file.source.length;
  g->file.source = psFileSource(&reader, fileLength);
  BlpLevelDecoder level;
  BlpStatus opened = blpLevelDecoderOpen(&level, g->file, g->format);

  const uint32_t columns = g->columns;
  chunk->planeBytes = 1;
  chunk->top = g->rowsDone;
  chunk->right = columns;
  chunk->loPlane = 0;
  chunk->data = g->pixels;
  chunk->colBytes = 4;
  chunk->hiPlane = contentAlphaBits(g->contentCode) != 0 ? 3 : 2;
  chunk->rowBytes = int32_t(4 * columns);

  const uint32_t left = g->rows - g->rowsDone;
  uint32_t rows = 0;
  BlpPixelLayout layout = BlpPixelLayout::Rgba;
  int16_t status = ps::kNoErr;
  switch (contentKind(g->contentCode)) {
    case kKindJpeg:
      chunk->planeMap[0] = 2;  // the decoder's pixels are blue, green, red, alpha
      chunk->planeMap[2] = 0;
      status = opened == BlpStatus::Ok ? readJpegLevel(g, &level, reader) : ps::kMemFullErr;
      break;
    case kKindPaletteIndices:
      chunk->hiPlane = 0;
      chunk->colBytes = 1;
      chunk->rowBytes = int32_t(columns);
      rows = std::min(kPsChunkBytes / columns, left);
      layout = BlpPixelLayout::Indices;
      break;
    case kKindAlphaPlane:
      chunk->loPlane = chunk->hiPlane = 1;
      chunk->colBytes = 1;
      chunk->rowBytes = int32_t(columns);
      rows = std::min(kPsChunkBytes / columns, left);
      if (rows > 7) rows &= ~7u;  // every chunk but the last starts on a byte of the plane
      layout = BlpPixelLayout::Alpha;
      break;
    case kKindRawPixels:
      chunk->planeMap[0] = 2;  // stored blue, green, red, alpha
      chunk->planeMap[2] = 0;
      rows = std::min(kPsRawChunkPixels / columns, left);
      layout = BlpPixelLayout::Bgra;
      break;
    default:  // DXT1, DXT3, DXT5: one row of blocks
      rows = std::min<uint32_t>(4, left);
      break;
  }
  if (contentKind(g->contentCode) != kKindJpeg) {
    if (opened == BlpStatus::Ok) {
      blpLevelRows(&level, g->rowsDone, rows, layout, g->pixels, int64_t(columns) * blpLayoutBytes(layout));
      status = reader.error;
    } else {
      status = ps::kMemFullErr;
    }
    g->rowsDone += rows;
  }
  blpLevelDecoderClose(&level);
  g->file.source = BlpSource{};
  g->file.source.length = fileLength;
  chunk->bottom = g->rowsDone;
  return status;
}

}  // namespace vellum
