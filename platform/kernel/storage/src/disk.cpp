#include "vh/storage/disk.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "vh/checked.h"
#include "vh/storage/byte_order.h"

namespace vh::storage {

namespace {

constexpr size_t kMbrSignatureOffset = 440;
constexpr size_t kPartitionTableOffset = 446;
constexpr size_t kPartitionEntryBytes = 16;

// The MBR stores starts and lengths as u32 sectors: partitions beyond 2 TB
// cannot be described and are refused.
bool ValidPartitions(const DiskOptions& options) {
  if (options.partitions.empty() || options.partitions.size() > kMaxPrimaryPartitions) return false;
  for (size_t i = 0; i < options.partitions.size(); ++i) {
    const auto& p = options.partitions[i];
    uint64_t end = 0;
    if (p.sectorCount == 0 || p.startSector < kFirstPartitionSector ||
        !CheckedAdd(p.startSector, p.sectorCount, &end) || end > options.sectorCount ||
        end > 0xFFFFFFFFull) {
      return false;
    }
    for (size_t j = 0; j < i; ++j) {
      const auto& q = options.partitions[j];
      if (p.startSector < q.startSector + q.sectorCount && q.startSector < end) return false;
    }
  }
  return true;
}

}  // namespace

Status Disk::Create(const std::string& path, const DiskOptions& options,
                    std::unique_ptr<Disk>* out) {
  if (options.bytesPerSector != kDiskSectorBytes) return kStatusNotSupported;
  if (!ValidPartitions(options)) return kStatusInvalidParameter;
  uint64_t bytes = 0;
  if (!CheckedMul<uint64_t>(options.sectorCount, kDiskSectorBytes, &bytes)) {
    return kStatusInvalidParameter;
  }
  std::unique_ptr<Disk> disk(new Disk());
  Status status = ImageFile::Create(path, bytes, &disk->image_, options.image);
  if (!IsSuccess(status)) return status;

  uint8_t mbr[kDiskSectorBytes] = {};
  PutLe32(mbr + kMbrSignatureOffset, options.signature);
  for (size_t i = 0; i < options.partitions.size(); ++i) {
    const auto& p = options.partitions[i];
    uint8_t* entry = mbr + kPartitionTableOffset + i * kPartitionEntryBytes;
    entry[0] = p.bootable ? 0x80 : 0x00;
    // CHS fields hold the "use LBA" maximum, as for any disk above 8 GB.
    entry[1] = entry[5] = 0xFE;
    entry[2] = entry[6] = 0xFF;
    entry[3] = entry[7] = 0xFF;
    entry[4] = p.type;
    PutLe32(entry + 8, static_cast<uint32_t>(p.startSector));
    PutLe32(entry + 12, static_cast<uint32_t>(p.sectorCount));
  }
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  if (!disk->image_->WriteAt(0, mbr, sizeof mbr) || !disk->image_->Flush()) {
    return kStatusUnsuccessful;
  }
  status = disk->ReadPartitionTable();
  if (!IsSuccess(status)) return status;
  *out = std::move(disk);
  return kStatusSuccess;
}

Status Disk::Open(const std::string& path, std::unique_ptr<Disk>* out, const ImageOptions& image) {
  std::unique_ptr<Disk> disk(new Disk());
  Status status = ImageFile::Open(path, &disk->image_, image);
  if (!IsSuccess(status)) return status;
  status = disk->ReadPartitionTable();
  if (!IsSuccess(status)) return status;
  *out = std::move(disk);
  return kStatusSuccess;
}

Status Disk::ReadPartitionTable() {
  if (image_->Size() % kDiskSectorBytes != 0) return kStatusNotSupported;
  sectorCount_ = image_->Size() / kDiskSectorBytes;
  uint8_t mbr[kDiskSectorBytes];
  if (!image_->ReadAt(0, mbr, sizeof mbr)) return kStatusUnsuccessful;
  if (mbr[510] != 0x55 || mbr[511] != 0xAA) return kStatusUnsuccessful;
  signature_ = GetLe32(mbr + kMbrSignatureOffset);
  partitions_.clear();
  for (uint32_t i = 0; i < kMaxPrimaryPartitions; ++i) {
    const uint8_t* entry = mbr + kPartitionTableOffset + i * kPartitionEntryBytes;
    if (entry[4] == 0) continue;
    Partition p;
    p.number = static_cast<uint32_t>(partitions_.size()) + 1;
    p.bootable = entry[0] == 0x80;
    p.type = entry[4];
    p.startSector = GetLe32(entry + 8);
    p.sectorCount = GetLe32(entry + 12);
    if (p.sectorCount == 0 || p.startSector + p.sectorCount > sectorCount_) {
      return kStatusUnsuccessful;
    }
    partitions_.push_back(p);
  }
  return kStatusSuccess;
}

bool Disk::PowerIsCut() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return CutPassed();
}

