// Writes the seed corpora of the fuzz targets: BLP files of every content type made by our
// own writer (plus the layouts it never writes: raw, DXT3, 2-bit alpha, "BLP0", short
// levels, a JPEG level away from its shared header), JPEG streams of our encoders, file
// names, and writer inputs. Each seed carries the control bytes its target expects
// (fuzz_entries.h).
//
//   make_fuzz_corpus DIR    writes DIR/<target>/<seed>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/blp_reader.h"
#include "core/blp_writer.h"
#include "jpeg/jpeg_encoder.h"

namespace {

using namespace vellum;
using Bytes = std::vector<uint8_t>;

std::string outputRoot;
int written = 0;

void writeSeed(const std::string& target, const std::string& name, const Bytes& bytes) {
  const std::string path = outputRoot + "/" + target + "/" + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
    std::fprintf(stderr, "make_fuzz_corpus: cannot write %s\n", path.c_str());
    std::exit(1);
  }
  std::fclose(f);
  ++written;
}

Bytes withPrefix(std::initializer_list<uint8_t> prefix, const Bytes& bytes) {
  Bytes out(prefix);
  out.insert(out.end(), bytes.begin(), bytes.end());
  return out;
}

// A texture-like test image, R, G, B, A: gradients, a checker and some alpha steps.
Bytes testImage(uint32_t w, uint32_t h) {
  Bytes p(size_t(w) * h * 4);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      uint8_t* q = p.data() + 4 * (size_t(y) * w + x);
      q[0] = uint8_t(x * 255 / (w > 1 ? w - 1 : 1));
      q[1] = uint8_t(y * 255 / (h > 1 ? h - 1 : 1));
      q[2] = uint8_t(((x / 2 + y / 2) & 1) ? 200 : 40);
      q[3] = uint8_t((x + 2 * y) * 37);
    }
  return p;
}

// Saves through encodeBlpSource as an adapter does (bytesPerPixel 1: indices of a
// 16-colour palette; 3 and 4: R, G, B without and with alpha).
Bytes save(uint32_t w, uint32_t h, uint32_t bytesPerPixel, BlpContentType type, uint32_t mips = 16,
           bool progressive = false, uint8_t quality = 90) {
  Bytes palette(16 * 4, 0), pixels = testImage(w, h), indices(size_t(w) * h);
  BlpSourceImage source;
  source.width = w;
  source.height = h;
  source.layout = BlpPixelLayout::Rgba;
  source.hasAlpha = bytesPerPixel == 4;
  source.pixels = pixels.data();
  if (bytesPerPixel == 1) {
    for (int i = 0; i < 16; ++i) {
      palette[4 * i + 0] = uint8_t(i * 5);
      palette[4 * i + 1] = uint8_t(255 - i * 16);
      palette[4 * i + 2] = uint8_t(i * 16);
      palette[4 * i + 3] = 255;
    }
    for (size_t p = 0; p < indices.size(); ++p) indices[p] = uint8_t(p % 16);
    source.layout = BlpPixelLayout::Indices;
    source.pixels = indices.data();
    source.palette = palette.data();
    source.paletteCount = 16;
  }
  SaveOptions options;
  options.contentType = type;
  options.maxMipLevels = uint8_t(mips);
  options.progressive = progressive;
  options.jpegQuality = quality;
  options.quantizer = QuantizerKind::MedianCut;
  Bytes area(size_t(blpOutputCapacity(w, h)));
  BlpOutput output;
  output.data = area.data();
  output.capacity = area.size();
  uint64_t length = 0;
  if (encodeBlpSource(source, options, &output, &length) != BlpStatus::Ok) {
    std::fprintf(stderr, "make_fuzz_corpus: save failed\n");
    std::exit(1);
  }
  return Bytes(area.begin(), area.begin() + long(length));
}

// A "BLP2" header (148 bytes) with level 0 at `offset`, `size` bytes.
Bytes blp2Header(uint8_t compression, uint8_t alphaDepth, uint8_t alphaType, uint32_t w, uint32_t h,
                 uint32_t offset, uint32_t size) {
  Bytes b(kBlp2HeaderSize, 0);
  std::memcpy(b.data(), "BLP2", 4);
  storeU32(&b[4], 1);
  b[8] = compression;
  b[9] = alphaDepth;
  b[10] = alphaType;
  b[11] = 1;
  storeU32(&b[12], w);
  storeU32(&b[16], h);
  storeU32(&b[20], offset);
  storeU32(&b[84], size);
  return b;
}

