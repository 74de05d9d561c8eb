// Photoshop's file-format plug-in interface as far as Vellum32 and its test host use it:
// the FormatRecord parameter block, the basic suite, the Handle Suite (version 2), the
// resource callbacks, the selectors and the result codes.
//
// Declared here from the published record layouts (field order, types and offsets of
// FormatRecord and the suites); no Adobe header is used. FormatRecord is packed to 4
// bytes on every Windows target, so the x86_64 layout differs from natural alignment;
// the suites and callback tables are naturally aligned. Every offset is checked below
// for the 32-bit and the 64-bit layout, whichever this build uses.
//
// Portable: no Windows header. All callbacks use the C calling convention, which is the
// default of every compiler we build with.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellum::ps {

// Host scalar types.
using Boolean = uint8_t;
using Fixed = int32_t;  // 16.16
using OSType = uint32_t;
using ResType = uint32_t;
using OSErr = int16_t;
using SPErr = int32_t;
using SPBoolean = int32_t;  // 32-bit on Windows
using Handle = char**;
using Ptr = char*;

struct Point {  // v (rows) first
  int16_t v, h;
};
struct VPoint {
  int32_t v, h;
};
struct Rect {
  int16_t top, left, bottom, right;
};
struct VRect {
  int32_t top, left, bottom, right;
};
struct PlugInMonitor {
  Fixed gamma, redX, redY, greenX, greenY, blueX, blueY, whiteX, whiteY, ambient;
};
using LookUpTable = uint8_t[256];
using PlaneMap = int16_t[16];

// Callback types (C calling convention).
using TestAbortProc = Boolean (*)();
using ProgressProc = void (*)(int32_t done, int32_t total);
using HostProc = void (*)(int16_t selector, intptr_t* data);
using NewPIHandleProc = Handle (*)(int32_t size);
using DisposePIHandleProc = void (*)(Handle handle);
using AdvanceStateProc = OSErr (*)();
using OpaqueProc = void (*)();

// SPBasicSuite ("SP Basic Suite", version 4). Natural alignment.
struct SPBasicSuite {
  SPErr (*AcquireSuite)(const char* name, int32_t version, const void** suite);
  SPErr (*ReleaseSuite)(const char* name, int32_t version);
  SPBoolean (*IsEqual)(const char* token1, const char* token2);
  SPErr (*AllocateBlock)(size_t size, void** block);
  SPErr (*FreeBlock)(void* block);
  SPErr (*ReallocateBlock)(void* block, size_t newSize, void** newBlock);
  SPErr (*Undefined)();
};

// "Photoshop Handle Suite for Plug-ins", version 2. Natural alignment.
struct PSHandleSuite2 {
  Handle (*New)(int32_t size);
  void (*Dispose)(Handle handle);
  void (*DisposeRegularHandle)(Handle handle);
  void (*SetLock)(Handle handle, Boolean lock, Ptr* address, Boolean* oldLock);
  int32_t (*GetSize)(Handle handle);
  OSErr (*SetSize)(Handle handle, int32_t newSize);
  void (*RecoverSpace)(int32_t size);
};

constexpr const char* kHandleSuiteName = "Photoshop Handle Suite for Plug-ins";
constexpr int32_t kHandleSuiteVersion2 = 2;

// FormatRecord::resourceProcs (version 3, 4 procedures). Natural alignment.
struct ResourceProcs {
  int16_t resourceProcsVersion;
  int16_t numResourceProcs;
  int16_t (*countProc)(ResType type);
  Handle (*getProc)(ResType type, int16_t index);
  void (*deleteProc)(ResType type, int16_t index);
  OSErr (*addProc)(ResType type, Handle data);
};

