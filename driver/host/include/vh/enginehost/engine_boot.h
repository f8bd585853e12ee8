// The one boot sequence of the engine outside Windows, in the boot loader's
// order: the entry routine with the service key, then PnP brings each volume
// up (AddDevice, START_DEVICE, IOCTL_VOLUME_ONLINE), then the
// reinitialisation rounds that wait for \SystemRoot. Teardown is the
// machine switching off: system shutdown, the filters removed, what start-up
// took given back and the engine's driver-wide references forgotten.
//
// Each step answers its status, so a test can stop between steps or check
// them; hosts that only want a running engine call Boot.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "vh/engine/engine_entry.h"
#include "vh/storage/installed_machine.h"

namespace vh::enginehost {

class EngineBoot {
 public:
  EngineBoot() = default;
  EngineBoot(const EngineBoot&) = delete;
  EngineBoot& operator=(const EngineBoot&) = delete;

  // A new driver object and the entry routine with `serviceKey`.
  NTSTATUS Load(std::u16string_view serviceKey);
  // AddDevice on `volume`, then START_DEVICE to the top of its stack.
  NTSTATUS Attach(PDEVICE_OBJECT volume);
  // IOCTL_VOLUME_ONLINE to the top of the volume's stack.
  static NTSTATUS Online(PDEVICE_OBJECT volume);
  // Attach, then Online.
  NTSTATUS Arrive(PDEVICE_OBJECT volume);
  // Partition `partition` of the machine's disk arrives.
  NTSTATUS Arrive(storage::InstalledMachine& machine, uint32_t partition);
  // Runs the reinitialisation rounds the engine registered.
  static void Reinitialise();

  // The whole boot on an installed machine: Load with its service key, the
  // protected volume and then every other one, the reinitialisation rounds.
  // A failing step answers its status and stops there.
  NTSTATUS Boot(storage::InstalledMachine& machine);

  // System shutdown (when the control device is up), PnP removal of the
  // engine's filter on each of `volumes`, EngineTeardown, and the engine's
  // references reset. Nothing but the reset when the engine never loaded.
  void TearDown(const std::vector<PDEVICE_OBJECT>& volumes);
  // The same over the machine's partitions 1-4.
  void TearDown(storage::InstalledMachine* machine);

  PDRIVER_OBJECT Driver() const { return driver_; }

 private:
  PDRIVER_OBJECT driver_ = nullptr;
  std::u16string serviceKey_;  // the engine's copy of the key may point into it
};

}  // namespace vh::enginehost
