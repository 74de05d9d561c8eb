// VellumShell.dll's exports: the class factory of both handlers, and registration per
// machine (DllRegisterServer) or per user (DllInstall with "user": regsvr32 /n /i:user).
// No C++ exception leaves an export.
#include <windows.h>

#include <new>
#include <string>

#include "shell/shell_guids.h"
#include "shell/shell_handlers.h"
#include "shell/shell_registry.h"

using namespace vellum::shell;

namespace {

// One factory object per DllGetClassObject call, for one class.
class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(REFCLSID clsid) : clsid_(clsid) { moduleAddRef(); }
  ~ClassFactory() { moduleRelease(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid != __uuidof(IUnknown) && iid != __uuidof(IClassFactory)) return E_NOINTERFACE;
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&references_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return ULONG(left);
  }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return createHandler(clsid_, iid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      moduleAddRef();
    else
      moduleRelease();
    return S_OK;
  }

 private:
  CLSID clsid_;
  LONG references_ = 1;
};

// The full path of this DLL, as InprocServer32 records it.
bool modulePath(std::wstring* path) {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&modulePath), &self))
    return false;
  for (DWORD room = MAX_PATH;; room *= 2) {
    path->resize(room);
    const DWORD length = GetModuleFileNameW(self, &(*path)[0], room);
    if (length == 0) return false;
    if (length < room) {
      path->resize(length);
      return true;
    }
    if (room >= 32768) return false;
  }
}

HRESULT registerScope(RegistrationScope scope) {
  try {
    std::wstring path;
    if (!modulePath(&path)) return HRESULT_FROM_WIN32(GetLastError());
    return registerHandlers(scope, path.c_str());
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT unregisterScope(RegistrationScope scope) {
  try {
    return unregisterHandlers(scope);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace

extern "C" {

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (clsid != kThumbnailClass && clsid != kPropertyClass) return CLASS_E_CLASSNOTAVAILABLE;
  ClassFactory* factory = new (std::nothrow) ClassFactory(clsid);
  if (factory == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(iid, object);
  factory->Release();
  return hr;
}

STDAPI DllCanUnloadNow() { return moduleInUse() ? S_FALSE : S_OK; }

STDAPI DllRegisterServer() { return registerScope(RegistrationScope::Machine); }

STDAPI DllUnregisterServer() { return unregisterScope(RegistrationScope::Machine); }

// regsvr32 /n /i:user installs for the current user, /n /i (or /i:machine) per machine;
// /u with the same arguments removes.
STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
  RegistrationScope scope;
  if (commandLine == nullptr || commandLine[0] == L'\0' || lstrcmpiW(commandLine, L"machine") == 0)
    scope = RegistrationScope::Machine;
  else if (lstrcmpiW(commandLine, L"user") == 0)
    scope = RegistrationScope::User;
  else
    return E_INVALIDARG;
  return install ? registerScope(scope) : unregisterScope(scope);
}

}  // extern "C"
