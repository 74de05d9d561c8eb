// The Photoshop file-format plug-in, built as Vellum32.8BI (i686) and Vellum64.8BI
// (x86_64). The Windows side is thin: the module instance, the exported PluginMain, the
// host's file handle, the About box, the alpha question and the Save Options dialog.
// Everything else is in ps_plugin.cpp.
#include <windows.h>

#include <cstdint>

#include "dialog/save_options_dialog.h"
#include "photoshop/ps_plugin.h"

using namespace vellum;

namespace {

HINSTANCE moduleInstance = nullptr;

HANDLE fileHandle(intptr_t file) { return reinterpret_cast<HANDLE>(file); }

bool seekFile(void*, intptr_t file, uint32_t offset) {
  LONG high = 0;
  SetLastError(NO_ERROR);
  const DWORD low = SetFilePointer(fileHandle(file), LONG(offset), &high, FILE_BEGIN);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return false;
  return low == offset && high == 0;
}

int64_t readFile(void*, intptr_t file, void* destination, uint32_t count) {
  DWORD got = 0;
  if (!ReadFile(fileHandle(file), destination, count, &got, nullptr)) return -1;
  return got;
}

int64_t writeFile(void*, intptr_t file, const void* source, uint32_t count) {
  DWORD done = 0;
  if (!WriteFile(fileHandle(file), source, count, &done, nullptr)) return -1;
  return done;
}

bool setEndOfFile(void*, intptr_t file) { return SetEndOfFile(fileHandle(file)) != 0; }

bool fileLength(void*, intptr_t file, uint64_t* bytes) {
  DWORD high = 0;
  SetLastError(NO_ERROR);
  const DWORD low = GetFileSize(fileHandle(file), &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
  *bytes = uint64_t(high) << 32 | low;
  return true;
}

// The About text names the build the user installed.
#if defined(_WIN64)
constexpr const wchar_t* kAboutText = L"Photoshop file plugin\n for Blizzard image format - BLP.\n Version: 1.5 64-bit. ";
#else
constexpr const wchar_t* kAboutText = L"Photoshop file plugin\n for Blizzard image format - BLP.\n Version: 1.5 32-bit. ";
#endif

void showAbout(void*) { MessageBoxW(GetActiveWindow(), kAboutText, L"About plugin", MB_OK); }

bool askAlphaChannel(void*) {
  return MessageBoxW(GetActiveWindow(), L"Make alpha discrete channel?", L"BLP open option", MB_YESNO) != IDNO;
}

uint32_t askOptions(void*) { return askSaveOptions(moduleInstance); }

const PsPlatform& windowsPlatform() {
  static PsPlatform platform = [] {
    PsPlatform p;
    p.seek = seekFile;
    p.read = readFile;
    p.write = writeFile;
    p.setEnd = setEndOfFile;
    p.length = fileLength;
    p.showAbout = showAbout;
    p.askAlphaChannel = askAlphaChannel;
    p.askSaveOptions = askOptions;
    return p;
  }();
  return platform;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD, LPVOID) {
  moduleInstance = instance;
  return TRUE;
}

__declspec(dllexport) void __cdecl PluginMain(int16_t selector, void* formatRecord, intptr_t* data,
                                              int16_t* result) {
  try {
    runPluginMain(selector, formatRecord, data, result, windowsPlatform());
  } catch (...) {
    if (result != nullptr) *result = ps::kExceptionErr;
  }
}

}  // extern "C"
