// Snapshots on an installed machine: the engine booted by the boot fixture,
// the create and delete requests' engine steps, a restorer that does what
// the pre-boot program does (rebuild the volume as it was at snapshot k from
// the on-disk header and maps alone), and a reboot after a power cut.
#pragma once

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "boot_fixture.h"
#include "engine_header.h"
#include "engine_lock.h"
#include "run_table.h"
#include "snapshot_create.h"
#include "snapshot_delete.h"

namespace vh::test {

constexpr uint32_t kProtectedVolume = 1;

// Seeds of the crash sweeps on a disk with a write cache: a few in CI, more
// through VH_CRASH_SEEDS. Variant 0 is not random: only the newest unflushed
// write lands, the reordering that a missing flush before it always exposes.
inline uint32_t CrashCacheSeeds() {
  const char* text = std::getenv("VH_CRASH_SEEDS");
  const long seeds = text != nullptr ? std::strtol(text, nullptr, 10) : 0;
  return seeds > 0 ? static_cast<uint32_t>(seeds) : 2;
}
constexpr uint32_t kBlockBytes = vh::kBlockBytes;

// What the restorer found for one block of snapshot k.
struct RestoredWindow {
  std::vector<uint8_t> bytes;  // the window as it was (free blocks: current bytes)
  std::vector<bool> free;      // free at the snapshot: its content is not kept
  std::string fault;           // empty when the maps made sense
};

// The pre-boot restorer's reading of the engine area, straight from the
// image: no engine state is used.
class Restorer {
 public:
  // `rawImage`: read the image file itself rather than through the disk
  // (faster; the same bytes whenever no write cache or cut is pending).
  // `asStated`: read what a cut left by the rules the engine README states
  // for readers that do not repair (used slots at or above the count are
  // no snapshots; a number without its slot moves those above it down);
  // otherwise every used slot must carry its own number.
  explicit Restorer(Installation& installed, bool rawImage = false, bool asStated = false)
      : installed_(installed) {
    if (rawImage) image_.open(installed.disk->Path(), std::ios::binary | std::ios::in);
    header_ = std::make_unique<EngineHeader>();
    loaded_ = ReadEngine(0, kEngineHeaderSectors, header_.get());
    count_ = header_->SnapshotCount;
    if (!asStated || count_ == 0) return;
    std::map<uint32_t, const SnapshotSlot*> below;
    bool twice = false;
    for (const SnapshotSlot& slot : header_->Slots) {
      if (slot.Used == 1 && slot.Number >= 1 && slot.Number < count_)
        twice = !below.emplace(slot.Number, &slot).second || twice;
    }
    if (twice) return;  // two slots claiming one number: no rule reads that
    ranked_.emplace();
    for (const auto& [number, slot] : below) ranked_->push_back(slot);
    count_ = static_cast<uint32_t>(ranked_->size()) + 1;
  }
  Restorer(const Restorer&) = delete;
  Restorer& operator=(const Restorer&) = delete;

  bool ReadVolume(uint64_t sector, uint64_t count, void* buffer) const {
    const uint64_t bytes = count * 512;
    if (!image_.is_open()) {
      return installed_.volume->Read(sector * 512, static_cast<uint32_t>(bytes), buffer).status ==
             storage::kStatusSuccess;
    }
    const uint64_t at = (installed_.volume->PartitionInfo().startSector + sector) * 512;
    image_.clear();
    image_.seekg(static_cast<std::streamoff>(at));
    image_.read(static_cast<char*>(buffer), static_cast<std::streamsize>(bytes));
    return image_.gcount() == static_cast<std::streamsize>(bytes);
  }
  // Engine sectors through the area's pieces, contiguous runs at a time.
  bool ReadEngine(uint64_t first, uint64_t count, void* buffer) const {
    auto* out = static_cast<uint8_t*>(buffer);
    uint64_t done = 0;
    while (done < count) {
      uint64_t start;
      if (installed_.EngineToVolumeSector(first + done, &start) != storage::kStatusSuccess)
        return false;
      uint64_t run = 1;
      uint64_t next;
      while (done + run < count &&
             installed_.EngineToVolumeSector(first + done + run, &next) ==
                 storage::kStatusSuccess &&
             next == start + run) {
        ++run;
      }
      if (!ReadVolume(start, run, out + done * 512)) return false;
      done += run;
    }
    return true;
  }
  bool Loaded() const { return loaded_; }
  const EngineHeader& Header() const { return *header_; }
  uint32_t Count() const { return count_; }

