#include "vh/storage/file_system.h"

#include <algorithm>
#include <cstring>

#include "vh/checked.h"
#include "vh/storage/byte_order.h"

namespace vh::storage {

namespace {

constexpr uint64_t kNtfsMetadataSectors = 2048;  // boot file and MFT zone at the start

char16_t UpcaseAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? c - (u'a' - u'A') : c; }

std::u16string Normalise(const std::u16string& path) {
  std::u16string out;
  out.reserve(path.size() + 1);
  if (path.empty() || path[0] != u'\\') out.push_back(u'\\');
  for (const char16_t c : path) out.push_back(UpcaseAscii(c));
  return out;
}

void PutText(uint8_t* p, const char* text) { std::memcpy(p, text, std::strlen(text)); }

}  // namespace

uint64_t FileRecord::AllocatedClusters() const {
  uint64_t total = 0;
  for (const auto& run : runs) total += run.clusters;
  return total;
}

Status FileSystemModel::Format(Volume& volume, const FormatOptions& options,
                               std::unique_ptr<FileSystemModel>* out) {
  const uint32_t spc = options.sectorsPerCluster;
  if (spc == 0 || spc > 128 || (spc & (spc - 1)) != 0) return kStatusInvalidParameter;
  std::unique_ptr<FileSystemModel> fs(new FileSystemModel(volume));
  Geometry& g = fs->geometry_;
  g.kind = options.kind;
  g.sectorsPerCluster = spc;
  g.volumeSectors = volume.SectorCount();
  if (options.kind == FileSystemKind::kNtfs) {
    // NTFS keeps a copy of its boot sector in the last sector, outside the clusters.
    g.dataStartSector = 0;
    g.clusterCount = (g.volumeSectors - 1) / spc;
  } else {
    if (options.fatCount == 0) return kStatusInvalidParameter;
    const uint64_t roughClusters = g.volumeSectors / spc;
    const uint64_t fatSectors = ((roughClusters + 2) * 4 + kDiskSectorBytes - 1) / kDiskSectorBytes;
    g.fatSectors = static_cast<uint32_t>(fatSectors);
    g.dataStartSector = options.fatReservedSectors + uint64_t{options.fatCount} * fatSectors;
    if (g.dataStartSector >= g.volumeSectors) return kStatusInvalidParameter;
    g.clusterCount = (g.volumeSectors - g.dataStartSector) / spc;
  }
  if (g.clusterCount < 16 || g.volumeSectors > 0xFFFFFFFFull) return kStatusInvalidParameter;
  fs->bitmap_.assign((g.clusterCount + 7) / 8, 0);
  fs->freeClusters_ = g.clusterCount;

  Status status = fs->WriteBootSector(options);
  if (!IsSuccess(status)) return status;
  if (options.kind == FileSystemKind::kNtfs) {
    const uint64_t metadata = std::min<uint64_t>(kNtfsMetadataSectors / spc, g.clusterCount / 2);
    status = fs->CreateFile(u"\\$Boot", metadata * spc * kDiskSectorBytes, {{0, metadata}});
  } else {
    FileRecord root;
    root.path.push_back(u'\\');  // the root directory, "\"
    root.attributes = kFileAttributeDirectory;
    root.runs = {{0, 1}};  // the root directory is cluster 2, LCN 0
    status = fs->AllocateRun(0, 1);
    if (IsSuccess(status)) status = fs->AddFile(std::move(root));
  }
  if (!IsSuccess(status)) return status;
  *out = std::move(fs);
  return kStatusSuccess;
}

