// Disk 0 and the volumes on it. The disk is one sparse image with an MBR
// partition table; each volume is a window into it, so disk sector =
// partition start + volume sector holds for every path that reaches the same
// bytes (raw-disk filter, rollback, restorer).
//
// Transfers are checked as a disk driver checks them: sector-multiple offset
// and length, inside the device, never shortened. Every operation is atomic
// under one lock, since the engine's workers and the caller's threads reach
// the same disk at once. Faults are injected here:
// failing the Nth transfer, a short "successful" transfer, and a power cut
// after the Nth write.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vh/storage/image_file.h"
#include "vh/storage/status.h"

namespace vh::storage {

inline constexpr uint32_t kDiskSectorBytes = 512;
// The engine rewrites sectors 0-4 of disk 0 when it schedules a rollback.
inline constexpr uint64_t kFirstPartitionSector = 5;
inline constexpr uint32_t kMaxPrimaryPartitions = 4;

struct NewPartition {
  uint64_t startSector = 2048;
  uint64_t sectorCount = 0;
  uint8_t type = 0x07;  // 0x07 NTFS, 0x0C FAT32 (LBA)
  bool bootable = false;
};

struct DiskOptions {
  uint32_t bytesPerSector = kDiskSectorBytes;  // anything else is refused
  uint64_t sectorCount = 0;
  uint32_t signature = 0x1EE7C0DE;  // MBR disk signature at byte 440
  std::vector<NewPartition> partitions;
  ImageOptions image;  // how the host file is opened (kept across Reload())
};

struct Partition {
  uint32_t number = 0;  // 1-based, as Windows numbers MBR partitions
  uint64_t startSector = 0;
  uint64_t sectorCount = 0;
  uint8_t type = 0;
  bool bootable = false;
  uint64_t StartByte() const { return startSector * kDiskSectorBytes; }
  uint64_t ByteLength() const { return sectorCount * kDiskSectorBytes; }
};

// What a power cut leaves on the image. Writes 1..afterWrites persist; write
// afterWrites+1 persists only its first tornSectors sectors; nothing later.
struct PowerCut {
  uint64_t afterWrites = 0;
  uint32_t tornSectors = 0;
};

class Disk {
 public:
  // Creates the image and writes the MBR (signature, partition entries, 0xAA55).
  static Status Create(const std::string& path, const DiskOptions& options,
                       std::unique_ptr<Disk>* out);
  // Opens an image made earlier and reads its partition table.
  static Status Open(const std::string& path, std::unique_ptr<Disk>* out,
                     const ImageOptions& image = {});

  uint64_t SectorCount() const { return sectorCount_; }
  uint64_t ByteLength() const { return sectorCount_ * kDiskSectorBytes; }
  uint32_t Signature() const { return signature_; }
  const std::vector<Partition>& Partitions() const { return partitions_; }
  const std::string& Path() const { return image_->Path(); }
  const ImageFile& Image() const { return *image_; }

  // Byte-addressed transfers of whole sectors on the whole disk.
  IoAnswer Read(uint64_t byteOffset, uint32_t length, void* buffer);
  IoAnswer Write(uint64_t byteOffset, uint32_t length, const void* buffer);

  // Faults. Transfer numbers count every read and write from the moment the
  // fault is armed, starting at 1.
  void FailTransfer(uint64_t nth, Status status = kStatusDeviceDataError);
  // The Nth transfer moves only `bytes` bytes but reports success with them.
  void ShortenTransfer(uint64_t nth, uint32_t bytes);
  // After the cut the running system goes on seeing its own writes (kept in
  // memory), but none of them reaches the image; Reload() is the next boot.
  void CutPowerAfterWrites(const PowerCut& cut);
  // True once the armed cut point has been passed: later writes are lost.
  bool PowerIsCut() const;
  // A volatile write cache: completed writes stay in memory (and are read
  // back) until Flush() puts them on the image in their order.
  void EnableWriteCache(bool on);
  IoAnswer Flush();
  size_t CachedWriteCount() const;
  // Cuts power now. Of the cached writes (0 = oldest since the last flush)
  // those that `keep` selects reach the image, in order; the rest and every
  // later write are lost. Without `keep` the whole cache is lost. After an
  // armed cut has passed, flushes do nothing: the cache keeps what it held
  // at the cut, and this chooses among those writes.
  void CutPowerNow(const std::function<bool(size_t)>& keep = nullptr);

