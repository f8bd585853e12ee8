// IRPs through device stacks: pending and completion under every way a
// lower driver may complete, the buffered copy-back bound, and the loud
// faults for broken pending, stack and ownership rules.
#include <cstdint>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "hostkernel/call_and_wait.h"
#include "kernel_test.h"
#include "scripted_device.h"

namespace hk::testing {
namespace {

constexpr ULONG kBufferedCode = 0x00220004;  // CTL_CODE(0x22, 1, METHOD_BUFFERED, FILE_ANY_ACCESS)
static_assert(kBufferedCode == CTL_CODE(0x22, 1, METHOD_BUFFERED, FILE_ANY_ACCESS), "");

// The engine's way of sending a control request and waiting for it.
NTSTATUS SendAndWait(PDEVICE_OBJECT device, ULONG code, void* in, ULONG inLength, void* out,
                     ULONG outLength, IO_STATUS_BLOCK* iosb) {
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  PIRP irp = IoBuildDeviceIoControlRequest(code, device, in, inLength, out, outLength, FALSE,
                                           &event, iosb);
  if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  NTSTATUS status = hk::CallDriverAndWait(device, irp, &event, iosb);
  return status;
}

class IrpTest : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    lower = std::make_unique<ScriptedDevice>(u"\\Device\\Lower", FILE_DEVICE_DISK, DO_DIRECT_IO);
  }
  void TearDown() override {
    lower.reset();
    KernelTest::TearDown();
  }
  // After a fault the kernel is abandoned mid-request; start afresh.
  void Recover() {
    lower.reset();
    ResetKernel();
    ThrowFaults();
    lower = std::make_unique<ScriptedDevice>(u"\\Device\\Lower", FILE_DEVICE_DISK, DO_DIRECT_IO);
  }
  std::unique_ptr<ScriptedDevice> lower;
};

class IrpCompletionTest : public IrpTest, public ::testing::WithParamInterface<Completion> {};

TEST_P(IrpCompletionTest, SynchronousControlRequestReturnsTheLowerAnswerAndItsBytes) {
  lower->SetCompletion(GetParam());
  lower->SetHandler([](PIO_STACK_LOCATION stack, PIRP irp) {
    auto* buffer = static_cast<unsigned char*>(irp->AssociatedIrp.SystemBuffer);
    ASSERT_EQ(stack->Parameters.DeviceIoControl.InputBufferLength, 4u);
    for (int i = 0; i < 6; ++i) buffer[i] = static_cast<unsigned char>(buffer[0] + i);
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = 6;
  });
  unsigned char in[4] = {0x40, 0, 0, 0};
  unsigned char out[8] = {};
  IO_STATUS_BLOCK iosb{};
  EXPECT_EQ(SendAndWait(lower->device(), kBufferedCode, in, sizeof in, out, sizeof out, &iosb),
            STATUS_SUCCESS);
  EXPECT_EQ(iosb.Information, 6u);
  const unsigned char expected[8] = {0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0, 0};
  EXPECT_EQ(std::memcmp(out, expected, sizeof out), 0);
}

