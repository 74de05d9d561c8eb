// Registration with Imagine: the information records of the two exports, the file format
// record, the four save options the host shows, and the signature test.
//
// Every text exists twice, in 8-bit characters for the A variant and in UTF-16 for the W
// variant. Each variant has its own complete, constant set of records (only the range
// data is shared), so nothing is rewritten at registration time and a host that registers
// both variants still sees each record with texts of its own width.
#include <cstring>

#include "core/blp_format.h"
#include "imagine/imagine_plugin.h"

namespace vellum {

const char kImaginePluginNameA[] = "Imagine Plugin Blizzard BLP Image Format";
const char16_t kImaginePluginNameW[] = u"Imagine Plugin Blizzard BLP Image Format";
const char kImagineDxtDescriptionA[] = "DXT compression";
const char16_t kImagineDxtDescriptionW[] = u"DXT compression";

namespace {

constexpr uint32_t kPluginVersion = 0x01000000;
constexpr uint32_t kInterfaceVersion = 0x01000800;  // interface 1.0.8.0

const char kFormatNameA[] = "Blizzard picture format";
const char16_t kFormatNameW[] = u"Blizzard picture format";
// Upper-case extensions, each ending in a zero, the list ending in one more zero.
const char kExtensionA[] = "BLP\0";
const char16_t kExtensionW[] = u"BLP\0";

const char kQualityA[] = "Quality jpg";
const char16_t kQualityW[] = u"Quality jpg";
const char kFormatA[] = "Format";
const char16_t kFormatW[] = u"Format";
const char kPalettedA[] = "To paletted";
const char16_t kPalettedW[] = u"To paletted";
const char kMipmapsA[] = "Max mipmaps";
const char16_t kMipmapsW[] = u"Max mipmaps";

#define VELLUM_FORMAT_TEXTS(P)                                                                         \
  P##"BLP1 JPEG base", P##"BLP1 JPEG progressive", P##"BLP1 Paletted", P##"BLP2 JPEG base",           \
      P##"BLP2 JPEG progressive", P##"BLP2 Paletted", P##"BLP2 DirX Compress", P##"BLP2 Pal 4bit alpha", \
      P##"BLP2 Pal 1bit alpha"
#define VELLUM_QUANTIZER_TEXTS(P) \
  P##"NeuQuant 100", P##"NeuQuant 128", P##"Dennis Lee3 fast", P##"Dennis Lee3 slow", P##"Mediancut"

const void* const kFormatTextsA[] = {VELLUM_FORMAT_TEXTS()};
const void* const kFormatTextsW[] = {VELLUM_FORMAT_TEXTS(u)};
const void* const kQuantizerTextsA[] = {VELLUM_QUANTIZER_TEXTS()};
const void* const kQuantizerTextsW[] = {VELLUM_QUANTIZER_TEXTS(u)};
#undef VELLUM_FORMAT_TEXTS
#undef VELLUM_QUANTIZER_TEXTS

const ImagineOptionRange kQualityRange = {1, 100};
const ImagineOptionRange kMipmapRange = {1, 16};
const ImagineOptionChoices kFormatChoicesA = {9, kFormatTextsA};
const ImagineOptionChoices kFormatChoicesW = {9, kFormatTextsW};
const ImagineOptionChoices kQuantizerChoicesA = {5, kQuantizerTextsA};
const ImagineOptionChoices kQuantizerChoicesW = {5, kQuantizerTextsW};

// Defaults: quality 80, "BLP1 JPEG progressive", "NeuQuant 100", 16 levels.
const ImagineOption kOptionsA[4] = {
    {kImagineOptionRange, kQualityA, 80, &kQualityRange},
    {kImagineOptionChoice, kFormatA, 1, &kFormatChoicesA},
    {kImagineOptionChoice, kPalettedA, 0, &kQuantizerChoicesA},
    {kImagineOptionRange, kMipmapsA, 16, &kMipmapRange},
};
const ImagineOption kOptionsW[4] = {
    {kImagineOptionRange, kQualityW, 80, &kQualityRange},
    {kImagineOptionChoice, kFormatW, 1, &kFormatChoicesW},
    {kImagineOptionChoice, kPalettedW, 0, &kQuantizerChoicesW},
    {kImagineOptionRange, kMipmapsW, 16, &kMipmapRange},
};
const ImagineOptionList kOptionListA = {4, kOptionsA};
const ImagineOptionList kOptionListW = {4, kOptionsW};

const ImagineFileFormat kFileFormatA = {imagineTestFile, imagineLoadFile, imagineSaveFile, kFormatNameA,
                                        kExtensionA,     nullptr,         &kOptionListA};
const ImagineFileFormat kFileFormatW = {imagineTestFile, imagineLoadFile, imagineSaveFile, kFormatNameW,
                                        kExtensionW,     nullptr,         &kOptionListW};

int32_t fillInfo(ImaginePluginInfo* info, ImagineRegisterFn registerProc, const void* name) {
  if (info == nullptr) return 0;
  info->size = sizeof(ImaginePluginInfo);
  info->registerProc = registerProc;
  info->versionNumber = kPluginVersion;
  info->description = name;
  info->interfaceVersion = kInterfaceVersion;
  return 1;
}

int32_t registerFormat(const ImagineInterface* registrar, const ImagineFileFormat* format) {
  if (registrar == nullptr || registrar->services == nullptr || registrar->services->registerFileType == nullptr)
    return 0;
  return registrar->services->registerFileType(format);
}

}  // namespace

int32_t VELLUM_IMAGINE_CALL imagineRegisterA(const ImagineInterface* registrar) {
  return registerFormat(registrar, &kFileFormatA);
}

int32_t VELLUM_IMAGINE_CALL imagineRegisterW(const ImagineInterface* registrar) {
  return registerFormat(registrar, &kFileFormatW);
}

bool imagineRecognises(const uint8_t* bytes, uint64_t length) {
  if (bytes == nullptr || length <= 160) return false;
  if (!hasBlpSignature(bytes)) return false;
  const uint32_t width = loadU32(bytes + 12), height = loadU32(bytes + 16);
  return width >= 1 && width <= kBlpMaxSide && height >= 1 && height <= kBlpMaxSide && loadU32(bytes + 4) < 2;
}

int32_t VELLUM_IMAGINE_CALL imagineTestFile(const void* /*fileInfoTable*/, const ImagineLoadRequest* request,
                                            int32_t /*flags*/) {
  if (request == nullptr || request->length <= 0) return 0;
  return imagineRecognises(request->buffer, uint32_t(request->length)) ? 1 : 0;
}

}  // namespace vellum

extern "C" int32_t VELLUM_IMAGINE_CALL ImaginePluginGetInfoA(vellum::ImaginePluginInfo* info) {
  return vellum::fillInfo(info, vellum::imagineRegisterA, vellum::kImaginePluginNameA);
}

extern "C" int32_t VELLUM_IMAGINE_CALL ImaginePluginGetInfoW(vellum::ImaginePluginInfo* info) {
  return vellum::fillInfo(info, vellum::imagineRegisterW, vellum::kImaginePluginNameW);
}
