#include "core/blp_source.h"

#include <cstring>
#include <new>

namespace vellum {

uint32_t readSourceOrZero(const BlpSource& source, uint64_t offset, uint32_t count,
                          uint8_t* destination) {
  uint32_t got = 0;
  if (source.read != nullptr && count > 0) got = source.read(source.context, offset, count, destination);
  if (got > count) got = count;
  if (got < count) std::memset(destination + got, 0, count - got);
  return got;
}

void releaseSource(BlpSource* source) {
  if (source->release != nullptr) source->release(source->context);
  *source = BlpSource{};
}

namespace {

struct MemoryBytes {
  const uint8_t* data;
  uint64_t size;
};

uint32_t readMemory(void* context, uint64_t offset, uint32_t count, uint8_t* destination) {
  const auto* bytes = static_cast<const MemoryBytes*>(context);
  if (offset >= bytes->size) return 0;
  uint64_t available = bytes->size - offset;
  uint32_t n = available < count ? uint32_t(available) : count;
  std::memcpy(destination, bytes->data + offset, n);
  return n;
}

void releaseMemory(void* context) { delete static_cast<MemoryBytes*>(context); }

struct FileBytes {
  std::FILE* file;
};

uint32_t readFile(void* context, uint64_t offset, uint32_t count, uint8_t* destination) {
  auto* f = static_cast<FileBytes*>(context);
  if (offset > uint64_t(INT64_MAX)) return 0;
#if defined(_WIN32)
  if (_fseeki64(f->file, int64_t(offset), SEEK_SET) != 0) return 0;
#else
  if (fseeko(f->file, off_t(offset), SEEK_SET) != 0) return 0;
#endif
  return uint32_t(std::fread(destination, 1, count, f->file));
}

void releaseFile(void* context) {
  auto* f = static_cast<FileBytes*>(context);
  std::fclose(f->file);
  delete f;
}

}  // namespace

BlpSource memorySource(const uint8_t* data, uint64_t size) {
  BlpSource source;
  auto* bytes = new (std::nothrow) MemoryBytes{data, size};
  if (bytes == nullptr) return source;  // a source that delivers nothing
  source.context = bytes;
  source.length = size;
  source.read = readMemory;
  source.release = releaseMemory;
  source.memory = data;
  return source;
}

BlpStatus openFileSource(const char* path, BlpSource* source) {
  *source = BlpSource{};
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return BlpStatus::IoError;
  int64_t length = -1;
#if defined(_WIN32)
  if (_fseeki64(file, 0, SEEK_END) == 0) length = _ftelli64(file);
#else
  if (fseeko(file, 0, SEEK_END) == 0) length = int64_t(ftello(file));
#endif
  auto* f = length < 0 ? nullptr : new (std::nothrow) FileBytes{file};
  if (f == nullptr) {
    std::fclose(file);
    return length < 0 ? BlpStatus::IoError : BlpStatus::OutOfMemory;
  }
  source->context = f;
  source->length = uint64_t(length);
  source->read = readFile;
  source->release = releaseFile;
  return BlpStatus::Ok;
}

}  // namespace vellum
