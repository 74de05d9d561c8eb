// The Jpeg mode of the reader: level 0 is the shared JPEG header followed by the level's
// bytes; the stream is decoded whole at describe time and kept as rows.
#include <cstring>

#include "core/blp_reader.h"
#include "jpeg/jpeg_decoder.h"

namespace vellum {

namespace {

// Bytes of [offset, offset + count) that the source holds.
uint64_t clippedLength(const BlpSource& source, uint64_t offset, uint64_t count) {
  if (offset >= source.length) return 0;
  uint64_t available = source.length - offset;
  return count < available ? count : available;
}

}  // namespace

BlpStatus prepareJpegLevel(BlpReader* reader) {
  const BlpHeader& h = reader->header;
  const BlpSource& source = reader->source;

  uint8_t sizeField[4];
  readSourceOrZero(source, reader->headerSize, 4, sizeField);
  const uint64_t sharedStart = uint64_t(reader->headerSize) + 4;
  uint64_t sharedBytes = clippedLength(source, sharedStart, loadU32(sizeField));
  uint64_t levelBytes = clippedLength(source, reader->levelOffset, reader->levelSize);
  if (sharedBytes + levelBytes > UINT32_MAX) levelBytes = UINT32_MAX - sharedBytes;

  const uint64_t pixels = uint64_t(h.width) * h.height;
  const uint64_t decoderBytes = jpegDecoderBytes(h.width, h.height);
  std::unique_ptr<uint8_t[]> image = allocateBytes(pixels * 4);
  std::unique_ptr<uint8_t[]> stream = allocateBytes(sharedBytes + levelBytes + 1);
  // Room to align the decoder's memory, which the allocator need not do.
  std::unique_ptr<uint8_t[]> store = decoderBytes ? allocateBytes(decoderBytes + kJpegDecoderAlignment - 1) : nullptr;
  if (!image || !stream || !store) return BlpStatus::OutOfMemory;

  readSourceOrZero(source, sharedStart, uint32_t(sharedBytes), stream.get());
  readSourceOrZero(source, reader->levelOffset, uint32_t(levelBytes), stream.get() + sharedBytes);

  const uintptr_t base = reinterpret_cast<uintptr_t>(store.get());
  const uintptr_t aligned = (base + kJpegDecoderAlignment - 1) & ~uintptr_t(kJpegDecoderAlignment - 1);
  JpegDecoder* decoder = jpegDecoderInit(reinterpret_cast<void*>(aligned), decoderBytes, h.width, h.height);
  JpegOutput output;
  output.pixels = image.get();
  output.stride = int64_t(h.width) * 4;
  decodeJpeg(decoder, stream.get(), uint32_t(sharedBytes + levelBytes), output);
  store.reset();
  stream.reset();

  uint8_t* p = image.get();
  if (blpWordAt8(h) != 0) {
    reader->bitsPerPixel = 32;
    for (uint64_t i = 0; i < pixels; ++i, p += 4) {
      uint8_t blue = p[0];
      p[0] = p[2];
      p[2] = blue;
    }
  } else {
    // Repack in place to 3 bytes a pixel, red, green, blue; rows become 3 * width long.
    reader->bitsPerPixel = 24;
    uint8_t* out = image.get();
    for (uint64_t i = 0; i < pixels; ++i, p += 4, out += 3) {
      uint8_t blue = p[0], green = p[1], red = p[2];
      out[0] = red;
      out[1] = green;
      out[2] = blue;
    }
  }
  reader->buffer = std::move(image);
  reader->mode = BlpDecodeMode::Jpeg;
  return BlpStatus::Ok;
}

}  // namespace vellum
