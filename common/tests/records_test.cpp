// The engine's records must put each field at the byte the other side (the
// 64-bit engine, the 32-bit manager, the on-disk image) reads it from. These
// checks write through the structs and read the raw bytes back, so a wrong
// array length, a lost packing or a 4-byte wide character shows up at run
// time on each flavour, not only in the compile-time asserts.
#include "vh/records.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

template <typename T>
std::vector<uint8_t> BytesOf(const T& record) {
  std::vector<uint8_t> bytes(sizeof record);
  std::memcpy(bytes.data(), &record, sizeof record);
  return bytes;
}

uint64_t ReadLe(const std::vector<uint8_t>& bytes, size_t offset, size_t width) {
  uint64_t value = 0;
  for (size_t i = 0; i < width; ++i) value |= uint64_t{bytes.at(offset + i)} << (8 * i);
  return value;
}

TEST(EngineHeaderLayout, FieldsLandAtTheirOffsets) {
  auto header = std::make_unique<vh::EngineHeader>();
  std::memset(header.get(), 0, sizeof *header);
  header->Magic = vh::kEngineMagic;
  header->Version = vh::kEngineVersion;
  header->VolumeId = 0x12345678;
  header->SectorsPerCluster = 8;
  header->DataStartSector = 0x0102030405060708ull;
  header->VolumeSectors = 0x00ABCDEF;
  header->MaxSnapshots = 31;
  header->SnapshotCount = 5;
  header->HourlySchedule = 1;
  header->AreaBaseSector = 0x1111;
  header->BlockMapLast = 0x2222;
  header->NewestSnapshot.Number = 5;
  header->SpaceLast = 0x3333;
  header->AreaExtents[7].SectorCount = 0x4444;
  header->Signature = vh::kRecordSignature;
  header->Slots[30].Signature = vh::kRecordSignature;
  header->ReinitPending = 1;
  header->ReleaseListSector = 0x5555;
  header->Preserved[sizeof header->Preserved - 1] = 0x77;

  const auto b = BytesOf(*header);
  struct Case {
    size_t offset, width;
    uint64_t value;
  };
  const Case cases[] = {
      {0x000, 4, 0x4B454C4D},
      {0x008, 4, 0x10000},
      {0x00C, 4, 0x12345678},
      {0x024, 4, 8},
      {0x028, 8, 0x0102030405060708ull},
      {0x034, 4, 0x00ABCDEF},
      {0x043, 1, 31},
      {0x045, 1, 5},
      {0x053, 1, 1},
      {0x080, 8, 0x1111},
      {0x0F8, 8, 0x2222},
      {0x104, 1, 5},
      {0x188, 8, 0x3333},
      {0x190 + 7 * 12 + 8, 4, 0x4444},
      {0x1FE, 2, 0xAA55},
      {0x200 + 30 * 128 + 6, 2, 0xAA55},
      {0x1185, 1, 1},
      {0x1198, 8, 0x5555},
      {0xFFFF, 1, 0x77},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.value, ReadLe(b, c.offset, c.width)) << "offset 0x" << std::hex << c.offset;
  }
  // The magic spells KELM from the most significant byte.
  EXPECT_EQ(0, std::memcmp(b.data(), "MLEK", 4));
}

TEST(SnapshotSlotLayout, TextAndGuidFieldsLandAtTheirOffsets) {
  vh::SnapshotSlot slot{};
  slot.Number = vh::kFreedSlotNumber;
  slot.CreateTime.Year = 2026;
  slot.SavedMapSector = 0x0A0B;
  std::memcpy(slot.Name, "Before update", 13);
  slot.Guid.Data1 = 0xDDCCBBAA;
  slot.Guid.Data4[7] = 0xEE;
  slot.Remark[47] = 'z';
  const auto b = BytesOf(slot);
  EXPECT_EQ(0x21, b[0x04]);
  EXPECT_EQ(2026u, ReadLe(b, 0x08, 2));
  EXPECT_EQ(0x0A0Bu, ReadLe(b, 0x18, 8));
  EXPECT_EQ(0, std::memcmp(&b[0x28], "Before update", 13));
  EXPECT_EQ(0xDDCCBBAAu, ReadLe(b, 0x40, 4));
  EXPECT_EQ(0xEE, b[0x4F]);
  EXPECT_EQ('z', b[0x7F]);
}