  // The descriptor of snapshot `number` (the newest lives in NewestSnapshot).
  const SnapshotSlot* Descriptor(uint32_t number) const {
    if (number == count_) return &header_->NewestSnapshot;
    if (ranked_) return number >= 1 && number <= ranked_->size() ? (*ranked_)[number - 1] : nullptr;
    const SnapshotSlot* found = nullptr;
    for (const SnapshotSlot& slot : header_->Slots) {
      if (slot.Used == 1 && slot.Number == number) {
        if (found != nullptr) return nullptr;  // two slots claim one number
        found = &slot;
      }
    }
    return found;
  }

  // Map entries of `blocks` blocks from `first` in the map of snapshot j.
  bool MapEntries(uint32_t j, uint64_t first, uint64_t blocks,
                  std::vector<uint32_t>* entries) const {
    entries->assign(blocks, 0);
    const EngineHeader& h = *header_;
    uint64_t mapSector;
    if (j == count_) {
      // A create cut short between its header writes: the live map is not
      // yet the newest snapshot's, and nothing changed since it.
      if (h.CountCopy < h.SnapshotCount) return true;
      mapSector = h.BlockMapFirst;
    } else {
      const SnapshotSlot* slot = Descriptor(j);
      if (slot == nullptr) return false;
      mapSector = slot->SavedMapSector;
    }
    const uint64_t firstSector = first / 128;
    const uint64_t lastSector = (first + blocks - 1) / 128;
    std::vector<uint32_t> raw((lastSector - firstSector + 1) * 128);
    if (!ReadEngine(mapSector + firstSector, lastSector - firstSector + 1, raw.data()))
      return false;
    for (uint64_t i = 0; i < blocks; ++i) (*entries)[i] = raw[first % 128 + i];
    return true;
  }

  bool ValidEntry(uint32_t e) const {
    if (e == 0 || e == kMapEntryFree) return true;
    const uint64_t spaceBlocks = (header_->SpaceLast - header_->SpaceFirst + 1) / 64;
    return e % 64 == 0 && e >= 64 && e < 0x80000000u && (e - 64) / 64 < spaceBlocks;
  }

  // Snapshot k's blocks first .. first + blocks - 1.
  RestoredWindow Restore(uint32_t k, uint64_t first, uint64_t blocks) const {
    RestoredWindow out;
    out.bytes.resize(blocks * kBlockBytes);
    out.free.assign(blocks, false);
    if (!ReadVolume(first * 64, blocks * 64, out.bytes.data())) {
      out.fault = "volume read failed";
      return out;
    }
    std::vector<bool> resolved(blocks, false);
    std::vector<uint32_t> entries;
    for (uint32_t j = k; j <= Count(); ++j) {
      if (!MapEntries(j, first, blocks, &entries)) {
        out.fault = "no map for snapshot " + std::to_string(j);
        return out;
      }
      for (uint64_t i = 0; i < blocks; ++i) {
        const uint32_t e = entries[i];
        if (resolved[i] || e == 0) continue;
        if (!ValidEntry(e)) {
          out.fault = "bad entry " + std::to_string(e);
          return out;
        }
        resolved[i] = true;
        if (e == kMapEntryFree) {
          out.free[i] = true;
          continue;
        }
        if (!ReadEngine(header_->SpaceFirst + e - 64, 64, out.bytes.data() + i * kBlockBytes)) {
          out.fault = "space read failed";
          return out;
        }
      }
    }
    return out;
  }

  // For every listed snapshot k (index k - 1) and block of the window: the
  // first nonzero entry of the maps k .. count (0: the block is as it is
  // now). What Restore does, for all snapshots in one pass of the maps.
  bool Resolve(uint64_t first, uint64_t blocks, std::vector<std::vector<uint32_t>>* out,
               std::string* fault) const {
    out->assign(Count(), std::vector<uint32_t>(blocks, 0));
    std::vector<uint32_t> entries;
    std::vector<uint32_t> above(blocks, 0);
    for (uint32_t j = Count(); j >= 1; --j) {
      if (!MapEntries(j, first, blocks, &entries)) {
        *fault = "no map for snapshot " + std::to_string(j);
        return false;
      }
      for (uint64_t i = 0; i < blocks; ++i) {
        if (!ValidEntry(entries[i])) {
          *fault = "bad entry " + std::to_string(entries[i]);
          return false;
        }
        if (entries[i] != 0) above[i] = entries[i];
      }
      (*out)[j - 1] = above;
    }
    return true;
  }

  bool ReadCopy(uint32_t entry, uint8_t* block) const {
    return ReadEngine(header_->SpaceFirst + entry - 64, 64, block);
  }

