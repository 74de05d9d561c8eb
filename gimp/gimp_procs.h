// The GIMP side of the plug-in: BLP files into GIMP images and GIMP drawables into BLP
// files, over libgimp 2.10 and GEGL. Errors come back as a GError whose message names the
// file and says what is wrong with it.
#pragma once

#include <libgimp/gimp.h>

#include <cstdint>

#include "core/save_options.h"

namespace vellum::gimp {

// Procedure names, as registered and as scripts call them.
constexpr const char* kLoadProc = "file-blp-load";
constexpr const char* kLoadThumbProc = "file-blp-load-thumb";
constexpr const char* kSaveProc = "file-blp-save";
constexpr const char* kPlugInBinary = "file-blp";

// The smallest side a thumbnail is made from (GIMP asks for 128 or 256).
constexpr uint32_t kThumbnailMinSide = 128;

// Loads level 0 of the file as a new image; -1 on failure.
gint32 loadBlpImage(const gchar* filename, GError** error);

// Loads the level a thumbnail of `size` pixels is made from as a new image; the sides of
// level 0 come back in *imageWidth and *imageHeight. -1 on failure.
gint32 loadBlpThumbnail(const gchar* filename, gint size, gint* imageWidth, gint* imageHeight, GError** error);

// Writes the drawable as a BLP file with the given choices.
gboolean saveBlpImage(const gchar* filename, gint32 drawable, const SaveOptions& options, GError** error);

}  // namespace vellum::gimp