TEST(EngineParametersLayout, WideTextAndLocationsLandAtTheirOffsets) {
  vh::EngineParameters p{};
  p.Magic = vh::kEngineMagic;
  p.Word008 = 1;
  p.ProtectedDrive = u'C';
  p.PinnedPath1[0] = u'C';
  p.HeaderFileName[1] = 0x263A;  // a character above the ASCII range
  p.PinnedPath2[63] = u'x';
  p.HeaderLocations[3].Sector = 0x123456789ull;
  p.HeaderLocations[3].Valid = 1;
  p.HeaderLocations[3].VolumeId = 0xCAFE;
  p.Signature = vh::kRecordSignature;
  const auto b = BytesOf(p);
  EXPECT_EQ(1u, ReadLe(b, 0x008, 4));
  EXPECT_EQ(u'C', ReadLe(b, 0x00C, 2));
  EXPECT_EQ(u'C', ReadLe(b, 0x040, 2));
  EXPECT_EQ(0x263Au, ReadLe(b, 0x1C2, 2));
  EXPECT_EQ(u'x', ReadLe(b, 0x2BE, 2));
  EXPECT_EQ(0x123456789ull, ReadLe(b, 0x2C0 + 3 * 16, 8));
  EXPECT_EQ(1u, ReadLe(b, 0x2C0 + 3 * 16 + 8, 4));
  EXPECT_EQ(0xCAFEu, ReadLe(b, 0x2C0 + 3 * 16 + 12, 4));
  EXPECT_EQ(0xAA55u, ReadLe(b, 0x3FE, 2));
}

TEST(VolumeRequestLayout, FieldsAtOddOffsetsLandWhereTheEngineReadsThem) {
  vh::VolumeRequest r{};
  r.CreateTime.Milliseconds = 999;
  r.VolumeNameKind = vh::kVolumeNameIsDriveLetter;
  r.VolumeName[0] = u'C';
  r.VolumeName[259] = u'!';
  r.SnapshotNumber = 7;
  r.MountDriveIndex = 25;
  std::memcpy(r.SnapshotName, "New Snapshot", 12);
  r.SnapshotGuid.Data1 = 0x01020304;
  r.SnapshotRemark[0] = 'r';
  r.MountCurrentState = 2;
  r.MountNoLetter = 1;
  r.ExcludePath[0] = u'C';
  r.ExcludePath[184] = u'e';
  const auto b = BytesOf(r);
  EXPECT_EQ(999u, ReadLe(b, 0x012, 2));
  EXPECT_EQ(1u, ReadLe(b, 0x019, 4));
  EXPECT_EQ(u'C', ReadLe(b, 0x01D, 2));
  EXPECT_EQ(u'!', ReadLe(b, 0x01D + 518, 2));
  EXPECT_EQ(7u, ReadLe(b, 0x225, 4));
  EXPECT_EQ(25u, ReadLe(b, 0x229, 4));
  EXPECT_EQ(0, std::memcmp(&b[0x22D], "New Snapshot", 12));
  EXPECT_EQ(0x01020304u, ReadLe(b, 0x245, 4));
  EXPECT_EQ('r', b[0x255]);
  EXPECT_EQ(2u, ReadLe(b, 0x285, 4));
  EXPECT_EQ(1u, ReadLe(b, 0x289, 4));
  EXPECT_EQ(u'C', ReadLe(b, 0x28D, 2));
  EXPECT_EQ(u'e', ReadLe(b, 0x28D + 368, 2));
}

