// One call to an installed machine for tests and the main job: disk 0 as an
// image in a fresh temporary folder, the test installer run on it, the disk,
// volume and file-system devices created, drive letters and \SystemRoot
// registered, the mount manager present, and the "Parameter" record seeded under the engine's
// service key. The kernel layer must be reset (or fresh) and is left for the caller to tear down
// after this object is gone.
#pragma once

#include <memory>
#include <string>

#include "vh/storage/installer.h"
#include "vh/storage/storage_stack.h"

namespace vh::storage {

inline constexpr char16_t kEngineServiceKey[] =
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\Varnholt";

struct MachineOptions {
  InstallOptions install;  // imagePath is chosen by the machine when empty
  std::u16string serviceKey = kEngineServiceKey;
  bool seedParameter = true;
  bool mountManager = true;  // \Device\MountPointManager (StorageStack::AddMountManager)
  // Called after the installer and before the record is seeded, to edit the
  // image or the record (decoy locations, broken headers, ...).
  void (*adjust)(Installation& installation, void* context) = nullptr;
  void* adjustContext = nullptr;
};

class InstalledMachine {
 public:
  static NTSTATUS Build(const MachineOptions& options, std::unique_ptr<InstalledMachine>* out);
  // Deletes the devices, then the image and its folder.
  ~InstalledMachine();
  InstalledMachine(const InstalledMachine&) = delete;
  InstalledMachine& operator=(const InstalledMachine&) = delete;

  Installation& Installed() { return installation_; }
  StorageStack& Storage() { return *storage_; }
  // The protected volume's device (partition 1), below any filter.
  PDEVICE_OBJECT ProtectedVolume() const { return storage_->VolumeDevice(1); }
  PDEVICE_OBJECT Disk0() const { return storage_->DiskDevice(); }
  const std::string& Folder() const { return folder_; }
  const std::u16string& ServiceKey() const { return serviceKey_; }

 private:
  InstalledMachine() = default;

  std::string folder_;
  std::u16string serviceKey_;
  Installation installation_;
  std::unique_ptr<StorageStack> storage_;  // destroyed before the installation it serves
};

}  // namespace vh::storage
