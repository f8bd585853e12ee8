// An installed machine with the engine booted on it, for the engine's
// benchmarks (no test framework): requests sent and awaited, writes through
// IRPs of our own, and a clean shutdown that leaves the kernel empty.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "driver_entry.h"
#include "engine.h"
#include "engine_header.h"
#include "engine_lock.h"
#include "hostkernel/control.h"
#include "run_table.h"
#include "snapshot_create.h"
#include "vh/enginehost/engine_boot.h"
#include "vh/storage/installed_machine.h"

namespace vh::bench {

using Clock = std::chrono::steady_clock;
using storage::InstalledMachine;
using storage::MachineOptions;

inline NTSTATUS WriteDone(PDEVICE_OBJECT, PIRP, PVOID context) {
  KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;  // the IRP stays ours
}

// A write IRP of our own, freed as soon as it has completed.
class Writer {
 public:
  NTSTATUS Write(PDEVICE_OBJECT target, uint64_t offset, std::vector<uint8_t>& data) {
    PIRP irp = IoAllocateIrp(target->StackSize, FALSE);
    if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    PMDL mdl = IoAllocateMdl(data.data(), static_cast<ULONG>(data.size()), FALSE, FALSE, nullptr);
    if (mdl == nullptr) {
      IoFreeIrp(irp);
      return STATUS_INSUFFICIENT_RESOURCES;
    }
    MmBuildMdlForNonPagedPool(mdl);
    irp->MdlAddress = mdl;
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_WRITE;
    next->Parameters.Write.Length = static_cast<ULONG>(data.size());
    next->Parameters.Write.ByteOffset.QuadPart = static_cast<LONGLONG>(offset);
    IoSetCompletionRoutine(irp, WriteDone, &event, TRUE, TRUE, TRUE);
    IoCallDriver(target, irp);
    KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
    const NTSTATUS status = irp->IoStatus.Status;
    IoFreeMdl(irp->MdlAddress);
    irp->MdlAddress = nullptr;
    IoFreeIrp(irp);
    return status;
  }
};

// One installed machine with the engine booted on it.
class Machine {
 public:
  // The installer's smallest space unless `spaceBytes` says otherwise.
  // `prepare` runs on the installed disk before the engine boots.
  bool Boot(uint64_t volumeBytes, uint64_t spaceBytes = 0, const storage::ImageOptions& image = {},
            const std::function<bool(InstalledMachine&)>& prepare = nullptr) {
    hk::ResetKernel();
    MachineOptions options;
    options.install.volumeSectors = volumeBytes / 512;
    if (spaceBytes != 0) options.install.spaceSectors = spaceBytes / 512;
    options.install.lowWaterSectors = 0;
    if (InstalledMachine::Build(options, &machine_) != STATUS_SUCCESS) return false;
    if (prepare && !prepare(*machine_)) return false;
    // Installed and prepared through the page cache, which is quick; from
    // here on the image is opened as asked, with nothing left unwritten.
    storage::Disk& disk = *machine_->Installed().disk;
    if (disk.Reload(image) != storage::kStatusSuccess || !storage::IsSuccess(disk.Flush().status)) {
      return false;
    }
    if (boot_.Boot(*machine_) != STATUS_SUCCESS) return false;
    filter_ = IoGetAttachedDevice(machine_->ProtectedVolume());
    // The space-file guard's once-a-second file queries are no part of what
    // is measured.
    StopSpaceFileGuard();
    return true;
  }

  ~Machine() {
    boot_.TearDown(machine_.get());
    machine_.reset();
    hk::ResetKernel();
  }

  PVolumeFilterExtension Volume() const {
    return static_cast<PVolumeFilterExtension>(filter_->DeviceExtension);
  }
  PDEVICE_OBJECT Filter() const { return filter_; }
  InstalledMachine& Installed() const { return *machine_; }
  // Disk 0 below every device: its transfer counts are what the engine
  // asked of the disk.
  storage::Disk& Disk0() const { return *machine_->Installed().disk; }

  // Marks blocks first .. first + count - 1 in use, so the snapshot must
  // keep them.
  bool Allocate(uint64_t firstBlock, uint64_t blocks) {
    return machine_->Installed().fs->AllocateRun(firstBlock * 8, blocks * 8) ==
           vh::storage::kStatusSuccess;
  }

  // The create request's engine steps; seconds taken.
  double Snapshot() {
    PDEVICE_OBJECT device = filter_;
    PVolumeFilterExtension volume = Volume();
    const auto start = Clock::now();
    if (volume->Header == nullptr && !NT_SUCCESS(LoadEngineHeader(device))) return -1;
    if (!NT_SUCCESS(CollectFreeRuns(device))) return -1;
    volume->EngineMode = EngineModeTracking;
    vh::VolumeRequest request{};
    EngineLock();
    // Straight to the pause: the worker parks at once when woken.
    volume->PauseFlag = 1;
    KeSetEvent(&volume->WakeEvent, IO_NO_INCREMENT, FALSE);
    PauseVolumeWorker(volume, 1);
    NTSTATUS status = TakeSnapshot(device, &request);
    PauseVolumeWorker(volume, 0);
    EngineUnlock();
    FreeRunTable(&volume->FreeRuns);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return NT_SUCCESS(status) ? seconds : -1;
  }

  // Seconds for writes of `bytes` at the given byte offsets, `inFlight` of
  // them outstanding at a time (each from its own thread, taking the next
  // offset as its last write completes), as a file system's write-back
  // keeps several going.
  double Writes(uint32_t bytes, const std::vector<uint64_t>& offsets, unsigned inFlight = 1) {
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    auto writeSome = [&] {
      Writer writer;
      std::vector<uint8_t> data(bytes, 0x5A);
      for (size_t i = next++; i < offsets.size() && !failed; i = next++) {
        data[0] = static_cast<uint8_t>(offsets[i] >> 12);
        if (writer.Write(filter_, offsets[i], data) != STATUS_SUCCESS) failed = true;
      }
    };
    const auto start = Clock::now();
    std::vector<std::thread> writers;
    for (unsigned t = 1; t < inFlight; ++t) writers.emplace_back(writeSome);
    writeSome();
    for (std::thread& t : writers) t.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return failed ? -1 : seconds;
  }

 private:
  std::unique_ptr<InstalledMachine> machine_;
  enginehost::EngineBoot boot_;
  PDEVICE_OBJECT filter_ = nullptr;
};

}  // namespace vh::bench