TEST(RequestLayouts, RollbackStatusAndMountTable) {
  vh::RollbackRequest rb{};
  rb.Schedule = 1;
  rb.TargetNumber = 3;
  rb.SpareFlag = 9;
  rb.VolumeNameKind = vh::kVolumeNameIsDriveLetter;
  rb.VolumeName[0] = u'D';
  const auto r = BytesOf(rb);
  EXPECT_EQ(1, r[0]);
  EXPECT_EQ(3, r[1]);
  EXPECT_EQ(9, r[3]);
  EXPECT_EQ(1u, ReadLe(r, 0x08, 4));
  EXPECT_EQ(u'D', ReadLe(r, 0x0C, 2));

  vh::EngineStatus st{};
  st.InterfaceVersion = vh::kStatusInterfaceVersion;
  st.EngineMode = vh::kEngineTemporary;
  st.FreeSectors = 0x1000;
  st.TotalSectors = 0x2000;
  st.DriveLetter = u'C';
  const auto s = BytesOf(st);
  EXPECT_EQ(0x831u, ReadLe(s, 0x00, 4));
  EXPECT_EQ(2u, ReadLe(s, 0x04, 4));
  EXPECT_EQ(0x1000u, ReadLe(s, 0x0C, 4));
  EXPECT_EQ(0x2000u, ReadLe(s, 0x10, 4));
  EXPECT_EQ(u'C', ReadLe(s, 0x14, 2));
  EXPECT_EQ(0u, ReadLe(s, 0x16, 8));

  vh::MountTable table{};
  auto& current = table.Entries[vh::kCurrentStateEntry];
  current.InUse = 1;
  current.VolumeDevice = 0xFFFF800012345678ull;  // a 64-bit kernel address, also on 32-bit
  current.MountDevice = 0x1;
  current.DeviceName[46] = u'\\';
  const auto m = BytesOf(table);
  EXPECT_EQ(1, m[3552]);
  EXPECT_EQ(0xFFFF800012345678ull, ReadLe(m, 3552 + 1, 8));
  EXPECT_EQ(1u, ReadLe(m, 3552 + 9, 8));
  EXPECT_EQ(u'\\', ReadLe(m, 3552 + 0x11 + 92, 2));
}

TEST(ControlCodes, FollowTheDeviceTypeAndFunctionTable) {
  struct Case {
    uint32_t code, expected;
  };
  const Case cases[] = {
      {vh::IOCTL_ENGINE_QUERY_STATUS, 0x80002000},
      {vh::IOCTL_ENGINE_START_TEMPORARY, 0x80002004},
      {vh::IOCTL_ENGINE_CREATE_SNAPSHOT, 0x80002008},
      {vh::IOCTL_ENGINE_DELETE_SNAPSHOT, 0x8000200C},
      {vh::IOCTL_ENGINE_SET_ROLLBACK, 0x80002010},
      {vh::IOCTL_ENGINE_READ_HEADER, 0x80002014},
      {vh::IOCTL_ENGINE_WRITE_HEADER, 0x80002018},
      {vh::IOCTL_ENGINE_MOUNT_SNAPSHOT, 0x8000201C},
      {vh::IOCTL_ENGINE_UNMOUNT_SNAPSHOT, 0x80002020},
      {vh::IOCTL_ENGINE_GET_MOUNT_TABLE, 0x80002038},
      {vh::IOCTL_ENGINE_RECLAIM_SPACE, 0x8000203C},
      {vh::IOCTL_ENGINE_SYSTEM_CONTROL, 0x80002040},
      {vh::IOCTL_ENGINE_PROBE_FILE, 0x80002044},
      {vh::IOCTL_ENGINE_STOP_VOLUME, 0x80002048},
      {vh::IOCTL_ENGINE_ADD_EXCLUDED_FILE, 0x8000204C},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, c.code);
}

}  // namespace