TEST_P(IrpCompletionTest, ForwardingFilterWithCompletionRoutineWaitsForTheLowerDriver) {
  // An upper filter that copies its location down, installs a completion
  // routine that signals an event and stops completion, waits, then
  // completes the IRP itself: the shape of the engine's forward-and-wait.
  lower->SetCompletion(GetParam());
  lower->SetHandler([](PIO_STACK_LOCATION, PIRP irp) {
    irp->IoStatus.Status = STATUS_BUFFER_OVERFLOW;
    irp->IoStatus.Information = 2;
  });
  PDRIVER_OBJECT driver = CreateTestDriver(u"\\Driver\\Filter");
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = [](PDEVICE_OBJECT device, PIRP irp) -> NTSTATUS {
    auto below = *static_cast<PDEVICE_OBJECT*>(device->DeviceExtension);
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(
        irp,
        [](PDEVICE_OBJECT, PIRP i, PVOID context) -> NTSTATUS {
          if (i->PendingReturned) KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
          return STATUS_MORE_PROCESSING_REQUIRED;
        },
        &event, TRUE, TRUE, TRUE);
    NTSTATUS status = IoCallDriver(below, irp);
    if (status == STATUS_PENDING) {
      KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
      status = irp->IoStatus.Status;
    }
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
  };
  PDEVICE_OBJECT filter;
  // The extension holds one pointer.  NOLINTNEXTLINE(bugprone-sizeof-expression)
  ASSERT_EQ(
      IoCreateDevice(driver, sizeof(PDEVICE_OBJECT), nullptr, FILE_DEVICE_DISK, 0, FALSE, &filter),
      STATUS_SUCCESS);
  PDEVICE_OBJECT below = IoAttachDeviceToDeviceStack(filter, lower->device());
  *static_cast<PDEVICE_OBJECT*>(filter->DeviceExtension) = below;
  EXPECT_EQ(filter->StackSize, 2);

  unsigned char out[4] = {};
  IO_STATUS_BLOCK iosb{};
  // A warning still copies its bytes back.
  EXPECT_EQ(SendAndWait(filter, kBufferedCode, nullptr, 0, out, sizeof out, &iosb),
            STATUS_BUFFER_OVERFLOW);
  EXPECT_EQ(iosb.Status, STATUS_BUFFER_OVERFLOW);
  EXPECT_EQ(iosb.Information, 2u);

  IoDetachDevice(below);
  IoDeleteDevice(filter);
}

INSTANTIATE_TEST_SUITE_P(AllModes, IrpCompletionTest, ::testing::ValuesIn(kAllCompletions),
                         [](const ::testing::TestParamInfo<Completion>& param) {
                           std::string name = CompletionName(param.param);
                           for (char& c : name) c = c == '-' ? '_' : c;
                           return name;
                         });

TEST_F(IrpTest, CopyBackHonoursStatusClassAndFaultsBeyondTheOutputBuffer) {
  struct Case {
    NTSTATUS status;
    ULONG information;
    int copied;  // bytes expected in the caller's buffer, -1 for a fault
  };
  const Case cases[] = {
      {STATUS_SUCCESS, 8, 8},           {STATUS_BUFFER_OVERFLOW, 4, 4},  // warnings copy
      {STATUS_INVALID_PARAMETER, 8, 0},                                  // errors do not
      {STATUS_SUCCESS, 9, -1},  // beyond the 8-byte output buffer
      {STATUS_BUFFER_OVERFLOW, 24, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << std::hex << c.status << " info " << std::dec << c.information);
    lower->SetHandler([c](PIO_STACK_LOCATION, PIRP irp) {
      std::memset(irp->AssociatedIrp.SystemBuffer, 0x77, 8);
      irp->IoStatus.Status = c.status;
      irp->IoStatus.Information = c.information;
    });
    unsigned char in[32] = {};
    unsigned char out[8];
    std::memset(out, 0x11, sizeof out);
    IO_STATUS_BLOCK iosb{};
    if (c.copied < 0) {
      EXPECT_TRUE(FaultOf(
          [&] {
            SendAndWait(lower->device(), kBufferedCode, in, sizeof in, out, sizeof out, &iosb);
          },
          "beyond its 8-byte output buffer"));
      Recover();
      continue;
    }
    EXPECT_EQ(SendAndWait(lower->device(), kBufferedCode, in, sizeof in, out, sizeof out, &iosb),
              c.status);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(out[i], i < c.copied ? 0x77 : 0x11) << "byte " << i;
  }
}