std::vector<std::pair<std::string, Bytes>> blpFiles() {
  std::vector<std::pair<std::string, Bytes>> files;
  static const char* const kTypeNames[] = {"blp1-jpeg", "blp1-paletted", "blp2-jpeg", "blp2-paletted8",
                                           "blp2-dxt",  "blp2-paletted4", "blp2-paletted1"};
  for (int t = 0; t < kBlpContentTypeCount; ++t) {
    files.push_back({std::string(kTypeNames[t]) + "-rgb", save(13, 7, 3, BlpContentType(t))});
    files.push_back({std::string(kTypeNames[t]) + "-rgba", save(13, 7, 4, BlpContentType(t))});
  }
  files.push_back({"blp1-paletted-indexed", save(9, 9, 1, BlpContentType::Blp1Paletted)});
  files.push_back({"blp2-dxt-indexed", save(6, 5, 1, BlpContentType::Blp2Dxt)});
  files.push_back({"blp2-jpeg-progressive", save(64, 64, 4, BlpContentType::Blp2Jpeg, 3, true, 60)});
  files.push_back({"blp1-jpeg-1x1", save(1, 1, 3, BlpContentType::Blp1Jpeg)});
  files.push_back({"blp2-dxt-rgba-one-level", save(8, 8, 4, BlpContentType::Blp2Dxt, 1)});
  files.push_back({"blp2-paletted8-tall", save(3, 40, 4, BlpContentType::Blp2Paletted8, 2)});
  // Wide files whose smaller levels GIMP picks for thumbnails (a side of 128 or more).
  files.push_back({"blp2-dxt-wide", save(256, 8, 3, BlpContentType::Blp2Dxt)});
  files.push_back({"blp1-jpeg-wide", save(256, 4, 3, BlpContentType::Blp1Jpeg, 4, false, 40)});

  // Layouts the writer never makes.
  {  // DXT3: a DXT5 file relabelled (the alpha halves become 4-bit alpha)
    Bytes f = save(8, 8, 4, BlpContentType::Blp2Dxt, 1);
    f[10] = 1;
    files.push_back({"blp2-dxt3", f});
    f[10] = 9;  // an alpha type of no variant: DXT1 blocks, 16-byte stride
    files.push_back({"blp2-dxt-odd-alpha-type", f});
  }
  {  // raw BGRA, 5 x 3
    Bytes f = blp2Header(3, 8, 0, 5, 3, kBlp2HeaderSize, 5 * 3 * 4);
    Bytes px = testImage(5, 3);
    f.insert(f.end(), px.begin(), px.end());
    files.push_back({"blp2-raw", f});
  }
  {  // paletted with 2-bit alpha, 5 x 3: 15 indices and 4 plane bytes
    Bytes f = blp2Header(1, 2, 8, 5, 3, kBlp2HeaderSize + kBlpPaletteBytes, 15 + 4);
    for (int i = 0; i < 256; ++i) f.insert(f.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i ^ 0x5A), 255});
    for (int i = 0; i < 15; ++i) f.push_back(uint8_t(i * 17));
    f.insert(f.end(), {0x1B, 0xE4, 0x93, 0x02});
    files.push_back({"blp2-paletted-alpha2", f});
    Bytes shortLevel = f;
    storeU32(&shortLevel[84], 10);  // fewer bytes than pixels: indices only
    files.push_back({"blp2-paletted-short-level", shortLevel});
  }
  {  // "BLP0" with the "BLP1" layout
    Bytes f = save(4, 4, 4, BlpContentType::Blp1Paletted, 1);
    std::memcpy(f.data(), "BLP0", 4);
    files.push_back({"blp0-paletted", f});
  }
  {  // a JPEG file whose level 0 does not follow the shared header directly (8 bytes between)
    Bytes f = save(16, 16, 3, BlpContentType::Blp1Jpeg, 5);
    const uint32_t offset = loadU32(&f[28]);
    f.insert(f.begin() + offset, 8, 0xAB);
    for (int k = 0; k < 16; ++k)
      if (loadU32(&f[28 + 4 * k]) != 0) storeU32(&f[28 + 4 * k], loadU32(&f[28 + 4 * k]) + 8);
    files.push_back({"blp1-jpeg-gap", f});
  }
  return files;
}

// One JPEG stream of our encoders for a test image.
Bytes jpegStream(uint32_t w, uint32_t h, uint32_t quality, bool progressive) {
  Bytes pixels = testImage(w, h);
  Bytes store(sizeof(JpegEncodeContext) + size_t(jpegEncodeCoefficientBytes(w, h)));
  Bytes out(size_t(jpegEncodeStreamBound(w, h)));
  auto* ctx = reinterpret_cast<JpegEncodeContext*>(store.data());
  std::memset(ctx, 0, sizeof *ctx);
  ctx->quality = quality;
  ctx->coefficients = reinterpret_cast<int16_t*>(store.data() + sizeof(JpegEncodeContext));
  ctx->output = out.data();
  ctx->outputEnd = out.data() + out.size();
  ctx->pixels = pixels.data();
  ctx->width = w;
  ctx->height = h;
  progressive ? encodeJpegProgressive(ctx) : encodeJpegBaseline(ctx);
  out.resize(ctx->byteCount);
  return out;
}

