// The input paths under fuzzing, one entry each. The libFuzzer targets (fuzz_target.cpp)
// and the replay test of tests/regression call the same functions, so an input that once
// crashed a fuzzer is replayed by the ordinary test suite exactly as the fuzzer ran it.
//
// Input layouts (control bytes first, then the payload):
//   blp_reader      the BLP file itself
//   jpeg_decoder    u16 width - 1, u16 height - 1 (10 bits each), a progress byte, the stream
//   photoshop_read  a host byte (preview, coordinates, alpha answer, failing reads), the BLP file
//   imagine_load    two host bytes (load flags, progress answers, rows), the BLP file
//   name_scan       a mode byte (terminated or not), the file name's bytes
//   blp_writer      size, options word, source depth, palette count, output room, pixels
//   level_load      a choice byte (mipmap level, GIMP thumbnail side), the BLP file
//   library         a choice byte (layout, thumbnail side), the BLP file
//   image_input     a reader byte (PNG, JPEG, WebP, BMP, TGA, or 5+ to sniff), the image file
//   dds             the DDS file
//   shell           a choice byte (thumbnail side), the BLP file (the library's seeds)
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellum::fuzz {

int blpReaderEntry(const uint8_t* data, size_t size);
int jpegDecoderEntry(const uint8_t* data, size_t size);
int photoshopReadEntry(const uint8_t* data, size_t size);
int imagineLoadEntry(const uint8_t* data, size_t size);
int nameScanEntry(const uint8_t* data, size_t size);
int blpWriterEntry(const uint8_t* data, size_t size);
int levelLoadEntry(const uint8_t* data, size_t size);
int libraryEntry(const uint8_t* data, size_t size);
int imageInputEntry(const uint8_t* data, size_t size);
int ddsEntry(const uint8_t* data, size_t size);
int shellEntry(const uint8_t* data, size_t size);

struct FuzzEntry {
  const char* name;  // the target's name: fuzz_<name>, corpus and regression folders
  int (*run)(const uint8_t* data, size_t size);
};

constexpr FuzzEntry kFuzzEntries[] = {
    {"blp_reader", blpReaderEntry},         {"jpeg_decoder", jpegDecoderEntry},
    {"photoshop_read", photoshopReadEntry}, {"imagine_load", imagineLoadEntry},
    {"name_scan", nameScanEntry},           {"blp_writer", blpWriterEntry},
    {"level_load", levelLoadEntry},         {"library", libraryEntry},
    {"image_input", imageInputEntry},       {"dds", ddsEntry},
    {"shell", shellEntry},
};

}  // namespace vellum::fuzz