uint64_t Disk::TransferCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return transfers_;
}

uint64_t Disk::WriteCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return writes_;
}

size_t Disk::CachedWriteCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return cached_.size();
}

void Disk::EnableWriteCache(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  writeCache_ = on;
}

void Disk::FailTransfer(uint64_t nth, Status status) {
  std::lock_guard<std::mutex> lock(mutex_);
  failAt_ = nth == 0 ? 0 : transfers_ + nth;
  failStatus_ = status;
}

void Disk::ShortenTransfer(uint64_t nth, uint32_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  shortAt_ = nth == 0 ? 0 : transfers_ + nth;
  shortBytes_ = bytes;
}

void Disk::CutPowerAfterWrites(const PowerCut& cut) {
  std::lock_guard<std::mutex> lock(mutex_);
  cutArmed_ = true;
  cutAfterWrite_ = writes_ + cut.afterWrites;
  tornSectors_ = cut.tornSectors;
}

IoAnswer Disk::Flush() {
  HoldIfChosen({false, 0, 0, true});
  std::lock_guard<std::mutex> lock(mutex_);
  ++transfers_;
  if (transfers_ == failAt_) return {failStatus_, 0};
  // Past the cut the flush never reached the disk: what was cached at the
  // cut stays cached, for CutPowerNow to choose from.
  if (CutPassed()) return {kStatusSuccess, 0};
  for (const auto& w : cached_) {
    if (!image_->WriteAt(w.sector * kDiskSectorBytes, w.data.data(), w.data.size())) {
      return {kStatusDeviceDataError, 0};
    }
  }
  volatileSectors_.clear();  // without a cut, only cached writes live there
  cached_.clear();
  // Down to the host's device when the image was opened to honour flushes.
  if (!image_->Flush()) return {kStatusDeviceDataError, 0};
  return {kStatusSuccess, 0};
}

void Disk::CutPowerNow(const std::function<bool(size_t)>& keep) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = 0; i < cached_.size(); ++i) {
    if (keep && keep(i)) {
      (void)image_->WriteAt(cached_[i].sector * kDiskSectorBytes, cached_[i].data.data(),
                            cached_[i].data.size());
    }
  }
  cached_.clear();
  cutArmed_ = true;
  cutAfterWrite_ = writes_;
  tornSectors_ = 0;
}

Status Disk::Reload() { return Reload(image_->Options()); }

Status Disk::Reload(const ImageOptions& image) {
  std::lock_guard<std::mutex> lock(mutex_);
  volatileSectors_.clear();
  cached_.clear();
  transfers_ = writes_ = 0;
  failAt_ = shortAt_ = 0;
  cutArmed_ = false;
  // The old handle stays until the new one is open, so a failed reload
  // leaves a usable disk behind.
  std::unique_ptr<ImageFile> reopened;
  Status status = ImageFile::Open(image_->Path(), &reopened, image);
  if (!IsSuccess(status)) return status;
  image_ = std::move(reopened);
  return ReadPartitionTable();
}

bool Disk::CheckRange(uint64_t byteOffset, uint32_t length, uint64_t limitBytes) const {
  uint64_t end = 0;
  return byteOffset % kDiskSectorBytes == 0 && length % kDiskSectorBytes == 0 &&
         CheckedAdd<uint64_t>(byteOffset, length, &end) && end <= limitBytes;
}

bool Disk::ReadSectors(uint64_t sector, uint32_t count, uint8_t* buffer) {
  if (!image_->ReadAt(sector * kDiskSectorBytes, buffer, size_t{count} * kDiskSectorBytes)) {
    return false;
  }
  if (!volatileSectors_.empty()) {
    for (uint32_t i = 0; i < count; ++i) {
      auto it = volatileSectors_.find(sector + i);
      if (it != volatileSectors_.end()) {
        std::memcpy(buffer + size_t{i} * kDiskSectorBytes, it->second.data(), kDiskSectorBytes);
      }
    }
  }
  return true;
}

