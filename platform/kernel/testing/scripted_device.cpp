#include "scripted_device.h"

#include <atomic>
#include <chrono>
#include <memory>

namespace hk::testing {

const char* CompletionName(Completion mode) {
  switch (mode) {
    case Completion::kInline:
      return "inline";
    case Completion::kPendingInline:
      return "pending-inline";
    case Completion::kOtherThreadBefore:
      return "other-thread-before-return";
    case Completion::kOtherThreadAfter:
      return "other-thread-after-return";
    case Completion::kOtherThreadAtDispatch:
      return "other-thread-at-dispatch";
  }
  return "?";
}

ScriptedDevice::ScriptedDevice(const std::u16string& name, DEVICE_TYPE type, ULONG flags) {
  PDRIVER_OBJECT driver = CreateTestDriver(u"\\Driver\\Scripted");
  for (auto& routine : driver->MajorFunction) routine = Dispatch;
  UNICODE_STRING text{static_cast<USHORT>(name.size() * 2), static_cast<USHORT>(name.size() * 2),
                      const_cast<PWSTR>(name.data())};
  // The extension holds one pointer.  NOLINTNEXTLINE(bugprone-sizeof-expression)
  NTSTATUS status = IoCreateDevice(driver, sizeof(ScriptedDevice*), name.empty() ? nullptr : &text,
                                   type, 0, FALSE, &device_);
  if (!NT_SUCCESS(status))
    Fault("ScriptedDevice: IoCreateDevice failed 0x%08x", static_cast<unsigned>(status));
  *static_cast<ScriptedDevice**>(device_->DeviceExtension) = this;
  device_->Flags |= flags;
  device_->Flags &= ~static_cast<ULONG>(DO_DEVICE_INITIALIZING);
}

ScriptedDevice::~ScriptedDevice() {
  for (std::thread& t : threads_) t.join();
  IoDeleteDevice(device_);
}

std::vector<SeenRequest> ScriptedDevice::Seen() {
  std::lock_guard<std::mutex> guard(lock_);
  return seen_;
}

void* ScriptedDevice::Buffer(PIRP irp) {
  if (irp->MdlAddress) return MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority);
  if (irp->AssociatedIrp.SystemBuffer) return irp->AssociatedIrp.SystemBuffer;
  return irp->UserBuffer;
}

NTSTATUS ScriptedDevice::Dispatch(PDEVICE_OBJECT device, PIRP irp) {
  return (*static_cast<ScriptedDevice**>(device->DeviceExtension))->Serve(irp);
}

NTSTATUS ScriptedDevice::Serve(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  SeenRequest seen{stack->MajorFunction, stack->MinorFunction, 0, 0, 0, 0, stack->FileObject};
  if (stack->MajorFunction == IRP_MJ_READ || stack->MajorFunction == IRP_MJ_WRITE) {
    seen.length = stack->Parameters.Read.Length;
    seen.offset = stack->Parameters.Read.ByteOffset.QuadPart;
  } else if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL ||
             stack->MajorFunction == IRP_MJ_FILE_SYSTEM_CONTROL ||
             stack->MajorFunction == IRP_MJ_INTERNAL_DEVICE_CONTROL) {
    seen.code = stack->Parameters.DeviceIoControl.IoControlCode;
    seen.length = stack->Parameters.DeviceIoControl.OutputBufferLength;
    seen.inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    seen_.push_back(seen);
  }
  irp->IoStatus.Status = STATUS_SUCCESS;
  irp->IoStatus.Information = 0;
  if (handler_) handler_(stack, irp);
  NTSTATUS status = irp->IoStatus.Status;
  switch (mode_) {
    case Completion::kInline:
      IoCompleteRequest(irp, IO_NO_INCREMENT);
      return status;
    case Completion::kPendingInline:
      IoMarkIrpPending(irp);
      IoCompleteRequest(irp, IO_NO_INCREMENT);
      return STATUS_PENDING;
    case Completion::kOtherThreadBefore:
    case Completion::kOtherThreadAtDispatch: {
      IoMarkIrpPending(irp);
      bool raise = mode_ == Completion::kOtherThreadAtDispatch;
      std::thread([irp, raise] {
        KIRQL old = PASSIVE_LEVEL;
        try {
          if (raise) KeRaiseIrql(DISPATCH_LEVEL, &old);
          IoCompleteRequest(irp, IO_NO_INCREMENT);
          if (raise) KeLowerIrql(old);
        } catch (const KernelFault& fault) {
          ReportThreadFault(fault.what());
        }
      }).join();
      return STATUS_PENDING;
    }
    case Completion::kOtherThreadAfter: {
      IoMarkIrpPending(irp);
      auto returned = std::make_shared<std::atomic<bool>>(false);
      {
        std::lock_guard<std::mutex> guard(lock_);
        threads_.emplace_back([irp, returned] {
          while (!returned->load()) std::this_thread::yield();
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
          try {
            IoCompleteRequest(irp, IO_NO_INCREMENT);
          } catch (const KernelFault& fault) {
            ReportThreadFault(fault.what());
          }
        });
      }
      returned->store(true);
      return STATUS_PENDING;
    }
  }
  return status;
}

}  // namespace hk::testing
