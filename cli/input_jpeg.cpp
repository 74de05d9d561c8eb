// JPEG input through libjpeg-turbo. The accurate integer DCT and the library's default
// (fancy) upsampling are exact integer code whether or not its SIMD paths run, so every
// build decodes the same pixels. Grey JPEGs become indices of the grey ramp, as grey PNGs
// do; CMYK files are refused.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>  // needs size_t and FILE first

#include "cli/cli_common.h"
#include "cli/image_input.h"

namespace vellum::cli {

namespace {

struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

extern "C" void onJpegError(j_common_ptr cinfo) {
  auto* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, errors->message);
  std::longjmp(errors->jump, 1);
}

extern "C" void onJpegMessage(j_common_ptr, int) {}  // warnings: the decode goes on

// The whole decode with no C++ object alive across setjmp: a longjmp must not skip a
// destructor. Returns 0, or 1 with the library's message, or 2 for a refused header.
int decodeJpeg(const uint8_t* data, size_t size, uint64_t maxPixels, InputPicture* picture, std::string* error,
               ErrorManager* errors, bool* isGrey) {
  jpeg_decompress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  cinfo.err = jpeg_std_error(&errors->base);
  errors->base.error_exit = onJpegError;
  errors->base.emit_message = onJpegMessage;
  volatile int result = 0;
  if (setjmp(errors->jump) != 0) {
    jpeg_destroy_decompress(&cinfo);
    return 1;
  }
  jpeg_create_decompress(&cinfo);
  // The decoder never holds more than this whatever the file says (a progressive image
  // keeps its coefficients: 128 bytes a pixel at most for three components).
  cinfo.mem->max_memory_to_use = 2000L * 1000 * 1000;
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(&cinfo, TRUE);
  const bool grey = cinfo.jpeg_color_space == JCS_GRAYSCALE;
  *isGrey = grey;
  if (cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK) {
    *error = "CMYK JPEG files are not read";
    result = 2;
  } else {
    cinfo.out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    cinfo.dct_method = JDCT_ISLOW;
    int rc = allocatePicture(cinfo.image_width, cinfo.image_height, maxPixels, picture, error);
    if (rc != kExitOk) {
      result = rc == kExitNoMemory ? 3 : 2;
    } else {
      jpeg_start_decompress(&cinfo);
      uint8_t* base = picture->pixels.get();
      const uint64_t w = cinfo.output_width;
      while (cinfo.output_scanline < cinfo.output_height) {
        // Rows decode into the last part of their room in the picture and are spread to
        // four bytes a pixel (grey: one byte, left where it is).
        uint8_t* row = base + uint64_t(cinfo.output_scanline) * w * (grey ? 1 : 4);
        uint8_t* stored = grey ? row : row + w;
        JSAMPROW rows[1] = {stored};
        jpeg_read_scanlines(&cinfo, rows, 1);
        if (!grey)
          for (uint64_t x = 0; x < w; ++x) {
            const uint8_t r = stored[3 * x], g = stored[3 * x + 1], b = stored[3 * x + 2];
            row[4 * x] = r, row[4 * x + 1] = g, row[4 * x + 2] = b, row[4 * x + 3] = 255;
          }
      }
      jpeg_finish_decompress(&cinfo);
    }
  }
  jpeg_destroy_decompress(&cinfo);
  return result;
}

}  // namespace

int readJpegMemory(const uint8_t* data, size_t size, uint64_t maxPixels, InputPicture* picture, std::string* error) {
  if (size < 3 || data[0] != 0xFF || data[1] != 0xD8) {
    *error = "not a JPEG file";
    return kExitBadInput;
  }
  ErrorManager errors;
  errors.message[0] = '\0';
  picture->hasAlpha = false;
  bool grey = false;
  const int result = decodeJpeg(data, size, maxPixels, picture, error, &errors, &grey);
  if (result == 1) {
    picture->pixels.reset();
    *error = std::string("corrupt JPEG file (") + errors.message + ")";
    return kExitBadInput;
  }
  if (result != 0) {
    picture->pixels.reset();
    return result == 3 ? kExitNoMemory : kExitBadInput;
  }
  if (grey) {
    useGreyRamp(picture);
  } else {
    picture->layout = BlpPixelLayout::Rgba;
    picture->paletteCount = 256;
  }
  return kExitOk;
}

}  // namespace vellum::cli
