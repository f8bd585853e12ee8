#include "vh/storage/control_answers.h"

#include <cstring>

#include "vh/storage/byte_order.h"

namespace vh::storage {

IoAnswer AnswerPartitionInfo(const Partition& partition, void* out, uint32_t outLength) {
  constexpr uint32_t kBytes = 32;
  if (out == nullptr || outLength < kBytes) return {kStatusBufferTooSmall, 0};
  auto* p = static_cast<uint8_t*>(out);
  std::memset(p, 0, kBytes);
  PutLe64(p + 0, partition.StartByte());                          // StartingOffset
  PutLe64(p + 8, partition.ByteLength());                         // PartitionLength
  PutLe32(p + 16, static_cast<uint32_t>(partition.startSector));  // HiddenSectors
  PutLe32(p + 20, partition.number);                              // PartitionNumber
  p[24] = partition.type;                                         // PartitionType
  p[25] = partition.bootable ? 1 : 0;                             // BootIndicator
  p[26] = 1;                                                      // RecognizedPartition
  return {kStatusSuccess, kBytes};
}

IoAnswer AnswerHotplugInfo(const HotplugFlags& flags, void* out, uint32_t outLength) {
  constexpr uint32_t kBytes = 8;
  if (out == nullptr || outLength < kBytes) return {kStatusBufferTooSmall, 0};
  auto* p = static_cast<uint8_t*>(out);
  PutLe32(p, kBytes);
  p[4] = flags.mediaRemovable ? 1 : 0;
  p[5] = flags.mediaHotplug ? 1 : 0;
  p[6] = flags.deviceHotplug ? 1 : 0;
  p[7] = flags.writeCacheOverride ? 1 : 0;
  return {kStatusSuccess, kBytes};
}

IoAnswer AnswerDeviceNumber(uint32_t diskNumber, uint32_t partitionNumber, void* out,
                            uint32_t outLength) {
  constexpr uint32_t kBytes = 12;
  if (out == nullptr || outLength < kBytes) return {kStatusBufferTooSmall, 0};
  auto* p = static_cast<uint8_t*>(out);
  PutLe32(p + 0, kFileDeviceDisk);
  PutLe32(p + 4, diskNumber);
  PutLe32(p + 8, partitionNumber);
  return {kStatusSuccess, kBytes};
}

IoAnswer AnswerDriveGeometry(const Disk& disk, uint32_t bytesPerSector, void* out,
                             uint32_t outLength) {
  constexpr uint32_t kBytes = 24;
  constexpr uint32_t kTracksPerCylinder = 255;
  constexpr uint32_t kSectorsPerTrack = 63;
  if (out == nullptr || outLength < kBytes) return {kStatusBufferTooSmall, 0};
  auto* p = static_cast<uint8_t*>(out);
  std::memset(p, 0, kBytes);
  const uint64_t cylinders =
      disk.ByteLength() / bytesPerSector / (kTracksPerCylinder * kSectorsPerTrack);
  PutLe64(p + 0, cylinders);
  PutLe32(p + 8, kFixedMedia);
  PutLe32(p + 12, kTracksPerCylinder);
  PutLe32(p + 16, kSectorsPerTrack);
  PutLe32(p + 20, bytesPerSector);
  return {kStatusSuccess, kBytes};
}

IoAnswer AnswerMountDevName(const std::u16string& deviceName, void* out, uint32_t outLength) {
  constexpr uint32_t kHeadBytes = 4;  // sizeof(MOUNTDEV_NAME), padding included
  if (out == nullptr || outLength < kHeadBytes) return {kStatusInvalidParameter, 0};
  const auto nameBytes = static_cast<uint16_t>(deviceName.size() * 2);
  auto* p = static_cast<uint8_t*>(out);
  PutLe16(p, nameBytes);
  if (outLength < 2u + nameBytes) return {kStatusBufferOverflow, kHeadBytes};
  for (size_t i = 0; i < deviceName.size(); ++i) {
    PutLe16(p + 2 + 2 * i, static_cast<uint16_t>(deviceName[i]));
  }
  return {kStatusSuccess, 2u + nameBytes};
}

}  // namespace vh::storage
