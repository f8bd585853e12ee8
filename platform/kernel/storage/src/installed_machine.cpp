#include "vh/storage/installed_machine.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <system_error>

#include "hostkernel/control.h"

namespace vh::storage {

namespace {

// A folder of our own under the system's temporary folder: never one that
// exists already, since the installer overwrites its image.
bool MakeFolder(std::string* folder) {
  static std::atomic<unsigned> counter{0};
  std::random_device entropy;
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::filesystem::path path = std::filesystem::temp_directory_path() /
                                 ("vh-machine-" + std::to_string(now) + "-" +
                                  std::to_string(entropy()) + "-" + std::to_string(counter++));
    std::error_code error;
    if (std::filesystem::create_directory(path, error)) {
      *folder = path.string();
      return true;
    }
  }
  return false;
}

}  // namespace

NTSTATUS InstalledMachine::Build(const MachineOptions& options,
                                 std::unique_ptr<InstalledMachine>* out) {
  std::unique_ptr<InstalledMachine> machine(new InstalledMachine);
  InstallOptions install = options.install;
  if (install.imagePath.empty()) {
    if (!MakeFolder(&machine->folder_)) return STATUS_UNSUCCESSFUL;
    install.imagePath = (std::filesystem::path(machine->folder_) / "disk0.img").string();
  }
  Installation& installed = machine->installation_;
  Status status = Install(install, &installed);
  if (!IsSuccess(status)) return static_cast<NTSTATUS>(status);
  if (options.adjust) options.adjust(installed, options.adjustContext);

  NTSTATUS result = StorageStack::Create(*installed.disk, &machine->storage_);
  StorageStack& storage = *machine->storage_;
  PDEVICE_OBJECT device;
  if (NT_SUCCESS(result))
    result = storage.AddVolume(*installed.volume, installed.fs.get(), HotplugFlags{}, &device);
  if (NT_SUCCESS(result)) result = storage.AssignDriveLetter(1, install.driveLetter);
  if (NT_SUCCESS(result)) result = storage.LinkFolder(u"\\SystemRoot", 1, u"\\Windows");
  for (OtherVolume& other : installed.others) {
    if (!NT_SUCCESS(result)) break;
    result = storage.AddVolume(*other.volume, other.fs.get(), other.options.hotplug, &device);
    if (NT_SUCCESS(result)) {
      result = storage.AssignDriveLetter(other.volume->PartitionInfo().number,
                                         other.options.driveLetter);
    }
  }
  if (NT_SUCCESS(result) && options.mountManager) result = storage.AddMountManager();
  if (!NT_SUCCESS(result)) return result;

  machine->serviceKey_ = options.serviceKey;
  if (options.seedParameter) {
    const std::vector<uint8_t> bytes = installed.ParameterBytes();
    hk::SetRegistryValue(options.serviceKey, u"Parameter", REG_BINARY, bytes.data(), bytes.size());
  }
  *out = std::move(machine);
  return STATUS_SUCCESS;
}

InstalledMachine::~InstalledMachine() {
  storage_.reset();
  installation_.others.clear();
  installation_.fs.reset();
  installation_.volume.reset();
  installation_.disk.reset();  // closes the image before its folder goes
  if (!folder_.empty()) {
    std::error_code ignored;  // a left-over image is only clutter
    std::filesystem::remove_all(folder_, ignored);
  }
}

}  // namespace vh::storage
