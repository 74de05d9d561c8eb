#include "core/blp_status.h"

namespace vellum {

const char* blpStatusText(BlpStatus status) {
  switch (status) {
    case BlpStatus::Ok: return "ok";
    case BlpStatus::ShortHeader: return "file is shorter than a BLP header";
    case BlpStatus::BadSignature: return "not a BLP file (signature is not BLP0, BLP1 or BLP2)";
    case BlpStatus::BadDimensions: return "image width or height is outside 1 to 32768";
    case BlpStatus::BadStorage: return "unknown storage kind in the header";
    case BlpStatus::FileTooShort: return "file is too short to hold any image data";
    case BlpStatus::EmptyLevel: return "the first mipmap level is empty";
    case BlpStatus::BadCompression: return "unsupported BLP2 compression";
    case BlpStatus::NoPaletteRoom: return "the first mipmap level overlaps the palette";
    case BlpStatus::OutOfMemory: return "not enough memory";
    case BlpStatus::ImageTooLarge: return "image is too large";
    case BlpStatus::FileTooLarge: return "the file would exceed 4 GiB, the limit of the BLP offset tables";
    case BlpStatus::BadArgument: return "invalid argument";
    case BlpStatus::IoError: return "input/output error";
    case BlpStatus::Cancelled: return "cancelled";
  }
  return "unknown error";
}

}  // namespace vellum
