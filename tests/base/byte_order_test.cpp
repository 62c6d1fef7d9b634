#include "base/byte_order.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

namespace zor {
namespace {

// Eight bytes in wire order and the numbers they hold when read as 16, 32 and 64 bits.
struct Case {
  std::array<uint8_t, 8> Bytes;
  uint16_t Value16;
  uint32_t Value32;
  uint64_t Value64;
};
const Case kCases[] = {
    {{0, 0, 0, 0, 0, 0, 0, 0}, 0, 0, 0},
    {{0x01, 0, 0, 0, 0, 0, 0, 0}, 0x0001, 0x00000001, 0x0000000000000001},
    {{0, 0, 0, 0, 0, 0, 0, 0x80}, 0x0000, 0x00000000, 0x8000000000000000},
    {{0x3C, 0x75, 0x5D, 0xE9, 0, 0, 0, 0}, 0x753C, 0xE95D753C, 0x00000000E95D753C},
    {{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}, 0x0201, 0x04030201, 0x0807060504030201},
    {{0xFF, 0xFE, 0xFD, 0xFC, 0xFB, 0xFA, 0xF9, 0xF8}, 0xFEFF, 0xFCFDFEFF, 0xF8F9FAFBFCFDFEFF},
    {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFFFFFFFFFF},
};

// Every case at every offset of a buffer, so unaligned addresses are read and written too.
TEST(ByteOrder, LoadsLowByteFirstAtAnyOffset) {
  for (const Case& c : kCases) {
    for (size_t offset = 0; offset < 8; ++offset) {
      uint8_t buffer[16] = {};
      std::memcpy(buffer + offset, c.Bytes.data(), c.Bytes.size());
      EXPECT_EQ(LoadLE16(buffer + offset), c.Value16) << "offset " << offset;
      EXPECT_EQ(LoadLE32(buffer + offset), c.Value32) << "offset " << offset;
      EXPECT_EQ(LoadLE64(buffer + offset), c.Value64) << "offset " << offset;
    }
  }
}

TEST(ByteOrder, StoresLowByteFirstAtAnyOffsetAndTouchesNothingElse) {
  constexpr uint8_t kFill = 0xA5;
  for (const Case& c : kCases) {
    for (size_t offset = 0; offset < 8; ++offset) {
      const auto check = [&](size_t width, auto store) {
        uint8_t buffer[16];
        std::memset(buffer, kFill, sizeof buffer);
        store(buffer + offset);
        for (size_t i = 0; i < sizeof buffer; ++i) {
          const bool inside = i >= offset && i < offset + width;
          EXPECT_EQ(buffer[i], inside ? c.Bytes[i - offset] : kFill)
              << "width " << width << " offset " << offset << " byte " << i;
        }
      };
      check(2, [&](uint8_t* at) { StoreLE16(at, c.Value16); });
      check(4, [&](uint8_t* at) { StoreLE32(at, c.Value32); });
      check(8, [&](uint8_t* at) { StoreLE64(at, c.Value64); });
    }
  }
}

TEST(ByteOrder, AppendsLowByteFirstAfterWhatIsThere) {
  for (const Case& c : kCases) {
    std::vector<uint8_t> out{0x11};
    AppendLE16(out, c.Value16);
    AppendLE32(out, c.Value32);
    AppendLE64(out, c.Value64);
    std::vector<uint8_t> expected{0x11};
    expected.insert(expected.end(), c.Bytes.begin(), c.Bytes.begin() + 2);
    expected.insert(expected.end(), c.Bytes.begin(), c.Bytes.begin() + 4);
    expected.insert(expected.end(), c.Bytes.begin(), c.Bytes.end());
    EXPECT_EQ(out, expected);
  }
}

}  // namespace
}  // namespace zor
