// A small engine world for the utilities' tests: the engine's driver object
// with its extension, a lower disk backed by memory, and volume filters
// attached to it.
#pragma once

#include <cstring>
#include <memory>
#include <vector>

#include "engine.h"
#include "engine_io.h"
#include "engine_state.h"
#include "kernel_test.h"
#include "scripted_device.h"

namespace vh::test {

using hk::testing::Completion;
using hk::testing::ScriptedDevice;

// A disk whose sectors live in memory; reads and writes outside it fail.
class MemoryDisk {
 public:
  MemoryDisk(const std::u16string& name, std::size_t sectors)
      : device_(name, FILE_DEVICE_DISK, DO_DIRECT_IO), image_(sectors * 512) {
    device_.SetHandler([this](PIO_STACK_LOCATION stack, PIRP irp) { Serve(stack, irp); });
  }
  ScriptedDevice& scripted() { return device_; }
  PDEVICE_OBJECT device() { return device_.device(); }
  std::vector<unsigned char>& image() { return image_; }
  // The next transfers answer success but move this many bytes fewer.
  void ShortenTransfersBy(ULONG bytes) { shortBy_ = bytes; }
  void FailTransfersWith(NTSTATUS status) { failWith_ = status; }

 private:
  void Serve(PIO_STACK_LOCATION stack, PIRP irp) {
    if (stack->MajorFunction != IRP_MJ_READ && stack->MajorFunction != IRP_MJ_WRITE) return;
    ULONG length = stack->Parameters.Read.Length;
    ULONGLONG offset = static_cast<ULONGLONG>(stack->Parameters.Read.ByteOffset.QuadPart);
    if (failWith_ != STATUS_SUCCESS) {
      irp->IoStatus.Status = failWith_;
      return;
    }
    if (offset % 512 || length % 512 || offset + length > image_.size()) {
      irp->IoStatus.Status = STATUS_INVALID_PARAMETER;
      return;
    }
    ULONG moved = length > shortBy_ ? length - shortBy_ : 0;
    auto* buffer = static_cast<unsigned char*>(ScriptedDevice::Buffer(irp));
    if (stack->MajorFunction == IRP_MJ_READ) {
      std::memcpy(buffer, image_.data() + offset, moved);
    } else {
      std::memcpy(image_.data() + offset, buffer, moved);
    }
    irp->IoStatus.Information = moved;
  }

  ScriptedDevice device_;
  std::vector<unsigned char> image_;
  ULONG shortBy_ = 0;
  NTSTATUS failWith_ = STATUS_SUCCESS;
};

class EngineTest : public hk::testing::KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    driver = hk::CreateTestDriver(u"\\Driver\\Varnholt");
    for (auto& routine : driver->MajorFunction) routine = EngineDispatchPassThrough;
    EngineDriverObject = driver;
    PVOID extension = nullptr;
    ASSERT_EQ(IoAllocateDriverObjectExtension(driver, driver, sizeof(DriverExtension), &extension),
              STATUS_SUCCESS);
    driverExtension = static_cast<DriverExtension*>(extension);
    KeInitializeMutex(&driverExtension->EngineLock, 1);
    disk = std::make_unique<MemoryDisk>(u"\\Device\\HarddiskVolume1", 4096);
  }

  void TearDown() override {
    for (PDEVICE_OBJECT device : filters) {
      auto* volume = static_cast<PVolumeFilterExtension>(device->DeviceExtension);
      if (volume->LowerDevice) IoDetachDevice(volume->LowerDevice);
      delete volume->Header;
      IoDeleteDevice(device);
    }
    filters.clear();
    disk.reset();
    ResetEngineGlobals();
    KernelTest::TearDown();
  }

  // A volume filter of the engine on `lower` (attached when asked).
  PVolumeFilterExtension AddFilter(PDEVICE_OBJECT lower, ULONG kind, const char16_t* deviceName,
                                   const char16_t* dosName, bool attach = true) {
    PDEVICE_OBJECT device;
    EXPECT_EQ(IoCreateDevice(driver, sizeof(VolumeFilterExtension), nullptr, FILE_DEVICE_DISK, 0,
                             FALSE, &device),
              STATUS_SUCCESS);
    auto* volume = static_cast<PVolumeFilterExtension>(device->DeviceExtension);
    volume->Kind = kind;
    volume->TargetDevice = lower;
    volume->LowerDevice = attach ? IoAttachDeviceToDeviceStack(device, lower) : nullptr;
    volume->DeviceName = {0, EngineNameBytes, volume->DeviceNameBuffer};
    volume->DosName = {0, EngineNameBytes, volume->DosNameBuffer};
    if (deviceName) RtlAppendUnicodeToString(&volume->DeviceName, deviceName);
    if (dosName) RtlAppendUnicodeToString(&volume->DosName, dosName);
    KeInitializeEvent(&volume->ResumeEvent, NotificationEvent, FALSE);
    KeInitializeEvent(&volume->PausedEvent, NotificationEvent, FALSE);
    KeInitializeSpinLock(&volume->RewriteLock);
    KeInitializeEvent(&volume->DirectRewritesDrained, NotificationEvent, TRUE);
    device->Flags |= lower->Flags & (DO_DIRECT_IO | DO_BUFFERED_IO | DO_POWER_PAGABLE);
    device->Flags &= ~static_cast<ULONG>(DO_DEVICE_INITIALIZING);
    filters.push_back(device);
    return volume;
  }

  static PDEVICE_OBJECT DeviceOf(PVolumeFilterExtension volume) {
    for (PDEVICE_OBJECT d = EngineDriverObject->DeviceObject; d; d = d->NextDevice) {
      if (d->DeviceExtension == volume) return d;
    }
    return nullptr;
  }

  PDRIVER_OBJECT driver = nullptr;
  DriverExtension* driverExtension = nullptr;
  std::unique_ptr<MemoryDisk> disk;
  std::vector<PDEVICE_OBJECT> filters;
};

// Lines of the debug log that carry the engine's failure prefix.
inline std::vector<std::string> ErrorLines() {
  std::vector<std::string> out;
  for (const std::string& line : hk::DbgLines()) {
    if (line.rfind("ERROR:QVR (", 0) == 0) out.push_back(line);
  }
  return out;
}

}  // namespace vh::test
