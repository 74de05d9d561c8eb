// How a host treats what is wrong with a file. Every host reads through the same level
// decoder; they differ only in what they refuse, with which of their own result codes, and
// in how a level that the file does not fully hold is filled. Those choices are the fields
// of a read policy that each host passes in.
#pragma once

#include <cstdint>

namespace vellum {

// What can be found wrong with a file or one of its levels, in the order in which a host
// reports them: when several findings apply, the first one the policy acts on decides.
enum class BlpFinding : uint8_t {
  BadSignature = 0,      // not "BLP0", "BLP1" or "BLP2"
  ShortHeader,           // fewer than 156 bytes: no header to read
  BadDimensions,         // a side of the file (or of the level) outside 1..32768
  BadStorage,            // the storage field is neither 0 (JPEG) nor 1 (direct)
  FileTooShort,          // 160 bytes or fewer
  EmptyLevel,            // the level's size is 0
  OffsetPastEnd,         // the level starts at or beyond the end of the file
  ImageTooLarge,         // more pixels than the host's limit
  BadCompression,        // "BLP2" direct storage of an encoding other than 1, 2, 3
  NoPaletteRoom,         // a paletted level that starts inside the header
  LevelPastEnd,          // the level runs past the end of the file
  ShortLevel,            // the level holds fewer bytes than its content needs
  SharedHeaderTooLarge,  // JPEG: a shared header larger than the room before the level
  UnusualDxtAlpha,       // DXT: an alpha type other than 0, 1 or 7 (read as DXT1)
};
constexpr int kBlpFindingCount = 14;
using BlpFindings = uint32_t;  // bit i: BlpFinding i
inline BlpFindings findingBit(BlpFinding f) { return BlpFindings(1) << uint32_t(f); }

enum class BlpFindingAction : uint8_t {
  ReadOn = 0,  // decode what the file holds; bytes it lacks are filled (below)
  Report,      // decode as with ReadOn, and hand the host its code
  Refuse,      // decode nothing; hand the host its code
};

struct BlpFindingRule {
  BlpFindingAction action = BlpFindingAction::ReadOn;
  int32_t code = 0;  // the host's own result for the finding
};

struct BlpReadPolicy {
  BlpFindingRule rules[kBlpFindingCount];

  // Where rows come from. false: at their offsets from the level's start anywhere in the
  // file, so that a level whose size is too small reads on into what follows it, and only
  // the end of the file ends it. true: from the level's own bytes only, cut at the end of
  // the file.
  bool boundToLevel = false;
  // DXT: a block not wholly inside those bytes gives pixels of four zero bytes. Otherwise
  // it is decoded from the bytes there are, the rest read as zero.
  bool zeroBlocksOutside = false;
  // Paletted alpha planes: a pixel whose alpha bits lie outside those bytes keeps the
  // fourth byte of its palette entry. Otherwise the missing bits read as zero.
  bool missingAlphaFromPalette = false;
  // Paletted alpha depths other than 0, 1, 2, 4, 8: an 8-bit plane is read. Otherwise no
  // plane is read and every pixel takes its palette entry's fourth byte.
  bool unusualDepthAsEightBits = false;
  // Whether a level has alpha. true: the low four bits of a "BLP2" alphaDepth (for every
  // content type but DXT3 and DXT5), alphaBits of "BLP0"/"BLP1". false: the whole alphaDepth
  // byte for paletted and DXT1 levels, the whole 32-bit word at offset 8 for JPEG, always for
  // raw levels.
  bool alphaFromDepthBits = false;
  // Paletted levels fall back to opaque indices when their size, cut at the end of the file,
  // is below width x height. Otherwise the size as the table gives it decides.
  bool clippedSizeDecidesAlpha = false;
  // The file's length is judged before its header: a file of 160 bytes or fewer is
  // FileTooShort whatever its first bytes say. Otherwise a header that is not a BLP header
  // is reported as such first.
  bool lengthFirst = false;
  // Levels of more pixels than this are refused (ImageTooLarge); 0: no limit.
  uint64_t maxPixels = 0;
};

// The first finding in `findings` on which the policy does not read on; null when none.
const BlpFindingRule* firstActingRule(const BlpReadPolicy& policy, BlpFindings findings,
                                      BlpFinding* which = nullptr);

// The policy of the core's own reader, used by XnView, GIMP, the command-line tool and the
// public library: the header findings and the ones that leave no level to read are refused
// with their BlpStatus values; a level cut short or past the end of the file is read as far
// as the file goes, the rest as zero bytes, and reported as damage.
BlpReadPolicy readerPolicy(uint64_t maxPixels = 0);

}  // namespace vellum
