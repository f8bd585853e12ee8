// The control device as a user-mode program reaches it: CreateFile on
// "\\.\QuorvelVH", DeviceIoControl with the buffered copy-back, CloseHandle.
// On top of the snapshot fixture: requests built as the manager builds them,
// and the on-disk state a request may change (engine header, disk 0's
// sectors 0-4).
#pragma once

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "hostkernel/user_io.h"
#include "snapshot_fixture.h"

namespace vh::test {

constexpr char16_t kControlName[] = u"\\\\.\\QuorvelVH";

struct ControlAnswer {
  NTSTATUS status;
  ULONG bytes;               // bytes returned, as the caller sees them
  std::vector<uint8_t> out;  // the caller's output buffer afterwards
};

// A VolumeRequest for drive `letter`, zero-filled like the manager's, with
// a fresh GUID as the manager gives each create (only a create reads it).
inline std::vector<uint8_t> VolumeRequestFor(char16_t letter = u'C', size_t bytes = kRequestBytes) {
  static std::atomic<uint32_t> made{0};
  std::vector<uint8_t> in(bytes, 0);
  const uint32_t kind = kVolumeNameIsDriveLetter;
  std::memcpy(&in[offsetof(VolumeRequest, VolumeNameKind)], &kind, 4);
  std::memcpy(&in[offsetof(VolumeRequest, VolumeName)], &letter, 2);
  RecordGuid guid{};
  guid.Data1 = 0xF0E50000u + ++made;
  guid.Data2 = 0x4321;
  std::memcpy(&in[offsetof(VolumeRequest, SnapshotGuid)], &guid, sizeof guid);
  return in;
}

inline void SetU32(std::vector<uint8_t>& in, size_t offset, uint32_t value) {
  std::memcpy(&in[offset], &value, 4);
}

inline std::vector<uint8_t> RollbackRequestFor(uint8_t schedule, uint8_t target) {
  std::vector<uint8_t> in(kRequestBytes, 0);
  in[offsetof(RollbackRequest, Schedule)] = schedule;
  in[offsetof(RollbackRequest, TargetNumber)] = target;
  SetU32(in, offsetof(RollbackRequest, VolumeNameKind), kVolumeNameIsDriveLetter);
  const char16_t letter = u'C';
  std::memcpy(&in[offsetof(RollbackRequest, VolumeName)], &letter, 2);
  return in;
}

class ControlTest : public SnapshotTest {
 protected:
  // The output buffer starts as 0xEE bytes so that what came back shows.
  static ControlAnswer Send(ULONG code, const std::vector<uint8_t>& in, ULONG outLength) {
    ControlAnswer a;
    a.out.assign(outLength, 0xEE);
    hk::UserIoResult r = hk::UserDeviceIoControl(
        kControlName, code, in.empty() ? nullptr : in.data(), static_cast<ULONG>(in.size()),
        outLength ? a.out.data() : nullptr, outLength);
    a.status = r.status;
    a.bytes = r.bytesReturned;
    return a;
  }

  NTSTATUS CreateViaControl(uint32_t serial) {
    std::vector<uint8_t> in = VolumeRequestFor();
    std::snprintf(reinterpret_cast<char*>(&in[offsetof(VolumeRequest, SnapshotName)]), 24,
                  "snap %u", serial);
    return Send(IOCTL_ENGINE_CREATE_SNAPSHOT, in, 0).status;
  }

  // Disk 0's sectors 0-4 as the image holds them.
  std::vector<uint8_t> BootSectors() {
    std::vector<uint8_t> out(kBootImageBytes);
    Disk0().Read(0, kBootImageBytes, out.data());
    return out;
  }
  std::vector<uint8_t> EngineBytes(uint64_t sector, uint64_t count) {
    std::vector<uint8_t> out(count * 512);
    EXPECT_EQ(Installed().ReadEngineSectors(sector, count, out.data()), storage::kStatusSuccess);
    return out;
  }
  std::vector<uint8_t> HeaderOnDisk() {
    return EngineBytes(Installed().header->HeaderSector, kEngineHeaderSectors);
  }
  EngineHeader HeaderRecord() {
    EngineHeader h;
    std::vector<uint8_t> bytes = HeaderOnDisk();
    std::memcpy(&h, bytes.data(), sizeof h);
    return h;
  }
};

}  // namespace vh::test
