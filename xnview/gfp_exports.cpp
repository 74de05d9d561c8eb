// The XnView format plug-in's eleven exports, built as Vellum64.usr (x86_64, XnView MP)
// and Vellum32.usr (i686, XnView Classic). The exports are thin: files and dialogs here,
// everything else in the portable xn_load / xn_save code. WINAPI is stdcall on i686 (the
// convention XnView calls with) and the one x86_64 convention on x86_64.
#include <windows.h>

#include <cstdint>
#include <new>

#include "core/save_options.h"
#include "dialog/save_options_dialog.h"
#include "xnview/copy_label.h"
#include "xnview/name_scan.h"
#include "xnview/open_blp_file.h"
#include "xnview/xn_load.h"
#include "xnview/xn_save.h"

using namespace vellum;

namespace {

// Contexts carry a tag, so that a pointer handed back by the host is used only by the
// kind of call it came from.
constexpr uint32_t kLoadTag = 0x4C4E5856;  // "VXNL"
constexpr uint32_t kSaveTag = 0x534E5856;  // "VXNS"

struct LoadContext {
  uint32_t tag = kLoadTag;
  HANDLE file = INVALID_HANDLE_VALUE;
  XnLoadContext load;
};

// XnSaveContext: the file (with the path it was opened under, to remove it when the save
// fails) and the collected image with its output area.
struct XnSaveContext {
  uint32_t tag = kSaveTag;
  HANDLE file = INVALID_HANDLE_VALUE;
  wchar_t path[kNameBufferSize] = {};
  XnSaveImage image;
};

LoadContext* asLoad(void* p) {
  auto* c = static_cast<LoadContext*>(p);
  return c != nullptr && c->tag == kLoadTag ? c : nullptr;
}

XnSaveContext* asSave(void* p) {
  auto* c = static_cast<XnSaveContext*>(p);
  return c != nullptr && c->tag == kSaveTag ? c : nullptr;
}

// One write of the whole file from position 0, then flush. False when any step failed
// or the write was short.
bool writeWholeFile(HANDLE file, const uint8_t* bytes, uint64_t length) {
  if (length > 0xFFFFFFFFull) return false;
  if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return false;
  DWORD written = 0;
  const BOOL wrote = WriteFile(file, bytes, DWORD(length), &written, nullptr);
  const BOOL flushed = FlushFileBuffers(file);
  return wrote && flushed && written == DWORD(length);
}

// The file-writing half of a save: the writer builds the file in the output area, which is
// written from position 0 in one write and flushed; the file is closed and the context
// with its areas released. XnView learns of no failure: rather than leave it a corrupt or
// empty file that it believes saved, a save that could not be built or written in full
// removes the file it created.
void encodeBlp(XnSaveContext* context, const SaveOptions& options) {
  uint64_t length = 0;
  bool saved = xnSaveEncode(&context->image, options, &length) == BlpStatus::Ok;
  if (saved) saved = writeWholeFile(context->file, context->image.output.data, length);
  xnSaveRelease(&context->image);
  CloseHandle(context->file);
  if (!saved && context->path[0] != L'\0') DeleteFileW(context->path);
  context->tag = 0;
  delete context;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD, LPVOID) {
  moduleInstance = instance;
  return TRUE;
}

BOOL WINAPI gfpGetPluginInfo(DWORD version, LPSTR label, INT labelMax, LPSTR extension, INT extensionMax,
                             INT* support) {
  if (version != kXnPluginVersion) return FALSE;
  copyLabel(label, labelMax, kXnFormatLabel);
  copyLabel(extension, extensionMax, kXnExtension);
  if (support != nullptr) *support = kXnSupportReadWrite;
  return TRUE;
}

void* WINAPI gfpLoadPictureInit(LPCSTR filename) {
  auto* context = new (std::nothrow) LoadContext;
  if (context == nullptr) return nullptr;
  context->file = openBlpFile(filename, BlpFileMode::Read, nullptr);
  if (context->file != INVALID_HANDLE_VALUE) {
    context->load.file = context->file;
    BlpSource source = handleSource(context->file);
    if (source.read != nullptr && xnLoadOpen(&context->load, source) == BlpStatus::Ok) return context;
    CloseHandle(context->file);
  }
  delete context;
  return nullptr;
}

BOOL WINAPI gfpLoadPictureGetInfo(void* ptr, INT* pictureType, INT* width, INT* height, INT* dpi, INT* bitsPerPixel,
                                  INT* bytesPerLine, BOOL* hasColormap, LPSTR label, INT labelMax) {
  LoadContext* context = asLoad(ptr);
  if (context == nullptr) return FALSE;
  return xnLoadGetInfo(&context->load, pictureType, width, height, dpi, bitsPerPixel, bytesPerLine,
                       reinterpret_cast<int32_t*>(hasColormap), label, labelMax);
}

BOOL WINAPI gfpLoadPictureGetLine(void* ptr, INT line, unsigned char* buffer) {
  LoadContext* context = asLoad(ptr);
  return context != nullptr ? xnLoadGetLine(&context->load, line, buffer) : FALSE;
}

BOOL WINAPI gfpLoadPictureGetColormap(void* ptr, unsigned char* colormap) {
  LoadContext* context = asLoad(ptr);
  return context != nullptr ? xnLoadGetColormap(&context->load, colormap) : FALSE;
}

void WINAPI gfpLoadPictureExit(void* ptr) {
  LoadContext* context = asLoad(ptr);
  if (context == nullptr) return;
  xnLoadClose(&context->load);
  if (context->file != INVALID_HANDLE_VALUE) CloseHandle(context->file);
  context->tag = 0;
  delete context;
}

BOOL WINAPI gfpSavePictureIsSupported(INT, INT, INT bitsPerPixel, BOOL hasColormap) {
  return xnSaveIsSupported(bitsPerPixel, hasColormap);
}

void* WINAPI gfpSavePictureInit(LPCSTR filename, INT width, INT height, INT bitsPerPixel, INT, INT* pictureType,
                                LPSTR label, INT labelMax) {
  auto* context = new (std::nothrow) XnSaveContext;
  if (context == nullptr) return nullptr;
  // Size, depth and memory first: a save that cannot happen leaves any existing file alone.
  if (xnSaveBegin(&context->image, width, height, bitsPerPixel) != BlpStatus::Ok) {
    delete context;
    return nullptr;
  }
  context->file = openBlpFile(filename, BlpFileMode::Write, context->path);
  if (context->file == INVALID_HANDLE_VALUE) {
    xnSaveRelease(&context->image);
    delete context;
    return nullptr;
  }
  if (pictureType != nullptr) *pictureType = kXnRgbOrder;
  copyLabel(label, labelMax, kXnFormatLabel);
  return context;
}

BOOL WINAPI gfpSavePicturePutColormap(void* ptr, const unsigned char* colormap) {
  XnSaveContext* context = asSave(ptr);
  if (context == nullptr || colormap == nullptr) return FALSE;
  xnSavePutColormap(&context->image, colormap);
  return TRUE;
}

BOOL WINAPI gfpSavePicturePutLine(void* ptr, INT line, const unsigned char* buffer) {
  XnSaveContext* context = asSave(ptr);
  return context != nullptr ? xnSavePutLine(&context->image, line, buffer) : FALSE;
}

void WINAPI gfpSavePictureExit(void* ptr) {
  XnSaveContext* context = asSave(ptr);
  if (context == nullptr) return;
  encodeBlp(context, xnSaveOptionsFromWord(askSaveOptions(moduleInstance)));
}

}  // extern "C"
