// The Save Options dialog (resource 101 of the plug-in DLLs that link the dialog, see
// dialog/CMakeLists.txt): its procedure and the call that shows it.
#pragma once

#include <windows.h>

#include <cstdint>

namespace vellum {

// The dialog procedure: fills the lists at WM_INITDIALOG, follows the quality scroll bar,
// keeps the mipmap count in 1..16 and ends the dialog only at OK, with the packed word.
INT_PTR CALLBACK saveOptionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Moves the quality scroll bar to q and shows q in the read-out.
void setQuality(HWND dialog, int32_t q);

// Shows the dialog of `module` modally, owned by the active window, and returns its packed
// word; when the dialog yields no answer (0, or -1 when it cannot be created) the defaults
// word 0x10000064.
uint32_t askSaveOptions(HINSTANCE module);

}  // namespace vellum
