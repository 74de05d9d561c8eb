// What the page's codec hands back to JavaScript: one fixed 256-byte record that the
// caller allocates and reads at known offsets (wasm32: pointers and sizes are 4 bytes).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellum::web {

struct WebResult {
  uint8_t* data;           //   0: bytes allocated here (release with web_free), or null
  uint32_t size;           //   4: bytes at data
  int32_t status;          //   8: a vellum_status
  uint32_t damageFlags;    //  12: VELLUM_DAMAGE_* of a decode
  uint32_t width;          //  16: the image's sides (decode: the level; encode: the source)
  uint32_t height;         //  20
  uint32_t blocksDecoded;  //  24: JPEG levels: 8 x 8 blocks decoded / of the level
  uint32_t blocksTotal;    //  28
  char message[224];       //  32: one line for a person, "" when all went well
};
static_assert(sizeof(WebResult) == 256, "JavaScript reads the record at fixed offsets");
static_assert(offsetof(WebResult, message) == 32, "JavaScript reads the record at fixed offsets");

// Starts a record: no data, the status given, no message.
void resetResult(WebResult* result, int status);

// Sets the status and, when the message is empty, the status's own text.
void failResult(WebResult* result, int status, const char* message);

}  // namespace vellum::web