  // Space blocks named by the maps of the listed snapshots (whole maps);
  // `twice`, when given, gets those named by more than one map (each copy
  // belongs to one snapshot's map once every operation is done).
  std::set<uint32_t> Referenced(std::set<uint32_t>* twice = nullptr) const {
    std::set<uint32_t> out;
    const uint64_t mapSectors = header_->BlockMapLast - header_->BlockMapFirst + 1;
    std::vector<uint32_t> entries;
    for (uint32_t j = 1; j <= Count(); ++j) {
      if (!MapEntries(j, 0, mapSectors * 128, &entries)) continue;
      for (uint32_t e : entries) {
        if (e == 0 || e == kMapEntryFree || !ValidEntry(e)) continue;
        if (!out.insert((e - 64) / 64).second && twice != nullptr) twice->insert((e - 64) / 64);
      }
    }
    return out;
  }

  std::set<uint32_t> BitmapInUse() const {
    std::set<uint32_t> out;
    const uint64_t bytes = SpaceBitmapBytes(header_->SpaceFirst, header_->SpaceLast);
    std::vector<uint8_t> bits(bytes);
    if (!ReadEngine(header_->SpaceBitmapSector, bytes / 512, bits.data())) return out;
    for (uint32_t i = 0; i < bytes * 8; ++i) {
      if ((bits[i / 8] >> (i % 8)) & 1) out.insert(i);
    }
    return out;
  }

 private:
  Installation& installed_;
  std::unique_ptr<EngineHeader> header_;
  uint32_t count_ = 0;
  std::optional<std::vector<const SnapshotSlot*>> ranked_;  // read as stated: by rank
  bool loaded_ = false;
  mutable std::ifstream image_;
};

inline RecordGuid GuidFor(uint32_t serial) {
  RecordGuid g{};
  g.Data1 = 0x5EED0000u + serial;
  g.Data2 = 0x1234;
  return g;
}

class SnapshotTest : public BootTest {
 protected:
  // A 1 GiB protected volume (four map pages) on NTFS with 4 KB clusters.
  static MachineOptions Options(uint32_t lowWaterSectors = 0) {
    MachineOptions options;
    options.install.lowWaterSectors = lowWaterSectors;
    return options;
  }

  void BootMachine(const MachineOptions& options = Options()) {
    // The worker parks for a map change at its one-second tick at the
    // latest; the tests need not wait that long.
    hk::SetTimeScale(200);
    ASSERT_NO_FATAL_FAILURE(Boot(options));
  }

  PDEVICE_OBJECT Device() const { return Filter(kProtectedVolume); }
  PVolumeFilterExtension Ext() const { return Volume(kProtectedVolume); }

  // The engine steps of the create request (its rule checks and flush are
  // the control protocol's).
  NTSTATUS Create(uint32_t serial) {
    PDEVICE_OBJECT device = Device();
    PVolumeFilterExtension volume = Ext();
    if (volume->Header == nullptr) {
      NTSTATUS status = LoadEngineHeader(device);
      if (!NT_SUCCESS(status)) return status;
    }
    NTSTATUS status = CollectFreeRuns(device);
    if (!NT_SUCCESS(status)) return status;
    volume->EngineMode = EngineModeTracking;
    VolumeRequest request{};
    request.CreateTime.Year = 2026;
    std::snprintf(request.SnapshotName, sizeof request.SnapshotName, "snap %u", serial);
    request.SnapshotGuid = GuidFor(serial);
    EngineLock();
    PauseVolumeWorker(volume, 1);
    status = TakeSnapshot(device, &request);
    PauseVolumeWorker(volume, 0);
    EngineUnlock();
    FreeRunTable(&volume->FreeRuns);
    return status;
  }

  // The engine steps of the delete request.
  NTSTATUS Delete(uint32_t number) {
    PVolumeFilterExtension volume = Ext();
    EngineLock();
    PauseVolumeWorker(volume, 1);
    NTSTATUS status =
        number == 1 ? DropOldestSnapshot(Device()) : DeleteSnapshotSlot(Device(), number);
    PauseVolumeWorker(volume, 0);
    EngineUnlock();
    return status;
  }

  NTSTATUS Write(uint64_t byteOffset, std::vector<uint8_t>& data) {
    return WriteSectors(Device(), byteOffset, data);
  }

  storage::Disk& Disk0() { return *Installed().disk; }
  storage::FileSystemModel& Fs() { return *Installed().fs; }

  // Marks the clusters of blocks first .. first + count - 1 allocated.
  void AllocateBlocks(uint64_t first, uint64_t count) {
    const uint64_t perBlock = 64 / Fs().GetGeometry().sectorsPerCluster;
    ASSERT_EQ(Fs().AllocateRun(first * perBlock, count * perBlock), storage::kStatusSuccess);
  }
  void FreeBlocks(uint64_t first, uint64_t count) {
    const uint64_t perBlock = 64 / Fs().GetGeometry().sectorsPerCluster;
    ASSERT_EQ(Fs().FreeRun(first * perBlock, count * perBlock), storage::kStatusSuccess);
  }
  bool BlockAllocated(uint64_t block) {
    const uint64_t perBlock = 64 / Fs().GetGeometry().sectorsPerCluster;
    return Fs().IsAllocated(block * perBlock);
  }

