#include "shell/shell_stream.h"

#include <cstring>
#include <new>

namespace vellum::shell {

namespace {

constexpr ULONG kReadChunk = ULONG(1) << 20;

bool grow(StreamBytes* bytes, size_t* capacity, size_t wanted) {
  std::unique_ptr<uint8_t[]> larger(new (std::nothrow) uint8_t[wanted]);
  if (!larger) return false;
  if (bytes->size != 0) std::memcpy(larger.get(), bytes->data.get(), bytes->size);
  bytes->data = std::move(larger);
  *capacity = wanted;
  return true;
}

}  // namespace

HRESULT readWholeStream(IStream* stream, uint64_t limit, StreamBytes* bytes) {
  if (stream == nullptr || bytes == nullptr) return E_POINTER;
  *bytes = StreamBytes{};
  const HRESULT tooLarge = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
  // The stream's size is a hint for the first allocation; the reads decide.
  uint64_t hint = 0;
  STATSTG stat;
  if (SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME))) hint = stat.cbSize.QuadPart;
  if (hint > limit) return tooLarge;
  LARGE_INTEGER start;
  start.QuadPart = 0;
  stream->Seek(start, STREAM_SEEK_SET, nullptr);  // streams that cannot seek start at 0

  size_t capacity = 0;
  if (!grow(bytes, &capacity, size_t(hint != 0 ? hint : 65536))) return E_OUTOFMEMORY;
  for (;;) {
    if (bytes->size == capacity) {
      // Full at the announced size: one small read tells the end from a stream that grew.
      uint8_t probe[4096];
      ULONG got = 0;
      const HRESULT hr = stream->Read(probe, sizeof probe, &got);
      if (FAILED(hr)) return hr;
      if (got == 0) break;
      if (uint64_t(bytes->size) + got > limit) return tooLarge;
      const uint64_t needed = uint64_t(bytes->size) + got;
      uint64_t wanted = uint64_t(capacity) * 2;
      if (wanted < needed) wanted = needed;
      if (wanted > limit) wanted = limit;
      if (!grow(bytes, &capacity, size_t(wanted))) return E_OUTOFMEMORY;
      std::memcpy(bytes->data.get() + bytes->size, probe, got);
      bytes->size += got;
      continue;
    }
    const size_t room = capacity - bytes->size;
    ULONG got = 0;
    const HRESULT hr = stream->Read(bytes->data.get() + bytes->size, room < kReadChunk ? ULONG(room) : kReadChunk, &got);
    if (FAILED(hr)) return hr;
    if (got == 0) break;
    bytes->size += got;
  }
  return S_OK;
}

}  // namespace vellum::shell
