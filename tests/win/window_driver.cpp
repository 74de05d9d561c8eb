#include "window_driver.h"

#include <commctrl.h>
#include <commdlg.h>

#include <vector>

namespace host {

namespace {

struct Found {
  std::vector<HWND> windows;
};

BOOL CALLBACK collect(HWND window, LPARAM context) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
  wchar_t cls[32] = {};
  GetClassNameW(window, cls, 32);
  if (lstrcmpW(cls, L"#32770") == 0) reinterpret_cast<Found*>(context)->windows.push_back(window);
  return TRUE;
}

}  // namespace

WindowDriver::WindowDriver(Handler onSaveOptions, Handler onFileDialog)
    : onSaveOptions_(std::move(onSaveOptions)), onFileDialog_(std::move(onFileDialog)) {
  thread_ = CreateThread(nullptr, 0, threadMain, this, 0, nullptr);
}

WindowDriver::~WindowDriver() {
  stop_ = true;
  if (thread_ != nullptr) {
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
  }
}

DWORD WINAPI WindowDriver::threadMain(void* self) {
  auto* driver = static_cast<WindowDriver*>(self);
  while (!driver->stop_) {
    driver->poll();
    Sleep(20);
  }
  return 0;
}

void WindowDriver::poll() {
  Found found;
  EnumWindows(collect, reinterpret_cast<LPARAM>(&found));
  for (HWND window : found.windows) {
    bool seen = false;
    for (int i = 0; i < handledCount_; ++i) seen = seen || handled_[i] == window;
    if (seen) continue;
    if (handledCount_ < 64) handled_[handledCount_++] = window;
    // Let the dialog finish its WM_INITDIALOG and first paint.
    Sleep(100);
    if (windowTitle(window) == L"BLP Save Options") {
      ++saveOptions_;
      if (onSaveOptions_) onSaveOptions_(window);
    } else {
      ++fileDialogs_;
      if (onFileDialog_) onFileDialog_(window);
    }
  }
}

HWND control(HWND dialog, int id) { return GetDlgItem(dialog, id); }

std::wstring windowTitle(HWND window) {
  wchar_t text[256] = {};
  // Another thread's window: WM_GETTEXT is sent to it.
  SendMessageW(window, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text));
  return text;
}

std::wstring controlText(HWND dialog, int id) { return windowTitle(control(dialog, id)); }

void setControlText(HWND dialog, int id, const std::wstring& text) {
  SendMessageW(control(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void pressOk(HWND dialog) {
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(control(dialog, IDOK)));
}

void scrollQuality(HWND dialog, int code, int position) {
  SendMessageW(dialog, WM_HSCROLL, MAKEWPARAM(code, position), reinterpret_cast<LPARAM>(control(dialog, 1004)));
}

int qualityPosition(HWND dialog) {
  SCROLLINFO info = {};
  info.cbSize = sizeof info;
  info.fMask = SIF_POS;
  GetScrollInfo(control(dialog, 1004), SB_CTL, &info);
  return info.nPos;
}

void enterOptions(HWND dialog, uint32_t word) {
  SendMessageW(control(dialog, 1007), CB_SETCURSEL, (word >> 8) & 15, 0);
  SendMessageW(control(dialog, 1008), CB_SETCURSEL, (word >> 16) & 15, 0);
  SendMessageW(control(dialog, 1001), BM_SETCHECK, (word >> 12) & 1 ? BST_CHECKED : BST_UNCHECKED, 0);
  scrollQuality(dialog, SB_THUMBTRACK, int(word & 0xFF));
  setControlText(dialog, 1011, std::to_wstring(word >> 24));
  pressOk(dialog);
}

std::wstring fileDialogFolder(HWND dialog) {
  wchar_t path[MAX_PATH * 2] = {};
  SendMessageW(dialog, CDM_GETFOLDERPATH, MAX_PATH * 2, reinterpret_cast<LPARAM>(path));
  return path;
}

std::wstring fileDialogTypedName(HWND dialog) {
  wchar_t typed[MAX_PATH * 2] = {};
  SendMessageW(dialog, CDM_GETSPEC, MAX_PATH * 2, reinterpret_cast<LPARAM>(typed));
  return typed;
}

}  // namespace host
