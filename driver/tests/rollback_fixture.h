// Rollback on the image of disk 0: requests as the manager sends them, and
// what sectors 0-4, the backup and the loader must hold, worked out from
// the installation rather than from the engine.
#pragma once

#include <cstring>
#include <vector>

#include "control_fixture.h"
#include "rollback.h"

namespace vh::test {

class RollbackTest : public ControlTest {
 protected:
  void BootWith(uint32_t areaPieces,
                storage::FileSystemKind kind = storage::FileSystemKind::kNtfs) {
    MachineOptions options = Options();
    options.install.areaPieces = areaPieces;
    options.install.format.kind = kind;
    if (kind == storage::FileSystemKind::kFat32) options.install.format.sectorsPerCluster = 8;
    ASSERT_NO_FATAL_FAILURE(BootMachine(options));
  }

  NTSTATUS Rollback(uint8_t schedule, uint8_t target) {
    return Send(IOCTL_ENGINE_SET_ROLLBACK, RollbackRequestFor(schedule, target), 0).status;
  }

  uint64_t PartitionStart() { return Installed().volume->PartitionInfo().startSector; }

  // The disk sector of the loader image and the area's first volume sector.
  uint32_t LoaderDiskSector() {
    uint64_t volumeSector = 0;
    EXPECT_EQ(
        Installed().EngineToVolumeSector(Installed().header->LoaderImageSector, &volumeSector),
        storage::kStatusSuccess);
    return static_cast<uint32_t>(PartitionStart() + volumeSector);
  }
  uint32_t AreaStart() { return static_cast<uint32_t>(Installed().pieces.front().StartSector); }

  // What sectors 0-4 must hold once the program is installed over `before`.
  std::vector<uint8_t> ExpectedPreBoot(const std::vector<uint8_t>& before) {
    using namespace rollback_layout;
    std::vector<uint8_t> image = Installed().bootImage;
    const uint16_t stage = 4;
    const uint32_t one = 1, zero = 0, loader = LoaderDiskSector();
    std::memcpy(&image[BootStageWord], &stage, 2);
    std::memcpy(&image[BootModeWord], &one, 4);
    std::memcpy(&image[BootZeroWord], &zero, 4);
    std::memcpy(&image[BootLoaderSector], &loader, 4);
    std::memcpy(&image[KeptFirst], &before[KeptFirst], KeptBytes);
    return image;
  }

  std::vector<uint8_t> Backup() {
    return EngineBytes(Installed().header->BootBackupSector, kBootImageSectors);
  }
};

}  // namespace vh::test
