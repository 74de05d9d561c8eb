// The saving side of the XnView plug-in, host-independent: the image collected from
// gfpSavePicturePutColormap and gfpSavePicturePutLine, and the run of the writer at
// gfpSavePictureExit. The Windows exports add the file (create, one write, flush, close)
// and the Save Options dialog.
//
// The image area is one block: 256 palette entries of 4 bytes (red, green, blue, 255),
// then room for width x height pixels of 4 bytes, row 0 first. Rows of 1 to 8 bits are
// kept as one index byte a pixel (packed at the start of that room; grey values are
// indices of a grey ramp); 24- and 32-bit rows as XnView's red, green, blue (, alpha),
// with 255 for a 24-bit alpha. The writer takes the image as it is (encodeBlpSource) and
// uses the same room as its working memory, so a save holds the image once.
//
// Every value from the host is untrusted: sides are checked with checkSaveSize before
// anything is allocated, row indices outside the image and null pointers store nothing.
#pragma once

#include <cstdint>

#include "core/blp_status.h"
#include "core/blp_writer.h"
#include "core/save_options.h"

namespace vellum {

struct XnSaveImage {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bitsPerPixel = 0;
  uint32_t bytesPerPixel = 0;  // (bitsPerPixel + 7) / 8: 1, 3 or 4
  bool hasColormap = false;
  uint32_t colormapEntries = 0;  // entries the host's colormap defines (2^bits, at most 256)
  uint8_t* area = nullptr;       // palette then pixels, zero-filled at creation
  uint8_t* palette = nullptr;    // area: red, green, blue, 255 an entry
  uint8_t* pixels = nullptr;     // area + 1024: indices, or 4 bytes a pixel
  BlpOutput output;              // grows on demand (realloc)
};

// gfpSavePictureIsSupported: 1 for 1, 8, 24 and 32 bits; for 2, 3 and 4 bits only with a
// colormap; 0 otherwise. Width and height are not examined.
int32_t xnSaveIsSupported(int32_t bitsPerPixel, int32_t hasColormap);

// True for the depths whose rows can be stored: 1, 2, 3, 4, 8, 24 and 32.
bool xnSaveStoresDepth(int32_t bitsPerPixel);

// Checks the size (checkSaveSize: sides 1..kBlpMaxSide, buffers addressable) and the depth,
// then allocates the image area (zero-filled) and the output area (8 x w x h + 6144
// bytes, width and height at offsets 12 and 16). Nothing is allocated on failure.
BlpStatus xnSaveBegin(XnSaveImage* image, int32_t width, int32_t height, int32_t bitsPerPixel);

// gfpSavePicturePutColormap: three planes of 256 entries (red, green, blue), whatever the
// depth; entries 0..n-1 (n = 2^bits, 256 for 8 bits) become red, green, blue, 255.
void xnSavePutColormap(XnSaveImage* image, const uint8_t* colormap);

// gfpSavePicturePutLine: stores row `line` (indices for 1 to 8 bits, a 3-bit image's
// pixels as 4-bit nibbles); 1 when stored, 0 for a null buffer or a line outside the image.
int32_t xnSavePutLine(XnSaveImage* image, int32_t line, const uint8_t* buffer);

// The options the writer uses for the dialog's answer: 0 and -1 (no answer) and any word
// outside the ranges give the defaults word 0x10000064.
SaveOptions xnSaveOptionsFromWord(uint32_t word);

// Completes the palette of images without a colormap (grey ramp for 8 bits, black and
// white for 1 bit) and runs the writer. The file is the first *fileLength bytes of
// image->output.data.
BlpStatus xnSaveEncode(XnSaveImage* image, const SaveOptions& options, uint64_t* fileLength);

// Releases the image area and the output area.
void xnSaveRelease(XnSaveImage* image);

}  // namespace vellum
