#include "photoshop/ps_plugin.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <new>

#include "core/save_options.h"
#include "photoshop/ps_read.h"
#include "photoshop/ps_write.h"

namespace vellum {

namespace {

using ps::FormatRecord;
using ps::Handle;

constexpr ps::Fixed kResolution72 = 72 << 16;

// The current call and what lives from one call to the next of a sequence. Process-wide:
// the host calls PluginMain from one thread, one call at a time.
struct Session {
  FormatRecord* record = nullptr;
  int16_t* result = nullptr;
  intptr_t* data = nullptr;
  ps::SPBasicSuite* basic = nullptr;
  ps::PSHandleSuite2* handles = nullptr;  // from the acquiring call until released
  bool suiteAcquired = false;
  Handle globalsHandle = nullptr;
  PluginGlobals* globals = nullptr;       // locked address of globalsHandle
  const PsPlatform* platform = nullptr;
  bool coords32 = false;
};

Session session;

int16_t& result() { return *session.result; }

bool isSelector(int16_t selector, std::initializer_list<int16_t> list) {
  return std::find(list.begin(), list.end(), selector) != list.end();
}

// ---- Host memory -------------------------------------------------------------------

Handle newLockedHandle(uint64_t bytes, uint8_t** address) {
  *address = nullptr;
  if (session.handles == nullptr || bytes == 0 || bytes > 0x7FFFFFFF) return nullptr;
  Handle h = session.handles->New(int32_t(bytes));
  if (h == nullptr) return nullptr;
  ps::Ptr p = nullptr;
  ps::Boolean oldLock = 0;
  session.handles->SetLock(h, 1, &p, &oldLock);
  if (p == nullptr) {
    session.handles->Dispose(h);
    return nullptr;
  }
  *address = reinterpret_cast<uint8_t*>(p);
  return h;
}

void disposeLockedHandle(Handle* h, uint8_t** address) {
  if (*h == nullptr) return;
  ps::Ptr p = reinterpret_cast<ps::Ptr>(*address);
  ps::Boolean oldLock = 0;
  session.handles->SetLock(*h, 0, &p, &oldLock);
  session.handles->Dispose(*h);
  *h = nullptr;
  *address = nullptr;
}

// Step 5 of selectors 1 and 10: the Handle Suite and the handle of PluginGlobals.
void acquireState() {
  const void* suite = nullptr;
  ps::SPBasicSuite* basic = session.basic;
  if (basic == nullptr || basic->AcquireSuite == nullptr ||
      basic->AcquireSuite(ps::kHandleSuiteName, ps::kHandleSuiteVersion2, &suite) != ps::kSPNoError ||
      suite == nullptr) {
    result() = ps::kErrPlugInHostInsufficient;
    return;
  }
  session.handles = static_cast<ps::PSHandleSuite2*>(const_cast<void*>(suite));
  session.suiteAcquired = true;
  Handle existing = reinterpret_cast<Handle>(*session.data);
  if (existing != nullptr) {
    // A handle that cannot take the record would be written past its end.
    if (session.handles->SetSize(existing, kPsPluginGlobalsBytes) != 0) result() = ps::kMemFullErr;
  } else {
    Handle h = session.handles->New(kPsPluginGlobalsBytes);
    *session.data = reinterpret_cast<intptr_t>(h);
    if (h == nullptr) result() = ps::kMemFullErr;
  }
}

// Step 6: lock PluginGlobals for this call.
void lockGlobals(bool fresh) {
  Handle h = reinterpret_cast<Handle>(*session.data);
  ps::Ptr p = nullptr;
  ps::Boolean oldLock = 0;
  if (h != nullptr && session.handles != nullptr) session.handles->SetLock(h, 1, &p, &oldLock);
  if (p == nullptr) {
    result() = ps::kMemFullErr;
    return;
  }
  session.globalsHandle = h;
  session.globals = reinterpret_cast<PluginGlobals*>(p);
  // A new sequence starts from empty state: clean-up must never see a stale pixelHandle.
  if (fresh) new (session.globals) PluginGlobals{};
}

// Step 8: everything of the sequence is released.
void cleanUp() {
  Handle h = session.data != nullptr ? reinterpret_cast<Handle>(*session.data) : nullptr;
  if (h != nullptr && session.handles != nullptr) {
    PluginGlobals* g = h == session.globalsHandle ? session.globals : nullptr;
    // A handle not locked in this sequence is looked into only when it is large enough to
    // be PluginGlobals (a resize that failed leaves a smaller one).
    if (g == nullptr && session.handles->GetSize != nullptr &&
        session.handles->GetSize(h) >= kPsPluginGlobalsBytes) {
      ps::Ptr p = nullptr;
      ps::Boolean oldLock = 0;
      session.handles->SetLock(h, 1, &p, &oldLock);
      g = reinterpret_cast<PluginGlobals*>(p);
    }
    if (g != nullptr) {
      disposeLockedHandle(&g->pixelHandle, &g->pixels);
      uint8_t* output = nullptr;
      disposeLockedHandle(&g->outputHandle, &output);
    }
    ps::Ptr p = reinterpret_cast<ps::Ptr>(g);
    ps::Boolean oldLock = 0;
    session.handles->SetLock(h, 0, &p, &oldLock);
    session.handles->Dispose(h);
    *session.data = 0;
  }
  if (session.suiteAcquired && session.basic != nullptr && session.basic->ReleaseSuite != nullptr)
    session.basic->ReleaseSuite(ps::kHandleSuiteName, ps::kHandleSuiteVersion2);
  session.suiteAcquired = false;
  session.handles = nullptr;
  session.basic = nullptr;
  session.globalsHandle = nullptr;
  session.globals = nullptr;
}

// ---- Reading -----------------------------------------------------------------------

void filterFile() { result() = filterBlpFile(*session.platform, session.record->dataFork); }

void readPrepare() {
  FormatRecord* r = session.record;
  PluginGlobals* g = session.globals;
  ReadLevel level;
  result() = prepareReadLevel(g, *session.platform, r->dataFork, r->openForPreview != 0, &level);
  if (result() != ps::kNoErr) return;
  // Without 32-bit coordinates the host takes sides as int16: 32768 would turn negative.
  if (!session.coords32 && (level.rows > 32767 || level.columns > 32767)) {
    result() = ps::kFormatCannotRead;
    return;
  }
  g->levelOffset = g->format.offset;
  g->levelSize = g->format.size;
  g->rows = level.rows;
  g->columns = level.columns;
  g->contentCode = level.contentCode;
  r->maxData = kPsReadMaxData;
  if (contentKind(g->contentCode) == kKindPaletteIndices) std::memcpy(g->palette, g->file.palette, sizeof g->palette);
  if (contentKind(g->contentCode) == kKindJpeg) {
    const uint64_t j = readBufferBytes(g->contentCode, g->rows, g->columns, g->levelOffset, g->levelSize);
    if (j == 0 || j + kPsChunkBytes > 0x7FFFFFFF) {
      result() = ps::kMemFullErr;
      return;
    }
    r->maxData = int32_t(j + kPsChunkBytes);
  }
  g->rowsDone = 0;
}

void setRect(FormatRecord* r, uint32_t top, uint32_t left, uint32_t bottom, uint32_t right) {
  if (session.coords32) {
    r->theRect32 = ps::VRect{int32_t(top), int32_t(left), int32_t(bottom), int32_t(right)};
  } else {
    r->theRect = ps::Rect{int16_t(top), int16_t(left), int16_t(bottom), int16_t(right)};
  }
}

void readContinue() {
  FormatRecord* r = session.record;
  ReadChunk chunk;
  result() = readNextChunk(session.globals, *session.platform, r->dataFork, &chunk);
  if (chunk.done) {
    r->data = nullptr;
    return;
  }
  r->planeBytes = chunk.planeBytes;
  r->loPlane = chunk.loPlane;
  r->hiPlane = chunk.hiPlane;
  r->colBytes = chunk.colBytes;
  r->rowBytes = chunk.rowBytes;
  for (int i = 0; i < 4; ++i) r->planeMap[i] = chunk.planeMap[i];
  r->data = chunk.data;
  setRect(r, chunk.top, 0, chunk.bottom, chunk.right);
}

void readStart() {
  FormatRecord* r = session.record;
  PluginGlobals* g = session.globals;
  if (contentKind(g->contentCode) == kKindPaletteIndices) {
    r->imageMode = ps::kModeIndexedColor;
    r->planes = 1;
    for (int i = 0; i < 256; ++i) {
      r->redLUT[i] = g->palette[4 * i];
      r->greenLUT[i] = g->palette[4 * i + 1];
      r->blueLUT[i] = g->palette[4 * i + 2];
    }
    r->lutCount = 256;
  } else {
    r->imageMode = ps::kModeRGBColor;
    r->planes = 3;
  }
  if (session.coords32) {
    r->imageSize32 = ps::VPoint{int32_t(g->rows), int32_t(g->columns)};
  } else {
    r->imageSize = ps::Point{int16_t(g->rows), int16_t(g->columns)};
  }
  r->depth = 8;
  if (contentAlphaBits(g->contentCode) != 0) {
    r->planes += 1;
    r->transparencyPlane = -1;
    // No: the last plane becomes the layer's transparency. Yes (and every preview): a
    // separate alpha channel.
    if (!r->openForPreview && !session.platform->askAlphaChannel(session.platform->context))
      r->transparencyPlane = r->planes - 1;
    r->transparencyMatting = 0;
  }
  r->imageHRes = kResolution72;
  r->imageVRes = kResolution72;

  uint8_t* unusedAddress = g->pixels;
  disposeLockedHandle(&g->pixelHandle, &unusedAddress);  // a repeated start starts afresh
  const uint64_t bytes = readBufferBytes(g->contentCode, g->rows, g->columns, g->levelOffset, g->levelSize);
  g->pixelHandle = newLockedHandle(bytes, &g->pixels);
  if (g->pixelHandle == nullptr) {
    result() = ps::kMemFullErr;
    return;
  }
  readContinue();
}

// ---- Writing -----------------------------------------------------------------------

void estimateStart() {
  FormatRecord* r = session.record;
  PluginGlobals* g = session.globals;
  r->data = nullptr;
  uint32_t rows, columns;
  if (session.coords32) {
    rows = uint32_t(std::max(r->imageSize32.v, 0));
    columns = uint32_t(std::max(r->imageSize32.h, 0));
  } else {
    rows = uint32_t(std::max<int32_t>(r->imageSize.v, 0));
    columns = uint32_t(std::max<int32_t>(r->imageSize.h, 0));
  }
  r->minDataBytes = estimateMinBytes(rows, columns);
  r->maxDataBytes = estimateMaxBytes(rows, columns);
  g->rows = rows;
  g->columns = columns;
  if (r->imageMode < ps::kModeBitmap || r->imageMode > ps::kModeRGBColor) {
    result() = ps::kFormatCannotRead;  // no choices are asked for an image that cannot be saved
    return;
  }
  uint32_t word = session.platform->askSaveOptions(session.platform->context);
  // A dialog that could not be shown answers 0 or -1: the defaults apply.
  if (word == 0 || word == 0xFFFFFFFFu) word = kDefaultSaveOptionsWord;
  g->saveOptions = word;
}

void writePrepare() {
  uint64_t bytes = 0;
  PluginGlobals* g = session.globals;
  result() = writeBufferBytes(g->rows, g->columns, g->saveOptions, &bytes);
  if (result() == ps::kNoErr) session.record->maxData = int32_t(bytes);
}

void writeStart() {
  FormatRecord* r = session.record;
  PluginGlobals* g = session.globals;
  uint64_t bytes = 0;
  result() = writeBufferBytes(g->rows, g->columns, g->saveOptions, &bytes);
  if (result() != ps::kNoErr) return;
  uint8_t* unusedAddress = g->pixels;
  disposeLockedHandle(&g->pixelHandle, &unusedAddress);
  g->pixelHandle = newLockedHandle(bytes, &g->pixels);
  if (g->pixelHandle == nullptr) {
    result() = ps::kMemFullErr;
    return;
  }
  const WriteLayout layout = writeLayout(r->imageMode, r->planes);
  setRect(r, 0, 0, g->rows, g->columns);
  r->loPlane = 0;
  r->hiPlane = int16_t(layout.planes - 1);
  r->colBytes = layout.colBytes;
  r->rowBytes = int32_t(uint32_t(layout.colBytes) * g->columns);
  r->planeBytes = 1;
  for (int i = 0; i < 4; ++i) r->planeMap[i] = int16_t(i);
  r->data = g->pixels + hostDataOffset(r->imageMode, g->rows, g->columns);
}

void writeContinue() {
  FormatRecord* r = session.record;
  PluginGlobals* g = session.globals;
  uint64_t bytes = 0;
  result() = writeBufferBytes(g->rows, g->columns, g->saveOptions, &bytes);
  if (result() != ps::kNoErr || g->pixels == nullptr) {
    if (result() == ps::kNoErr) result() = ps::kMemFullErr;
    return;
  }
  HostImage image;
  image.imageMode = r->imageMode;
  image.layout = writeLayout(r->imageMode, r->planes);
  image.rows = g->rows;
  image.columns = g->columns;
  image.data = g->pixels + hostDataOffset(r->imageMode, g->rows, g->columns);
  image.redLUT = r->redLUT;
  image.greenLUT = r->greenLUT;
  image.blueLUT = r->blueLUT;
  image.lutCount = r->lutCount;
  image.transparentIndex = r->transparentIndex;
  const BlpSourceImage source = hostImageSource(image, g->palette, g->pixels);
  r->data = nullptr;

  const uint64_t fileImage = fileImageOffset(g->rows, g->columns, g->saveOptions);
  BlpOutput output;
  output.data = g->pixels + fileImage;
  output.capacity = bytes - fileImage;
  FileImageStore store;
  store.handles = session.handles;
  store.handle = &g->outputHandle;
  output.growContext = &store;
  output.grow = growFileImage;
  uint64_t length = 0;
  result() = encodeHostImage(source, g->saveOptions, &output, &length);
  if (result() != ps::kNoErr) return;
  result() = writeFileImage(*session.platform, r->dataFork, output.data, length);
}

// ---- Dispatch ----------------------------------------------------------------------

void dispatch(int16_t selector, FormatRecord* record, intptr_t* data, int16_t* result, const PsPlatform& platform) {
  session.record = record;
  session.result = result;
  session.data = data;
  session.platform = &platform;
  session.basic = record->sSPBasic;

  // The host must offer the resource callbacks and advanceState.
  const ps::ResourceProcs* rp = record->resourceProcs;
  if (rp == nullptr || rp->countProc == nullptr || rp->getProc == nullptr || rp->addProc == nullptr ||
      record->advanceState == nullptr) {
    *result = ps::kErrPlugInHostInsufficient;
    return;
  }
  session.coords32 = record->HostSupports32BitCoordinates != 0;
  if (session.coords32) record->PluginUsing32BitCoordinates = 1;

  const bool starts = selector == ps::kSelectorReadPrepare || selector == ps::kSelectorEstimateStart;
  if (starts) acquireState();
  if (*result == ps::kNoErr && isSelector(selector, {1, 2, 3, 4, 10, 13, 14, 15})) lockGlobals(starts);
  if (*result == ps::kNoErr) {
    switch (selector) {
      case ps::kSelectorReadPrepare: readPrepare(); break;
      case ps::kSelectorReadStart: readStart(); break;
      case ps::kSelectorReadContinue: readContinue(); break;
      case ps::kSelectorOptionsPrepare:
      case ps::kSelectorEstimatePrepare: record->maxData = kPsOptionsMaxData; break;
      case ps::kSelectorOptionsStart: record->data = nullptr; break;
      case ps::kSelectorEstimateStart: estimateStart(); break;
      case ps::kSelectorWritePrepare: writePrepare(); break;
      case ps::kSelectorWriteStart: writeStart(); break;
      case ps::kSelectorWriteContinue: writeContinue(); break;
      case ps::kSelectorFilterFile: filterFile(); break;
      default: break;  // 4, 16: clean-up below; 7, 8, 11, 12 and unknown selectors: nothing
    }
  }
  if (isSelector(selector, {4, 16, 17}) || *result != ps::kNoErr) cleanUp();
}

}  // namespace

void runPluginMain(int16_t selector, void* record, intptr_t* data, int16_t* result, const PsPlatform& platform) {
  if (selector == ps::kSelectorAbout) {
    platform.showAbout(platform.context);
    if (result != nullptr) *result = ps::kNoErr;
    return;
  }
  if (record == nullptr || data == nullptr || result == nullptr) {
    if (result != nullptr) *result = ps::kErrPlugInHostInsufficient;
    return;
  }
  try {
    dispatch(selector, static_cast<FormatRecord*>(record), data, result, platform);
  } catch (...) {
    *result = ps::kExceptionErr;
    // The sequence ends here as after any error: release what it holds.
    try {
      cleanUp();
    } catch (...) {
    }
  }
}

}  // namespace vellum