// The fields the engine reads: "NTFS" at 3 or "FAT32" at 0x52, bytes per
// sector at 0x0B, sectors per cluster at 0x0D, then the kind's own fields.
Status FileSystemModel::WriteBootSector(const FormatOptions& options) {
  uint8_t boot[kDiskSectorBytes] = {};
  const Geometry& g = geometry_;
  boot[0] = 0xEB;
  boot[2] = 0x90;
  PutLe16(boot + 0x0B, options.bootSectorBytesPerSector);
  boot[0x0D] = static_cast<uint8_t>(g.sectorsPerCluster);
  boot[0x15] = 0xF8;  // fixed disk
  PutLe16(boot + 0x18, 63);
  PutLe16(boot + 0x1A, 255);
  PutLe32(boot + 0x1C, static_cast<uint32_t>(volume_->PartitionInfo().startSector));
  if (g.kind == FileSystemKind::kNtfs) {
    boot[1] = 0x52;
    PutText(boot + 3, "NTFS    ");
    boot[0x24] = 0x80;
    PutLe64(boot + 0x28, g.volumeSectors - 1);  // total sectors, backup boot sector excluded
    PutLe64(boot + 0x30, g.clusterCount / 3);   // $MFT, informational
    PutLe64(boot + 0x38, g.clusterCount / 2);   // $MFTMirr, informational
    boot[0x40] = 0xF6;                          // 1,024-byte file records
    boot[0x44] = 0x01;
  } else {
    boot[1] = 0x58;
    PutText(boot + 3, "MSWIN4.1");
    PutLe16(boot + 0x0E, options.fatReservedSectors);
    boot[0x10] = options.fatCount;
    PutLe32(boot + 0x20, static_cast<uint32_t>(g.volumeSectors));  // 0x13 stays 0 on FAT32
    PutLe32(boot + 0x24, g.fatSectors);
    PutLe32(boot + 0x2C, 2);  // root directory cluster
    PutLe16(boot + 0x30, 1);  // FSInfo sector
    PutLe16(boot + 0x32, 6);  // backup boot sector
    boot[0x40] = 0x80;
    boot[0x42] = 0x29;
    PutText(boot + 0x47, "NO NAME    ");
    PutText(boot + 0x52, "FAT32   ");
  }
  boot[510] = 0x55;
  boot[511] = 0xAA;
  const IoAnswer answer = volume_->Write(0, sizeof boot, boot);
  return answer.status;
}

bool FileSystemModel::RangeInside(uint64_t lcn, uint64_t count) const {
  uint64_t end = 0;
  return count > 0 && CheckedAdd(lcn, count, &end) && end <= geometry_.clusterCount;
}

bool FileSystemModel::IsAllocated(uint64_t lcn) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return lcn < geometry_.clusterCount && (bitmap_[lcn / 8] >> (lcn % 8) & 1) != 0;
}

void FileSystemModel::SetBits(uint64_t lcn, uint64_t count, bool value) {
  for (uint64_t i = lcn; i < lcn + count; ++i) {
    const auto mask = static_cast<uint8_t>(1u << (i % 8));
    bitmap_[i / 8] = value ? (bitmap_[i / 8] | mask) : (bitmap_[i / 8] & ~mask);
  }
}

Status FileSystemModel::AllocateRun(uint64_t lcn, uint64_t count) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!RangeInside(lcn, count)) return kStatusInvalidParameter;
  for (uint64_t i = lcn; i < lcn + count; ++i) {
    if (IsAllocated(i)) return kStatusAccessDenied;
  }
  SetBits(lcn, count, true);
  freeClusters_ -= count;
  return kStatusSuccess;
}

Status FileSystemModel::FreeRun(uint64_t lcn, uint64_t count) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!RangeInside(lcn, count)) return kStatusInvalidParameter;
  for (uint64_t i = lcn; i < lcn + count; ++i) {
    if (!IsAllocated(i)) return kStatusInvalidParameter;
  }
  SetBits(lcn, count, false);
  freeClusters_ += count;
  return kStatusSuccess;
}

