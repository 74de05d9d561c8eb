// libjpeg-turbo as an independent implementation to compare with (tests only). Every call
// fails the test on a libjpeg error or warning.
#pragma once

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace vellum::testing {

struct StrictErrors {
  jpeg_error_mgr base;
  std::jmp_buf jump;
  std::string message;
  int warnings = 0;
};

inline void strictErrorExit(j_common_ptr info) {
  auto* e = reinterpret_cast<StrictErrors*>(info->err);
  char text[JMSG_LENGTH_MAX];
  info->err->format_message(info, text);
  e->message = text;
  std::longjmp(e->jump, 1);
}

inline void strictEmitMessage(j_common_ptr info, int level) {
  if (level >= 0) return;  // trace messages
  auto* e = reinterpret_cast<StrictErrors*>(info->err);
  char text[JMSG_LENGTH_MAX];
  info->err->format_message(info, text);
  ++e->warnings;
  e->message = text;
}

inline void installStrictErrors(StrictErrors* errors, jpeg_error_mgr** slot) {
  *slot = jpeg_std_error(&errors->base);
  errors->base.error_exit = strictErrorExit;
  errors->base.emit_message = strictEmitMessage;
}

// Quantized coefficients of a stream as libjpeg reads them: per component, blocks in raster
// order of that component's block grid, 64 natural-order coefficients each.
struct LibjpegCoefficients {
  bool ok = false;
  std::string error;
  int components = 0;
  std::vector<int> widthInBlocks, heightInBlocks, hSampling, vSampling;
  std::vector<std::vector<int16_t>> blocks;

  int16_t at(int c, int by, int bx, int n) const {
    return blocks[c][(size_t(by) * widthInBlocks[c] + bx) * 64 + n];
  }
};

inline LibjpegCoefficients libjpegReadCoefficients(const std::vector<uint8_t>& stream) {
  LibjpegCoefficients result;
  jpeg_decompress_struct info;
  StrictErrors errors;
  installStrictErrors(&errors, &info.err);
  if (setjmp(errors.jump)) {
    result.error = errors.message;
    jpeg_destroy_decompress(&info);
    return result;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, stream.data(), (unsigned long)stream.size());
  jpeg_read_header(&info, TRUE);
  jvirt_barray_ptr* arrays = jpeg_read_coefficients(&info);
  result.components = info.num_components;
  for (int c = 0; c < info.num_components; ++c) {
    const jpeg_component_info& comp = info.comp_info[c];
    result.widthInBlocks.push_back(int(comp.width_in_blocks));
    result.heightInBlocks.push_back(int(comp.height_in_blocks));
    result.hSampling.push_back(comp.h_samp_factor);
    result.vSampling.push_back(comp.v_samp_factor);
    std::vector<int16_t> all(size_t(comp.width_in_blocks) * comp.height_in_blocks * 64);
    for (JDIMENSION by = 0; by < comp.height_in_blocks; ++by) {
      JBLOCKARRAY rows = info.mem->access_virt_barray((j_common_ptr)&info, arrays[c], by, 1, FALSE);
      for (JDIMENSION bx = 0; bx < comp.width_in_blocks; ++bx)
        for (int n = 0; n < 64; ++n) all[(size_t(by) * comp.width_in_blocks + bx) * 64 + n] = rows[0][bx][n];
    }
    result.blocks.push_back(std::move(all));
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  if (errors.warnings > 0) {
    result.error = "warning: " + errors.message;
    return result;
  }
  result.ok = true;
  return result;
}

// Decoded samples (top row first, `components` bytes a pixel) with the float inverse DCT and
// no colour conversion (CMYK stays CMYK, grey stays grey).
struct LibjpegImage {
  bool ok = false;
  std::string error;
  uint32_t width = 0, height = 0;
  int components = 0;
  std::vector<uint8_t> samples;
};

inline LibjpegImage libjpegDecodeFloat(const std::vector<uint8_t>& stream, bool fancyUpsampling = true) {
  LibjpegImage result;
  jpeg_decompress_struct info;
  StrictErrors errors;
  installStrictErrors(&errors, &info.err);
  if (setjmp(errors.jump)) {
    result.error = errors.message;
    jpeg_destroy_decompress(&info);
    return result;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, stream.data(), (unsigned long)stream.size());
  jpeg_read_header(&info, TRUE);
  info.dct_method = JDCT_FLOAT;
  info.do_fancy_upsampling = fancyUpsampling ? TRUE : FALSE;
  info.out_color_space = info.jpeg_color_space;  // no transform
  jpeg_start_decompress(&info);
  result.width = info.output_width;
  result.height = info.output_height;
  result.components = info.output_components;
  result.samples.resize(size_t(result.width) * result.height * result.components);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = result.samples.data() + size_t(info.output_scanline) * result.width * result.components;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  if (errors.warnings > 0) {
    result.error = "warning: " + errors.message;
    return result;
  }
  result.ok = true;
  return result;
}

struct LibjpegEncodeOptions {
  int components = 4;          // 1 to 4: grey, or components without colour transform
  int quality = 75;
  bool optimize = false;       // optimised Huffman tables
  bool progressive = false;    // libjpeg's default progressive script
  int restartBlocks = 0;       // restart interval in MCUs (0: none)
  int restartRows = 0;         // restart interval in MCU rows (0: none)
  bool ycc420 = false;         // 3 components: RGB -> YCbCr with 2 x 2 luma sampling
  J_DCT_METHOD dct = JDCT_ISLOW;
};

// Encodes `components`-byte pixels (top row first).
inline std::vector<uint8_t> libjpegEncode(const std::vector<uint8_t>& samples, uint32_t width, uint32_t height,
                                          const LibjpegEncodeOptions& options) {
  jpeg_compress_struct info;
  StrictErrors errors;
  installStrictErrors(&errors, &info.err);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  if (setjmp(errors.jump)) {
    ADD_FAILURE() << "libjpeg encode: " << errors.message;
    jpeg_destroy_compress(&info);
    free(buffer);
    return {};
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = width;
  info.image_height = height;
  info.input_components = options.components;
  if (options.ycc420) {
    info.in_color_space = JCS_RGB;
  } else if (options.components == 1) {
    info.in_color_space = JCS_GRAYSCALE;
  } else if (options.components == 4) {
    info.in_color_space = JCS_CMYK;
  } else {
    info.in_color_space = JCS_UNKNOWN;
  }
  jpeg_set_defaults(&info);
  if (!options.ycc420 && options.components != 1) {
    for (int c = 0; c < info.num_components; ++c) {
      info.comp_info[c].h_samp_factor = 1;
      info.comp_info[c].v_samp_factor = 1;
    }
  }
  jpeg_set_quality(&info, options.quality, TRUE);
  info.optimize_coding = options.optimize ? TRUE : FALSE;
  info.restart_interval = JDIMENSION(options.restartBlocks);
  info.restart_in_rows = options.restartRows;
  info.dct_method = options.dct;
  if (options.progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<uint8_t*>(samples.data()) + size_t(info.next_scanline) * width * options.components;
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::vector<uint8_t> out(buffer, buffer + size);
  free(buffer);
  EXPECT_EQ(errors.warnings, 0) << errors.message;
  return out;
}

}  // namespace vellum::testing
