// libsquish as built for Windows from Debian's source package compresses every block of
// the identity set exactly as Debian's native libsquish0 does: the blocks are compared
// with the file the native build wrote (tests/xnview/xnview_reference, squish.bin).
//
//   squish_blocks NAME REFERENCE_FOLDER
#include <squish.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host_check.h"
#include "xnview/reference_data.h"

using namespace vellum::reference;

namespace {

HOST_TEST(squish.blocks_identical_to_debian_native) {
  REQUIRE(!args.empty());
  const std::string path = host::windowsPath(args[0]) + "\\squish.bin";
  std::FILE* f = std::fopen(path.c_str(), "rb");
  REQUIRE(f != nullptr);
  std::vector<uint8_t> expected;
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) expected.insert(expected.end(), buffer, buffer + n);
  std::fclose(f);

  size_t at = 0;
  uint32_t differing = 0, dxt1 = 0, dxt5 = 0, partial = 0;
  for (uint32_t i = 0; i < kSquishBlockCount; ++i) {
    SquishBlock b = squishBlock(i);
    uint8_t block[16] = {};
    squish::CompressMasked(b.rgba, b.mask, block, b.flags);
    const size_t bytes = b.flags == kSquishDxt1 ? 8 : 16;
    (b.flags == kSquishDxt1 ? dxt1 : dxt5) += 1;
    partial += b.mask != 0xFFFF;
    if (at + bytes > expected.size() || std::memcmp(block, &expected[at], bytes) != 0) {
      if (differing < 5) std::printf("block %u differs\n", i);
      ++differing;
    }
    at += bytes;
  }
  std::printf("%u DXT1 and %u DXT5 blocks (%u partial) compared\n", dxt1, dxt5, partial);
  CHECK_EQ(at, expected.size());
  CHECK_EQ(differing, 0u);
  CHECK(dxt1 >= 10000 && dxt5 >= 10000);
}

}  // namespace

HOST_MAIN()
