// The emulated storage as device objects of the host kernel layer: a disk
// driver whose devices are disk 0 (\Device\Harddisk0\Partition0) and one
// device per volume (\Device\HarddiskVolumeN, N = partition number), and a
// file-system driver whose device is mounted on each formatted volume.
//
// Disk and volume devices are direct-I/O disk devices. They answer
// IRP_MJ_READ/WRITE/FLUSH_BUFFERS from the Disk and Volume windows and the
// storage, disk and mount-device control codes with the answers of
// control_answers.h, completing inline as a disk driver may.
//
// The file-system device takes every open of a name on its volume (the
// volume's VPB points to it): an empty name is a volume open, any other
// name a file or directory of the model. File and volume I/O leave it as new
// requests to the top of the volume's stack, so they pass through whatever
// filters are attached there (the engine's). It answers the file-system
// control codes (volume bitmap, retrieval pointers, mark handle, lock,
// unlock, dismount), FileBasic/FileStandardInformation and flushes.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hostkernel/ntkernel.h"
#include "vh/storage/control_answers.h"
#include "vh/storage/disk.h"
#include "vh/storage/file_system.h"

namespace vh::storage {

// How a disk or volume device completes its reads, writes, flushes and
// control requests: in the dispatch routine, or marked pending and then
// completed inline, from another thread, or from another thread at
// DISPATCH_LEVEL.
enum class StorageCompletion { kInline, kPendingInline, kOtherThread, kOtherThreadAtDispatch };

// Answers of one volume device that tests may change. A status other than
// success makes that control code fail with it (a hot-plug query that fails,
// a multi-disk volume's 0xC0000010 for the device number, a GPT disk's
// refusal of the MBR-only partition query).
struct VolumeKnobs {
  HotplugFlags hotplug;
  int32_t hotplugStatus = 0;
  int32_t deviceNumberStatus = 0;
  int32_t partitionInfoStatus = 0;
  uint32_t geometryBytesPerSector = kDiskSectorBytes;
  StorageCompletion completion = StorageCompletion::kInline;
  // Runs in the sender's thread when a PnP request (its minor code) reaches
  // the volume, before it is answered: a race test holds a removal there.
  std::function<void(uint8_t minor)> pnpReached;
};

// What reached a device that its stack could not serve, for tests to pin.
struct VolumeRecords {
  unsigned foreignFileSystemControls = 0;  // FSCTLs that reached the volume itself
  unsigned flushesWithoutFileObject = 0;   // refused by the file system
  unsigned creates = 0;                    // opens served by the file system
};

class StorageStack {
 public:
  // Creates the disk driver and disk 0's device. The disk must outlive the
  // stack; so must every volume and model added.
  static NTSTATUS Create(Disk& disk, std::unique_ptr<StorageStack>* out);
  // Deletes every device and link it made. Filters attached to its devices
  // must have detached first.
  ~StorageStack();
  StorageStack(const StorageStack&) = delete;
  StorageStack& operator=(const StorageStack&) = delete;

  // A volume device for one partition, named \Device\HarddiskVolumeN; with
  // a model, a file system is mounted on it.
  NTSTATUS AddVolume(Volume& volume, FileSystemModel* fs, const HotplugFlags& hotplug,
                     PDEVICE_OBJECT* device);
  // The \??\X: link and the mount manager's letter for the volume.
  NTSTATUS AssignDriveLetter(uint32_t partitionNumber, char16_t letter);
  // A name (\SystemRoot) for a folder of a volume: a link to the volume's
  // device name followed by the folder.
  NTSTATUS LinkFolder(const std::u16string& linkName, uint32_t partitionNumber,
                      const std::u16string& folder);

  // \Device\MountPointManager: volume arrival (queries the arriving
  // device's name), mount-point creation (links \DosDevices\X: itself, so a
  // second link of the same name collides) and deletion (answers the deleted
  // points). Letters are given on arrival only where a test asked for one.
  NTSTATUS AddMountManager();
  void GiveLetterOnArrival(const std::u16string& deviceName, char16_t letter);
  struct MountManagerRecords {
    std::vector<std::u16string> arrivals;      // names in the notifications
    std::vector<std::u16string> queriedNames;  // what the arriving devices answered
    std::vector<std::u16string> createdLinks;
    std::vector<std::u16string> deletedLinks;
  };
  MountManagerRecords MountManagerSeen() const;

  PDEVICE_OBJECT DiskDevice() const { return diskDevice_; }
  PDEVICE_OBJECT VolumeDevice(uint32_t partitionNumber) const;
  PDEVICE_OBJECT FileSystemDevice(uint32_t partitionNumber) const;
  std::u16string VolumeDeviceName(uint32_t partitionNumber) const;
  // Knobs and records of a volume device (disk 0's with number 0).
  VolumeKnobs& Knobs(uint32_t partitionNumber);
  VolumeRecords Records(uint32_t partitionNumber) const;

  struct DeviceContext;  // one per device; the dispatch routines' state

 private:
  StorageStack() = default;
  DeviceContext* ContextOf(uint32_t partitionNumber) const;
  DeviceContext* MountManagerContext() const;  // faults when there is none

  PDRIVER_OBJECT diskDriver_ = nullptr;
  PDRIVER_OBJECT fileSystemDriver_ = nullptr;
  PDEVICE_OBJECT diskDevice_ = nullptr;
  std::vector<std::unique_ptr<DeviceContext>> contexts_;
  std::vector<PDEVICE_OBJECT> devices_;  // in creation order
  std::vector<std::u16string> links_;
};

}  // namespace vh::storage