  // Races: the Nth transfer from now that `match` selects waits, before it
  // reaches the disk, until ReleaseHeld(); other transfers go on meanwhile.
  // WaitHeld() is true once it waits (false after `timeoutMs` without).
  struct TransferInfo {
    bool write;
    uint64_t byteOffset;  // on the whole disk
    uint32_t length;
    bool flush = false;  // a flush (no offset, no length)
  };
  void HoldTransfer(std::function<bool(const TransferInfo&)> match, uint64_t nth = 1);
  bool WaitHeld(unsigned timeoutMs = 10000);
  void ReleaseHeld();

  // Counts since creation or the last Reload().
  uint64_t TransferCount() const;
  uint64_t WriteCount() const;

  // The next boot: forgets every write that did not persist, disarms the
  // faults and re-reads the partition table from the image. The write cache
  // keeps its setting.
  Status Reload();
  // The same, with the image opened another way from now on (a benchmark
  // installs through the page cache, then measures unbuffered).
  Status Reload(const ImageOptions& image);

 private:
  Disk() = default;
  Status ReadPartitionTable();
  bool CutPassed() const { return cutArmed_ && writes_ >= cutAfterWrite_; }
  bool CheckRange(uint64_t byteOffset, uint32_t length, uint64_t limitBytes) const;
  bool ReadSectors(uint64_t sector, uint32_t count, uint8_t* buffer);
  void HoldIfChosen(const TransferInfo& transfer);
  bool WriteSectors(uint64_t sector, uint32_t count, const uint8_t* buffer);

  mutable std::mutex mutex_;
  std::unique_ptr<ImageFile> image_;
  uint64_t sectorCount_ = 0;
  uint32_t signature_ = 0;
  std::vector<Partition> partitions_;

  uint64_t transfers_ = 0;
  uint64_t writes_ = 0;
  uint64_t failAt_ = 0;  // absolute transfer number, 0 = off
  Status failStatus_ = kStatusSuccess;
  uint64_t shortAt_ = 0;
  uint32_t shortBytes_ = 0;
  bool cutArmed_ = false;
  uint64_t cutAfterWrite_ = 0;  // absolute write number
  uint32_t tornSectors_ = 0;
  bool writeCache_ = false;
  struct CachedWrite {
    uint64_t sector;
    std::vector<uint8_t> data;
  };
  std::vector<CachedWrite> cached_;  // since the last flush, oldest first
  // The held transfer (its own lock: the disk goes on while it waits).
  std::mutex holdMutex_;
  std::condition_variable holdChanged_;
  std::function<bool(const TransferInfo&)> holdMatch_;
  uint64_t holdCountdown_ = 0;  // matches still to pass; 0 = nothing armed
  bool holding_ = false;
  bool holdReleased_ = false;
  // Newest contents not on the image (cached or written after the cut).
  std::map<uint64_t, std::vector<uint8_t>> volatileSectors_;
};

// One partition seen as a volume: offsets are relative to its first sector.
class Volume {
 public:
  Volume(Disk& disk, const Partition& partition) : disk_(&disk), partition_(partition) {}

  IoAnswer Read(uint64_t byteOffset, uint32_t length, void* buffer);
  IoAnswer Write(uint64_t byteOffset, uint32_t length, const void* buffer);
  // Read or write by flag, for dispatch code that handles both alike.
  IoAnswer Transfer(bool write, uint64_t byteOffset, uint32_t length, void* buffer) {
    return write ? Write(byteOffset, length, buffer) : Read(byteOffset, length, buffer);
  }

  Disk& OwningDisk() const { return *disk_; }
  const Partition& PartitionInfo() const { return partition_; }
  uint64_t SectorCount() const { return partition_.sectorCount; }
  uint64_t ByteLength() const { return partition_.ByteLength(); }

 private:
  bool CheckRange(uint64_t byteOffset, uint32_t length) const;

  Disk* disk_;
  Partition partition_;
};

}  // namespace vh::storage
