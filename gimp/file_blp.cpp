// file-blp: BLP texture files in GIMP 2.10.
//
//   file-blp-load        (run-mode, filename, raw-filename) -> image
//   file-blp-load-thumb  (filename, thumb-size) -> image, image-width, image-height,
//                        image-type, num-layers
//   file-blp-save        (run-mode, image, drawable, filename, raw-filename, format,
//                        jpeg-quality, progressive, quantizer, max-mipmaps)
//
// GIMP finds BLP files by the extension .blp and by the signatures "BLP0", "BLP1" and
// "BLP2" at offset 0. Failures end the procedure with GIMP_PDB_EXECUTION_ERROR (or
// GIMP_PDB_CALLING_ERROR for parameters out of range) and a message as second return
// value, which GIMP shows or hands to the calling script.
#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include <cstring>
#include <string>

#include "gimp/blp_save.h"
#include "gimp/gimp_procs.h"
#include "gimp/save_dialog.h"

namespace {

using namespace vellum;
using namespace vellum::gimp;

constexpr const char* kFileTypeLabel = "BLP Blizzard Picture format";
constexpr const char* kAuthor = "The Vellum developers";
constexpr const char* kDate = "2026";

void query() {
  static const GimpParamDef loadArgs[] = {
      {GIMP_PDB_INT32, const_cast<gchar*>("run-mode"),
       const_cast<gchar*>("The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1) }")},
      {GIMP_PDB_STRING, const_cast<gchar*>("filename"), const_cast<gchar*>("The name of the file to load")},
      {GIMP_PDB_STRING, const_cast<gchar*>("raw-filename"), const_cast<gchar*>("The name entered")},
  };
  static const GimpParamDef loadReturns[] = {
      {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("Output image")},
  };
  static const GimpParamDef thumbArgs[] = {
      {GIMP_PDB_STRING, const_cast<gchar*>("filename"), const_cast<gchar*>("The name of the file to load")},
      {GIMP_PDB_INT32, const_cast<gchar*>("thumb-size"), const_cast<gchar*>("Preferred thumbnail size")},
  };
  static const GimpParamDef thumbReturns[] = {
      {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("Thumbnail image")},
      {GIMP_PDB_INT32, const_cast<gchar*>("image-width"), const_cast<gchar*>("Width of the full-sized image")},
      {GIMP_PDB_INT32, const_cast<gchar*>("image-height"), const_cast<gchar*>("Height of the full-sized image")},
      {GIMP_PDB_INT32, const_cast<gchar*>("image-type"), const_cast<gchar*>("Type of the image (GimpImageType)")},
      {GIMP_PDB_INT32, const_cast<gchar*>("num-layers"), const_cast<gchar*>("Number of layers")},
  };
  static const GimpParamDef saveArgs[] = {
      {GIMP_PDB_INT32, const_cast<gchar*>("run-mode"),
       const_cast<gchar*>("The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1), RUN-WITH-LAST-VALS (2) }")},
      {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("Input image")},
      {GIMP_PDB_DRAWABLE, const_cast<gchar*>("drawable"), const_cast<gchar*>("Drawable to export")},
      {GIMP_PDB_STRING, const_cast<gchar*>("filename"), const_cast<gchar*>("The name of the file to export to")},
      {GIMP_PDB_STRING, const_cast<gchar*>("raw-filename"), const_cast<gchar*>("The name entered")},
      {GIMP_PDB_INT32, const_cast<gchar*>("format"),
       const_cast<gchar*>("Format { BLP1 JPEG (0), BLP1 Paletted (1), BLP2 JPEG (2), BLP2 Paletted 8-bit alpha (3), "
                          "BLP2 DirX Compress (4), BLP2 Paletted 4-bit alpha (5), BLP2 Paletted 1-bit alpha (6) }")},
      {GIMP_PDB_INT32, const_cast<gchar*>("jpeg-quality"),
       const_cast<gchar*>("JPEG quality, 1 to 100 (0: the default, 100)")},
      {GIMP_PDB_INT32, const_cast<gchar*>("progressive"),
       const_cast<gchar*>("Progressive JPEG for levels of at least 4096 pixels (JPEG formats only) { FALSE (0), TRUE (1) }")},
      {GIMP_PDB_INT32, const_cast<gchar*>("quantizer"),
       const_cast<gchar*>("Palette builder for RGB images saved in a paletted format { NeuQuant 100 (0), "
                          "NeuQuant 128 (1), Dennis Lee3 fast (2), Dennis Lee3 slow (3), Mediancut (4) }")},
      {GIMP_PDB_INT32, const_cast<gchar*>("max-mipmaps"),
       const_cast<gchar*>("Most mipmap levels to store, level 0 included, 1 to 16 (0: the default, 16)")},
  };

  gimp_install_procedure(kLoadProc, "Loads BLP texture files",
                         "Opens the first mipmap level of a BLP texture (BLP0, BLP1 or BLP2): paletted levels as "
                         "an indexed image with the file's palette (and an alpha channel when the level has "
                         "one), JPEG, DXT and uncompressed levels as an RGB image, with alpha when the level "
                         "has it.",
                         kAuthor, kAuthor, kDate, kFileTypeLabel, nullptr, GIMP_PLUGIN, G_N_ELEMENTS(loadArgs),
                         G_N_ELEMENTS(loadReturns), loadArgs, loadReturns);
  gimp_register_magic_load_handler(kLoadProc, "blp", "", "0,string,BLP0,0,string,BLP1,0,string,BLP2");

  gimp_install_procedure(kLoadThumbProc, "Loads a thumbnail of a BLP texture",
                         "Opens the smallest mipmap level the file stores whose larger side is at least the "
                         "thumbnail size (at least 128 pixels), or the first level of a smaller image.",
                         kAuthor, kAuthor, kDate, nullptr, nullptr, GIMP_PLUGIN, G_N_ELEMENTS(thumbArgs),
                         G_N_ELEMENTS(thumbReturns), thumbArgs, thumbReturns);
  gimp_register_thumbnail_loader(kLoadProc, kLoadThumbProc);

  gimp_install_procedure(kSaveProc, "Exports BLP texture files",
                         "Writes the drawable as a BLP texture with a mipmap chain, in one of seven formats: "
                         "BLP1 or BLP2 JPEG, paletted with 8-, 4- or 1-bit alpha, or DXT (DXT1, or DXT5 with "
                         "alpha). Indexed and grayscale images keep their palette; RGB images saved in a "
                         "paletted format get a palette from the chosen quantizer.",
                         kAuthor, kAuthor, kDate, kFileTypeLabel, "RGB*, GRAY*, INDEXED*", GIMP_PLUGIN,
                         G_N_ELEMENTS(saveArgs), 0, saveArgs, nullptr);
  gimp_register_save_handler(kSaveProc, "blp", "");
}

// The return values of one call; a message lives as long as the plug-in process.
GimpParam gReturns[6];
std::string gMessage;

void fail(GimpPDBStatusType status, const std::string& message, gint* returnCount) {
  gMessage = message;
  gReturns[0].data.d_status = status;
  gReturns[1].type = GIMP_PDB_STRING;
  gReturns[1].data.d_string = const_cast<gchar*>(gMessage.c_str());
  *returnCount = 2;
}

void failWith(GError* error, gint* returnCount) {
  fail(GIMP_PDB_EXECUTION_ERROR, error != nullptr ? error->message : "unknown error", returnCount);
  if (error != nullptr) g_error_free(error);
}

void runLoad(gint paramCount, const GimpParam* params, gint* returnCount) {
  if (paramCount < 3 || params[1].data.d_string == nullptr)
    return fail(GIMP_PDB_CALLING_ERROR, "file-blp-load takes a run mode, a file name and the name entered", returnCount);
  GError* error = nullptr;
  gint32 image = loadBlpImage(params[1].data.d_string, &error);
  if (image == -1) return failWith(error, returnCount);
  gReturns[1].type = GIMP_PDB_IMAGE;
  gReturns[1].data.d_image = image;
  *returnCount = 2;
}

void runThumbnail(gint paramCount, const GimpParam* params, gint* returnCount) {
  if (paramCount < 2 || params[0].data.d_string == nullptr)
    return fail(GIMP_PDB_CALLING_ERROR, "file-blp-load-thumb takes a file name and a size", returnCount);
  GError* error = nullptr;
  gint width = 0, height = 0;
  gint32 image = loadBlpThumbnail(params[0].data.d_string, params[1].data.d_int32, &width, &height, &error);
  if (image == -1) return failWith(error, returnCount);
  gint layerCount = 0;
  gint* layers = gimp_image_get_layers(image, &layerCount);
  const GimpImageType type = layerCount > 0 ? gimp_drawable_type(layers[0]) : GIMP_RGB_IMAGE;
  g_free(layers);
  gReturns[1].type = GIMP_PDB_IMAGE;
  gReturns[1].data.d_image = image;
  gReturns[2].type = GIMP_PDB_INT32;
  gReturns[2].data.d_int32 = width;
  gReturns[3].type = GIMP_PDB_INT32;
  gReturns[3].data.d_int32 = height;
  gReturns[4].type = GIMP_PDB_INT32;
  gReturns[4].data.d_int32 = type;
  gReturns[5].type = GIMP_PDB_INT32;
  gReturns[5].data.d_int32 = layerCount;
  *returnCount = 6;
}

// The choices of the last export in this GIMP session, as the packed Save Options word;
// the defaults when there is none.
SaveOptions lastChoices() {
  uint32_t word = kDefaultSaveOptionsWord;
  if (gimp_get_data_size(kSaveProc) == sizeof word) gimp_get_data(kSaveProc, &word);
  return unpackSaveOptions(isValidSaveOptionsWord(word) ? word : kDefaultSaveOptionsWord);
}

void runSave(gint paramCount, const GimpParam* params, gint* returnCount) {
  if (paramCount < 5 || params[3].data.d_string == nullptr)
    return fail(GIMP_PDB_CALLING_ERROR, "file-blp-save takes 10 parameters", returnCount);
  const GimpRunMode runMode = GimpRunMode(params[0].data.d_int32);
  gint32 image = params[1].data.d_image;
  gint32 drawable = params[2].data.d_drawable;
  const gchar* filename = params[3].data.d_string;

  SaveOptions options;
  if (runMode == GIMP_RUN_NONINTERACTIVE) {
    // Parameters left out by the caller (five given, as gimp-file-save passes them) keep
    // their defaults; given ones are checked.
    SaveParams given;
    if (paramCount >= 10) {
      given.format = params[5].data.d_int32;
      given.jpegQuality = params[6].data.d_int32;
      given.progressive = params[7].data.d_int32;
      given.quantizer = params[8].data.d_int32;
      given.maxMipmaps = params[9].data.d_int32;
    } else if (paramCount != 5) {
      return fail(GIMP_PDB_CALLING_ERROR, "file-blp-save takes 10 parameters", returnCount);
    }
    std::string problem;
    if (!saveOptionsFromParams(given, &options, &problem)) return fail(GIMP_PDB_CALLING_ERROR, problem, returnCount);
  } else {
    options = lastChoices();
  }

  GimpExportReturn exported = GIMP_EXPORT_IGNORE;
  if (runMode == GIMP_RUN_INTERACTIVE || runMode == GIMP_RUN_WITH_LAST_VALS) {
    gimp_ui_init(kPlugInBinary, FALSE);
    // One layer of RGB, grey or indexed pixels, with or without alpha: GIMP merges the
    // visible layers into a copy when the image has more.
    exported = gimp_export_image(&image, &drawable, "BLP",
                                 GimpExportCapabilities(GIMP_EXPORT_CAN_HANDLE_RGB | GIMP_EXPORT_CAN_HANDLE_GRAY |
                                                        GIMP_EXPORT_CAN_HANDLE_INDEXED | GIMP_EXPORT_CAN_HANDLE_ALPHA));
    if (exported == GIMP_EXPORT_CANCEL) {
      gReturns[0].data.d_status = GIMP_PDB_CANCEL;
      return;
    }
  }
  bool go = true;
  if (runMode == GIMP_RUN_INTERACTIVE) go = runSaveDialog(&options);
  if (!go) {
    gReturns[0].data.d_status = GIMP_PDB_CANCEL;
  } else {
    GError* error = nullptr;
    if (saveBlpImage(filename, drawable, options, &error)) {
      const uint32_t word = packSaveOptions(options);
      gimp_set_data(kSaveProc, &word, sizeof word);
    } else {
      failWith(error, returnCount);
    }
  }
  if (exported == GIMP_EXPORT_EXPORT) gimp_image_delete(image);
}

void run(const gchar* name, gint paramCount, const GimpParam* params, gint* returnCount, GimpParam** returns) {
  gegl_init(nullptr, nullptr);
  std::memset(gReturns, 0, sizeof gReturns);
  gReturns[0].type = GIMP_PDB_STATUS;
  gReturns[0].data.d_status = GIMP_PDB_SUCCESS;
  *returnCount = 1;
  *returns = gReturns;
  if (std::strcmp(name, kLoadProc) == 0) {
    runLoad(paramCount, params, returnCount);
  } else if (std::strcmp(name, kLoadThumbProc) == 0) {
    runThumbnail(paramCount, params, returnCount);
  } else if (std::strcmp(name, kSaveProc) == 0) {
    runSave(paramCount, params, returnCount);
  } else {
    gReturns[0].data.d_status = GIMP_PDB_CALLING_ERROR;
  }
}

}  // namespace

const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, query, run};

MAIN()
