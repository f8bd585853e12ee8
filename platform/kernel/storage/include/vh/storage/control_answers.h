// The answers a disk, partition or volume driver gives to the storage and
// mount-device control codes the engine sends, as output bytes in the layouts
// of the x64 DDK structures (little-endian, natural alignment) plus the status
// and byte count. The codes themselves are the kernel layer's; its devices
// pass these answers through their IRPs.
#pragma once

#include <cstdint>
#include <string>

#include "vh/storage/disk.h"
#include "vh/storage/status.h"

namespace vh::storage {

inline constexpr uint32_t kFileDeviceDisk = 7;
inline constexpr uint32_t kFixedMedia = 12;

struct HotplugFlags {
  bool mediaRemovable = false;
  bool mediaHotplug = false;
  bool deviceHotplug = false;
  bool writeCacheOverride = false;
};

// PARTITION_INFORMATION, 32 bytes.
IoAnswer AnswerPartitionInfo(const Partition& partition, void* out, uint32_t outLength);
// STORAGE_HOTPLUG_INFO, 8 bytes.
IoAnswer AnswerHotplugInfo(const HotplugFlags& flags, void* out, uint32_t outLength);
// STORAGE_DEVICE_NUMBER {DeviceType, DeviceNumber, PartitionNumber}, 12 bytes.
IoAnswer AnswerDeviceNumber(uint32_t diskNumber, uint32_t partitionNumber, void* out,
                            uint32_t outLength);
// DISK_GEOMETRY, 24 bytes. bytesPerSector is what the disk reports; the
// image itself is always addressed in 512-byte sectors.
IoAnswer AnswerDriveGeometry(const Disk& disk, uint32_t bytesPerSector, void* out,
                             uint32_t outLength);
// MOUNTDEV_NAME {u16 NameLength, name}: with a buffer too short for the name,
// only NameLength is returned with STATUS_BUFFER_OVERFLOW, and callers rely
// on that first answer to size their second request.
IoAnswer AnswerMountDevName(const std::u16string& deviceName, void* out, uint32_t outLength);

}  // namespace vh::storage
