// Packed records must have one layout on every flavour: the 64-bit engine and
// the 32-bit manager exchange them byte for byte. i686 aligns 64-bit fields to
// 4 bytes and x86-64 to 8, so a record that forgot its packing shows up here.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "vh/checked.h"
#include "vh/layout.h"

namespace {

#pragma pack(push, 1)
struct MixedRecord {
  uint8_t kind;      // 0
  uint16_t mark;     // 1
  uint32_t number;   // 3
  uint64_t sector;   // 7
  char16_t name[3];  // 15
  uint8_t flag;      // 21
};
#pragma pack(pop)
VH_CHECK_SIZE(MixedRecord, 22);
VH_CHECK_OFFSET(MixedRecord, mark, 1);
VH_CHECK_OFFSET(MixedRecord, number, 3);
VH_CHECK_OFFSET(MixedRecord, sector, 7);
VH_CHECK_OFFSET(MixedRecord, name, 15);
VH_CHECK_OFFSET(MixedRecord, flag, 21);

TEST(PackedRecord, FieldsLandLittleEndianAtTheirOffsets) {
  MixedRecord r{};
  r.kind = 0x11;
  r.mark = 0xAA55;
  r.number = 0x04030201;
  r.sector = 0x0807060504030201ull;
  r.name[0] = u'K';
  r.name[2] = 0x2603;
  r.flag = 0x7F;
  uint8_t bytes[sizeof r];
  std::memcpy(bytes, &r, sizeof r);

  const uint8_t expected[22] = {0x11, 0x55, 0xAA, 0x01, 0x02, 0x03, 0x04, 0x01, 0x02, 0x03, 0x04,
                                0x05, 0x06, 0x07, 0x08, 'K',  0x00, 0x00, 0x00, 0x03, 0x26, 0x7F};
  EXPECT_EQ(0, std::memcmp(bytes, expected, sizeof expected));
}

TEST(PackedRecord, ArrayElementsAreNotPadded) {
  MixedRecord table[3]{};
  table[2].flag = 1;
  const auto* base = reinterpret_cast<const uint8_t*>(table);
  EXPECT_EQ(1, base[2 * 22 + 21]);
}

TEST(CheckedArithmetic, ReportsOverflowInsteadOfWrapping) {
  uint32_t out = 0;
  EXPECT_TRUE(vh::CheckedAdd<uint32_t>(0xFFFFFFF0u, 0x0Fu, &out));
  EXPECT_EQ(0xFFFFFFFFu, out);
  EXPECT_FALSE(vh::CheckedAdd<uint32_t>(0xFFFFFFF0u, 0x10u, &out));
  EXPECT_TRUE(vh::CheckedMul<uint32_t>(0x10000u, 0xFFFFu, &out));
  EXPECT_FALSE(vh::CheckedMul<uint32_t>(0x10000u, 0x10000u, &out));
  uint64_t wide = 0;
  EXPECT_TRUE(vh::CheckedMul<uint64_t>(0, ~0ull, &wide));
  EXPECT_EQ(0u, wide);
}

}  // namespace