Status FileSystemModel::FindFreeRun(uint64_t count, uint64_t from, uint64_t* lcn) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (count == 0) return kStatusInvalidParameter;
  uint64_t runStart = from;
  uint64_t runLength = 0;
  for (uint64_t i = from; i < geometry_.clusterCount; ++i) {
    if (IsAllocated(i)) {
      runLength = 0;
      runStart = i + 1;
      continue;
    }
    if (++runLength == count) {
      *lcn = runStart;
      return kStatusSuccess;
    }
  }
  return kStatusDiskFull;
}

Status FileSystemModel::AddFile(FileRecord record) {
  record.path = Normalise(record.path);
  if (Find(record.path) != nullptr) return kStatusObjectNameCollision;
  files_.push_back(std::move(record));
  return kStatusSuccess;
}

Status FileSystemModel::CreateDirectory(const std::u16string& path) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  FileRecord dir;
  dir.path = path;
  dir.attributes = kFileAttributeDirectory;
  return AddFile(std::move(dir));
}

Status FileSystemModel::CreateFile(const std::u16string& path, uint64_t size,
                                   const std::vector<ClusterRun>& runs, uint32_t attributes) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Find(path) != nullptr) return kStatusObjectNameCollision;
  FileRecord file;
  file.path = path;
  file.attributes = attributes;
  file.size = size;
  // Physically adjacent runs are one extent, as the file system would record them.
  for (const auto& run : runs) {
    if (run.clusters == 0 || run.lcn < -1) return kStatusInvalidParameter;
    if (!file.runs.empty()) {
      auto& last = file.runs.back();
      const bool bothHoles = last.lcn == -1 && run.lcn == -1;
      const bool adjacent =
          last.lcn >= 0 && run.lcn >= 0 &&
          static_cast<uint64_t>(last.lcn) + last.clusters == static_cast<uint64_t>(run.lcn);
      if (bothHoles || adjacent) {
        last.clusters += run.clusters;
        continue;
      }
    }
    file.runs.push_back(run);
  }
  uint64_t allocatedBytes = 0;
  if (!CheckedMul<uint64_t>(file.AllocatedClusters(),
                            uint64_t{geometry_.sectorsPerCluster} * kDiskSectorBytes,
                            &allocatedBytes) ||
      size > allocatedBytes) {
    return kStatusInvalidParameter;
  }
  size_t done = 0;
  Status status = kStatusSuccess;
  for (; done < file.runs.size(); ++done) {
    const auto& run = file.runs[done];
    if (run.lcn < 0) continue;
    status = AllocateRun(static_cast<uint64_t>(run.lcn), run.clusters);
    if (!IsSuccess(status)) break;
  }
  if (!IsSuccess(status)) {
    for (size_t i = 0; i < done; ++i) {
      if (file.runs[i].lcn >= 0)
        (void)FreeRun(static_cast<uint64_t>(file.runs[i].lcn), file.runs[i].clusters);
    }
    return status;
  }
  return AddFile(std::move(file));
}

Status FileSystemModel::CreateContiguousFile(const std::u16string& path, uint64_t size,
                                             uint64_t* firstLcn) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const uint64_t clusterBytes = uint64_t{geometry_.sectorsPerCluster} * kDiskSectorBytes;
  const uint64_t clusters = std::max<uint64_t>(1, (size + clusterBytes - 1) / clusterBytes);
  uint64_t lcn = 0;
  Status status = FindFreeRun(clusters, 0, &lcn);
  if (!IsSuccess(status)) return status;
  status = CreateFile(path, size, {{static_cast<int64_t>(lcn), clusters}});
  if (IsSuccess(status) && firstLcn != nullptr) *firstLcn = lcn;
  return status;
}

Status FileSystemModel::DeleteFile(const std::u16string& path) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const std::u16string key = Normalise(path);
  auto it = std::find_if(files_.begin(), files_.end(),
                         [&](const FileRecord& f) { return f.path == key; });
  if (it == files_.end()) return kStatusObjectNameNotFound;
  for (const auto& run : it->runs) {
    if (run.lcn >= 0) (void)FreeRun(static_cast<uint64_t>(run.lcn), run.clusters);
  }
  files_.erase(it);
  return kStatusSuccess;
}

