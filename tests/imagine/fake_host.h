// A fake Imagine host: the service table with every entry the plug-in uses, images kept as
// bottom-up bitmaps (rows 4-byte aligned, row 0 the top row), host palettes as
// red, green, blue, flags entries, the host's memory, output blocks that capture the bytes
// written, and a progress function that logs every report. Used by the native tests on
// the portable logic and by the i686 emulator on the real DLL.
//
// The service table is filled by entry number (the numbers of the host's table), not
// through the plug-in's declaration of it, so that a wrong slot in that declaration shows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imagine/imagine_records.h"

namespace vellum::testing {

struct FakeImage {
  int32_t width = 0, height = 0, bits = 0, createFlags = 0;
  uint32_t stride = 0;              // bytes a row, 4-byte aligned
  std::vector<uint8_t> memory;      // bottom-up: the top row is stored last
  uint8_t palette[1024] = {};       // red, green, blue, flags
  int32_t paletteSets = 0;
  int32_t alphaKind = -1;           // -1: never set
  int32_t sourceKind = -1;
  bool hasDescription = false;
  std::u16string description;       // read in the width the host announced
  uint8_t* row(int32_t y) { return memory.data() + uint64_t(height - 1 - y) * stride; }
};

struct ProgressReport {
  void* image;
  void* param;
  int32_t current, total;
  const void* message;
};

// A file held in memory so that its last byte ends a page and the next page cannot be
// read or written: any read past the end of the file stops the program.
class GuardedBytes {
 public:
  explicit GuardedBytes(const std::vector<uint8_t>& bytes);
  ~GuardedBytes();
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;
  const uint8_t* data() const { return data_; }

 private:
  uint8_t* base_ = nullptr;
  uint64_t mapped_ = 0;
  uint8_t* data_ = nullptr;
};

class FakeHost {
 public:
  FakeHost();
  ~FakeHost();
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  // What the plug-in's routines receive.
  const ImagineInterface* registrar() const { return &iface_; }
  const ImagineHostInterface* hostInterface() const { return &hostRecord_; }

  // An image as the host would hand it to the save routine.
  FakeImage* addImage(int32_t width, int32_t height, int32_t bits, int32_t alphaKind);
  FakeImage* image(void* handle);  // null when the handle is not one of ours

  // Settings.
  int32_t registerResult = 1;
  bool failCreate = false;
  bool failOutputBlock = false;
  bool failWrite = false;
  int64_t allocationLimit = INT64_MAX;  // single requests above this give null
  int32_t cancelAtReport = -1;          // report number (0-based) answered with 0
  int32_t nullRowsFrom = INT32_MAX;     // rows from this one on have no address (null)
  bool nullPixelMemory = false;
  // Service entry 103, a data word: nonzero when the host takes UTF-16 text.
  void setUnicode(uintptr_t word) { slots[103] = reinterpret_cast<void*>(word); }
  bool unicode() const { return slots[103] != nullptr; }

  // What happened.
  const ImagineFileFormat* registered = nullptr;
  int32_t registrations = 0;
  std::vector<std::unique_ptr<FakeImage>> images;
  std::vector<int64_t> allocations;     // sizes asked of entry 15
  std::vector<ProgressReport> reports;
  std::vector<uint8_t> written;         // bytes through entry 14
  int32_t writes = 0;
  int32_t outputBlockFlags = 0;
  int32_t outputBlockSize = -1;
  int32_t buildPaletteEntries = -1, buildPaletteMode = -1;
  int32_t paletteBytesEntries = -1, paletteBytesMode = -1;
  std::vector<std::string> violations;  // misuse of a service (bad row, bad position ...)

  static FakeHost* current;

  // The progress function to put into a load request.
  static ImagineProgressFn progressFunction();

  void* slots[108] = {};
  std::vector<std::unique_ptr<uint8_t[]>> memory;
  std::vector<std::unique_ptr<uint8_t[]>> blocks;

 private:
  ImagineInterface iface_;
  ImagineHostInterface hostRecord_;
};

}  // namespace vellum::testing
