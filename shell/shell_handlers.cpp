#include "shell/shell_handlers.h"

#include <propsys.h>
#include <thumbcache.h>

#include <cstdio>
#include <new>

#include "shell/shell_guids.h"
#include "shell/shell_image.h"
#include "shell/shell_stream.h"
#include "vellum/vellum.h"

namespace vellum::shell {

namespace {

LONG liveObjects = 0;

// The shared part of both objects: the reference count and the module's count of them.
class ComObject {
 protected:
  ComObject() { moduleAddRef(); }
  virtual ~ComObject() { moduleRelease(); }
  ULONG addRef() { return ULONG(InterlockedIncrement(&references_)); }
  ULONG release() {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return ULONG(left);
  }

 private:
  LONG references_ = 1;
};

// ---- Thumbnails ----

struct DibTarget {
  HBITMAP bitmap = nullptr;
};

// A top-down 32-bit DIB section: its rows are exactly width * 4 bytes apart.
uint8_t* allocateDib(void* context, uint32_t width, uint32_t height, ptrdiff_t* stride) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = LONG(width);
  info.bmiHeader.biHeight = -LONG(height);
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr || bits == nullptr) {
    if (bitmap != nullptr) DeleteObject(bitmap);
    return nullptr;
  }
  static_cast<DibTarget*>(context)->bitmap = bitmap;
  *stride = ptrdiff_t(width) * 4;
  return static_cast<uint8_t*>(bits);
}

class ThumbnailHandler final : public ComObject, public IThumbnailProvider, public IInitializeWithStream {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IThumbnailProvider))
      *object = static_cast<IThumbnailProvider*>(this);
    else if (iid == __uuidof(IInitializeWithStream))
      *object = static_cast<IInitializeWithStream*>(this);
    else
      return E_NOINTERFACE;
    addRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return release(); }

  HRESULT STDMETHODCALLTYPE Initialize(IStream* stream, DWORD) override {
    if (initialized_) return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
    const HRESULT hr = readWholeStream(stream, kMaxFileBytes, &file_);
    initialized_ = SUCCEEDED(hr);
    return hr;
  }

  HRESULT STDMETHODCALLTYPE GetThumbnail(UINT side, HBITMAP* bitmap, WTS_ALPHATYPE* alpha) override {
    if (bitmap == nullptr || alpha == nullptr) return E_POINTER;
    *bitmap = nullptr;
    *alpha = WTSAT_UNKNOWN;
    if (!initialized_) return E_UNEXPECTED;
    if (side == 0) return E_INVALIDARG;
    DibTarget target;
    uint32_t width = 0, height = 0;
    const int status = shellThumbnail(file_.data.get(), file_.size, side, kMaxLevelPixels, allocateDib, &target, &width, &height);
    if (status < 0) {
      if (target.bitmap != nullptr) DeleteObject(target.bitmap);
      return resultOfStatus(status);
    }
    *bitmap = target.bitmap;
    *alpha = WTSAT_ARGB;
    return S_OK;
  }

 private:
  StreamBytes file_;
  bool initialized_ = false;
};

// ---- Properties ----

const PROPERTYKEY kKeys[] = {kImageDimensions, kImageHorizontalSize, kImageVerticalSize, kImageBitDepth,
                             kImageCompressionText};
constexpr DWORD kKeyCount = sizeof kKeys / sizeof kKeys[0];

bool sameKey(const PROPERTYKEY& a, const PROPERTYKEY& b) { return a.fmtid == b.fmtid && a.pid == b.pid; }

HRESULT stringValue(const char* text, PROPVARIANT* value) {
  size_t length = 0;
  while (text[length] != '\0') ++length;
  auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc((length + 1) * sizeof(wchar_t)));
  if (copy == nullptr) return E_OUTOFMEMORY;
  for (size_t i = 0; i <= length; ++i) copy[i] = wchar_t(static_cast<unsigned char>(text[i]));
  value->vt = VT_LPWSTR;
  value->pwszVal = copy;
  return S_OK;
}

HRESULT numberValue(uint32_t number, PROPVARIANT* value) {
  value->vt = VT_UI4;
  value->ulVal = number;
  return S_OK;
}