  // The byte on disk 0 where engine sector `sector` lies.
  uint64_t EngineDiskByte(uint64_t sector) {
    uint64_t volumeSector = 0;
    EXPECT_EQ(Installed().EngineToVolumeSector(sector, &volumeSector), storage::kStatusSuccess);
    return (Installed().volume->PartitionInfo().startSector + volumeSector) * 512;
  }
  // The byte on disk 0 where volume block `block` starts.
  uint64_t VolumeDiskByte(uint64_t block) {
    return Installed().volume->PartitionInfo().StartByte() + block * kBlockBytes;
  }

  // The space full but for one free block: the first at or after where the
  // search for volume block `block`'s copy starts. That copy, or one that
  // searches from before it, takes it.
  void LeaveOneSpaceBlockFor(uint64_t block) {
    EngineLockedWorkerPaused locked(Ext());
    const EngineHeader* h = Ext()->Header;
    const uint64_t spaceBlocks = (h->SpaceLast - h->SpaceFirst + 1) / 64;
    const auto start = static_cast<ULONG>(spaceBlocks * block / (h->VolumeBytes / kBlockBytes));
    const ULONG left = RtlFindClearBits(&Ext()->SpaceBitmap, 1, start);
    ASSERT_TRUE(left != 0xFFFFFFFF && left >= start)
        << "no free space block after the search's start";
    RtlSetAllBits(&Ext()->SpaceBitmap);
    RtlClearBits(&Ext()->SpaceBitmap, left, 1);
  }

  // Writes queued for the worker and not yet taken.
  size_t QueuedWrites() {
    PVolumeFilterExtension volume = Ext();
    KIRQL irql;
    KeAcquireSpinLock(&volume->WriteQueueLock, &irql);
    size_t n = 0;
    for (PLIST_ENTRY e = volume->WriteQueue.Flink; e != &volume->WriteQueue; e = e->Flink) ++n;
    KeReleaseSpinLock(&volume->WriteQueueLock, irql);
    return n;
  }

  // Each (byte offset, data) written from its own thread, all queued in
  // this order behind the parked worker before it runs again: the worker
  // finds them waiting together. A write answered without queueing (a
  // failed allocation) does not stop the others. The answers, in order.
  std::vector<NTSTATUS> WriteQueuedTogether(
      std::vector<std::pair<uint64_t, std::vector<uint8_t>>> writes) {
    std::vector<NTSTATUS> answers(writes.size(), STATUS_PENDING);
    std::vector<std::atomic<bool>> done(writes.size());
    EngineLock();
    PauseVolumeWorker(Ext(), 1);
    std::vector<std::thread> writers;
    size_t expected = QueuedWrites();
    bool waited = true;
    for (size_t i = 0; i < writes.size() && waited; ++i) {
      writers.emplace_back([this, &answers, &writes, &done, i] {
        answers[i] = Write(writes[i].first, writes[i].second);
        done[i] = true;
      });
      waited = hk::testing::Eventually([&] { return QueuedWrites() == expected + 1 || done[i]; });
      if (!done[i]) ++expected;
    }
    PauseVolumeWorker(Ext(), 0);
    EngineUnlock();
    for (std::thread& t : writers) t.join();
    EXPECT_TRUE(waited) << "a write neither queued behind the parked worker nor answered";
    return answers;
  }

  // The power goes on a disk with a write cache: of the writes not flushed
  // at the cut, a random subset by (variant, cut) lands; variant 0 keeps
  // the newest alone.
  void CutCachedPower(uint32_t variant, uint64_t cut) {
    std::mt19937 random(variant * 7919u + static_cast<uint32_t>(cut));
    std::vector<bool> keep(Disk0().CachedWriteCount());
    for (size_t i = 0; i < keep.size(); ++i)
      keep[i] = variant == 0 ? i + 1 == keep.size() : (random() & 1) != 0;
    Disk0().CutPowerNow([&keep](size_t i) { return i < keep.size() && keep[i]; });
  }

  // The next boot after the power went: nothing written from now on (or
  // after the armed cut) reaches the image; the engine is shut down and
  // removed as the machine stops, and loads again from what persisted.
  void Reboot() {
    if (!Disk0().PowerIsCut()) Disk0().CutPowerAfterWrites({0, 0});
    ShutDownEngine();
    ASSERT_EQ(Disk0().Reload(), storage::kStatusSuccess);
    ASSERT_NO_FATAL_FAILURE(LoadEngine());
    ASSERT_NO_FATAL_FAILURE(ArriveVolume(kProtectedVolume));
    enginehost::EngineBoot::Reinitialise();
  }
};

}  // namespace vh::test