bool Disk::WriteSectors(uint64_t sector, uint32_t count, const uint8_t* buffer) {
  ++writes_;
  uint32_t persisted = count;
  if (cutArmed_ && writes_ > cutAfterWrite_) {
    persisted = writes_ == cutAfterWrite_ + 1 ? std::min(tornSectors_, count) : 0;
  }
  if (writeCache_ && persisted == count) {
    // Held back until a flush; a cut before it loses the write.
    cached_.push_back(
        {sector, std::vector<uint8_t>(buffer, buffer + size_t{count} * kDiskSectorBytes)});
    persisted = 0;
  }
  if (persisted > 0 &&
      !image_->WriteAt(sector * kDiskSectorBytes, buffer, size_t{persisted} * kDiskSectorBytes)) {
    return false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* src = buffer + size_t{i} * kDiskSectorBytes;
    if (i >= persisted) {
      volatileSectors_[sector + i].assign(src, src + kDiskSectorBytes);
    } else {
      volatileSectors_.erase(sector + i);  // the image holds the newest copy again
    }
  }
  return true;
}

void Disk::HoldTransfer(std::function<bool(const TransferInfo&)> match, uint64_t nth) {
  std::lock_guard<std::mutex> lock(holdMutex_);
  holdMatch_ = std::move(match);
  holdCountdown_ = nth == 0 ? 1 : nth;
  holding_ = false;
  holdReleased_ = false;
}

bool Disk::WaitHeld(unsigned timeoutMs) {
  std::unique_lock<std::mutex> lock(holdMutex_);
  return holdChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [this] { return holding_; });
}

void Disk::ReleaseHeld() {
  std::lock_guard<std::mutex> lock(holdMutex_);
  holdReleased_ = true;
  holdCountdown_ = 0;
  holdChanged_.notify_all();
}

void Disk::HoldIfChosen(const TransferInfo& transfer) {
  std::unique_lock<std::mutex> lock(holdMutex_);
  if (holdCountdown_ == 0 || holding_ || !holdMatch_ || !holdMatch_(transfer)) return;
  if (--holdCountdown_ != 0) return;
  holding_ = true;
  holdChanged_.notify_all();
  holdChanged_.wait(lock, [this] { return holdReleased_; });
  holding_ = false;
}

IoAnswer Disk::Read(uint64_t byteOffset, uint32_t length, void* buffer) {
  HoldIfChosen({false, byteOffset, length});
  std::lock_guard<std::mutex> lock(mutex_);
  if (!CheckRange(byteOffset, length, ByteLength())) return {kStatusInvalidParameter, 0};
  ++transfers_;
  if (transfers_ == failAt_) return {failStatus_, 0};
  const uint32_t moved = transfers_ == shortAt_ && shortBytes_ < length ? shortBytes_ : length;
  const uint32_t sectors = (moved + kDiskSectorBytes - 1) / kDiskSectorBytes;
  std::vector<uint8_t> bounce(size_t{sectors} * kDiskSectorBytes);
  if (sectors > 0 && !ReadSectors(byteOffset / kDiskSectorBytes, sectors, bounce.data())) {
    return {kStatusDeviceDataError, 0};
  }
  if (moved > 0) std::memcpy(buffer, bounce.data(), moved);
  return {kStatusSuccess, moved};
}

IoAnswer Disk::Write(uint64_t byteOffset, uint32_t length, const void* buffer) {
  HoldIfChosen({true, byteOffset, length});
  std::lock_guard<std::mutex> lock(mutex_);
  if (!CheckRange(byteOffset, length, ByteLength())) return {kStatusInvalidParameter, 0};
  ++transfers_;
  if (transfers_ == failAt_) return {failStatus_, 0};
  // A short write moves whole sectors only: a disk never writes half of one.
  const uint32_t moved = transfers_ == shortAt_ && shortBytes_ < length
                             ? shortBytes_ / kDiskSectorBytes * kDiskSectorBytes
                             : length;
  if (moved > 0 && !WriteSectors(byteOffset / kDiskSectorBytes, moved / kDiskSectorBytes,
                                 static_cast<const uint8_t*>(buffer))) {
    return {kStatusDeviceDataError, 0};
  }
  return {kStatusSuccess, moved};
}

bool Volume::CheckRange(uint64_t byteOffset, uint32_t length) const {
  uint64_t end = 0;
  return byteOffset % kDiskSectorBytes == 0 && length % kDiskSectorBytes == 0 &&
         CheckedAdd<uint64_t>(byteOffset, length, &end) && end <= ByteLength();
}

IoAnswer Volume::Read(uint64_t byteOffset, uint32_t length, void* buffer) {
  // A transfer that passes the volume's end fails whole, as NT fails it.
  if (!CheckRange(byteOffset, length)) return {kStatusInvalidParameter, 0};
  return disk_->Read(partition_.StartByte() + byteOffset, length, buffer);
}

IoAnswer Volume::Write(uint64_t byteOffset, uint32_t length, const void* buffer) {
  if (!CheckRange(byteOffset, length)) return {kStatusInvalidParameter, 0};
  return disk_->Write(partition_.StartByte() + byteOffset, length, buffer);
}

}  // namespace vh::storage
