// One status type for every fallible call of the codec core. Host adapters translate it
// into their own channel (XnView BOOL, Photoshop result codes, Imagine error words, the
// command-line tool's messages and exit codes).
#pragma once

namespace vellum {

enum class BlpStatus {
  Ok = 0,
  ShortHeader,        // fewer than 156 bytes could be read
  BadSignature,       // not "BLP0", "BLP1" or "BLP2"
  BadDimensions,      // width or height is 0 or above the limit
  BadStorage,         // the storage field is neither 0 (JPEG) nor 1 (direct)
  FileTooShort,       // 160 bytes or fewer
  EmptyLevel,         // level 0 has size 0
  BadCompression,     // "BLP2" direct storage with an unknown compression
  NoPaletteRoom,      // a paletted level starts inside the header
  OutOfMemory,        // a buffer could not be allocated
  ImageTooLarge,      // over a caller's pixel limit, or not addressable on this build
  FileTooLarge,       // the file would not fit the 32-bit offsets of the mipmap tables
  BadArgument,        // a caller passed a value outside the documented range
  IoError,            // reading or writing a file failed
  Cancelled,          // the caller's progress report asked to stop
};

// A short English description, for messages ("not a BLP file: bad signature").
const char* blpStatusText(BlpStatus status);

}  // namespace vellum
