#include "core/blp_format.h"

#include <cstring>

namespace vellum {

namespace {

const char* const kContentLabels[kBlpContentTypeCount] = {
    "BLP1 JPEG",
    "BLP1 Paletted",
    "BLP2 JPEG",
    "BLP2 Paletted 8-bit alpha",
    "BLP2 DirX Compress",
    "BLP2 Paletted 4-bit alpha",
    "BLP2 Paletted 1-bit alpha",
};

}  // namespace

const char* blpContentTypeLabel(BlpContentType type) {
  unsigned index = unsigned(type);
  return index < kBlpContentTypeCount ? kContentLabels[index] : "";
}

bool isJpegContent(BlpContentType type) {
  return type == BlpContentType::Blp1Jpeg || type == BlpContentType::Blp2Jpeg;
}

bool isPalettedContent(BlpContentType type) {
  return type == BlpContentType::Blp1Paletted || type == BlpContentType::Blp2Paletted8 ||
         type == BlpContentType::Blp2Paletted4 || type == BlpContentType::Blp2Paletted1;
}

bool hasBlpSignature(const uint8_t* bytes) {
  return bytes[0] == 'B' && bytes[1] == 'L' && bytes[2] == 'P' &&
         (bytes[3] == '0' || bytes[3] == '1' || bytes[3] == '2');
}

void parseBlpHeader(const uint8_t raw[kBlpHeaderReadSize], BlpHeader* header) {
  std::memset(header, 0, sizeof *header);
  std::memcpy(header->magic, raw, 4);
  header->layout = std::memcmp(raw, "BLP2", 4) == 0 ? BlpLayout::Blp2 : BlpLayout::Blp1;
  header->storage = loadU32(raw + 4);
  header->width = loadU32(raw + 12);
  header->height = loadU32(raw + 16);
  uint32_t tables;
  if (header->layout == BlpLayout::Blp2) {
    header->compression = raw[8];
    header->alphaDepth = raw[9];
    header->alphaType = raw[10];
    header->hasMips = raw[11];
    tables = 20;
  } else {
    header->alphaBits = loadU32(raw + 8);
    header->pictureType = loadU32(raw + 20);
    header->pictureSubtype = loadU32(raw + 24);
    tables = 28;
  }
  for (uint32_t k = 0; k < kBlpMipCount; ++k) {
    header->mipOffsets[k] = loadU32(raw + tables + 4 * k);
    header->mipSizes[k] = loadU32(raw + tables + 64 + 4 * k);
  }
}

uint32_t serializeBlpHeader(const BlpHeader& header, uint8_t* out) {
  std::memcpy(out, header.magic, 4);
  storeU32(out + 4, header.storage);
  storeU32(out + 12, header.width);
  storeU32(out + 16, header.height);
  uint32_t tables;
  if (header.layout == BlpLayout::Blp2) {
    out[8] = header.compression;
    out[9] = header.alphaDepth;
    out[10] = header.alphaType;
    out[11] = header.hasMips;
    tables = 20;
  } else {
    storeU32(out + 8, header.alphaBits);
    storeU32(out + 20, header.pictureType);
    storeU32(out + 24, header.pictureSubtype);
    tables = 28;
  }
  for (uint32_t k = 0; k < kBlpMipCount; ++k) {
    storeU32(out + tables + 4 * k, header.mipOffsets[k]);
    storeU32(out + tables + 64 + 4 * k, header.mipSizes[k]);
  }
  return blpHeaderSize(header);
}

uint32_t blpHeaderSize(const BlpHeader& header) {
  return header.layout == BlpLayout::Blp2 ? kBlp2HeaderSize : kBlp1HeaderSize;
}

uint32_t blpWordAt8(const BlpHeader& header) {
  if (header.layout == BlpLayout::Blp2) {
    return uint32_t(header.compression) | uint32_t(header.alphaDepth) << 8 |
           uint32_t(header.alphaType) << 16 | uint32_t(header.hasMips) << 24;
  }
  return header.alphaBits;
}

BlpStatus checkBlpHeader(const BlpHeader& header, uint64_t fileLength) {
  if (!hasBlpSignature(reinterpret_cast<const uint8_t*>(header.magic))) return BlpStatus::BadSignature;
  if (header.width < 1 || header.width > kBlpMaxSide || header.height < 1 ||
      header.height > kBlpMaxSide)
    return BlpStatus::BadDimensions;
  if (header.storage > 1) return BlpStatus::BadStorage;
  if (fileLength < kBlpMinFileSize) return BlpStatus::FileTooShort;
  return BlpStatus::Ok;
}

uint32_t blpFullChainLength(uint32_t width, uint32_t height) {
  uint32_t side = width > height ? width : height;
  uint32_t levels = 1;
  while (side > 1) {
    side >>= 1;
    ++levels;
  }
  return levels;
}

}  // namespace vellum
