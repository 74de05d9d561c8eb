#include "core/blp_file.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <utility>

#include "core/blp_status.h"

namespace vellum {

const BlpFindingRule* firstActingRule(const BlpReadPolicy& policy, BlpFindings findings, BlpFinding* which) {
  for (int i = 0; i < kBlpFindingCount; ++i) {
    if (!(findings >> i & 1)) continue;
    const BlpFindingRule& rule = policy.rules[i];
    if (rule.action == BlpFindingAction::ReadOn) continue;
    if (which != nullptr) *which = BlpFinding(i);
    return &rule;
  }
  return nullptr;
}

BlpReadPolicy readerPolicy(uint64_t maxPixels) {
  BlpReadPolicy policy;
  auto refuse = [&](BlpFinding f, BlpStatus status) {
    policy.rules[int(f)] = {BlpFindingAction::Refuse, int32_t(status)};
  };
  refuse(BlpFinding::ShortHeader, BlpStatus::ShortHeader);
  refuse(BlpFinding::BadSignature, BlpStatus::BadSignature);
  refuse(BlpFinding::BadDimensions, BlpStatus::BadDimensions);
  refuse(BlpFinding::BadStorage, BlpStatus::BadStorage);
  refuse(BlpFinding::FileTooShort, BlpStatus::FileTooShort);
  refuse(BlpFinding::EmptyLevel, BlpStatus::EmptyLevel);
  refuse(BlpFinding::ImageTooLarge, BlpStatus::ImageTooLarge);
  refuse(BlpFinding::BadCompression, BlpStatus::BadCompression);
  refuse(BlpFinding::NoPaletteRoom, BlpStatus::NoPaletteRoom);
  policy.maxPixels = maxPixels;
  return policy;
}

BlpLevelState blpLevelState(const BlpHeader& header, uint32_t level) {
  if (level >= kBlpMipCount || level >= blpFullChainLength(header.width, header.height))
    return BlpLevelState::Absent;
  const uint32_t offset = header.mipOffsets[level], size = header.mipSizes[level];
  if (offset == 0 && size == 0) return BlpLevelState::Absent;
  if (size == 0) return BlpLevelState::Empty;
  if (level > 0 && offset == header.mipOffsets[level - 1] && size == header.mipSizes[level - 1])
    return BlpLevelState::Repeated;
  return BlpLevelState::Stored;
}

uint32_t blpLevelAtLeast(const BlpHeader& header, uint32_t side) {
  uint32_t chosen = 0;
  for (uint32_t level = 1; level < kBlpMipCount; ++level) {
    const uint32_t w = blpLevelSide(header.width, level), h = blpLevelSide(header.height, level);
    if ((w > h ? w : h) < side) break;  // levels only get smaller from here
    if (blpLevelState(header, level) == BlpLevelState::Stored) chosen = level;
  }
  return chosen;
}

uint32_t blpLevelAtMost(const BlpHeader& header, uint32_t side) {
  const uint32_t largest = header.width > header.height ? header.width : header.height;
  uint32_t level = 0;
  while (level < 15 && (largest >> level) > side && header.mipOffsets[level + 1] != 0) ++level;
  return level;
}

namespace {

bool sideInRange(uint32_t side) { return side >= 1 && side <= kBlpMaxSide; }

BlpContent contentOf(const BlpHeader& h) {
  if (h.storage == 0) return BlpContent::Jpeg;
  if (blpIsPaletted(h)) return BlpContent::Paletted;
  if (h.storage != 1) return BlpContent::Unknown;
  if (h.compression == 2) return BlpContent::Dxt;
  if (h.compression == 3) return BlpContent::Raw;
  return BlpContent::Unknown;
}

// The first finding in `findings` the policy acts on, with "length first" hosts judging the
// file's size before anything else.
int32_t verdict(const BlpReadPolicy& policy, BlpFindings findings, bool* refused) {
  const BlpFindings lengthFindings = findingBit(BlpFinding::ShortHeader) | findingBit(BlpFinding::FileTooShort);
  const BlpFindingRule* rule = nullptr;
  if (policy.lengthFirst) rule = firstActingRule(policy, findings & lengthFindings);
  if (rule == nullptr) rule = firstActingRule(policy, findings);
  if (refused != nullptr) *refused = rule != nullptr && rule->action == BlpFindingAction::Refuse;
  return rule != nullptr ? rule->code : 0;
}

// Whether the header declares alpha for a level of this content, as the policy reads it.
bool declaresAlpha(const BlpHeader& h, BlpContent content, const BlpReadPolicy& policy) {
  if (h.layout == BlpLayout::Blp1) return h.alphaBits != 0;
  if (policy.alphaFromDepthBits) return (h.alphaDepth & 0x0F) != 0;
  switch (content) {
    case BlpContent::Jpeg: return blpWordAt8(h) != 0;
    case BlpContent::Raw: return true;
    default: return h.alphaDepth != 0;
  }
}

}  // namespace

int32_t blpFileOpen(BlpFile* file, BlpSource source, const BlpReadPolicy& policy, bool* refused) {
  *file = BlpFile{};
  file->source = source;
  file->policy = policy;
  const uint32_t got = readSourceOrZero(source, 0, kBlpHeaderReadSize, file->rawHeader);
  parseBlpHeader(file->rawHeader, &file->header);
  const BlpHeader& h = file->header;
  file->headerSize = blpHeaderSize(h);
  file->content = contentOf(h);

  BlpFindings findings = 0;
  if (got < kBlpHeaderReadSize) findings |= findingBit(BlpFinding::ShortHeader);
  // Fewer than four bytes cannot be judged as a signature: such a file is only short.
  if (got >= 4 && !hasBlpSignature(file->rawHeader)) findings |= findingBit(BlpFinding::BadSignature);
  if (!sideInRange(h.width) || !sideInRange(h.height)) findings |= findingBit(BlpFinding::BadDimensions);
  if (h.storage > 1) findings |= findingBit(BlpFinding::BadStorage);
  if (source.length < kBlpMinFileSize) findings |= findingBit(BlpFinding::FileTooShort);
  file->findings = findings;

  bool refuse = false;
  const int32_t code = verdict(policy, findings, &refuse);
  if (refused != nullptr) *refused = refuse;
  if (refuse) {
    releaseSource(&file->source);
    return code;
  }

  if (file->content == BlpContent::Paletted) {
    // Entries the file does not hold read as zero (black).
    readSourceOrZero(file->source, file->headerSize, kBlpPaletteBytes, file->palette);
    for (uint32_t i = 0; i < 256; ++i) std::swap(file->palette[4 * i], file->palette[4 * i + 2]);
    file->hasPalette = true;
  } else if (file->content == BlpContent::Jpeg) {
    uint8_t field[4];
    readSourceOrZero(file->source, file->headerSize, 4, field);
    file->jpegHeaderSize = loadU32(field);
  }
  return code;
}

void blpFileClose(BlpFile* file) {
  releaseSource(&file->source);
  file->hasPalette = false;
}

int32_t blpDescribeLevel(const BlpFile& file, uint32_t level, BlpLevelFormat* format, bool* refused) {
  *format = BlpLevelFormat{};
  if (refused != nullptr) *refused = true;
  if (level >= kBlpMipCount) return int32_t(BlpStatus::BadArgument);
  const BlpHeader& h = file.header;
  const BlpReadPolicy& policy = file.policy;
  BlpLevelFormat& f = *format;
  f.level = level;
  f.width = blpLevelSide(h.width, level);
  f.height = blpLevelSide(h.height, level);
  f.offset = h.mipOffsets[level];
  f.size = h.mipSizes[level];
  f.state = blpLevelState(h, level);
  f.content = file.content;
  const uint64_t length = file.source.length;
  f.available = f.offset < length ? (f.size < length - f.offset ? f.size : length - f.offset) : 0;
  const uint64_t pixels = uint64_t(f.width) * f.height;

  BlpFindings findings = file.findings;
  if (f.size == 0) findings |= findingBit(BlpFinding::EmptyLevel);
  if (f.offset >= length) findings |= findingBit(BlpFinding::OffsetPastEnd);
  if (policy.maxPixels != 0 && pixels > policy.maxPixels) findings |= findingBit(BlpFinding::ImageTooLarge);
  if (f.content == BlpContent::Unknown) findings |= findingBit(BlpFinding::BadCompression);

  const bool alpha = declaresAlpha(h, f.content, policy);
  switch (f.content) {
    case BlpContent::Paletted: {
      if (f.offset <= file.headerSize) findings |= findingBit(BlpFinding::NoPaletteRoom);
      const uint32_t depth = h.layout == BlpLayout::Blp1 ? 8 : h.alphaDepth & 0x0Fu;
      // A level that holds no more than its indices is read as opaque, whatever alpha the
      // header claims: some writers declare an alpha depth and store no plane.
      const uint64_t sizeSeen = policy.clippedSizeDecidesAlpha ? f.available : f.size;
      if (!alpha || sizeSeen <= pixels) {
        f.layout = BlpPixelLayout::Indices;
      } else {
        f.layout = BlpPixelLayout::IndicesAlpha;
        if (depth == 1 || depth == 2 || depth == 4 || depth == 8) {
          f.alphaBits = depth;
        } else if (policy.unusualDepthAsEightBits) {
          f.alphaBits = 8;
        } else {
          f.paletteAlpha = true;
        }
      }
      f.contentBytes = pixels + blpAlphaPlaneBytes(pixels, f.alphaBits);
      break;
    }
    case BlpContent::Dxt:
      if (h.alphaType != 0 && h.alphaType != 1 && h.alphaType != 7)
        findings |= findingBit(BlpFinding::UnusualDxtAlpha);
      if (h.alphaType == 1) {
        f.dxtVariant = DxtVariant::Dxt3;
        f.alphaBits = 4;
      } else if (h.alphaType == 7) {
        f.dxtVariant = DxtVariant::Dxt5;
        f.alphaBits = 8;
      } else if (alpha) {
        // Cut-out transparency: index 3 of a three-colour block is transparent.
        f.dxtVariant = DxtVariant::Dxt1Alpha;
        f.alphaBits = 1;
      } else {
        f.dxtVariant = DxtVariant::Dxt1;
      }
      f.layout = f.alphaBits != 0 ? BlpPixelLayout::Rgba : BlpPixelLayout::Rgb;
      f.contentBytes = blpDxtLevelBytes(f.width, f.height, dxtBlockBytes(f.dxtVariant));
      break;
    case BlpContent::Raw:
      f.alphaBits = alpha ? 8 : 0;
      f.layout = alpha ? BlpPixelLayout::Rgba : BlpPixelLayout::Rgb;
      f.contentBytes = pixels * 4;
      break;
    case BlpContent::Jpeg:
      if (file.jpegHeaderSize > f.offset) findings |= findingBit(BlpFinding::SharedHeaderTooLarge);
      f.alphaBits = alpha ? 8 : 0;
      f.layout = alpha ? BlpPixelLayout::Rgba : BlpPixelLayout::Rgb;
      break;
    case BlpContent::Unknown:
      break;
  }
  if (uint64_t(f.offset) + f.size > length) {
    findings |= findingBit(BlpFinding::LevelPastEnd);
    f.damage |= kBlpDamagePastEnd;
  }
  if (f.size < f.contentBytes) {
    findings |= findingBit(BlpFinding::ShortLevel);
    f.damage |= kBlpDamageShortLevel;
  }
  f.findings = findings;
  bool refuse = false;
  const int32_t code = verdict(policy, findings, &refuse);
  if (refused != nullptr) *refused = refuse;
  return code;
}

void blpDamageMessage(const BlpDamage& damage, uint32_t level, char* out, uint32_t size) {
  if (size == 0) return;
  out[0] = '\0';
  auto add = [&](const char* text) {
    const size_t used = std::strlen(out);
    std::snprintf(out + used, size - used, "%s%s", used > 0 ? "; " : "", text);
  };
  char line[128];
  if (damage.flags & kBlpDamagePastEnd) {
    std::snprintf(line, sizeof line, "level %u runs past the end of the file", level);
    add(line);
  }
  if (damage.flags & kBlpDamageShortLevel) {
    std::snprintf(line, sizeof line, "level %u is shorter than its content", level);
    add(line);
  }
  if (damage.flags & kBlpDamageJpegTruncated) {
    if (damage.blocksDecoded < damage.blocksTotal) {
      std::snprintf(line, sizeof line, "JPEG data ends after %" PRIu64 " of %" PRIu64 " blocks", damage.blocksDecoded,
                    damage.blocksTotal);
    } else {
      std::snprintf(line, sizeof line, "JPEG data ends after %u scans, before the end of the image", damage.jpegScans);
    }
    add(line);
  }
  if (damage.flags & kBlpDamageJpegCorrupt) {
    std::snprintf(line, sizeof line, "corrupt JPEG data after %" PRIu64 " of %" PRIu64 " blocks", damage.blocksDecoded,
                  damage.blocksTotal);
    add(line);
  }
  if (damage.flags & kBlpDamageJpegTables) add("JPEG tables or frame header missing");
  if (damage.flags & kBlpDamageJpegTimeBound) add("JPEG data needs more work than the decoder allows");
  if (damage.flags & kBlpDamageJpegMarkers) add("JPEG markers out of place (skipped)");
  if (damage.flags & kBlpDamageJpegNoEnd) add("JPEG data lacks its end marker");
}

}  // namespace vellum