// Photoshop 21 FormatRecord: 1308 bytes on i686, 1472 on x86_64.
#pragma pack(push, 4)
struct FormatRecord {
  int32_t serialNumber;
  TestAbortProc abortProc;
  ProgressProc progressProc;
  int32_t maxData;
  int32_t minDataBytes;
  int32_t maxDataBytes;
  int32_t minRsrcBytes;
  int32_t maxRsrcBytes;
  intptr_t dataFork;  // the Windows file handle
  intptr_t rsrcFork;
  void* fileSpec;
  int16_t imageMode;
  Point imageSize;
  int16_t depth;
  int16_t planes;
  Fixed imageHRes;
  Fixed imageVRes;
  LookUpTable redLUT;
  LookUpTable greenLUT;
  LookUpTable blueLUT;
  void* data;
  Rect theRect;
  int16_t loPlane;
  int16_t hiPlane;
  int16_t colBytes;
  int32_t rowBytes;
  int32_t planeBytes;
  PlaneMap planeMap;
  Boolean canTranspose;
  Boolean needTranspose;
  OSType hostSig;
  HostProc hostProc;
  int16_t hostModes;
  Handle revertInfo;
  NewPIHandleProc hostNewHdl;
  DisposePIHandleProc hostDisposeHdl;
  Handle imageRsrcData;
  int32_t imageRsrcSize;
  PlugInMonitor monitor;
  void* platformData;
  void* bufferProcs;
  ResourceProcs* resourceProcs;
  OpaqueProc processEvent;
  OpaqueProc displayPixels;
  void* handleProcs;
  OSType fileType;
  OpaqueProc colorServices;
  AdvanceStateProc advanceState;
  void* propertyProcs;
  void* imageServicesProcs;
  int16_t tileWidth;
  int16_t tileHeight;
  Point tileOrigin;
  void* descriptorParameters;
  void* errorString;
  int32_t maxValue;
  SPBasicSuite* sSPBasic;
  void* plugInRef;
  int32_t transparentIndex;
  Handle iCCprofileData;
  int32_t iCCprofileSize;
  int32_t canUseICCProfiles;
  int32_t lutCount;
  int32_t preferredColorModes;
  int32_t convertMode;
  VPoint preferredSize;
  int32_t imageIndex;
  int32_t transparencyPlane;
  int32_t transparencyMatting;
  void* channelPortProcs;
  void* documentInfo;
  Boolean openForPreview;
  int32_t browserRotation;
  int32_t HostSupports32BitCoordinates;
  int32_t PluginUsing32BitCoordinates;
  VPoint imageSize32;
  VRect theRect32;
  uint32_t requestedFileProperty;
  uint32_t filePropertyValue;
  uint32_t fileCount;
  Handle xmp;
  int32_t supportsSkipFile;
  Boolean extractQuickThumbnail;
  Boolean hostInSecondaryThread;
  uint32_t bulkMask;
  uint32_t* bulkFlags;
  uint32_t presetCount;
  Handle presetNames;
  Handle presetData;
  uint32_t settingsChecksum;
  void* fileSpec2;
  uint32_t layerData;
  uint16_t* layerName;
  void* renderRecord;
  Handle* bulkParams;
  Boolean openAsSmartObject;
  void* layerMetaData;
  uint16_t* finalSpec;
  Boolean isTextLayer;
  void* textDescriptor;
  Boolean isGroupDivider;
  Boolean isGroupStart;
  Boolean isVisible;
  Boolean isLocked;
  uint32_t blendMode;
  uint8_t opacity;
  Handle bulkExtraData;
  void* fileSpecX;
  int16_t hostSupportsPOSIXIO;
  int16_t pluginUsingPOSIXIO;
  int32_t posixFileDescriptor;
  Boolean hostSupportsPluginOpeningFile;
  Boolean hostSupportsSingleOpenToBulkSwitch;
  Boolean pluginWantsSingleOpenToBulkSwitch;
  char reserved[50];
};
#pragma pack(pop)

// Selectors of PluginMain.
enum Selector : int16_t {
  kSelectorAbout = 0,
  kSelectorReadPrepare = 1,
  kSelectorReadStart = 2,
  kSelectorReadContinue = 3,
  kSelectorReadFinish = 4,
  kSelectorOptionsPrepare = 5,
  kSelectorOptionsStart = 6,
  kSelectorOptionsContinue = 7,
  kSelectorOptionsFinish = 8,
  kSelectorEstimatePrepare = 9,
  kSelectorEstimateStart = 10,
  kSelectorEstimateContinue = 11,
  kSelectorEstimateFinish = 12,
  kSelectorWritePrepare = 13,
  kSelectorWriteStart = 14,
  kSelectorWriteContinue = 15,
  kSelectorWriteFinish = 16,
  kSelectorFilterFile = 17,
};

// Result codes (16-bit).
constexpr int16_t kNoErr = 0;
constexpr int16_t kExceptionErr = -1;
constexpr int16_t kReadErr = -19;
constexpr int16_t kWritErr = -20;
constexpr int16_t kMemFullErr = -108;
constexpr int16_t kFormatCannotRead = -30501;
constexpr int16_t kErrPlugInHostInsufficient = -30900;

// Image modes.
enum ImageMode : int16_t {
  kModeBitmap = 0,
  kModeGrayScale = 1,
  kModeIndexedColor = 2,
  kModeRGBColor = 3,
};

