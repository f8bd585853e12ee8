// A small file-system model per volume: the boot sector's geometry, a free
// cluster bitmap and named files made of cluster runs. It answers the
// file-system control codes the engine sends with the bytes NTFS and FAT32
// give, and keeps allocation apart from data: allocating or freeing clusters
// never writes them, as in a real file system.
//
// Clusters are numbered as the volume bitmap and retrieval pointers number
// them (LCN): LCN 0 lies at DataStartSector, which on FAT32 is cluster 2.
//
// Every operation is atomic under the model's lock (the engine queries the
// bitmap while workloads allocate); records returned by Find() stay valid
// until their file is deleted.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vh/storage/disk.h"
#include "vh/storage/status.h"

namespace vh::storage {

inline constexpr uint32_t kVolumeBitmapHeadBytes = 16;     // {StartingLcn, BitmapSize}
inline constexpr uint32_t kRetrievalHeadBytes = 16;        // {ExtentCount, pad, StartingVcn}
inline constexpr uint32_t kRetrievalExtentBytes = 16;      // {NextVcn, Lcn}
inline constexpr uint32_t kMarkHandleProtectClusters = 1;  // MARK_HANDLE_INFO.HandleInfo

inline constexpr uint32_t kFileAttributeDirectory = 0x10;
inline constexpr uint32_t kFileAttributeArchive = 0x20;
inline constexpr uint32_t kFileAttributeSparse = 0x200;
inline constexpr uint32_t kFileAttributeCompressed = 0x800;

enum class FileSystemKind : uint8_t { kNtfs = 7, kFat32 = 0x0B };

struct FormatOptions {
  FileSystemKind kind = FileSystemKind::kNtfs;
  uint32_t sectorsPerCluster = 8;
  // What the boot sector claims; the volume itself always has 512-byte
  // sectors, so any other value describes a volume the engine must refuse.
  uint16_t bootSectorBytesPerSector = 512;
  uint16_t fatReservedSectors = 32;
  uint8_t fatCount = 2;
};

struct Geometry {
  FileSystemKind kind = FileSystemKind::kNtfs;
  uint32_t sectorsPerCluster = 0;
  uint64_t dataStartSector = 0;  // volume sector of LCN 0
  uint64_t volumeSectors = 0;
  uint64_t clusterCount = 0;
  uint32_t fatSectors = 0;  // FAT32: sectors per FAT
};

struct ClusterRun {
  int64_t lcn = 0;  // -1: not allocated (a sparse or compressed hole)
  uint64_t clusters = 0;
};

struct FileRecord {
  std::u16string path;  // "\dir\name", compared without regard to ASCII case
  uint32_t attributes = kFileAttributeArchive;
  uint64_t size = 0;
  std::vector<ClusterRun> runs;
  bool pinned = false;  // FSCTL_MARK_HANDLE with protect-clusters

  uint64_t AllocatedClusters() const;
};

// One piece of a file range on the volume.
struct SectorRun {
  uint64_t volumeSector = 0;
  uint64_t sectors = 0;
};

class FileSystemModel {
 public:
  // Writes the boot sector to volume sector 0 and sets up an empty bitmap
  // with the file system's own metadata allocated.
  static Status Format(Volume& volume, const FormatOptions& options,
                       std::unique_ptr<FileSystemModel>* out);

  const Geometry& GetGeometry() const { return geometry_; }
  Volume& GetVolume() const { return *volume_; }
  uint64_t ClusterToSector(uint64_t lcn) const {
    return geometry_.dataStartSector + lcn * geometry_.sectorsPerCluster;
  }

  // Allocation state.
  bool IsAllocated(uint64_t lcn) const;
  uint64_t FreeClusters() const;
  Status AllocateRun(uint64_t lcn, uint64_t count);  // every cluster must be free
  Status FreeRun(uint64_t lcn, uint64_t count);      // every cluster must be allocated
  // First fit at or after `from`; STATUS_DISK_FULL when no run is long enough.
  Status FindFreeRun(uint64_t count, uint64_t from, uint64_t* lcn) const;

  // Files. Creating allocates the runs; deleting frees them; neither writes data.
  Status CreateDirectory(const std::u16string& path);
  Status CreateFile(const std::u16string& path, uint64_t size, const std::vector<ClusterRun>& runs,
                    uint32_t attributes = kFileAttributeArchive);
  Status CreateContiguousFile(const std::u16string& path, uint64_t size, uint64_t* firstLcn);
  Status DeleteFile(const std::u16string& path);
  FileRecord* Find(const std::u16string& path);
  const FileRecord* Find(const std::u16string& path) const;
  // Every file record; for inspection in tests, not while others change files.
  const std::list<FileRecord>& Files() const { return files_; }

  // A byte range of a file as volume sector runs (sector-aligned range inside
  // the allocation; holes refuse).
  Status MapFileRange(const FileRecord& file, uint64_t byteOffset, uint64_t length,
                      std::vector<SectorRun>* runs) const;
  // File data straight through the volume window, for setting images up.
  Status WriteFileData(const FileRecord& file, uint64_t byteOffset, const void* data,
                       uint64_t length);
  Status ReadFileData(const FileRecord& file, uint64_t byteOffset, void* data, uint64_t length);

  // FSCTL_GET_VOLUME_BITMAP: in {i64 StartingLcn}; out VOLUME_BITMAP_BUFFER.
  IoAnswer GetVolumeBitmap(const void* in, uint32_t inLength, void* out, uint32_t outLength) const;
  // Runs on the caller's thread once each bitmap answer is filled, before it
  // returns: a test acts while the caller is between its look and its use.
  void OnVolumeBitmapAnswered(std::function<void()> hook) { bitmapAnswered_ = std::move(hook); }
  // FSCTL_GET_RETRIEVAL_POINTERS: in {i64 StartingVcn}; out RETRIEVAL_POINTERS_BUFFER.
  IoAnswer GetRetrievalPointers(const FileRecord& file, const void* in, uint32_t inLength,
                                void* out, uint32_t outLength) const;
  // FSCTL_MARK_HANDLE on a file; `volumeHandleOfThisVolume` is the device
  // layer's check of the record's volume handle.
  Status MarkHandle(FileRecord& file, bool volumeHandleOfThisVolume, uint32_t handleInfo);
  Status LockVolume();
  Status UnlockVolume();
  Status DismountVolume();
  bool IsLocked() const;
  bool IsDismounted() const;

 private:
  std::function<void()> bitmapAnswered_;
  explicit FileSystemModel(Volume& volume) : volume_(&volume) {}
  Status WriteBootSector(const FormatOptions& options);
  bool RangeInside(uint64_t lcn, uint64_t count) const;
  void SetBits(uint64_t lcn, uint64_t count, bool value);
  Status AddFile(FileRecord record);
  Status TransferFileData(bool write, const FileRecord& file, uint64_t byteOffset, uint8_t* data,
                          uint64_t length);

  mutable std::recursive_mutex mutex_;
  Volume* volume_;
  Geometry geometry_;
  std::vector<uint8_t> bitmap_;  // bit i = byte i / 8, bit i % 8; 1 = in use
  uint64_t freeClusters_ = 0;
  // A list: records handed out by Find() must survive other files' creation.
  std::list<FileRecord> files_;
  bool locked_ = false;
  bool dismounted_ = false;
};

}  // namespace vh::storage
