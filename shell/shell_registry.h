// Registration of VellumShell.dll's handlers for ".blp" files.
//
// Per machine (regsvr32 VellumShell.dll), under HKLM\Software\Classes and HKLM\Software:
//   CLSID\{thumbnail class}            "Vellum BLP Thumbnail Handler", InprocServer32 = the DLL
//   CLSID\{property class}             "Vellum BLP Property Handler", InprocServer32 = the DLL
//   .blp\ShellEx\{IThumbnailProvider} and SystemFileAssociations\.blp\ShellEx\{...}
//                                      = the thumbnail class
//   .blp PerceivedType = "image"; SystemFileAssociations\.blp PreviewDetails, FullDetails
//   Microsoft\Windows\CurrentVersion\PropertySystem\PropertyHandlers\.blp = the property class
// Per user (regsvr32 /n /i:user VellumShell.dll), under HKCU\Software\Classes: the thumbnail
// class, its two ShellEx keys and PerceivedType. The shell reads property handlers from the
// machine's registry only, so a per-user install has thumbnails and no properties.
//
// Unregistering removes exactly what registering wrote: the classes' keys; the ShellEx and
// property handler values while they still name our classes; PerceivedType and the details
// lists only where registering created them (a value that was there before is neither
// replaced nor removed); and the keys registering created, once they are empty again. The
// thumbnail class key records which values and keys those were (CreatedValues,
// CreatedKeys). DisableProcessIsolation is never written: the handlers run in the shell's
// isolated surrogate process.
#pragma once

#include <windows.h>

namespace vellum::shell {

enum class RegistrationScope { Machine, User };

// Writes the scope's keys for the DLL at `dllPath`, then tells the shell that file
// associations changed. On a failure (per machine without administrator rights) what was
// written is removed again and the error returned.
HRESULT registerHandlers(RegistrationScope scope, const wchar_t* dllPath);

// Removes the scope's keys (nothing to remove is success), then tells the shell.
HRESULT unregisterHandlers(RegistrationScope scope);

}  // namespace vellum::shell
