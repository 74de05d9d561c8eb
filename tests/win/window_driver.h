// The part of the host emulator that plays the user: a thread that watches for the
// dialogs this process opens (found by class and title) and works them with window
// messages, as a person would with the mouse and keyboard.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

namespace host {

// Starts watching on construction; stops (and joins) on destruction. A handler gets the
// dialog and must end it (OK, Cancel) or leave it for a later call; each dialog window is
// handed over once.
class WindowDriver {
 public:
  using Handler = std::function<void(HWND)>;
  WindowDriver(Handler onSaveOptions, Handler onFileDialog);
  ~WindowDriver();
  WindowDriver(const WindowDriver&) = delete;
  WindowDriver& operator=(const WindowDriver&) = delete;

  int saveOptionsSeen() const { return saveOptions_.load(); }
  int fileDialogsSeen() const { return fileDialogs_.load(); }

 private:
  static DWORD WINAPI threadMain(void* self);
  void poll();

  Handler onSaveOptions_, onFileDialog_;
  std::atomic<int> saveOptions_{0}, fileDialogs_{0};
  std::atomic<bool> stop_{false};
  HWND handled_[64] = {};
  int handledCount_ = 0;
  HANDLE thread_ = nullptr;
};

// Controls of the Save Options dialog.
HWND control(HWND dialog, int id);
std::wstring controlText(HWND dialog, int id);
void setControlText(HWND dialog, int id, const std::wstring& text);
void pressOk(HWND dialog);
// Sends one scroll code to the quality scroll bar (the position travels in the high word).
void scrollQuality(HWND dialog, int code, int position = 0);
int qualityPosition(HWND dialog);
// Enters an options word in the dialog's controls and presses OK.
void enterOptions(HWND dialog, uint32_t word);

// Explorer-style Open and Save dialogs: folder shown, file name typed so far.
std::wstring fileDialogFolder(HWND dialog);
std::wstring fileDialogTypedName(HWND dialog);
std::wstring windowTitle(HWND window);

}  // namespace host
