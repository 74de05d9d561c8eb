// The native side of the Windows byte-identity tests. Writes, into the folder given on
// the command line:
//   read/<case>.blp    files of every kind of level 0 (reference_data.h), and as
//                      read/saved.<case>.blp files the native writer made (below)
//   read/<case>.rows   what the native reader delivers for them (see readDump)
//   save/<case>.blp    the file the native core writes from a host image and options word
//   squish.bin         libsquish blocks of the identity check (Debian's native library)
// The Windows test programs produce the same things through Vellum64.usr or their own
// libsquish build under Wine and compare byte for byte.
#include <squish.h>

#include <cstdio>
#include <cstring>
#include <utility>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "core/blp_reader.h"
#include "core/blp_writer_stage.h"
#include "core/save_options.h"
#include "xnview/reference_data.h"

using namespace vellum;
using namespace vellum::reference;

namespace {

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

void putU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// Dump layout: u32 open status, u32 describe status, u32 bits per pixel, u32 bytes per
// line, u32 colormap flag (Indexed), 32 bytes of label, the rows top first, u32 palette
// flag and 768 bytes of red, green and blue planes.
std::vector<uint8_t> readDump(const std::vector<uint8_t>& file) {
  std::vector<uint8_t> out;
  BlpReader reader;
  BlpStatus open = blpReaderOpen(&reader, memorySource(file.data(), file.size()));
  putU32(out, uint32_t(open));
  if (open != BlpStatus::Ok) return out;
  BlpInfo info;
  BlpStatus described = blpReaderDescribe(&reader, &info);
  putU32(out, uint32_t(described));
  if (described == BlpStatus::Ok) {
    putU32(out, info.bitsPerPixel);
    putU32(out, uint32_t(info.bytesPerRow));
    putU32(out, info.mode == BlpDecodeMode::Indexed ? 1 : 0);
    char label[32] = {};
    std::strncpy(label, info.label, sizeof label - 1);
    out.insert(out.end(), label, label + 32);
    std::vector<uint8_t> row(info.bytesPerRow);
    for (uint32_t y = 0; y < info.height; ++y) {
      blpReaderReadRow(&reader, y, row.data());
      out.insert(out.end(), row.begin(), row.end());
    }
    uint8_t rgb[256][3];
    const bool palette = blpReaderPalette(&reader, rgb);
    putU32(out, palette ? 1 : 0);
    if (palette)
      for (int plane = 0; plane < 3; ++plane)
        for (int i = 0; i < 256; ++i) out.push_back(rgb[i][plane]);
  }
  blpReaderClose(&reader);
  return out;
}

struct Growable {
  std::vector<uint8_t> bytes;
  static bool grow(void* context, uint64_t minCapacity, BlpOutput* output) {
    auto* self = static_cast<Growable*>(context);
    self->bytes.resize(minCapacity, 0);
    output->data = self->bytes.data();
    output->capacity = self->bytes.size();
    return true;
  }
};

// The writer's input for a host image, computed straight from the pixel values (not by
// unpacking the host's rows): palette entries from the 256-entry colormap planes, grey
// ramp for 8-bit images without a colormap, black and white for 1-bit ones.
bool nativeSave(const SaveCase& c, std::vector<uint8_t>* file) {
  const HostImage& im = c.image;
  const uint32_t n = hostEntries(im);
  std::vector<uint8_t> palette(1024, 0);
  std::vector<uint8_t> pixels(uint64_t(im.width) * im.height * 4, 0);
  uint32_t bytesPerPixel = (uint32_t(im.bits) + 7) / 8;
  if (im.bits <= 8) {
    if (im.colormap) {
      uint8_t colormap[768];
      hostColormap(im, colormap);
      for (uint32_t i = 0; i < n; ++i) {
        palette[4 * i] = colormap[512 + i];
        palette[4 * i + 1] = colormap[256 + i];
        palette[4 * i + 2] = colormap[i];
        palette[4 * i + 3] = 255;
      }
    }
    for (uint32_t y = 0; y < im.height; ++y)
      for (uint32_t x = 0; x < im.width; ++x) {
        const uint32_t v = hostIndex(im, x, y);
        uint8_t* p = &pixels[(uint64_t(y) * im.width + x) * 4];
        if (!im.colormap && im.bits == 1) {
          std::memset(p, v ? 255 : 0, 3);
          p[3] = 255;
        } else if (!im.colormap && im.bits == 8) {
          std::memset(p, int(v), 3);
          p[3] = 255;
        } else {
          std::memcpy(p, &palette[4 * v], 4);
        }
      }
    if (!im.colormap && im.bits == 8)
      for (uint32_t i = 0; i < 256; ++i) {
        std::memset(&palette[4 * i], int(i), 3);
        palette[4 * i + 3] = 255;
      }
    if (!im.colormap && im.bits == 1) {
      std::memset(&palette[0], 0, 3);
      std::memset(&palette[4], 255, 3);
      palette[3] = palette[7] = 255;
    }
  } else {
    for (uint32_t y = 0; y < im.height; ++y)
      for (uint32_t x = 0; x < im.width; ++x) {
        uint8_t* p = &pixels[(uint64_t(y) * im.width + x) * 4];
        hostRgba(im, x, y, p);
        if (im.bits == 24) p[3] = 255;
      }
  }
  Growable store;
  store.bytes.assign(blpOutputCapacity(im.width, im.height), 0);
  BlpOutput output;
  output.data = store.bytes.data();
  output.capacity = store.bytes.size();
  output.growContext = &store;
  output.grow = &Growable::grow;
  uint64_t length = 0;
  // Straight into the writer's working-order stage, so that the plug-in's own source
  // description and the writer's conversion are checked against this independent one:
  // palette-expanded pixels are blue first, host rows red first, DXT works red first.
  const SaveOptions options = unpackSaveOptions(c.optionsWord);
  if ((options.contentType == BlpContentType::Blp2Dxt) == (bytesPerPixel == 1))
    for (uint64_t i = 0; i < pixels.size(); i += 4) std::swap(pixels[i], pixels[i + 2]);
  SaveImage image;
  image.width = im.width;
  image.height = im.height;
  image.trueColour = bytesPerPixel != 1;
  image.alphaDepth = outputAlphaDepth(options.contentType, bytesPerPixel == 4);
  image.palette = palette.data();
  image.paletteCount = im.bits <= 8 ? n : 256;
  image.pixels = pixels.data();
  image.output = output;
  const BlpStatus status = buildBlpImage(&image, options, &length);
  if (status != BlpStatus::Ok) return false;
  file->assign(store.bytes.begin(), store.bytes.begin() + int64_t(length));
  return true;
}

std::vector<uint8_t> squishBlocks() {
  std::vector<uint8_t> out;
  out.reserve(kSquishBlockCount * 16);
  for (uint32_t i = 0; i < kSquishBlockCount; ++i) {
    SquishBlock b = squishBlock(i);
    uint8_t block[16] = {};
    squish::CompressMasked(b.rgba, b.mask, block, b.flags);
    out.insert(out.end(), block, block + (b.flags == kSquishDxt1 ? 8 : 16));
  }
  return out;
}

// Files the native writer made are read back through the plug-in too: every content type
// as saved (true-colour and indexed sources), read as "saved.<case>".
bool readBackAfterSaving(const SaveCase& c) {
  const std::string name = c.name;
  const bool source = name.rfind("bits24.", 0) == 0 || name.rfind("bits32.", 0) == 0 ||
                      name.rfind("bits8_colormap.", 0) == 0;
  return source && name.find("large") == std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
  // --list read|save: the case names, one a line (the Windows trees register a test each).
  if (argc == 3 && std::strcmp(argv[1], "--list") == 0) {
    if (std::strcmp(argv[2], "read") == 0) {
      for (const ReadCase& c : readCases()) std::printf("%s\n", c.name);
      for (const SaveCase& c : saveCases())
        if (readBackAfterSaving(c)) std::printf("saved.%s\n", c.name);
    }
    if (std::strcmp(argv[2], "save") == 0)
      for (const SaveCase& c : saveCases()) std::printf("%s\n", c.name);
    return 0;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: xnview_reference OUTPUT_FOLDER | --list read|save\n");
    return 2;
  }
  const std::string root = argv[1];
  mkdir(root.c_str(), 0755);
  mkdir((root + "/read").c_str(), 0755);
  mkdir((root + "/save").c_str(), 0755);
  int failures = 0;
  for (const ReadCase& c : readCases()) {
    const std::string base = root + "/read/" + c.name;
    if (!writeFile(base + ".blp", c.bytes) || !writeFile(base + ".rows", readDump(c.bytes))) ++failures;
  }
  for (const SaveCase& c : saveCases()) {
    const std::string path = root + "/save/" + c.name + ".blp";
    std::remove(path.c_str());
    std::vector<uint8_t> file;
    // No expected file when the native core refuses the save: the plug-in must then
    // leave no file either.
    if (nativeSave(c, &file) && !writeFile(path, file)) ++failures;
    if (readBackAfterSaving(c) && !file.empty()) {
      const std::string base = root + "/read/saved." + c.name;
      if (!writeFile(base + ".blp", file) || !writeFile(base + ".rows", readDump(file))) ++failures;
    }
  }
  if (!writeFile(root + "/squish.bin", squishBlocks())) ++failures;
  if (failures != 0) std::fprintf(stderr, "xnview_reference: %d files could not be written\n", failures);
  return failures == 0 ? 0 : 1;
}