TEST_F(IrpTest, PendingReturnWithoutMarkIsLoud) {
  PDRIVER_OBJECT driver = CreateTestDriver(u"\\Driver\\Careless");
  static PIRP held;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = [](PDEVICE_OBJECT, PIRP irp) -> NTSTATUS {
    held = irp;  // queued for later, but never marked pending
    return STATUS_PENDING;
  };
  PDEVICE_OBJECT device;
  ASSERT_EQ(IoCreateDevice(driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device),
            STATUS_SUCCESS);
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IO_STATUS_BLOCK iosb{};
  PIRP irp = IoBuildDeviceIoControlRequest(kBufferedCode, device, nullptr, 0, nullptr, 0, FALSE,
                                           &event, &iosb);
  ASSERT_EQ(IoCallDriver(device, irp), STATUS_PENDING);
  held->IoStatus.Status = STATUS_SUCCESS;
  EXPECT_TRUE(
      FaultOf([] { IoCompleteRequest(held, IO_NO_INCREMENT); }, "without IoMarkIrpPending"));
  IoFreeIrp(irp);
  IoDeleteDevice(device);
}

TEST_F(IrpTest, MarkedPendingButReturnedFinalStatusIsLoud) {
  PDRIVER_OBJECT driver = CreateTestDriver(u"\\Driver\\Careless");
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = [](PDEVICE_OBJECT, PIRP irp) -> NTSTATUS {
    IoMarkIrpPending(irp);
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
  };
  PDEVICE_OBJECT device;
  ASSERT_EQ(IoCreateDevice(driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device),
            STATUS_SUCCESS);
  IO_STATUS_BLOCK iosb{};
  EXPECT_TRUE(FaultOf([&] { SendAndWait(device, kBufferedCode, nullptr, 0, nullptr, 0, &iosb); },
                      "marked the IRP pending but returned"));
  IoDeleteDevice(device);
}

// A lower driver that hands the request to another thread and returns its
// status once that thread completed it. By then the owner has freed the
// IRP, and a new IRP at the same address may already be marked pending
// further down: that mark is the new request's, not the old one's.
struct Handoff {
  PDEVICE_OBJECT handoff = nullptr;  // completes on another thread, returns 0
  PDEVICE_OBJECT holder = nullptr;   // marks pending and keeps the request
  std::uintptr_t freedAt = 0;
  bool reused = false;
  PIRP held = nullptr;
  std::vector<PIRP> others;  // IRPs the allocator handed out elsewhere

  static NTSTATUS FreeIt(PDEVICE_OBJECT, PIRP irp, PVOID) {
    IoFreeIrp(irp);
    return STATUS_MORE_PROCESSING_REQUIRED;
  }
  static Handoff*& Current() {
    static Handoff* current = nullptr;
    return current;
  }
  static NTSTATUS Hold(PDEVICE_OBJECT, PIRP irp) {
    IoMarkIrpPending(irp);
    Current()->held = irp;
    return STATUS_PENDING;
  }
  static NTSTATUS HandOff(PDEVICE_OBJECT, PIRP irp) {
    Handoff* self = Current();
    std::thread other([self, irp] {
      self->freedAt = reinterpret_cast<std::uintptr_t>(irp);
      irp->IoStatus.Status = STATUS_SUCCESS;
      IoCompleteRequest(irp, IO_NO_INCREMENT);  // the owner frees it
      for (int i = 0; i < 64; ++i) {
        PIRP next = IoAllocateIrp(1, FALSE);
        if (reinterpret_cast<std::uintptr_t>(next) != self->freedAt) {
          self->others.push_back(next);
          continue;
        }
        self->reused = true;
        IoSetCompletionRoutine(next, FreeIt, nullptr, TRUE, TRUE, TRUE);
        IoGetNextIrpStackLocation(next)->MajorFunction = IRP_MJ_FLUSH_BUFFERS;
        EXPECT_EQ(IoCallDriver(self->holder, next), STATUS_PENDING);
        break;
      }
    });
    other.join();
    return STATUS_SUCCESS;
  }
};