FileRecord* FileSystemModel::Find(const std::u16string& path) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const std::u16string key = Normalise(path);
  for (auto& f : files_) {
    if (f.path == key) return &f;
  }
  return nullptr;
}

const FileRecord* FileSystemModel::Find(const std::u16string& path) const {
  return const_cast<FileSystemModel*>(this)->Find(path);
}

Status FileSystemModel::MapFileRange(const FileRecord& file, uint64_t byteOffset, uint64_t length,
                                     std::vector<SectorRun>* runs) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  runs->clear();
  const uint64_t spc = geometry_.sectorsPerCluster;
  uint64_t end = 0;
  if (byteOffset % kDiskSectorBytes != 0 || length % kDiskSectorBytes != 0 ||
      !CheckedAdd(byteOffset, length, &end) ||
      end > file.AllocatedClusters() * spc * kDiskSectorBytes) {
    return kStatusInvalidParameter;
  }
  uint64_t sector = byteOffset / kDiskSectorBytes;  // file sector
  uint64_t remaining = length / kDiskSectorBytes;
  uint64_t runFirst = 0;  // first file sector of the run
  for (const auto& run : file.runs) {
    const uint64_t runSectors = run.clusters * spc;
    if (remaining > 0 && sector < runFirst + runSectors) {
      if (run.lcn < 0) return kStatusInvalidParameter;
      const uint64_t inRun = sector - runFirst;
      const uint64_t take = std::min(remaining, runSectors - inRun);
      runs->push_back({ClusterToSector(static_cast<uint64_t>(run.lcn)) + inRun, take});
      sector += take;
      remaining -= take;
    }
    runFirst += runSectors;
  }
  return remaining == 0 ? kStatusSuccess : kStatusInvalidParameter;
}

Status FileSystemModel::TransferFileData(bool write, const FileRecord& file, uint64_t byteOffset,
                                         uint8_t* data, uint64_t length) {
  std::vector<SectorRun> runs;
  Status status = MapFileRange(file, byteOffset, length, &runs);
  for (const auto& run : runs) {
    if (!IsSuccess(status)) break;
    const uint64_t bytes = run.sectors * kDiskSectorBytes;
    if (bytes > 0xFFFFFFFFull) return kStatusInvalidParameter;
    status = volume_
                 ->Transfer(write, run.volumeSector * kDiskSectorBytes,
                            static_cast<uint32_t>(bytes), data)
                 .status;
    data += bytes;
  }
  return status;
}

Status FileSystemModel::WriteFileData(const FileRecord& file, uint64_t byteOffset, const void* data,
                                      uint64_t length) {
  // The transfer only reads the buffer when it writes.
  return TransferFileData(true, file, byteOffset,
                          const_cast<uint8_t*>(static_cast<const uint8_t*>(data)), length);
}

Status FileSystemModel::ReadFileData(const FileRecord& file, uint64_t byteOffset, void* data,
                                     uint64_t length) {
  return TransferFileData(false, file, byteOffset, static_cast<uint8_t*>(data), length);
}

IoAnswer FileSystemModel::GetVolumeBitmap(const void* in, uint32_t inLength, void* out,
                                          uint32_t outLength) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (in == nullptr || inLength < 8) return {kStatusInvalidParameter, 0};
  if (out == nullptr || outLength < kVolumeBitmapHeadBytes) return {kStatusBufferTooSmall, 0};
  const auto start = static_cast<int64_t>(GetLe64(static_cast<const uint8_t*>(in)));
  if (start < 0 || static_cast<uint64_t>(start) >= geometry_.clusterCount) {
    return {kStatusInvalidParameter, 0};
  }
  // Both NTFS and FAT round the start down to a whole byte of the bitmap.
  const uint64_t first = static_cast<uint64_t>(start) & ~uint64_t{7};
  const uint64_t bitmapSize = geometry_.clusterCount - first;
  const uint64_t needed = (bitmapSize + 7) / 8;
  const uint64_t copied = std::min<uint64_t>(needed, outLength - kVolumeBitmapHeadBytes);
  auto* p = static_cast<uint8_t*>(out);
  PutLe64(p, first);
  PutLe64(p + 8, bitmapSize);
  // Bits past the last cluster stay clear in the stored bitmap.
  std::memcpy(p + kVolumeBitmapHeadBytes, bitmap_.data() + first / 8, copied);
  const Status status = copied < needed ? kStatusBufferOverflow : kStatusSuccess;
  if (bitmapAnswered_) bitmapAnswered_();
  return {status, static_cast<uint32_t>(kVolumeBitmapHeadBytes + copied)};
}

