// The identifiers of VellumShell.dll: its two classes, and the shell's property keys the
// property handler fills (mingw-w64's propkey.h lacks the image ones; the values are
// Windows' own).
#pragma once

#include <windows.h>

#include <propsys.h>

namespace vellum::shell {

// The thumbnail handler (IThumbnailProvider) and the property handler (IPropertyStore).
constexpr CLSID kThumbnailClass = {0x2b5c4fa5, 0x1785, 0x4b76, {0xa8, 0x05, 0x4a, 0xd4, 0x34, 0x5b, 0x29, 0x24}};
constexpr CLSID kPropertyClass = {0x1e251dcf, 0xe913, 0x4d0b, {0x88, 0x4d, 0x80, 0x40, 0xb2, 0xdb, 0xe7, 0x9a}};
#define VELLUM_SHELL_THUMBNAIL_CLASS L"{2B5C4FA5-1785-4B76-A805-4AD4345B2924}"
#define VELLUM_SHELL_PROPERTY_CLASS L"{1E251DCF-E913-4D0B-884D-8040B2DBE79A}"

// System.Image.*: the image summary property set, and the compression text's own set.
constexpr GUID kImageSummary = {0x6444048f, 0x4c8b, 0x11d1, {0x8b, 0x70, 0x08, 0x00, 0x36, 0xb1, 0x1a, 0x03}};
constexpr PROPERTYKEY kImageHorizontalSize = {kImageSummary, 3};
constexpr PROPERTYKEY kImageVerticalSize = {kImageSummary, 4};
constexpr PROPERTYKEY kImageBitDepth = {kImageSummary, 7};
constexpr PROPERTYKEY kImageDimensions = {kImageSummary, 13};
constexpr PROPERTYKEY kImageCompressionText = {
    {0x3f08e66f, 0x2f44, 0x4bb9, {0xa6, 0x82, 0xac, 0x35, 0xd2, 0x56, 0x23, 0x22}}, 100};

}  // namespace vellum::shell
