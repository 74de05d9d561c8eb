#include "dialog/save_options_dialog.h"

#include <commctrl.h>

#include "core/blp_format.h"
#include "core/save_options.h"
#include "dialog/dialog_ids.h"
#include "dialog/save_options_logic.h"

namespace vellum {

namespace {

void addItems(HWND dialog, int id, const char* (*label)(int), int count) {
  HWND list = GetDlgItem(dialog, id);
  for (int i = 0; i < count; ++i) {
    // The labels are ASCII: widen them byte by byte.
    wchar_t text[64];
    const char* s = label(i);
    int n = 0;
    for (; s[n] != '\0' && n < 63; ++n) text[n] = wchar_t(static_cast<unsigned char>(s[n]));
    text[n] = L'\0';
    SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
  }
  SendMessageW(list, CB_SETCURSEL, 0, 0);
}

const char* formatLabel(int i) { return blpContentTypeLabel(BlpContentType(i)); }
const char* quantizerText(int i) { return quantizerLabel(QuantizerKind(i)); }

int32_t scrollPosition(HWND dialog) {
  SCROLLINFO info = {};
  info.cbSize = sizeof info;
  info.fMask = SIF_POS;
  GetScrollInfo(GetDlgItem(dialog, VELLUM_IDC_QUALITY_SCROLL), SB_CTL, &info);
  return info.nPos;
}

int32_t selection(HWND dialog, int id) {
  return int32_t(SendMessageW(GetDlgItem(dialog, id), CB_GETCURSEL, 0, 0));
}

void initDialog(HWND dialog) {
  addItems(dialog, VELLUM_IDC_FORMAT, formatLabel, kBlpContentTypeCount);
  addItems(dialog, VELLUM_IDC_QUANTIZER, quantizerText, kQuantizerKindCount);
  SetDlgItemTextW(dialog, VELLUM_IDC_QUALITY_TEXT, L"100");
  SetDlgItemTextW(dialog, VELLUM_IDC_MIPMAP_EDIT, L"16");
  HWND spin = GetDlgItem(dialog, VELLUM_IDC_MIPMAP_SPIN);
  SendMessageW(spin, UDM_SETRANGE, 0, MAKELPARAM(kMipLevelsMax, kMipLevelsMin));
  SendMessageW(spin, UDM_SETPOS, 0, MAKELPARAM(kMipLevelsMax, 0));
  SCROLLINFO info = {};
  info.cbSize = sizeof info;
  info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
  info.nMin = kQualityMin;
  info.nMax = kQualityMax;
  info.nPage = 1;
  info.nPos = kQualityMax;
  SetScrollInfo(GetDlgItem(dialog, VELLUM_IDC_QUALITY_SCROLL), SB_CTL, &info, TRUE);
}

void onScroll(HWND dialog, WPARAM wParam) {
  switch (LOWORD(wParam)) {
    case SB_THUMBTRACK:
      // The thumb position travels as a 16-bit value; a drag past the left end reads as
      // a small or negative number.
      setQuality(dialog, clampDraggedQuality(static_cast<int16_t>(HIWORD(wParam))));
      break;
    case SB_LINELEFT:
      setQuality(dialog, stepQuality(scrollPosition(dialog), -1));
      break;
    case SB_LINERIGHT:
      setQuality(dialog, stepQuality(scrollPosition(dialog), +1));
      break;
    default:
      break;  // page steps, thumb release, ends: no change
  }
}

void onOk(HWND dialog) {
  const LRESULT spin = SendMessageW(GetDlgItem(dialog, VELLUM_IDC_MIPMAP_SPIN), UDM_GETPOS, 0, 0);
  const bool progressive = IsDlgButtonChecked(dialog, VELLUM_IDC_PROGRESSIVE) == BST_CHECKED;
  const uint32_t word = saveOptionsWordAtOk(scrollPosition(dialog), selection(dialog, VELLUM_IDC_FORMAT), progressive,
                                            selection(dialog, VELLUM_IDC_QUANTIZER), int32_t(LOWORD(spin)));
  EndDialog(dialog, INT_PTR(word));
}

void onMipmapEdit(HWND dialog) {
  BOOL read = FALSE;
  const UINT value = GetDlgItemInt(dialog, VELLUM_IDC_MIPMAP_EDIT, &read, FALSE);
  const uint32_t corrected = correctedMipLevels(read ? value : 0);
  if (corrected != 0) SetDlgItemInt(dialog, VELLUM_IDC_MIPMAP_EDIT, corrected, FALSE);
}

}  // namespace

void setQuality(HWND dialog, int32_t q) {
  SCROLLINFO info = {};
  info.cbSize = sizeof info;
  info.fMask = SIF_POS;
  info.nPos = q;
  SetScrollInfo(GetDlgItem(dialog, VELLUM_IDC_QUALITY_SCROLL), SB_CTL, &info, TRUE);
  char digits[4];
  qualityText(q, digits);
  wchar_t text[4];
  for (int i = 0; i < 4; ++i) text[i] = wchar_t(digits[i]);
  SetDlgItemTextW(dialog, VELLUM_IDC_QUALITY_TEXT, text);
}

INT_PTR CALLBACK saveOptionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      initDialog(dialog);
      return TRUE;
    case WM_HSCROLL:
      onScroll(dialog, wParam);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == VELLUM_IDC_OK) {
        onOk(dialog);
        return TRUE;
      }
      if (LOWORD(wParam) == VELLUM_IDC_MIPMAP_EDIT && HIWORD(wParam) == EN_CHANGE) onMipmapEdit(dialog);
      return FALSE;  // IDCANCEL included: neither Escape nor the close box ends the dialog
    default:
      return FALSE;
  }
}

uint32_t askSaveOptions(HINSTANCE module) {
  // The up-down control's class lives in the common controls library.
  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES;
  InitCommonControlsEx(&controls);
  const INT_PTR result = DialogBoxParamW(module, MAKEINTRESOURCEW(VELLUM_IDD_SAVE_OPTIONS), GetActiveWindow(),
                                         saveOptionsDialogProc, 0);
  if (result == 0 || result == -1) return kDefaultSaveOptionsWord;
  return uint32_t(result);
}

}  // namespace vellum
