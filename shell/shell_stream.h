// The file behind an IInitializeWithStream stream, read into memory once: the library opens
// BLP files from memory, and a handler reads its file once for all its answers.
#pragma once

#include <windows.h>

#include <objidl.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vellum::shell {

struct StreamBytes {
  std::unique_ptr<uint8_t[]> data;
  size_t size = 0;
};

// Reads the whole stream from its start. S_OK; HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)
// for more than `limit` bytes (found from the stream's size when it tells it, else after
// `limit` bytes at most); E_OUTOFMEMORY; or the stream's own error.
HRESULT readWholeStream(IStream* stream, uint64_t limit, StreamBytes* bytes);

}  // namespace vellum::shell