TEST_F(IrpTest, AFreedIrpsAddressTakenByANewPendingIrpIsNoFaultOfTheOldCall) {
  Handoff state;
  Handoff::Current() = &state;
  PDRIVER_OBJECT driver = CreateTestDriver(u"\\Driver\\Handoff");
  driver->MajorFunction[IRP_MJ_FLUSH_BUFFERS] = Handoff::HandOff;
  ASSERT_EQ(IoCreateDevice(driver, 0, nullptr, FILE_DEVICE_DISK, 0, FALSE, &state.handoff),
            STATUS_SUCCESS);
  PDRIVER_OBJECT holding = CreateTestDriver(u"\\Driver\\Holder");
  holding->MajorFunction[IRP_MJ_FLUSH_BUFFERS] = Handoff::Hold;
  ASSERT_EQ(IoCreateDevice(holding, 0, nullptr, FILE_DEVICE_DISK, 0, FALSE, &state.holder),
            STATUS_SUCCESS);
  state.handoff->Flags &= ~DO_DEVICE_INITIALIZING;
  state.holder->Flags &= ~DO_DEVICE_INITIALIZING;

  PIRP irp = IoAllocateIrp(1, FALSE);
  ASSERT_NE(irp, nullptr);
  IoSetCompletionRoutine(irp, Handoff::FreeIt, nullptr, TRUE, TRUE, TRUE);
  IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_FLUSH_BUFFERS;
  EXPECT_EQ(IoCallDriver(state.handoff, irp), STATUS_SUCCESS);

  if (state.held != nullptr) {
    state.held->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(state.held, IO_NO_INCREMENT);
  }
  for (PIRP other : state.others) IoFreeIrp(other);
  IoDeleteDevice(state.handoff);
  IoDeleteDevice(state.holder);
  Handoff::Current() = nullptr;
  // An allocator that keeps freed memory back (a sanitizer's quarantine)
  // never hands the address out again; the rules hold either way.
  if (!state.reused) GTEST_SKIP() << "the freed IRP's address was not handed out again";
}

TEST_F(IrpTest, CompletionRoutineThatDropsThePendingMarkIsLoud) {
  lower->SetCompletion(Completion::kPendingInline);
  PDRIVER_OBJECT driver = CreateTestDriver(u"\\Driver\\Filter");
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = [](PDEVICE_OBJECT device, PIRP irp) -> NTSTATUS {
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(
        irp,
        [](PDEVICE_OBJECT, PIRP, PVOID) -> NTSTATUS {
          return STATUS_SUCCESS;
        },  // forgets IoMarkIrpPending
        nullptr, TRUE, TRUE, TRUE);
    return IoCallDriver(*static_cast<PDEVICE_OBJECT*>(device->DeviceExtension), irp);
  };
  PDEVICE_OBJECT filter;
  // The extension holds one pointer.  NOLINTNEXTLINE(bugprone-sizeof-expression)
  ASSERT_EQ(
      IoCreateDevice(driver, sizeof(PDEVICE_OBJECT), nullptr, FILE_DEVICE_DISK, 0, FALSE, &filter),
      STATUS_SUCCESS);
  *static_cast<PDEVICE_OBJECT*>(filter->DeviceExtension) =
      IoAttachDeviceToDeviceStack(filter, lower->device());
  IO_STATUS_BLOCK iosb{};
  EXPECT_TRUE(FaultOf([&] { SendAndWait(filter, kBufferedCode, nullptr, 0, nullptr, 0, &iosb); },
                      "did not mark the IRP pending"));
  Recover();
}

TEST_F(IrpTest, AllocatedIrpReachingFinalCompletionIsLoud) {
  PIRP irp = IoAllocateIrp(lower->device()->StackSize, FALSE);
  IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_FLUSH_BUFFERS;
  EXPECT_TRUE(FaultOf([&] { IoCallDriver(lower->device(), irp); }, "reached final completion"));
  IoFreeIrp(irp);
}

