// Little-endian fields: the readers against the bytes as written out by hand
// (least significant first), high bits included, and the writers touching
// exactly their own bytes.
#include "platform/core/little_endian.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace {

using platform::ReadLe;
using platform::ReadLe16;
using platform::ReadLe32;
using platform::ReadLe64;
using platform::WriteLe;
using platform::WriteLe16;
using platform::WriteLe32;
using platform::WriteLe64;

TEST(LittleEndian, ReadersTakeTheLowByteFirst) {
  struct Case {
    std::array<uint8_t, 9> bytes;  // the last one lies past every field
    uint16_t le16;
    uint32_t le32;
    uint64_t le64;
    uint64_t le3;  // a three-byte field
  };
  const Case cases[] = {
      {{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xAA}, 0x0201, 0x04030201, 0x0807060504030201, 0x030201},
      // Top bits set: no sign spreads into the wider values.
      {{0xFF, 0xFF, 0xFF, 0x80, 0x00, 0x00, 0x00, 0x80, 0xFF}, 0xFFFF, 0x80FFFFFF, 0x8000000080FFFFFF, 0xFFFFFF},
      {{0x00, 0x80, 0x00, 0x00, 0xFE, 0xFF, 0xFF, 0xFF, 0x01}, 0x8000, 0x00008000, 0xFFFFFFFE00008000, 0x008000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.le64);
    EXPECT_EQ(ReadLe16(c.bytes.data()), c.le16);
    EXPECT_EQ(ReadLe32(c.bytes.data()), c.le32);
    EXPECT_EQ(ReadLe64(c.bytes.data()), c.le64);
    EXPECT_EQ(ReadLe(c.bytes.data(), 3), c.le3);
    EXPECT_EQ(ReadLe(c.bytes.data(), 2), c.le16);
    EXPECT_EQ(ReadLe(c.bytes.data(), 4), c.le32);
    EXPECT_EQ(ReadLe(c.bytes.data(), 8), c.le64);
    EXPECT_EQ(ReadLe(c.bytes.data(), 0), 0u);
  }
  // The readers serve constant expressions too.
  static constexpr std::array<uint8_t, 4> kWord{0x78, 0x56, 0x34, 0x12};
  static_assert(ReadLe32(kWord.data()) == 0x12345678);
}

TEST(LittleEndian, WritersFillOnlyTheirFieldAndReadBack) {
  struct Case {
    int width;
    uint64_t value;
    std::array<uint8_t, 8> expected;  // a buffer of 0xEE, the field written at offset 0
  };
  const Case cases[] = {
      {2, 0xBEEF, {0xEF, 0xBE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}},
      {4, 0x80000001, {0x01, 0x00, 0x00, 0x80, 0xEE, 0xEE, 0xEE, 0xEE}},
      {8, 0x0123456789ABCDEF, {0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01}},
      {3, 0xFFAABBCC, {0xCC, 0xBB, 0xAA, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}},  // the top byte is cut off
      {0, 0x12, {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    std::array<uint8_t, 8> bytes;
    bytes.fill(0xEE);
    WriteLe(bytes.data(), c.value, c.width);
    EXPECT_EQ(bytes, c.expected);
    if (c.width == 2 || c.width == 4 || c.width == 8) {
      std::array<uint8_t, 8> fixed;
      fixed.fill(0xEE);
      if (c.width == 2) WriteLe16(fixed.data(), static_cast<uint16_t>(c.value));
      if (c.width == 4) WriteLe32(fixed.data(), static_cast<uint32_t>(c.value));
      if (c.width == 8) WriteLe64(fixed.data(), c.value);
      EXPECT_EQ(fixed, c.expected);
      EXPECT_EQ(ReadLe(fixed.data(), c.width), c.value);
    }
  }
}

}  // namespace
