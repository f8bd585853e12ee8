// The snapshot engine hosted in this process: an installed machine (disk
// image, installer, storage devices, "Parameter" record), the engine loaded
// and every volume brought online as at boot, and its control device
// reachable with exactly the bytes a user-mode program would send.
//
// The kernel layer is process-wide, so at most one host lives at a time;
// starting one resets the layer.
#pragma once

#include <memory>
#include <string>

#include "hostkernel/user_io.h"
#include "vh/enginehost/engine_boot.h"
#include "vh/storage/installed_machine.h"

namespace vh::enginehost {

// The Win32 name of the engine's control device.
inline constexpr char16_t kEngineDeviceName[] = u"\\\\.\\QuorvelVH";

class EngineHost {
 public:
  // Builds the machine and boots the engine on it: entry routine with the
  // service key, AddDevice, START_DEVICE and IOCTL_VOLUME_ONLINE for the
  // protected volume and then every other one, and one reinitialisation
  // round. A failing step answers its status and leaves no host.
  static NTSTATUS Start(const storage::MachineOptions& options, std::unique_ptr<EngineHost>* out);
  // A protected C: of the installer's default size and nothing else.
  static NTSTATUS Start(std::unique_ptr<EngineHost>* out);

  // Shuts the engine down (as at system shutdown), removes its filters and
  // gives back what it took, then resets the kernel layer.
  ~EngineHost();
  EngineHost(const EngineHost&) = delete;
  EngineHost& operator=(const EngineHost&) = delete;

  // CreateFile + DeviceIoControl + CloseHandle on `device` as user mode
  // sees it (buffered copy-back, never more than outLen bytes).
  hk::UserIoResult Control(ULONG code, const void* in, ULONG inLen, void* out, ULONG outLen,
                           std::u16string_view device = kEngineDeviceName);

  storage::InstalledMachine& Machine() { return *machine_; }
  storage::Installation& Installed() { return machine_->Installed(); }

  // The engine header as it now stands on the image (first header location).
  NTSTATUS ReadHeaderOnImage(EngineHeader* header) const;

  // Tears the engine down now and answers what the kernel layer still holds
  // (empty when clean); the destructor then only resets the layer.
  std::string Stop();

 private:
  EngineHost() = default;
  void TearDown();

  std::unique_ptr<storage::InstalledMachine> machine_;
  EngineBoot boot_;
  bool stopped_ = false;
};

}  // namespace vh::enginehost