TEST_F(IrpTest, SkippingPastTheTopLocationIsLoud) {
  PIRP irp = IoAllocateIrp(1, FALSE);
  IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_FLUSH_BUFFERS;
  IoSetCompletionRoutine(
      irp,
      [](PDEVICE_OBJECT, PIRP i, PVOID) -> NTSTATUS {
        IoFreeIrp(i);
        return STATUS_MORE_PROCESSING_REQUIRED;
      },
      nullptr, TRUE, TRUE, TRUE);
  PDRIVER_OBJECT driver = CreateTestDriver(u"\\Driver\\PassDown");
  driver->MajorFunction[IRP_MJ_FLUSH_BUFFERS] = [](PDEVICE_OBJECT device, PIRP i) -> NTSTATUS {
    return IoCallDriver(device, i);  // passes down with no location left below its own
  };
  PDEVICE_OBJECT device;
  ASSERT_EQ(IoCreateDevice(driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device),
            STATUS_SUCCESS);
  EXPECT_TRUE(FaultOf([&] { IoCallDriver(device, irp); }, "no stack location left"));
  IoFreeIrp(irp);
  IoDeleteDevice(device);
}

TEST_F(IrpTest, DirectIoTransfersCarryAnMdlAndBareOnesAreLoud) {
  lower->SetHandler([](PIO_STACK_LOCATION stack, PIRP irp) {
    std::memset(ScriptedDevice::Buffer(irp), 0x5A, stack->Parameters.Read.Length);
    irp->IoStatus.Information = stack->Parameters.Read.Length;
  });
  unsigned char data[1024] = {};
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IO_STATUS_BLOCK iosb{};
  LARGE_INTEGER offset;
  offset.QuadPart = 4096;
  PIRP irp = IoBuildSynchronousFsdRequest(IRP_MJ_READ, lower->device(), data, sizeof data, &offset,
                                          &event, &iosb);
  ASSERT_NE(irp->MdlAddress, nullptr);
  EXPECT_EQ(IoCallDriver(lower->device(), irp), STATUS_SUCCESS);
  EXPECT_EQ(iosb.Information, sizeof data);
  EXPECT_EQ(data[0], 0x5A);
  EXPECT_EQ(data[1023], 0x5A);
  EXPECT_EQ(lower->Seen().back().offset, 4096);

  PIRP bare = IoAllocateIrp(1, FALSE);
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(bare);
  next->MajorFunction = IRP_MJ_WRITE;
  next->Parameters.Write.Length = 512;
  EXPECT_TRUE(FaultOf([&] { IoCallDriver(lower->device(), bare); }, "without an MDL"));
  IoFreeIrp(bare);
}

TEST_F(IrpTest, InjectedIrpFailureMakesTheBuilderAnswerNull) {
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IO_STATUS_BLOCK iosb{};
  FailIrpAllocation(2);
  PIRP first = IoBuildDeviceIoControlRequest(kBufferedCode, lower->device(), nullptr, 0, nullptr, 0,
                                             FALSE, &event, &iosb);
  PIRP second = IoBuildDeviceIoControlRequest(kBufferedCode, lower->device(), nullptr, 0, nullptr,
                                              0, FALSE, &event, &iosb);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  IoFreeIrp(first);
}

TEST_F(IrpTest, PartialMdlOutsideItsSourceIsLoud) {
  unsigned char data[2048];
  PMDL source = IoAllocateMdl(data, sizeof data, FALSE, FALSE, nullptr);
  MmBuildMdlForNonPagedPool(source);
  PMDL part = IoAllocateMdl(data + 512, 1024, FALSE, FALSE, nullptr);
  IoBuildPartialMdl(source, part, data + 512, 1024);
  EXPECT_EQ(MmGetSystemAddressForMdlSafe(part, NormalPagePriority), data + 512);
  FailMdlMapping(true);
  EXPECT_EQ(MmGetSystemAddressForMdlSafe(part, NormalPagePriority), nullptr);
  FailMdlMapping(false);
  EXPECT_TRUE(FaultOf([&] { IoBuildPartialMdl(source, part, data + 1536, 1024); },
                      "outside the source MDL"));
  IoFreeMdl(part);
  IoFreeMdl(source);
}

}  // namespace
}  // namespace hk::testing