// Variants of an encoder stream for the decoder's less common paths. The position of the
// first marker `code` in the stream (its 0xFF), or the stream's size.
size_t findMarker(const Bytes& s, uint8_t code) {
  for (size_t i = 0; i + 1 < s.size(); ++i)
    if (s[i] == 0xFF && s[i + 1] == code) return i;
  return s.size();
}

// Component 0 sampled h x v (the others stay 1 x 1): the interleaved walk and upsampling.
Bytes withSampling(Bytes s, uint8_t sampling) {
  const size_t sof = findMarker(s, 0xC0);
  if (sof + 11 < s.size()) s[sof + 11] = sampling;  // FF C0 Lh Ll P Y Y X X Nf C1 H1V1
  return s;
}

// One component only: frame and scan headers cut to their first component.
Bytes oneComponent(const Bytes& s) {
  Bytes out;
  for (size_t i = 0; i < s.size();) {
    if (s[i] == 0xFF && i + 3 < s.size() && (s[i + 1] == 0xC0 || s[i + 1] == 0xDA)) {
      const size_t length = size_t(s[i + 2]) << 8 | s[i + 3];
      const bool frame = s[i + 1] == 0xC0;
      Bytes body(s.begin() + long(i) + 4, s.begin() + long(i) + 2 + long(length));
      Bytes cut;
      if (frame) {  // P Y Y X X Nf, then 3 bytes a component
        cut.assign(body.begin(), body.begin() + 6);
        cut[5] = 1;
        cut.insert(cut.end(), body.begin() + 6, body.begin() + 9);
      } else {  // Ns, 2 bytes a component, Ss Se AhAl
        cut = {1, body[1], body[2]};
        cut.insert(cut.end(), body.end() - 3, body.end());
      }
      out.insert(out.end(), {0xFF, s[i + 1], uint8_t((cut.size() + 2) >> 8), uint8_t(cut.size() + 2)});
      out.insert(out.end(), cut.begin(), cut.end());
      i += 2 + length;
      continue;
    }
    out.push_back(s[i++]);
  }
  return out;
}

// A restart interval (DRI) before the scan and a restart marker in the middle of its data.
Bytes withRestart(Bytes s) {
  const size_t sos = findMarker(s, 0xDA);
  s.insert(s.begin() + long(sos), {0xFF, 0xDD, 0x00, 0x04, 0x00, 0x01});
  const size_t data = findMarker(s, 0xDA) + 2 + (size_t(s[findMarker(s, 0xDA) + 2]) << 8 | s[findMarker(s, 0xDA) + 3]);
  const size_t middle = data + (s.size() - data) / 2;
  size_t at = middle;
  while (at < s.size() && (s[at] == 0xFF || (at > 0 && s[at - 1] == 0xFF))) ++at;
  s.insert(s.begin() + long(at), {0xFF, 0xD0});
  return s;
}

Bytes jpegSeed(uint32_t w, uint32_t h, uint8_t progress, const Bytes& stream) {
  Bytes b = {uint8_t(w - 1), uint8_t((w - 1) >> 8), uint8_t(h - 1), uint8_t((h - 1) >> 8), progress};
  b.insert(b.end(), stream.begin(), stream.end());
  return b;
}

Bytes text(uint8_t mode, const std::string& s) {
  Bytes b = {mode};
  b.insert(b.end(), s.begin(), s.end());
  return b;
}