IoAnswer FileSystemModel::GetRetrievalPointers(const FileRecord& file, const void* in,
                                               uint32_t inLength, void* out,
                                               uint32_t outLength) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (in == nullptr || inLength < 8) return {kStatusInvalidParameter, 0};
  if (out == nullptr || outLength < kRetrievalHeadBytes + kRetrievalExtentBytes) {
    return {kStatusBufferTooSmall, 0};
  }
  const auto vcn = static_cast<int64_t>(GetLe64(static_cast<const uint8_t*>(in)));
  if (vcn < 0) return {kStatusInvalidParameter, 0};
  if (static_cast<uint64_t>(vcn) >= file.AllocatedClusters()) return {kStatusEndOfFile, 0};
  // The answer starts with the whole extent that holds the requested VCN.
  size_t index = 0;
  uint64_t runStart = 0;
  while (runStart + file.runs[index].clusters <= static_cast<uint64_t>(vcn)) {
    runStart += file.runs[index].clusters;
    ++index;
  }
  const size_t capacity = (outLength - kRetrievalHeadBytes) / kRetrievalExtentBytes;
  const size_t count = std::min(capacity, file.runs.size() - index);
  auto* p = static_cast<uint8_t*>(out);
  std::memset(p, 0, kRetrievalHeadBytes);
  PutLe32(p, static_cast<uint32_t>(count));
  PutLe64(p + 8, runStart);
  uint64_t nextVcn = runStart;
  for (size_t i = 0; i < count; ++i) {
    const auto& run = file.runs[index + i];
    nextVcn += run.clusters;
    uint8_t* extent = p + kRetrievalHeadBytes + i * kRetrievalExtentBytes;
    PutLe64(extent, nextVcn);
    PutLe64(extent + 8, static_cast<uint64_t>(run.lcn));
  }
  const Status status = index + count < file.runs.size() ? kStatusBufferOverflow : kStatusSuccess;
  return {status, static_cast<uint32_t>(kRetrievalHeadBytes + count * kRetrievalExtentBytes)};
}

Status FileSystemModel::MarkHandle(FileRecord& file, bool volumeHandleOfThisVolume,
                                   uint32_t handleInfo) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (geometry_.kind != FileSystemKind::kNtfs) return kStatusInvalidDeviceRequest;
  if (!volumeHandleOfThisVolume) return kStatusInvalidParameter;
  if ((handleInfo & kMarkHandleProtectClusters) != 0) file.pinned = true;
  return kStatusSuccess;
}

uint64_t FileSystemModel::FreeClusters() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return freeClusters_;
}

bool FileSystemModel::IsLocked() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return locked_;
}

bool FileSystemModel::IsDismounted() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return dismounted_;
}

Status FileSystemModel::LockVolume() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (locked_) return kStatusAccessDenied;
  locked_ = true;
  return kStatusSuccess;
}

Status FileSystemModel::UnlockVolume() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!locked_) return kStatusInvalidDeviceRequest;
  locked_ = false;
  return kStatusSuccess;
}

Status FileSystemModel::DismountVolume() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  dismounted_ = true;
  return kStatusSuccess;
}

}  // namespace vh::storage
