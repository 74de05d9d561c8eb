#include "xnview/open_blp_file.h"

#include <commdlg.h>

#include <cwchar>

#include "xnview/name_scan.h"

namespace vellum {

HINSTANCE moduleInstance = nullptr;

namespace {

struct OpenParameters {
  DWORD access, sharing, creation, flags;
};

OpenParameters parametersFor(BlpFileMode mode) {
  if (mode == BlpFileMode::Read)
    return {GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN};
  return {GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN};
}

HANDLE openWide(const wchar_t* path, BlpFileMode mode, wchar_t* openedPath) {
  const OpenParameters p = parametersFor(mode);
  HANDLE file = CreateFileW(path, p.access, p.sharing, nullptr, p.creation, p.flags, nullptr);
  if (file != INVALID_HANDLE_VALUE && openedPath != nullptr) {
    std::wcsncpy(openedPath, path, kNameBufferSize - 1);
    openedPath[kNameBufferSize - 1] = L'\0';
  }
  return file;
}

// The one file of the directory that matches the wildcard name, or nothing.
bool findSingleMatch(const wchar_t* pattern, WIN32_FIND_DATAW* match) {
  HANDLE search = FindFirstFileW(pattern, match);
  if (search == INVALID_HANDLE_VALUE) return false;
  WIN32_FIND_DATAW second;
  const bool single = !FindNextFileW(search, &second);
  FindClose(search);
  return single;
}

}  // namespace

HANDLE openBlpFile(const char* name, BlpFileMode mode, wchar_t* openedPath) {
  if (name == nullptr) return INVALID_HANDLE_VALUE;
  const OpenParameters p = parametersFor(mode);
  HANDLE file = CreateFileA(name, p.access, p.sharing, nullptr, p.creation, p.flags, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    if (openedPath != nullptr &&
        MultiByteToWideChar(CP_ACP, 0, name, -1, openedPath, int(kNameBufferSize)) == 0)
      openedPath[0] = L'\0';
    return file;
  }

  NameScan scan;
  if (scanFileName(name, &scan) == NameScanResult::GiveUp) return INVALID_HANDLE_VALUE;

  wchar_t fileBuffer[kNameBufferSize] = {};
  wchar_t directory[kNameBufferSize] = {};
  wchar_t fileTitle[kNameBufferSize] = {};
  OPENFILENAMEW dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = GetActiveWindow();
  dialog.hInstance = moduleInstance;
  dialog.lpstrFilter = L"*.blp\0*.blp\0";
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = fileBuffer;
  dialog.nMaxFile = kNameBufferSize;
  dialog.lpstrFileTitle = fileTitle;
  dialog.nMaxFileTitle = kNameBufferSize;
  dialog.lpstrDefExt = L"blp";

  if (scan.result == NameScanResult::SearchFileName) {
    if (MultiByteToWideChar(CP_ACP, 0, scan.sanitised, -1, fileBuffer, int(kNameBufferSize)) == 0)
      fileBuffer[0] = L'\0';
    fileBuffer[kNameBufferSize - 1] = L'\0';
    directoryOf(fileBuffer, directory, kNameBufferSize);
    if (mode == BlpFileMode::Read) {
      WIN32_FIND_DATAW match;
      if (findSingleMatch(fileBuffer, &match)) {
        match.cFileName[MAX_PATH - 1] = L'\0';
        replaceFileName(fileBuffer, kNameBufferSize, match.cFileName);
        return openWide(fileBuffer, BlpFileMode::Read, openedPath);
      }
    }
    dialog.lpstrInitialDir = directory;
  }

  fileBuffer[0] = L'\0';
  BOOL chosen;
  if (mode == BlpFileMode::Read) {
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    chosen = GetOpenFileNameW(&dialog);
  } else {
    dialog.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    chosen = GetSaveFileNameW(&dialog);
  }
  if (!chosen) return INVALID_HANDLE_VALUE;
  fileBuffer[kNameBufferSize - 1] = L'\0';
  return openWide(fileBuffer, mode, openedPath);
}

namespace {

uint32_t readHandle(void* context, uint64_t offset, uint32_t count, uint8_t* destination) {
  HANDLE file = static_cast<HANDLE>(context);
  // Positions beyond 2^63 - 1 are not addressable; SetFilePointerEx takes signed values.
  if (offset > uint64_t(INT64_MAX)) return 0;
  LARGE_INTEGER position;
  position.QuadPart = LONGLONG(offset);
  if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) return 0;
  uint32_t total = 0;
  while (total < count) {
    DWORD got = 0;
    if (!ReadFile(file, destination + total, count - total, &got, nullptr) || got == 0) break;
    total += got;
  }
  return total;
}

}  // namespace

BlpSource handleSource(HANDLE file) {
  BlpSource source;
  LARGE_INTEGER size;
  if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &size) || size.QuadPart < 0) return source;
  source.context = file;
  source.length = uint64_t(size.QuadPart);
  source.read = readHandle;
  source.release = nullptr;
  return source;
}

}  // namespace vellum
