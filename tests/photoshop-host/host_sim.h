// A Photoshop host for file-format plug-ins, as far as Vellum32 needs one: the
// FormatRecord, SPBasicSuite with the Handle Suite (version 2) over real memory, the
// resource callbacks and advanceState, and the host's calling sequences (filter, open,
// save, About) with the chunk assembly and plane filling of the host side.
//
// Portable and header-only: the native tests drive the plug-in's portable PluginMain with
// it, the Wine emulator (ps_host.cpp) drives the real Vellum32.8BI. The record layouts
// are the plug-in's own declarations (photoshop/ps_api.h), whose offsets are checked
// against the published layout at compile time.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "photoshop/ps_api.h"

namespace pshost {

using namespace vellum::ps;

using PluginEntry = void (*)(int16_t selector, void* record, intptr_t* data, int16_t* result);

// ---- Host memory: handles over malloc, with bookkeeping the tests can inspect. ----

struct HandleBlock {
  char* master;  // the Handle is the address of this pointer
  int32_t size;
  bool locked;
};

struct Memory {
  std::vector<HandleBlock*> live;
  int news = 0, failedNews = 0, disposes = 0, setSizes = 0, locks = 0, unlocks = 0;
  int acquires = 0, releases = 0;
  int failNewAt = 0;             // fail the n-th New from now (1 = the next one); 0: never
  int32_t failNewAbove = 0x7FFFFFFF;  // fail every New larger than this
  int badDisposes = 0;           // Dispose of a handle that is not live
  bool failSetSize = false;

