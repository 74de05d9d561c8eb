// The two shell handlers of VellumShell.dll and what the DLL's exports need of them.
//   thumbnail handler: IThumbnailProvider + IInitializeWithStream
//   property handler:  IPropertyStore + IInitializeWithStream + IPropertyStoreCapabilities
// Every object reads its own file into its own memory: no state is shared between them.
#pragma once

#include <windows.h>

namespace vellum::shell {

// A new object of one of the two classes, asked for `iid` (the caller's reference).
// CLASS_E_CLASSNOTAVAILABLE for another class.
HRESULT createHandler(REFCLSID clsid, REFIID iid, void** object);

// Live objects and class factory locks, for DllCanUnloadNow.
void moduleAddRef();
void moduleRelease();
bool moduleInUse();

// The HRESULT the shell gets for a library status (S_OK for VELLUM_OK and VELLUM_WARNING).
HRESULT resultOfStatus(int status);

}  // namespace vellum::shell
