#include "shell/shell_registry.h"

#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "shell/shell_guids.h"

namespace vellum::shell {

namespace {

#define THUMBNAIL_CLASS_KEY L"CLSID\\" VELLUM_SHELL_THUMBNAIL_CLASS
#define PROPERTY_CLASS_KEY L"CLSID\\" VELLUM_SHELL_PROPERTY_CLASS
// The shell's key for thumbnail handlers is IThumbnailProvider's interface identifier.
#define THUMBNAIL_HANDLER L"\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}"
#define PROPERTY_HANDLERS L"Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers\\.blp"

// The properties the details pane and the Details view's property sheet show.
constexpr wchar_t kPreviewDetails[] =
    L"prop:System.Image.Dimensions;System.Image.BitDepth;System.Image.CompressionText;System.Size;"
    L"System.DateModified";
constexpr wchar_t kFullDetails[] =
    L"prop:System.PropGroup.Image;System.Image.Dimensions;System.Image.HorizontalSize;"
    L"System.Image.VerticalSize;System.Image.BitDepth;System.Image.CompressionText;System.PropGroup.FileSystem;"
    L"System.ItemNameDisplay;System.ItemTypeText;System.ItemFolderPathDisplay;System.Size;System.DateCreated;"
    L"System.DateModified;System.FileAttributes";

// Where a key lives: Software\Classes of the scope's hive, or HKLM\Software.
enum class Base { Classes, Software };

// How a value is owned, which decides what unregistering does with it.
enum class Rule {
  Class,    // inside our own class keys: removed with them
  Handler,  // names our class: replaced when registering, removed while it still names ours
  Shared,   // describes .blp files: written only where absent, removed only where we created it
};

struct Value {
  Base base;
  const wchar_t* key;
  const wchar_t* name;  // null: the key's default value
  const wchar_t* data;  // null: the DLL's path
  Rule rule;
  bool machineOnly;
};

const Value kValues[] = {
    {Base::Classes, THUMBNAIL_CLASS_KEY, nullptr, L"Vellum BLP Thumbnail Handler", Rule::Class, false},
    {Base::Classes, THUMBNAIL_CLASS_KEY L"\\InprocServer32", nullptr, nullptr, Rule::Class, false},
    {Base::Classes, THUMBNAIL_CLASS_KEY L"\\InprocServer32", L"ThreadingModel", L"Apartment", Rule::Class, false},
    {Base::Classes, L".blp" THUMBNAIL_HANDLER, nullptr, VELLUM_SHELL_THUMBNAIL_CLASS, Rule::Handler, false},
    {Base::Classes, L"SystemFileAssociations\\.blp" THUMBNAIL_HANDLER, nullptr, VELLUM_SHELL_THUMBNAIL_CLASS,
     Rule::Handler, false},
    {Base::Classes, L".blp", L"PerceivedType", L"image", Rule::Shared, false},
    {Base::Classes, PROPERTY_CLASS_KEY, nullptr, L"Vellum BLP Property Handler", Rule::Class, true},
    {Base::Classes, PROPERTY_CLASS_KEY L"\\InprocServer32", nullptr, nullptr, Rule::Class, true},
    {Base::Classes, PROPERTY_CLASS_KEY L"\\InprocServer32", L"ThreadingModel", L"Apartment", Rule::Class, true},
    {Base::Software, PROPERTY_HANDLERS, nullptr, VELLUM_SHELL_PROPERTY_CLASS, Rule::Handler, true},
    {Base::Classes, L"SystemFileAssociations\\.blp", L"PreviewDetails", kPreviewDetails, Rule::Shared, true},
    {Base::Classes, L"SystemFileAssociations\\.blp", L"FullDetails", kFullDetails, Rule::Shared, true},
};

// Our class keys, removed whole. The thumbnail class key holds the record of what
// registering created outside them: CreatedValues, one bit per Rule::Shared value in table
// order, and CreatedKeys, the keys that did not exist before.
const wchar_t* const kClassKeys[] = {THUMBNAIL_CLASS_KEY, PROPERTY_CLASS_KEY};
constexpr wchar_t kCreatedValues[] = L"CreatedValues";
constexpr wchar_t kCreatedKeys[] = L"CreatedKeys";

struct Record {
  DWORD values = 0;
  std::vector<std::wstring> keys;  // full paths below the hive
};

HKEY hiveOf(RegistrationScope scope) { return scope == RegistrationScope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

std::wstring pathOf(Base base, const wchar_t* key) {
  return std::wstring(base == Base::Classes ? L"Software\\Classes\\" : L"Software\\") + key;
}

const std::wstring& recordKey() {
  static const std::wstring key = pathOf(Base::Classes, THUMBNAIL_CLASS_KEY);
  return key;
}

bool applies(const Value& value, RegistrationScope scope) {
  return !value.machineOnly || scope == RegistrationScope::Machine;
}

bool insideClassKey(const std::wstring& key) {
  for (const wchar_t* classKey : kClassKeys) {
    const std::wstring path = pathOf(Base::Classes, classKey);
    if (key.size() >= path.size() && CompareStringOrdinal(key.c_str(), int(path.size()), path.c_str(), int(path.size()), TRUE) == CSTR_EQUAL &&
        (key.size() == path.size() || key[path.size()] == L'\\'))
      return true;
  }
  return false;
}

// A string value, or false when it is absent, not a string or longer than we ever write.
bool readString(HKEY hive, const std::wstring& key, const wchar_t* name, std::wstring* text) {
  wchar_t buffer[1024];
  DWORD bytes = sizeof buffer;
  if (RegGetValueW(hive, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &bytes) != ERROR_SUCCESS) return false;
  text->assign(buffer);
  return true;
}

bool holds(HKEY hive, const std::wstring& key, const wchar_t* name, const wchar_t* data) {
  std::wstring text;
  return readString(hive, key, name, &text) && lstrcmpiW(text.c_str(), data) == 0;
}

Record readRecord(HKEY hive) {
  Record record;
  DWORD bytes = sizeof record.values;
  if (RegGetValueW(hive, recordKey().c_str(), kCreatedValues, RRF_RT_REG_DWORD, nullptr, &record.values, &bytes) !=
      ERROR_SUCCESS)
    record.values = 0;
  bytes = 0;
  if (RegGetValueW(hive, recordKey().c_str(), kCreatedKeys, RRF_RT_REG_MULTI_SZ, nullptr, nullptr, &bytes) !=
          ERROR_SUCCESS ||
      bytes == 0)
    return record;
  std::vector<wchar_t> list(bytes / sizeof(wchar_t) + 2, L'\0');
  if (RegGetValueW(hive, recordKey().c_str(), kCreatedKeys, RRF_RT_REG_MULTI_SZ, nullptr, list.data(), &bytes) !=
      ERROR_SUCCESS)
    return record;
  for (const wchar_t* k = list.data(); *k != L'\0'; k += lstrlenW(k) + 1) record.keys.emplace_back(k);
  return record;
}

LONG setValue(HKEY hive, const std::wstring& key, const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
  HKEY handle = nullptr;
  LONG error = RegOpenKeyExW(hive, key.c_str(), 0, KEY_SET_VALUE, &handle);
  if (error != ERROR_SUCCESS) return error;
  error = RegSetValueExW(handle, name, 0, type, static_cast<const BYTE*>(data), bytes);
  RegCloseKey(handle);
  return error;
}

LONG writeRecord(HKEY hive, Record record) {
  std::sort(record.keys.begin(), record.keys.end());
  record.keys.erase(std::unique(record.keys.begin(), record.keys.end()), record.keys.end());
  std::wstring list;
  for (const std::wstring& k : record.keys) list += k + L'\0';
  list += L'\0';
  const LONG error = setValue(hive, recordKey(), kCreatedValues, REG_DWORD, &record.values, sizeof record.values);
  if (error != ERROR_SUCCESS) return error;
  return setValue(hive, recordKey(), kCreatedKeys, REG_MULTI_SZ, list.c_str(), DWORD(list.size() * sizeof(wchar_t)));
}

// Creates `key` one level at a time below its base (Software\Classes or Software, which
// every system has), so that every key that did not exist is known: those outside our
// class keys go into the record.
LONG createKey(HKEY hive, Base base, const std::wstring& key, Record* record) {
  const size_t baseLength = pathOf(base, L"").size();
  for (size_t end = key.find(L'\\', baseLength);; end = key.find(L'\\', end + 1)) {
    const std::wstring part = key.substr(0, end);
    HKEY handle = nullptr;
    DWORD disposition = 0;
    const LONG error =
        RegCreateKeyExW(hive, part.c_str(), 0, nullptr, 0, KEY_QUERY_VALUE, nullptr, &handle, &disposition);
    if (error != ERROR_SUCCESS) return error;
    RegCloseKey(handle);
    if (disposition == REG_CREATED_NEW_KEY && !insideClassKey(part)) record->keys.push_back(part);
    if (end == std::wstring::npos) return ERROR_SUCCESS;
  }
}

LONG writeString(HKEY hive, Base base, const wchar_t* relativeKey, const wchar_t* name, const wchar_t* text,
                 Record* record) {
  const std::wstring key = pathOf(base, relativeKey);
  const LONG error = createKey(hive, base, key, record);
  if (error != ERROR_SUCCESS) return error;
  return setValue(hive, key, name, REG_SZ, text, DWORD((lstrlenW(text) + 1) * sizeof(wchar_t)));
}

LONG deleteValue(HKEY hive, const std::wstring& key, const wchar_t* name) {
  HKEY handle = nullptr;
  LONG error = RegOpenKeyExW(hive, key.c_str(), 0, KEY_SET_VALUE, &handle);
  if (error == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (error != ERROR_SUCCESS) return error;
  error = RegDeleteValueW(handle, name);
  RegCloseKey(handle);
  return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
}

LONG deleteIfEmpty(HKEY hive, const std::wstring& key) {
  HKEY handle = nullptr;
  LONG error = RegOpenKeyExW(hive, key.c_str(), 0, KEY_QUERY_VALUE, &handle);
  if (error == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (error != ERROR_SUCCESS) return error;
  DWORD subkeys = 0, values = 0;
  error = RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                           nullptr, nullptr);
  RegCloseKey(handle);
  if (error != ERROR_SUCCESS || subkeys != 0 || values != 0) return error;
  error = RegDeleteKeyW(hive, key.c_str());
  return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
}

// Removes what `record` says registering created, and our values and class keys.
LONG removeRegistration(RegistrationScope scope, Record record) {
  const HKEY hive = hiveOf(scope);
  LONG firstError = ERROR_SUCCESS;
  auto note = [&firstError](LONG error) {
    if (firstError == ERROR_SUCCESS && error != ERROR_SUCCESS) firstError = error;
  };
  unsigned shared = 0;
  for (const Value& v : kValues) {
    const bool sharedValue = v.rule == Rule::Shared;
    const unsigned bit = sharedValue ? shared++ : 0;
    if (!applies(v, scope) || v.rule == Rule::Class) continue;
    if (sharedValue && ((record.values >> bit) & 1u) == 0) continue;
    const std::wstring key = pathOf(v.base, v.key);
    if (holds(hive, key, v.name, v.data)) note(deleteValue(hive, key, v.name));
  }
  for (const wchar_t* classKey : kClassKeys) {
    const LONG error = RegDeleteTreeW(hive, pathOf(Base::Classes, classKey).c_str());
    if (error != ERROR_FILE_NOT_FOUND) note(error);
  }
  // Deepest first: a key's parent is shorter than the key.
  std::sort(record.keys.begin(), record.keys.end(),
            [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
  for (const std::wstring& key : record.keys) note(deleteIfEmpty(hive, key));
  return firstError;
}

void notifyShell() { SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr); }

}  // namespace

HRESULT registerHandlers(RegistrationScope scope, const wchar_t* dllPath) {
  if (dllPath == nullptr || dllPath[0] == L'\0') return E_INVALIDARG;
  const HKEY hive = hiveOf(scope);
  // A registration over an earlier one keeps its record: what it created is still ours.
  Record record = readRecord(hive);
  // Which shared values are ours to write: those absent, and those that an earlier
  // registration created and that still hold our text.
  DWORD created = 0;
  unsigned shared = 0;
  for (const Value& v : kValues) {
    if (v.rule != Rule::Shared) continue;
    const unsigned bit = shared++;
    if (!applies(v, scope)) continue;
    const std::wstring key = pathOf(v.base, v.key);
    std::wstring text;
    if (!readString(hive, key, v.name, &text) || (((record.values >> bit) & 1u) != 0 && holds(hive, key, v.name, v.data)))
      created |= 1u << bit;
  }
  record.values = created;

  LONG error = ERROR_SUCCESS;
  shared = 0;
  for (const Value& v : kValues) {
    if (error != ERROR_SUCCESS) break;
    const bool sharedValue = v.rule == Rule::Shared;
    const unsigned bit = sharedValue ? shared++ : 0;
    if (!applies(v, scope) || (sharedValue && ((created >> bit) & 1u) == 0)) continue;
    error = writeString(hive, v.base, v.key, v.name, v.data != nullptr ? v.data : dllPath, &record);
  }
  if (error == ERROR_SUCCESS) error = writeRecord(hive, record);
  if (error != ERROR_SUCCESS) {
    removeRegistration(scope, record);
    return HRESULT_FROM_WIN32(error);
  }
  notifyShell();
  return S_OK;
}

HRESULT unregisterHandlers(RegistrationScope scope) {
  const LONG error = removeRegistration(scope, readRecord(hiveOf(scope)));
  notifyShell();
  return HRESULT_FROM_WIN32(error);
}

}  // namespace vellum::shell