  void reset() { *this = Memory{}; }
  bool isLive(Handle h) const {
    for (HandleBlock* b : live)
      if (&b->master == h) return true;
    return false;
  }
  HandleBlock* block(Handle h) {
    for (HandleBlock* b : live)
      if (&b->master == h) return b;
    return nullptr;
  }
};

inline Memory& memory() {
  static Memory m;
  return m;
}

inline Handle hostNew(int32_t size) {
  Memory& m = memory();
  ++m.news;
  if (m.failNewAt > 0 && --m.failNewAt == 0) {
    ++m.failedNews;
    return nullptr;
  }
  if (size < 0 || size > m.failNewAbove) {
    ++m.failedNews;
    return nullptr;
  }
  auto* b = static_cast<HandleBlock*>(std::malloc(sizeof(HandleBlock)));
  char* bytes = static_cast<char*>(std::malloc(size_t(size > 0 ? size : 1)));
  if (b == nullptr || bytes == nullptr) {
    std::free(b);
    std::free(bytes);
    ++m.failedNews;
    return nullptr;
  }
  std::memset(bytes, 0xA5, size_t(size));  // the host does not clear new handles
  b->master = bytes;
  b->size = size;
  b->locked = false;
  m.live.push_back(b);
  return &b->master;
}

inline void hostDispose(Handle h) {
  Memory& m = memory();
  for (size_t i = 0; i < m.live.size(); ++i) {
    if (&m.live[i]->master == h) {
      std::free(m.live[i]->master);
      std::free(m.live[i]);
      m.live.erase(m.live.begin() + long(i));
      ++m.disposes;
      return;
    }
  }
  ++m.badDisposes;
}

inline void hostSetLock(Handle h, Boolean lock, Ptr* address, Boolean* oldLock) {
  Memory& m = memory();
  HandleBlock* b = m.block(h);
  if (b == nullptr) {
    if (address != nullptr) *address = nullptr;
    return;
  }
  if (oldLock != nullptr) *oldLock = b->locked;
  b->locked = lock != 0;
  lock ? ++m.locks : ++m.unlocks;
  if (address != nullptr) *address = lock ? b->master : nullptr;
}

inline int32_t hostGetSize(Handle h) {
  HandleBlock* b = memory().block(h);
  return b != nullptr ? b->size : 0;
}

inline OSErr hostSetSize(Handle h, int32_t size) {
  Memory& m = memory();
  ++m.setSizes;
  HandleBlock* b = m.block(h);
  if (b == nullptr || size < 0 || m.failSetSize) return kMemFullErr;
  char* bytes = static_cast<char*>(std::realloc(b->master, size_t(size > 0 ? size : 1)));
  if (bytes == nullptr) return kMemFullErr;
  b->master = bytes;
  b->size = size;
  return kNoErr;
}

inline void hostRecoverSpace(int32_t) {}

inline PSHandleSuite2& handleSuite() {
  static PSHandleSuite2 suite = {hostNew, hostDispose, hostDispose, hostSetLock, hostGetSize, hostSetSize,
                                 hostRecoverSpace};
  return suite;
}

inline SPErr hostAcquireSuite(const char* name, int32_t version, const void** suite) {
  if (std::strcmp(name, kHandleSuiteName) == 0 && version == kHandleSuiteVersion2) {
    ++memory().acquires;
    *suite = &handleSuite();
    return kSPNoError;
  }
  return 0x53214664;  // 'S!Fd': suite not found
}

inline SPErr hostReleaseSuite(const char* name, int32_t version) {
  if (std::strcmp(name, kHandleSuiteName) == 0 && version == kHandleSuiteVersion2) ++memory().releases;
  return kSPNoError;
}

inline SPBoolean hostIsEqual(const char* a, const char* b) { return std::strcmp(a, b) == 0; }
inline SPErr hostAllocateBlock(size_t size, void** block) {
  *block = std::malloc(size);
  return *block != nullptr ? kSPNoError : kMemFullErr;
}
inline SPErr hostFreeBlock(void* block) {
  std::free(block);
  return kSPNoError;
}
inline SPErr hostReallocateBlock(void* block, size_t size, void** out) {
  *out = std::realloc(block, size);
  return *out != nullptr ? kSPNoError : kMemFullErr;
}
inline SPErr hostUndefined() { return kSPNoError; }

inline SPBasicSuite& basicSuite() {
  static SPBasicSuite suite = {hostAcquireSuite, hostReleaseSuite, hostIsEqual, hostAllocateBlock,
                               hostFreeBlock, hostReallocateBlock, hostUndefined};
  return suite;
}

inline int16_t hostCountResources(ResType) { return 0; }
inline Handle hostGetResource(ResType, int16_t) { return nullptr; }
inline void hostDeleteResource(ResType, int16_t) {}
inline OSErr hostAddResource(ResType, Handle) { return kNoErr; }
inline OSErr hostAdvanceState() { return kNoErr; }

inline ResourceProcs& resourceProcs() {
  static ResourceProcs procs = {3, 4, hostCountResources, hostGetResource, hostDeleteResource, hostAddResource};
  return procs;
}

// ---- The parameter block ----

struct HostOptions {
  bool coords32 = true;
  bool preview = false;
  bool withAdvanceState = true;
  bool withResourceProcs = true;
};

inline void initRecord(FormatRecord* r, intptr_t file, const HostOptions& o) {
  std::memset(r, 0, sizeof *r);
  r->hostSig = kPhotoshopSignature;
  r->hostModes = 0x0F;
  r->dataFork = file;
  r->sSPBasic = &basicSuite();
  r->resourceProcs = o.withResourceProcs ? &resourceProcs() : nullptr;
  r->advanceState = o.withAdvanceState ? hostAdvanceState : nullptr;
  r->HostSupports32BitCoordinates = o.coords32 ? 1 : 0;
  r->openForPreview = o.preview ? 1 : 0;
  r->transparencyPlane = -1;  // the host takes transparency
  r->transparentIndex = -1;
  for (int i = 0; i < 16; ++i) r->planeMap[i] = int16_t(i);
}

struct Rect32 {
  int32_t top, left, bottom, right;
};

inline Rect32 requestRect(const FormatRecord& r, bool coords32) {
  if (coords32) return {r.theRect32.top, r.theRect32.left, r.theRect32.bottom, r.theRect32.right};
  return {r.theRect.top, r.theRect.left, r.theRect.bottom, r.theRect.right};
}

// ---- Open: 1, 2, 3 until data is null, 4 ----

struct Chunk {
  int32_t top, bottom;
  int16_t loPlane, hiPlane;
};

struct OpenResult {
  int16_t result = 0;        // the first non-zero result, or 0
  int16_t failedSelector = -1;
  intptr_t dataAfter = -1;   // *data after the last call
  int16_t imageMode = -1;
  int32_t rows = 0, columns = 0;
  int16_t planes = 0, depth = 0;
  int32_t transparencyPlane = 0, transparencyMatting = -1;
  int32_t lutCount = 0;
  uint8_t lut[3][256] = {};
  int32_t maxDataAtPrepare = 0;
  std::vector<std::vector<uint8_t>> planeBytes;  // per plane, rows * columns
  std::vector<Chunk> chunks;
  std::string problem;       // a host-side check that failed (rectangle, planes ...)
};

inline bool assembleChunk(const FormatRecord& r, bool coords32, OpenResult* out) {
  const Rect32 rc = requestRect(r, coords32);
  if (rc.top < 0 || rc.left != 0 || rc.bottom > out->rows || rc.right != out->columns || rc.top >= rc.bottom) {
    out->problem = "chunk rectangle outside the image";
    return false;
  }
  if (r.loPlane < 0 || r.hiPlane < r.loPlane || r.hiPlane >= out->planes) {
    out->problem = "chunk planes outside the image";
    return false;
  }
  out->chunks.push_back({rc.top, rc.bottom, r.loPlane, r.hiPlane});
  const auto* data = static_cast<const uint8_t*>(r.data);
  for (int32_t y = rc.top; y < rc.bottom; ++y) {
    const uint8_t* row = data + int64_t(y - rc.top) * r.rowBytes;
    for (int p = r.loPlane; p <= r.hiPlane; ++p) {
      const int target = r.planeMap[p];
      if (target < 0 || target >= out->planes) {
        out->problem = "plane map outside the image";
        return false;
      }
      std::vector<uint8_t>& plane = out->planeBytes[size_t(target)];
      for (int32_t x = 0; x < out->columns; ++x)
        plane[size_t(int64_t(y) * out->columns + x)] =
            row[int64_t(x) * r.colBytes + int64_t(p - r.loPlane) * r.planeBytes];
    }
  }
  return true;
}

inline OpenResult openFile(PluginEntry entry, intptr_t file, const HostOptions& o) {
  OpenResult out;
  FormatRecord r;
  initRecord(&r, file, o);
  intptr_t data = 0;
  auto call = [&](int16_t selector) {
    int16_t result = 0;
    entry(selector, &r, &data, &result);
    out.dataAfter = data;
    if (result != 0 && out.result == 0) {
      out.result = result;
      out.failedSelector = selector;
    }
    return result;
  };
  if (call(kSelectorReadPrepare) != 0) return out;
  out.maxDataAtPrepare = r.maxData;
  const int16_t started = call(kSelectorReadStart);
  out.imageMode = r.imageMode;
  out.rows = o.coords32 ? r.imageSize32.v : r.imageSize.v;
  out.columns = o.coords32 ? r.imageSize32.h : r.imageSize.h;
  out.planes = r.planes;
  out.depth = r.depth;
  out.transparencyPlane = r.transparencyPlane;
  out.transparencyMatting = r.transparencyMatting;
  out.lutCount = r.lutCount;
  std::memcpy(out.lut[0], r.redLUT, 256);
  std::memcpy(out.lut[1], r.greenLUT, 256);
  std::memcpy(out.lut[2], r.blueLUT, 256);
  if (started != 0) return out;
  if (out.rows <= 0 || out.columns <= 0 || out.planes <= 0 || out.planes > 4) {
    out.problem = "image size or planes out of range";
    return out;
  }
  out.planeBytes.assign(size_t(out.planes), std::vector<uint8_t>(size_t(int64_t(out.rows) * out.columns), 0));
  for (int guard = 0; r.data != nullptr; ++guard) {
    if (guard > 1000000 || !assembleChunk(r, o.coords32, &out)) {
      if (out.problem.empty()) out.problem = "too many chunks";
      call(kSelectorReadFinish);
      return out;
    }
    if (call(kSelectorReadContinue) != 0) return out;
  }
  call(kSelectorReadFinish);
  return out;
}

// ---- Filter: 17 alone ----

inline int16_t filterFile(PluginEntry entry, intptr_t file, intptr_t* dataAfter = nullptr) {
  FormatRecord r;
  initRecord(&r, file, HostOptions{});
  intptr_t data = 0;
  int16_t result = 0;
  entry(kSelectorFilterFile, &r, &data, &result);
  if (dataAfter != nullptr) *dataAfter = data;
  return result;
}

// ---- Save: 5, 6, 9, 10, 13, 14 (planes filled), 15, 16 ----

// A host image: `planes` planes of rows * columns bytes (Bitmap: one byte 0/1 a pixel,
// 1 = black, packed into bits by the host when the plug-in asks).
struct HostImage {
  int16_t mode = kModeRGBColor;
  int16_t planes = 3;
  int32_t rows = 0, columns = 0;
  std::vector<std::vector<uint8_t>> planeBytes;
  uint8_t lut[3][256] = {};
  int32_t lutCount = 256;
  int32_t transparentIndex = -1;
};

struct SaveResult {
  int16_t result = 0;
  int16_t failedSelector = -1;
  intptr_t dataAfter = -1;
  int32_t minDataBytes = 0, maxDataBytes = 0, maxDataAtWritePrepare = 0;
  bool dataNullAfterContinue = false;
  std::string problem;
};

inline bool fillRequest(FormatRecord& r, const HostImage& img, bool coords32, SaveResult* out) {
  const Rect32 rc = requestRect(r, coords32);
  if (rc.top != 0 || rc.left != 0 || rc.bottom != img.rows || rc.right != img.columns) {
    out->problem = "write request is not the whole image";
    return false;
  }
  if (r.loPlane != 0 || r.hiPlane < 0 || r.hiPlane >= img.planes || r.data == nullptr) {
    out->problem = "write request planes outside the image";
    return false;
  }
  auto* data = static_cast<uint8_t*>(r.data);
  if (img.mode == kModeBitmap) {
    // One bit a pixel, most significant first, a row every rowBytes bytes.
    for (int32_t y = 0; y < img.rows; ++y) {
      uint8_t* row = data + int64_t(y) * r.rowBytes;
      std::memset(row, 0, size_t((img.columns + 7) / 8));
      for (int32_t x = 0; x < img.columns; ++x)
        if (img.planeBytes[0][size_t(int64_t(y) * img.columns + x)]) row[x / 8] |= uint8_t(0x80 >> (x % 8));
    }
    return true;
  }
  for (int32_t y = 0; y < img.rows; ++y)
    for (int p = r.loPlane; p <= r.hiPlane; ++p) {
      const std::vector<uint8_t>& plane = img.planeBytes[size_t(r.planeMap[p])];
      for (int32_t x = 0; x < img.columns; ++x)
        data[int64_t(y) * r.rowBytes + int64_t(x) * r.colBytes + int64_t(p - r.loPlane) * r.planeBytes] =
            plane[size_t(int64_t(y) * img.columns + x)];
    }
  return true;
}

inline SaveResult saveFile(PluginEntry entry, intptr_t file, const HostImage& img, const HostOptions& o) {
  SaveResult out;
  FormatRecord r;
  initRecord(&r, file, o);
  r.imageMode = img.mode;
  r.planes = img.planes;
  r.depth = img.mode == kModeBitmap ? 1 : 8;
  if (o.coords32) {
    r.imageSize32 = VPoint{img.rows, img.columns};
  }
  // Photoshop fills the 16-bit size as well, clipped.
  r.imageSize = Point{int16_t(img.rows > 32767 ? 32767 : img.rows), int16_t(img.columns > 32767 ? 32767 : img.columns)};
  std::memcpy(r.redLUT, img.lut[0], 256);
  std::memcpy(r.greenLUT, img.lut[1], 256);
  std::memcpy(r.blueLUT, img.lut[2], 256);
  r.lutCount = img.lutCount;
  r.transparentIndex = img.transparentIndex;
  intptr_t data = 0;
  auto call = [&](int16_t selector) {
    int16_t result = 0;
    entry(selector, &r, &data, &result);
    out.dataAfter = data;
    if (result != 0 && out.result == 0) {
      out.result = result;
      out.failedSelector = selector;
    }
    return result;
  };
  if (call(kSelectorOptionsPrepare) != 0 || call(kSelectorOptionsStart) != 0) return out;
  if (call(kSelectorEstimatePrepare) != 0) return out;
  const int16_t estimated = call(kSelectorEstimateStart);
  out.minDataBytes = r.minDataBytes;
  out.maxDataBytes = r.maxDataBytes;
  if (estimated != 0) return out;
  if (call(kSelectorWritePrepare) != 0) return out;
  out.maxDataAtWritePrepare = r.maxData;
  if (call(kSelectorWriteStart) != 0) return out;
  if (!fillRequest(r, img, o.coords32, &out)) {
    call(kSelectorWriteFinish);
    return out;
  }
  if (call(kSelectorWriteContinue) != 0) return out;
  out.dataNullAfterContinue = r.data == nullptr;
  call(kSelectorWriteFinish);
  return out;
}

}  // namespace pshost
