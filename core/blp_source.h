// A readable byte source of known length with positioned reads. The reader works only
// through this record, so the same rules serve a file on disk, a file held in memory by a
// host, or a host's file handle.
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/blp_status.h"

namespace vellum {

struct BlpSource {
  void* context = nullptr;
  uint64_t length = 0;
  // Copies up to `count` bytes from `offset`; returns the bytes delivered, which is fewer
  // than `count` when the read runs past the end (or fails).
  uint32_t (*read)(void* context, uint64_t offset, uint32_t count, uint8_t* destination) = nullptr;
  // Releases what the source owns; may be null.
  void (*release)(void* context) = nullptr;
  // The bytes themselves when the source is memory (length bytes), else null: a JPEG
  // stream that lies in one piece is then decoded where it is, without a copy.
  const uint8_t* memory = nullptr;
};

// Reads through the source, then zero-fills whatever it did not deliver, so that a
// destination is always fully defined. Returns the bytes actually read.
uint32_t readSourceOrZero(const BlpSource& source, uint64_t offset, uint32_t count,
                          uint8_t* destination);

void releaseSource(BlpSource* source);

// A source over bytes that the caller keeps alive; nothing is copied or released.
BlpSource memorySource(const uint8_t* data, uint64_t size);

// A source over a file opened for reading; released by releaseSource.
BlpStatus openFileSource(const char* path, BlpSource* source);

}  // namespace vellum