// Writer input: w - 1, h - 1, options word, source selector (bits 0-2 the layout: 0
// Indices, 1 IndicesAlpha, 2 Rgb, 3 Rgba, 4 Bgra; 8 hasAlpha; 16 a BGRA palette; bits 5-6:
// padded rows, bottom-up rows, converted in place), palette count - 1, flags, then payload.
Bytes writerSeed(uint8_t w, uint8_t h, uint32_t word, uint8_t depth, uint8_t paletteCount, uint8_t flags) {
  Bytes b = {uint8_t(w - 1), uint8_t(h - 1), uint8_t(word), uint8_t(word >> 8), uint8_t(word >> 16),
             uint8_t(word >> 24), depth, uint8_t(paletteCount - 1), flags};
  for (int i = 0; i < 96; ++i) b.push_back(uint8_t(i * 29 + (i >> 3) * 7));
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_corpus DIR\n");
    return 2;
  }
  outputRoot = argv[1];

  int i = 0;
  for (const auto& [name, file] : blpFiles()) {
    writeSeed("blp_reader", name, file);
    // Photoshop: preview, 32-bit coordinates and the alpha answer vary over the seeds.
    writeSeed("photoshop_read", name, withPrefix({uint8_t(i % 8)}, file));
    // Imagine: progress on every other seed, no cancel, every row given.
    writeSeed("imagine_load", name, withPrefix({uint8_t(0xF8 | (i % 2) | (i % 3 == 0 ? 4 : 0)), 0xFE}, file));
    // Levels 0 to 3 through the level view; a GIMP load of level 0 or a thumbnail.
    writeSeed("level_load", name, withPrefix({uint8_t((i % 4) | ((i % 3) << 4))}, file));
    writeSeed("library", name, withPrefix({uint8_t(i * 13)}, file));
    ++i;
  }

  writeSeed("jpeg_decoder", "baseline-13x7", jpegSeed(13, 7, 0, jpegStream(13, 7, 90, false)));
  writeSeed("jpeg_decoder", "baseline-8x8-q100", jpegSeed(8, 8, 0, jpegStream(8, 8, 100, false)));
  writeSeed("jpeg_decoder", "baseline-40x24-q30", jpegSeed(40, 24, 0x41, jpegStream(40, 24, 30, false)));
  writeSeed("jpeg_decoder", "progressive-64x64", jpegSeed(64, 64, 0, jpegStream(64, 64, 50, true)));
  writeSeed("jpeg_decoder", "progressive-64x64-smaller", jpegSeed(32, 32, 0x33, jpegStream(64, 64, 20, true)));
  writeSeed("jpeg_decoder", "empty", jpegSeed(8, 8, 0, Bytes{0xFF, 0xD8, 0xFF, 0xD9}));
  writeSeed("jpeg_decoder", "sampling-22", jpegSeed(21, 19, 0, withSampling(jpegStream(24, 24, 70, false), 0x22)));
  writeSeed("jpeg_decoder", "sampling-41", jpegSeed(40, 9, 0, withSampling(jpegStream(40, 16, 70, false), 0x41)));
  writeSeed("jpeg_decoder", "one-component", jpegSeed(16, 16, 0, oneComponent(jpegStream(16, 16, 80, false))));
  writeSeed("jpeg_decoder", "restart-marker", jpegSeed(32, 16, 0, withRestart(jpegStream(32, 16, 90, false))));

  writeSeed("name_scan", "plain", text(0, "C:\\Textures\\Stone.blp"));
  writeSeed("name_scan", "replaced-file-name", text(0, "Images\\Caf?.blp"));
  writeSeed("name_scan", "replaced-directory", text(0, "Old?\\x.blp"));
  writeSeed("name_scan", "long-path-prefix", text(2, "\\\\?\\C:\\Art\\N\xE4me.blp"));
  writeSeed("name_scan", "slashes", text(4, "art/ui/b*tton<1>|.blp"));
  writeSeed("name_scan", "unterminated", text(1, "D:\\very\\long\\name"));

  for (uint8_t type = 0; type < kBlpContentTypeCount; ++type) {
    const uint32_t word = 0x10000000u | uint32_t(type) << 8 | 75u;
    writeSeed("blp_writer", "type" + std::to_string(type) + "-rgba", writerSeed(13, 7, word, 11, 255, 0));
    writeSeed("blp_writer", "type" + std::to_string(type) + "-indexed", writerSeed(9, 5, word, 0, 12, 2));
  }
  writeSeed("blp_writer", "jpeg-progressive-grow", writerSeed(64, 64, 0x0300106E, 2, 255, 1));
  writeSeed("blp_writer", "dl3-paletted", writerSeed(40, 30, 0x04020164, 2, 255, 0));
  writeSeed("blp_writer", "neuquant-paletted4", writerSeed(32, 20, 0x02010564, 11, 255, 0));
  writeSeed("blp_writer", "grow-refused", writerSeed(16, 16, 0x10000064, 11, 255, 0x0D));
  writeSeed("blp_writer", "indexed-alpha-paletted4", writerSeed(11, 6, 0x10000550, 1, 20, 0));
  writeSeed("blp_writer", "indexed-alpha-dxt", writerSeed(11, 6, 0x10000450, 1, 20, 2));
  writeSeed("blp_writer", "bgra-bottom-up", writerSeed(12, 12, 0x10000650, 4 | 8 | 2 << 5, 255, 0));
  writeSeed("blp_writer", "indices-in-place-bgra-palette", writerSeed(12, 9, 0x10000250, 8 | 16 | 3 << 5, 30, 2));

  std::printf("%d seeds written to %s\n", written, outputRoot.c_str());
  return 0;
}
