// An installed machine booted the way Windows boots the engine: the driver
// loaded with its service key, a filter added to each volume (AddDevice,
// START_DEVICE, IOCTL_VOLUME_ONLINE), then the reinitialisation rounds.
// Teardown shuts the engine down, removes the filters and gives back what
// start-up took, so the kernel's leak check sees a clean machine.
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine.h"
#include "engine_state.h"
#include "hostkernel/call_and_wait.h"
#include "kernel_test.h"
#include "vh/enginehost/engine_boot.h"
#include "vh/storage/installed_machine.h"

namespace vh::test {

using storage::Installation;
using storage::InstalledMachine;
using storage::MachineOptions;

inline std::vector<std::string> EngineErrorLines() {
  std::vector<std::string> out;
  for (const std::string& line : hk::DbgLines()) {
    if (line.rfind("ERROR:QVR (", 0) == 0) out.push_back(line);
  }
  return out;
}

inline bool LogHas(const std::string& text) {
  for (const std::string& line : EngineErrorLines()) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

// A log line that ends with `tail` (the lines carry no newline).
inline bool LogHasLineEnding(const std::string& tail) {
  for (const std::string& line : EngineErrorLines()) {
    if (line.size() >= tail.size() &&
        line.compare(line.size() - tail.size(), tail.size(), tail) == 0)
      return true;
  }
  return false;
}

// Sends a request without buffers to `target` and waits for it.
inline NTSTATUS SendRequest(PDEVICE_OBJECT target, UCHAR major, UCHAR minor = 0,
                            const std::function<void(PIO_STACK_LOCATION)>& fill = {}) {
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IO_STATUS_BLOCK ioStatus{};
  PIRP irp = IoBuildSynchronousFsdRequest(major, target, nullptr, 0, nullptr, &event, &ioStatus);
  if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MinorFunction = minor;
  if (fill) fill(next);
  NTSTATUS status = hk::CallDriverAndWait(target, irp, &event, &ioStatus);
  return status;
}

inline NTSTATUS SendIoctl(PDEVICE_OBJECT target, ULONG code, PVOID output = nullptr,
                          ULONG outputLength = 0) {
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IO_STATUS_BLOCK ioStatus{};
  PIRP irp = IoBuildDeviceIoControlRequest(code, target, nullptr, 0, output, outputLength, FALSE,
                                           &event, &ioStatus);
  if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  NTSTATUS status = hk::CallDriverAndWait(target, irp, &event, &ioStatus);
  return status;
}

// A write to the top of a volume's stack. `answered` is what IoCallDriver
// returned (STATUS_PENDING when the engine queued it); the result is the
// write's final status.
inline NTSTATUS WriteSectors(PDEVICE_OBJECT target, ULONGLONG offset, std::vector<uint8_t>& data,
                             NTSTATUS* answered = nullptr) {
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IO_STATUS_BLOCK ioStatus{};
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  PIRP irp = IoBuildSynchronousFsdRequest(IRP_MJ_WRITE, target, data.data(),
                                          static_cast<ULONG>(data.size()), &at, &event, &ioStatus);
  if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  NTSTATUS status = IoCallDriver(target, irp);
  if (answered) *answered = status;
  if (status == STATUS_PENDING) {
    KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
    status = ioStatus.Status;
  }
  return status;
}

// Sector ranges, sorted and with touching or overlapping ranges joined, so
// two descriptions of the same sectors compare equal.
using Ranges = std::vector<std::pair<uint64_t, uint64_t>>;
inline Ranges Normalised(Ranges ranges) {
  std::sort(ranges.begin(), ranges.end());
  Ranges out;
  for (const auto& r : ranges) {
    if (!out.empty() && r.first <= out.back().second + 1) {
      out.back().second = std::max(out.back().second, r.second);
    } else {
      out.push_back(r);
    }
  }
  return out;
}

inline Ranges PassThroughRanges(PVolumeFilterExtension volume) {
  Ranges out;
  for (PassThroughChunk* chunk = volume->PassThroughList; chunk != nullptr; chunk = chunk->Next) {
    for (ULONG i = 0; i < chunk->Count; ++i) out.emplace_back(chunk->First[i], chunk->Last[i]);
  }
  return out;
}

// The sectors of a file of the model.
inline Ranges FileRanges(const storage::FileSystemModel& fs, const std::u16string& path) {
  Ranges out;
  const storage::FileRecord* record = fs.Find(path);
  if (record == nullptr) return out;
  const storage::Geometry& g = fs.GetGeometry();
  for (const storage::ClusterRun& run : record->runs) {
    if (run.lcn < 0) continue;
    uint64_t first = g.dataStartSector + static_cast<uint64_t>(run.lcn) * g.sectorsPerCluster;
    out.emplace_back(first, first + run.clusters * g.sectorsPerCluster - 1);
  }
  return out;
}

class BootTest : public hk::testing::KernelTest {
 public:
  // The installed header with `count` snapshots recorded.
  static void WithSnapshots(Installation& installed, uint8_t count) {
    EngineHeader header = *installed.header;
    header.SnapshotCount = count;
    header.CountCopy = count;
    installed.WriteEngineSectors(0, kEngineHeaderSectors, &header);
  }

  // A protected volume C: and a second fixed volume D:.
  static MachineOptions TwoVolumes() {
    MachineOptions options;
    storage::ExtraVolume d;
    d.driveLetter = u'D';
    options.install.extraVolumes.push_back(d);
    return options;
  }

 protected:
  void BuildMachine(const MachineOptions& options) {
    ASSERT_EQ(InstalledMachine::Build(options, &machine_), STATUS_SUCCESS);
  }

  // The entry routine, as the boot loader runs it: a new driver object and
  // the service key, at PASSIVE_LEVEL.
  void LoadEngine() {
    ASSERT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    const NTSTATUS status = boot_.Load(machine_->ServiceKey());
    driver_ = boot_.Driver();
    ASSERT_NE(driver_, nullptr);
    ASSERT_EQ(status, STATUS_SUCCESS);
  }

  // PnP brings a volume up: AddDevice, START_DEVICE, then the volume online.
  void ArriveVolume(uint32_t partition) {
    ASSERT_EQ(boot_.Arrive(*machine_, partition), STATUS_SUCCESS);
  }

  // The "Parameter" record as the installation now holds it.
  void SeedParameters() {
    const std::vector<uint8_t> bytes = Installed().ParameterBytes();
    hk::SetRegistryValue(machine_->ServiceKey(), u"Parameter", REG_BINARY, bytes.data(),
                         bytes.size());
  }

  // The whole boot: entry routine, every volume, one reinitialisation round.
  // `prepare` edits the installed machine before the engine loads.
  void Boot(const MachineOptions& options = TwoVolumes(),
            const std::function<void(Installation&)>& prepare = {}) {
    BuildMachine(options);
    if (prepare) {
      prepare(Installed());
      SeedParameters();
    }
    ASSERT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    ASSERT_EQ(boot_.Boot(*machine_), STATUS_SUCCESS);
    driver_ = boot_.Driver();
  }

  PDEVICE_OBJECT Filter(uint32_t partition) const {
    PDEVICE_OBJECT volume = machine_->Storage().VolumeDevice(partition);
    PDEVICE_OBJECT top = IoGetAttachedDevice(volume);
    return top == volume ? nullptr : top;
  }
  PVolumeFilterExtension Volume(uint32_t partition) const {
    PDEVICE_OBJECT filter = Filter(partition);
    return filter ? static_cast<PVolumeFilterExtension>(filter->DeviceExtension) : nullptr;
  }
  Installation& Installed() { return machine_->Installed(); }

  NTSTATUS Shutdown() { return SendRequest(EngineControlDevice, IRP_MJ_SHUTDOWN); }
  NTSTATUS Remove(uint32_t partition) {
    return SendRequest(Filter(partition), IRP_MJ_PNP, IRP_MN_REMOVE_DEVICE);
  }

  // The machine switched off, then the next one starts from a clean kernel.
  void TearDown() override {
    ShutDownEngine();
    machine_.reset();
    KernelTest::TearDown();
  }

  // System shutdown, every filter removed, what start-up took given back.
  void ShutDownEngine() {
    boot_.TearDown(machine_.get());
    driver_ = nullptr;
  }

  std::unique_ptr<InstalledMachine> machine_;
  enginehost::EngineBoot boot_;
  PDRIVER_OBJECT driver_ = nullptr;  // the loaded engine's, for the tests' own requests
};

}  // namespace vh::test
