// An installed machine with a smaller protected volume (384 MB), booted
// with one snapshot, on which temporary mode is switched on: reads and
// writes through the top of the volume's stack and the switch as the
// control request runs it.
#pragma once

#include <cstring>
#include <vector>

#include "engine_lock.h"
#include "hostkernel/call_and_wait.h"
#include "snapshot_fixture.h"
#include "temporary_mode.h"

namespace vh::test {

inline NTSTATUS ReadSectors(PDEVICE_OBJECT target, ULONGLONG offset, std::vector<uint8_t>& data) {
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IO_STATUS_BLOCK ioStatus{};
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  PIRP irp = IoBuildSynchronousFsdRequest(IRP_MJ_READ, target, data.data(),
                                          static_cast<ULONG>(data.size()), &at, &event, &ioStatus);
  if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  NTSTATUS status = hk::CallDriverAndWait(target, irp, &event, &ioStatus);
  if (NT_SUCCESS(status) && ioStatus.Information != data.size()) return STATUS_UNSUCCESSFUL;
  return status;
}

// Bytes that name their sector and a generation, so a misplaced sector
// never passes for another.
inline void FillPattern(uint8_t* out, uint64_t firstSector, uint64_t sectors, uint32_t generation) {
  for (uint64_t s = 0; s < sectors; ++s) {
    for (uint32_t i = 0; i < 512; i += 4) {
      const uint32_t word =
          static_cast<uint32_t>((firstSector + s) * 2654435761u) ^ (generation * 40503u) ^ i;
      std::memcpy(out + s * 512 + i, &word, 4);
    }
  }
}

class TemporaryTest : public SnapshotTest {
 protected:
  static constexpr uint64_t kVolumeSectors = 786432;  // 384 MB

  static MachineOptions SmallVolume() {
    MachineOptions options = Options();
    options.install.volumeSectors = kVolumeSectors;
    return options;
  }

  void SetUp() override {
    SnapshotTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(BootMachine(SmallVolume()));
  }

  // The control request's work on the protected volume.
  NTSTATUS Switch() {
    EngineLock();
    NTSTATUS status = StartTemporaryMode(Device());
    EngineUnlock();
    return status;
  }

  // `sectors` sectors at an allocated place: clusters taken from the file
  // system model, filled in place (tracked) with generation 0.
  uint64_t AllocatedRegion(uint64_t blocks) {
    const uint64_t perBlock = 64 / Fs().GetGeometry().sectorsPerCluster;
    uint64_t lcn = 0;
    EXPECT_EQ(Fs().FindFreeRun((blocks + 1) * perBlock, 0, &lcn), storage::kStatusSuccess);
    // Block-aligned so a region's blocks are its own.
    lcn = (lcn + perBlock - 1) / perBlock * perBlock;
    EXPECT_EQ(Fs().AllocateRun(lcn, blocks * perBlock), storage::kStatusSuccess);
    const uint64_t first =
        lcn * Fs().GetGeometry().sectorsPerCluster + Fs().GetGeometry().dataStartSector;
    std::vector<uint8_t> data(blocks * kBlockBytes);
    FillPattern(data.data(), first, blocks * 64, 0);
    EXPECT_EQ(WriteSectors(Device(), first * 512, data), STATUS_SUCCESS);
    return first;
  }

  std::vector<uint8_t> ImageSectors(uint64_t first, uint64_t count) {
    std::vector<uint8_t> out(count * 512);
    EXPECT_EQ(
        Installed().volume->Read(first * 512, static_cast<uint32_t>(out.size()), out.data()).status,
        storage::kStatusSuccess);
    return out;
  }
};

}  // namespace vh::test
