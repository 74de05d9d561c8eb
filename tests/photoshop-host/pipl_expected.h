// The PiPL resources as published: the header and the 16 properties with their data as
// stored (four-character codes reversed, data zero-padded to a multiple of 4). Vellum32's
// names its entry point under 'wx86' (stored "68xw"), Vellum64's under '8664' (stored
// "4668"); every other byte is the same. Shared by the native test of the generator and
// the emulator's check of the DLL's resource.
#pragma once

#include <cstdint>
#include <vector>

namespace pshost {

struct PiplProperty {
  const char* keyAsStored;  // the key's four bytes as they appear in the resource
  std::vector<uint8_t> data;
};

inline std::vector<uint8_t> piplText(const char* s, size_t n) { return std::vector<uint8_t>(s, s + n); }

// The entry-point key as stored: "68xw" ('wx86', i686) or "4668" ('8664', x86_64).
constexpr const char* kEntryKey32 = "68xw";
constexpr const char* kEntryKey64 = "4668";
constexpr const char* kEntryKeyOfThisBuild = sizeof(void*) == 4 ? kEntryKey32 : kEntryKey64;

inline std::vector<PiplProperty> expectedPiplProperties(const char* entryKeyAsStored = kEntryKey32) {
  std::vector<uint8_t> name = {27};
  const char* title = "BLP Blizzard picture format";
  name.insert(name.end(), title, title + 27);
  name.insert(name.end(), 4, 0);
  std::vector<uint8_t> mxch;
  for (int i = 0; i < 12; ++i) mxch.insert(mxch.end(), {24, 0});
  return {
      {"dnik", piplText("FIB8", 4)},                                  // kind '8BIF'
      {"eman", name},                                                 // name
      {"srev", {0x00, 0x00, 0x01, 0x00}},                             // vers 1.0
      {entryKeyAsStored, piplText("PluginMain\0\0", 12)},             // wx86 or 8664
      {"edom", {0xF0, 0x00, 0x00, 0x00}},                             // mode
      {"lbne", piplText("true\0\0\0\0", 8)},                          // enbl
      {"23sm", {0xFF, 0x7F, 0x00, 0x00, 0xFF, 0x7F, 0x00, 0x00}},     // ms32
      {"zsxm", {0xFF, 0x7F, 0xFF, 0x7F}},                             // mxsz
      {"hcxm", mxch},                                                 // mxch
      {"CTmf", piplText(" PLBMIB8", 8)},                              // fmTC 'BLP ' '8BIM'
      {"Ttff", piplText("F1B8    ", 8)},                              // fftT '8B1F' '    '
      {"xEdR", piplText("BLP ", 4)},                                  // RdEx
      {"xErW", piplText("BLP ", 4)},                                  // WrEx
      {"Etff", piplText("BLP ", 4)},                                  // fftE
      {"ftmf", {0x36, 0x00, 0x00, 0x00}},                             // fmtf
      {"pimf", {0x00, 0x00, 0x00, 0x00}},                             // fmip
  };
}

// The whole resource: int16 1, int32 version 0, int32 count 16, then each property as
// vendor "MIB8", key, int32 id 0, int32 length, data.
inline std::vector<uint8_t> expectedPipl(const char* entryKeyAsStored = kEntryKey32) {
  std::vector<uint8_t> out = {1, 0, 0, 0, 0, 0, 16, 0, 0, 0};
  for (const PiplProperty& p : expectedPiplProperties(entryKeyAsStored)) {
    out.insert(out.end(), {'M', 'I', 'B', '8'});
    out.insert(out.end(), p.keyAsStored, p.keyAsStored + 4);
    out.insert(out.end(), {0, 0, 0, 0});
    const uint32_t n = uint32_t(p.data.size());
    out.insert(out.end(), {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)});
    out.insert(out.end(), p.data.begin(), p.data.end());
  }
  return out;
}

}  // namespace pshost