constexpr OSType kPhotoshopSignature = 0x3842494D;  // '8BIM'
constexpr int32_t kSPNoError = 0;

// ---- Layout checks: every field offset, for the layout of this build. ----
#define VELLUM_PS_OFFSET(type, field, x86, x64)                                        \
  static_assert(offsetof(type, field) == (sizeof(void*) == 4 ? (x86) : (x64)),       \
                #type "::" #field " is not where the host puts it")

static_assert(sizeof(void*) == 4 || sizeof(void*) == 8, "i686 or x86_64 only");
static_assert(sizeof(Point) == 4 && sizeof(VPoint) == 8 && sizeof(Rect) == 8 && sizeof(VRect) == 16, "");
static_assert(sizeof(PlugInMonitor) == 40 && sizeof(PlaneMap) == 32, "");
static_assert(sizeof(FormatRecord) == (sizeof(void*) == 4 ? 1308 : 1472), "FormatRecord size");

VELLUM_PS_OFFSET(FormatRecord, serialNumber, 0, 0);
VELLUM_PS_OFFSET(FormatRecord, abortProc, 4, 4);
VELLUM_PS_OFFSET(FormatRecord, progressProc, 8, 12);
VELLUM_PS_OFFSET(FormatRecord, maxData, 12, 20);
VELLUM_PS_OFFSET(FormatRecord, minDataBytes, 16, 24);
VELLUM_PS_OFFSET(FormatRecord, maxDataBytes, 20, 28);
VELLUM_PS_OFFSET(FormatRecord, minRsrcBytes, 24, 32);
VELLUM_PS_OFFSET(FormatRecord, maxRsrcBytes, 28, 36);
VELLUM_PS_OFFSET(FormatRecord, dataFork, 32, 40);
VELLUM_PS_OFFSET(FormatRecord, rsrcFork, 36, 48);
VELLUM_PS_OFFSET(FormatRecord, fileSpec, 40, 56);
VELLUM_PS_OFFSET(FormatRecord, imageMode, 44, 64);
VELLUM_PS_OFFSET(FormatRecord, imageSize, 46, 66);
VELLUM_PS_OFFSET(FormatRecord, depth, 50, 70);
VELLUM_PS_OFFSET(FormatRecord, planes, 52, 72);
VELLUM_PS_OFFSET(FormatRecord, imageHRes, 56, 76);
VELLUM_PS_OFFSET(FormatRecord, imageVRes, 60, 80);
VELLUM_PS_OFFSET(FormatRecord, redLUT, 64, 84);
VELLUM_PS_OFFSET(FormatRecord, greenLUT, 320, 340);
VELLUM_PS_OFFSET(FormatRecord, blueLUT, 576, 596);
VELLUM_PS_OFFSET(FormatRecord, data, 832, 852);
VELLUM_PS_OFFSET(FormatRecord, theRect, 836, 860);
VELLUM_PS_OFFSET(FormatRecord, loPlane, 844, 868);
VELLUM_PS_OFFSET(FormatRecord, hiPlane, 846, 870);
VELLUM_PS_OFFSET(FormatRecord, colBytes, 848, 872);
VELLUM_PS_OFFSET(FormatRecord, rowBytes, 852, 876);
VELLUM_PS_OFFSET(FormatRecord, planeBytes, 856, 880);
VELLUM_PS_OFFSET(FormatRecord, planeMap, 860, 884);
VELLUM_PS_OFFSET(FormatRecord, canTranspose, 892, 916);
VELLUM_PS_OFFSET(FormatRecord, needTranspose, 893, 917);
VELLUM_PS_OFFSET(FormatRecord, hostSig, 896, 920);
VELLUM_PS_OFFSET(FormatRecord, hostProc, 900, 924);
VELLUM_PS_OFFSET(FormatRecord, hostModes, 904, 932);
VELLUM_PS_OFFSET(FormatRecord, revertInfo, 908, 936);
VELLUM_PS_OFFSET(FormatRecord, hostNewHdl, 912, 944);
VELLUM_PS_OFFSET(FormatRecord, hostDisposeHdl, 916, 952);
VELLUM_PS_OFFSET(FormatRecord, imageRsrcData, 920, 960);
VELLUM_PS_OFFSET(FormatRecord, imageRsrcSize, 924, 968);
VELLUM_PS_OFFSET(FormatRecord, monitor, 928, 972);
VELLUM_PS_OFFSET(FormatRecord, platformData, 968, 1012);
VELLUM_PS_OFFSET(FormatRecord, bufferProcs, 972, 1020);
VELLUM_PS_OFFSET(FormatRecord, resourceProcs, 976, 1028);
VELLUM_PS_OFFSET(FormatRecord, processEvent, 980, 1036);
VELLUM_PS_OFFSET(FormatRecord, displayPixels, 984, 1044);
VELLUM_PS_OFFSET(FormatRecord, handleProcs, 988, 1052);
VELLUM_PS_OFFSET(FormatRecord, fileType, 992, 1060);
VELLUM_PS_OFFSET(FormatRecord, colorServices, 996, 1064);
VELLUM_PS_OFFSET(FormatRecord, advanceState, 1000, 1072);
VELLUM_PS_OFFSET(FormatRecord, propertyProcs, 1004, 1080);
VELLUM_PS_OFFSET(FormatRecord, imageServicesProcs, 1008, 1088);
VELLUM_PS_OFFSET(FormatRecord, tileWidth, 1012, 1096);
VELLUM_PS_OFFSET(FormatRecord, tileHeight, 1014, 1098);
VELLUM_PS_OFFSET(FormatRecord, tileOrigin, 1016, 1100);
VELLUM_PS_OFFSET(FormatRecord, descriptorParameters, 1020, 1104);
VELLUM_PS_OFFSET(FormatRecord, errorString, 1024, 1112);
VELLUM_PS_OFFSET(FormatRecord, maxValue, 1028, 1120);
VELLUM_PS_OFFSET(FormatRecord, sSPBasic, 1032, 1124);
VELLUM_PS_OFFSET(FormatRecord, plugInRef, 1036, 1132);
VELLUM_PS_OFFSET(FormatRecord, transparentIndex, 1040, 1140);
VELLUM_PS_OFFSET(FormatRecord, iCCprofileData, 1044, 1144);
VELLUM_PS_OFFSET(FormatRecord, iCCprofileSize, 1048, 1152);
VELLUM_PS_OFFSET(FormatRecord, canUseICCProfiles, 1052, 1156);
VELLUM_PS_OFFSET(FormatRecord, lutCount, 1056, 1160);
VELLUM_PS_OFFSET(FormatRecord, preferredColorModes, 1060, 1164);
VELLUM_PS_OFFSET(FormatRecord, convertMode, 1064, 1168);
VELLUM_PS_OFFSET(FormatRecord, preferredSize, 1068, 1172);
VELLUM_PS_OFFSET(FormatRecord, imageIndex, 1076, 1180);
VELLUM_PS_OFFSET(FormatRecord, transparencyPlane, 1080, 1184);
VELLUM_PS_OFFSET(FormatRecord, transparencyMatting, 1084, 1188);
VELLUM_PS_OFFSET(FormatRecord, channelPortProcs, 1088, 1192);
VELLUM_PS_OFFSET(FormatRecord, documentInfo, 1092, 1200);
VELLUM_PS_OFFSET(FormatRecord, openForPreview, 1096, 1208);
VELLUM_PS_OFFSET(FormatRecord, browserRotation, 1100, 1212);
VELLUM_PS_OFFSET(FormatRecord, HostSupports32BitCoordinates, 1104, 1216);
VELLUM_PS_OFFSET(FormatRecord, PluginUsing32BitCoordinates, 1108, 1220);
VELLUM_PS_OFFSET(FormatRecord, imageSize32, 1112, 1224);
VELLUM_PS_OFFSET(FormatRecord, theRect32, 1120, 1232);
VELLUM_PS_OFFSET(FormatRecord, requestedFileProperty, 1136, 1248);
VELLUM_PS_OFFSET(FormatRecord, filePropertyValue, 1140, 1252);
VELLUM_PS_OFFSET(FormatRecord, fileCount, 1144, 1256);
VELLUM_PS_OFFSET(FormatRecord, xmp, 1148, 1260);
VELLUM_PS_OFFSET(FormatRecord, supportsSkipFile, 1152, 1268);
VELLUM_PS_OFFSET(FormatRecord, extractQuickThumbnail, 1156, 1272);
VELLUM_PS_OFFSET(FormatRecord, hostInSecondaryThread, 1157, 1273);
VELLUM_PS_OFFSET(FormatRecord, bulkMask, 1160, 1276);
VELLUM_PS_OFFSET(FormatRecord, bulkFlags, 1164, 1280);
VELLUM_PS_OFFSET(FormatRecord, presetCount, 1168, 1288);
VELLUM_PS_OFFSET(FormatRecord, presetNames, 1172, 1292);
VELLUM_PS_OFFSET(FormatRecord, presetData, 1176, 1300);
VELLUM_PS_OFFSET(FormatRecord, settingsChecksum, 1180, 1308);
VELLUM_PS_OFFSET(FormatRecord, fileSpec2, 1184, 1312);
VELLUM_PS_OFFSET(FormatRecord, layerData, 1188, 1320);
VELLUM_PS_OFFSET(FormatRecord, layerName, 1192, 1324);
VELLUM_PS_OFFSET(FormatRecord, renderRecord, 1196, 1332);
VELLUM_PS_OFFSET(FormatRecord, bulkParams, 1200, 1340);
VELLUM_PS_OFFSET(FormatRecord, openAsSmartObject, 1204, 1348);
VELLUM_PS_OFFSET(FormatRecord, layerMetaData, 1208, 1352);
VELLUM_PS_OFFSET(FormatRecord, finalSpec, 1212, 1360);
VELLUM_PS_OFFSET(FormatRecord, isTextLayer, 1216, 1368);
VELLUM_PS_OFFSET(FormatRecord, textDescriptor, 1220, 1372);
VELLUM_PS_OFFSET(FormatRecord, isGroupDivider, 1224, 1380);
VELLUM_PS_OFFSET(FormatRecord, isGroupStart, 1225, 1381);
VELLUM_PS_OFFSET(FormatRecord, isVisible, 1226, 1382);
VELLUM_PS_OFFSET(FormatRecord, isLocked, 1227, 1383);
VELLUM_PS_OFFSET(FormatRecord, blendMode, 1228, 1384);
VELLUM_PS_OFFSET(FormatRecord, opacity, 1232, 1388);
VELLUM_PS_OFFSET(FormatRecord, bulkExtraData, 1236, 1392);
VELLUM_PS_OFFSET(FormatRecord, fileSpecX, 1240, 1400);
VELLUM_PS_OFFSET(FormatRecord, hostSupportsPOSIXIO, 1244, 1408);
VELLUM_PS_OFFSET(FormatRecord, pluginUsingPOSIXIO, 1246, 1410);
VELLUM_PS_OFFSET(FormatRecord, posixFileDescriptor, 1248, 1412);
VELLUM_PS_OFFSET(FormatRecord, hostSupportsPluginOpeningFile, 1252, 1416);
VELLUM_PS_OFFSET(FormatRecord, hostSupportsSingleOpenToBulkSwitch, 1253, 1417);
VELLUM_PS_OFFSET(FormatRecord, pluginWantsSingleOpenToBulkSwitch, 1254, 1418);
VELLUM_PS_OFFSET(FormatRecord, reserved, 1255, 1419);

VELLUM_PS_OFFSET(SPBasicSuite, AcquireSuite, 0, 0);
VELLUM_PS_OFFSET(SPBasicSuite, ReleaseSuite, 4, 8);
VELLUM_PS_OFFSET(SPBasicSuite, IsEqual, 8, 16);
VELLUM_PS_OFFSET(SPBasicSuite, AllocateBlock, 12, 24);
VELLUM_PS_OFFSET(SPBasicSuite, FreeBlock, 16, 32);
VELLUM_PS_OFFSET(SPBasicSuite, ReallocateBlock, 20, 40);
VELLUM_PS_OFFSET(SPBasicSuite, Undefined, 24, 48);

VELLUM_PS_OFFSET(PSHandleSuite2, New, 0, 0);
VELLUM_PS_OFFSET(PSHandleSuite2, Dispose, 4, 8);
VELLUM_PS_OFFSET(PSHandleSuite2, DisposeRegularHandle, 8, 16);
VELLUM_PS_OFFSET(PSHandleSuite2, SetLock, 12, 24);
VELLUM_PS_OFFSET(PSHandleSuite2, GetSize, 16, 32);
VELLUM_PS_OFFSET(PSHandleSuite2, SetSize, 20, 40);
VELLUM_PS_OFFSET(PSHandleSuite2, RecoverSpace, 24, 48);

VELLUM_PS_OFFSET(ResourceProcs, resourceProcsVersion, 0, 0);
VELLUM_PS_OFFSET(ResourceProcs, numResourceProcs, 2, 2);
VELLUM_PS_OFFSET(ResourceProcs, countProc, 4, 8);
VELLUM_PS_OFFSET(ResourceProcs, getProc, 8, 16);
VELLUM_PS_OFFSET(ResourceProcs, deleteProc, 12, 24);
VELLUM_PS_OFFSET(ResourceProcs, addProc, 16, 32);
static_assert(sizeof(ResourceProcs) == (sizeof(void*) == 4 ? 20 : 40), "ResourceProcs size");

#undef VELLUM_PS_OFFSET

}  // namespace vellum::ps