class PropertyHandler final : public ComObject,
                              public IPropertyStore,
                              public IInitializeWithStream,
                              public IPropertyStoreCapabilities {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IPropertyStore))
      *object = static_cast<IPropertyStore*>(this);
    else if (iid == __uuidof(IInitializeWithStream))
      *object = static_cast<IInitializeWithStream*>(this);
    else if (iid == __uuidof(IPropertyStoreCapabilities))
      *object = static_cast<IPropertyStoreCapabilities*>(this);
    else
      return E_NOINTERFACE;
    addRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return release(); }

  // The file is read, its header checked, and only the properties are kept.
  HRESULT STDMETHODCALLTYPE Initialize(IStream* stream, DWORD) override {
    if (initialized_) return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
    StreamBytes file;
    const HRESULT hr = readWholeStream(stream, kMaxFileBytes, &file);
    if (FAILED(hr)) return hr;
    const int status = shellProperties(file.data.get(), file.size, &properties_);
    if (status < 0) return resultOfStatus(status);
    initialized_ = true;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override {
    if (count == nullptr) return E_POINTER;
    *count = initialized_ ? kKeyCount : 0;
    return initialized_ ? S_OK : E_UNEXPECTED;
  }

  HRESULT STDMETHODCALLTYPE GetAt(DWORD index, PROPERTYKEY* key) override {
    if (key == nullptr) return E_POINTER;
    if (!initialized_) return E_UNEXPECTED;
    if (index >= kKeyCount) return E_INVALIDARG;
    *key = kKeys[index];
    return S_OK;
  }

  // Keys the handler does not know are empty values, as the shell expects.
  HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
    if (value == nullptr) return E_POINTER;
    PropVariantInit(value);
    if (!initialized_) return E_UNEXPECTED;
    if (sameKey(key, kImageHorizontalSize)) return numberValue(properties_.width, value);
    if (sameKey(key, kImageVerticalSize)) return numberValue(properties_.height, value);
    if (sameKey(key, kImageBitDepth)) return numberValue(properties_.bitDepth, value);
    if (sameKey(key, kImageCompressionText)) return stringValue(properties_.compression, value);
    if (sameKey(key, kImageDimensions)) {
      char text[32];
      std::snprintf(text, sizeof text, "%u x %u", unsigned(properties_.width), unsigned(properties_.height));
      return stringValue(text, value);
    }
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, REFPROPVARIANT) override { return STG_E_ACCESSDENIED; }
  HRESULT STDMETHODCALLTYPE Commit() override { return STG_E_ACCESSDENIED; }
  HRESULT STDMETHODCALLTYPE IsPropertyWritable(REFPROPERTYKEY) override { return S_FALSE; }

 private:
  ShellProperties properties_;
  bool initialized_ = false;
};

template <typename Handler>
HRESULT create(REFIID iid, void** object) {
  Handler* handler = new (std::nothrow) Handler();
  if (handler == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = handler->QueryInterface(iid, object);
  handler->Release();
  return hr;
}

}  // namespace

HRESULT createHandler(REFCLSID clsid, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (clsid == kThumbnailClass) return create<ThumbnailHandler>(iid, object);
  if (clsid == kPropertyClass) return create<PropertyHandler>(iid, object);
  return CLASS_E_CLASSNOTAVAILABLE;
}

void moduleAddRef() { InterlockedIncrement(&liveObjects); }
void moduleRelease() { InterlockedDecrement(&liveObjects); }
bool moduleInUse() { return InterlockedCompareExchange(&liveObjects, 0, 0) != 0; }

HRESULT resultOfStatus(int status) {
  switch (status) {
    case VELLUM_OK:
    case VELLUM_WARNING: return S_OK;
    case VELLUM_ERR_NO_MEMORY: return E_OUTOFMEMORY;
    case VELLUM_ERR_ARGUMENT: return E_INVALIDARG;
    case VELLUM_ERR_TOO_LARGE: return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    case VELLUM_ERR_UNSUPPORTED: return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
    case VELLUM_ERR_NOT_BLP: return HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
    default: return HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT);
  }
}

}  // namespace vellum::shell
