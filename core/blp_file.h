// An open BLP file and what each of its mipmap levels holds, judged under a host's read
// policy. This is the one place where the header and the tables are interpreted for
// reading; the level decoder (blp_level_decoder.h) delivers the pixels.
#pragma once

#include <cstdint>

#include "core/blp_format.h"
#include "core/blp_read_policy.h"
#include "core/blp_source.h"
#include "core/dxt_decode.h"
#include "core/pixel_layout.h"

namespace vellum {

// What a mipmap table entry holds.
enum class BlpLevelState : uint8_t {
  Stored,    // the level has data of its own
  Absent,    // offset and size 0, or beyond the 1 x 1 level
  Repeated,  // same offset and size as the entry before: the writer stopped the chain
             // early and the entry repeats the last level it stored
  Empty,     // an offset without a size
};

BlpLevelState blpLevelState(const BlpHeader& header, uint32_t level);

enum class BlpContent : uint8_t { Jpeg, Paletted, Dxt, Raw, Unknown };

// Damage found in a level: its place in the file (known before decoding) and what the
// JPEG decoder reported. The bit values are those of the public API's VELLUM_DAMAGE_*.
constexpr uint32_t kBlpDamagePastEnd = 0x0001;        // runs past the end of the file
constexpr uint32_t kBlpDamageShortLevel = 0x0002;     // shorter than its content needs
constexpr uint32_t kBlpDamageJpegTruncated = 0x0004;  // JPEG data ends early
constexpr uint32_t kBlpDamageJpegCorrupt = 0x0008;    // corrupt entropy-coded data
constexpr uint32_t kBlpDamageJpegTables = 0x0010;     // tables or frame header missing
constexpr uint32_t kBlpDamageJpegTimeBound = 0x0020;  // the decoder's work bound was reached
constexpr uint32_t kBlpDamageJpegMarkers = 0x0100;    // warning: markers out of place
constexpr uint32_t kBlpDamageJpegNoEnd = 0x0200;      // warning: no end-of-image marker
constexpr uint32_t kBlpDamageErrors = 0x00FF;
constexpr uint32_t kBlpDamageWarnings = 0xFF00;

struct BlpDamage {
  uint32_t flags = 0;
  uint64_t blocksDecoded = 0;  // JPEG: 8 x 8 blocks decoded before the data ended or broke
  uint64_t blocksTotal = 0;    // JPEG: 8 x 8 blocks of the level
  uint32_t jpegScans = 0;
};

// One line saying what the damage is, for instance "JPEG data ends after 412 of 16384
// blocks" or "level 0 runs past the end of the file"; empty when there is none.
void blpDamageMessage(const BlpDamage& damage, uint32_t level, char* out, uint32_t size);

// What level k holds, as the policy reads it.
struct BlpLevelFormat {
  uint32_t level = 0;
  uint32_t width = 0, height = 0;
  uint32_t offset = 0, size = 0;  // the table entry
  uint64_t available = 0;         // bytes of the level the file holds (size cut at its end)
  BlpLevelState state = BlpLevelState::Absent;
  BlpContent content = BlpContent::Unknown;
  DxtVariant dxtVariant = DxtVariant::Dxt1;
  // Paletted: bits of the alpha plane read (0 for an opaque level). DXT1: 1 with cut-out
  // alpha. Others: 8 when the level has alpha, else 0.
  uint32_t alphaBits = 0;
  bool paletteAlpha = false;  // paletted: alpha is the palette entries' fourth byte
  BlpPixelLayout layout = BlpPixelLayout::Rgba;  // Indices, IndicesAlpha, Rgb or Rgba
  uint64_t contentBytes = 0;  // bytes the content needs (0 for JPEG: no fixed size)
  uint32_t damage = 0;        // kBlpDamagePastEnd, kBlpDamageShortLevel
  BlpFindings findings = 0;
};

struct BlpFile {
  BlpSource source;  // owned: released by blpFileClose
  BlpReadPolicy policy;
  uint8_t rawHeader[kBlpHeaderReadSize] = {};
  BlpHeader header = {};
  uint32_t headerSize = 0;            // 156 or 148
  BlpContent content = BlpContent::Unknown;
  bool hasPalette = false;
  uint8_t palette[kBlpPaletteBytes] = {};  // red, green, blue, fourth byte per entry
  uint32_t jpegHeaderSize = 0;        // the u32 after the header of a JPEG file, as stored
  BlpFindings findings = 0;           // those of the file as a whole
};

// Takes the source over and reads the header, the palette of a paletted file and the
// shared-header size of a JPEG file. Returns the code of the first finding about the file
// as a whole (short, not a BLP header, sides, storage) that the policy acts on, or 0. When
// the policy refuses it, *refused is set and the source is released.
int32_t blpFileOpen(BlpFile* file, BlpSource source, const BlpReadPolicy& policy,
                    bool* refused = nullptr);

void blpFileClose(BlpFile* file);

// Describes level k (0..15) under the file's policy. Returns the code of the first finding
// the policy acts on (format->findings has them all), or 0; *refused tells whether the
// policy refuses the level rather than only reporting.
int32_t blpDescribeLevel(const BlpFile& file, uint32_t level, BlpLevelFormat* format,
                         bool* refused = nullptr);

// The "BLP0"/"BLP1" JPEG files and paletted files keep a 156-byte header; everything after
// it (palette, shared JPEG header) starts there.
inline bool blpIsPaletted(const BlpHeader& h) {
  return h.storage == 1 && (h.layout == BlpLayout::Blp1 || h.compression == 1);
}

// Level choice for thumbnails and previews.
// The smallest stored level whose longer side is at least `side` (level 0 when even level
// 0 is smaller); entries that repeat an earlier level or hold nothing are passed over.
uint32_t blpLevelAtLeast(const BlpHeader& header, uint32_t side);
// The smallest level whose longer side is at most `side`, walking down the table while the
// next entry has an offset (at most level 15).
uint32_t blpLevelAtMost(const BlpHeader& header, uint32_t side);

}  // namespace vellum
