// Dispatcher objects, waits, spin locks, IRQL tracking and system threads.
#include <atomic>
#include <cstdint>
#include <thread>

#include "kernel_test.h"

namespace hk::testing {
namespace {

using SyncTest = KernelTest;

LARGE_INTEGER Relative(LONGLONG milliseconds) {
  LARGE_INTEGER t;
  t.QuadPart = -milliseconds * 10000;
  return t;
}

TEST_F(SyncTest, BlockingWaitAtDispatchLevelIsLoudButAPollIsAllowed) {
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  LARGE_INTEGER zero{};
  EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &zero), STATUS_TIMEOUT);
  LARGE_INTEGER second = Relative(1000);
  EXPECT_TRUE(FaultOf([&] { KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &second); },
                      "may block at IRQL 2"));
  KeLowerIrql(old);
  EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

TEST_F(SyncTest, SpinLockRaisesIrqlAndForbidsWaitsAndRecursion) {
  KSPIN_LOCK lock;
  KeInitializeSpinLock(&lock);
  KEVENT event;
  KeInitializeEvent(&event, SynchronizationEvent, FALSE);
  KIRQL old;
  KeAcquireSpinLock(&lock, &old);
  EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
  EXPECT_TRUE(FaultOf([&] { KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr); },
                      "may block"));
  EXPECT_TRUE(FaultOf(
      [&] {
        KIRQL again;
        KeAcquireSpinLock(&lock, &again);
      },
      "acquired recursively"));
  EXPECT_TRUE(
      FaultOf([&] { ExAllocatePoolWithTag(PagedPool, 16, 0x74736554); }, "paged pool allocation"));
  KeReleaseSpinLock(&lock, old);
  EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

TEST_F(SyncTest, SpinLockExcludesOtherThreads) {
  KSPIN_LOCK lock;
  KeInitializeSpinLock(&lock);
  long counter = 0;
  auto work = [&] {
    for (int i = 0; i < 20000; ++i) {
      KIRQL old;
      KeAcquireSpinLock(&lock, &old);
      long v = counter;
      counter = v + 1;
      KeReleaseSpinLock(&lock, old);
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 40000);
}

TEST_F(SyncTest, SynchronizationEventReleasesOneWaiterNotificationEventReleasesAll) {
  for (EVENT_TYPE type : {SynchronizationEvent, NotificationEvent}) {
    KEVENT event;
    KeInitializeEvent(&event, type, FALSE);
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    waiters.reserve(3);
    for (int i = 0; i < 3; ++i) {
      waiters.emplace_back([&] {
        LARGE_INTEGER t = Relative(300);
        if (KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &t) == STATUS_SUCCESS)
          ++woken;
      });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    KeSetEvent(&event, IO_NO_INCREMENT, FALSE);
    for (auto& t : waiters) t.join();
    EXPECT_EQ(woken.load(), type == SynchronizationEvent ? 1 : 3);
    EXPECT_EQ(KeReadStateEvent(&event), type == SynchronizationEvent ? 0 : 1);
  }
}

// Parks until `count` waits are blocked on the object (no sleeping on hope).
void AwaitBlockedWaits(const void* object, std::size_t count) {
  while (WaitsBlockedOn(object) != count) std::this_thread::yield();
}

TEST_F(SyncTest, ASignalWakesOnlyTheWaitsBlockedOnItsOwnObject) {
  KEVENT a, b, c;
  KeInitializeEvent(&a, SynchronizationEvent, FALSE);
  KeInitializeEvent(&b, NotificationEvent, FALSE);
  KeInitializeEvent(&c, NotificationEvent, FALSE);
  KSEMAPHORE semaphore;
  KeInitializeSemaphore(&semaphore, 0, 4);
  NTSTATUS onA = STATUS_PENDING, onAny = STATUS_PENDING;
  std::thread waitA(
      [&] { onA = KeWaitForSingleObject(&a, Executive, KernelMode, FALSE, nullptr); });
  std::thread waitAny([&] {
    PVOID objects[] = {&a, &c};
    onAny = KeWaitForMultipleObjects(2, objects, WaitAny, Executive, KernelMode, FALSE, nullptr,
                                     nullptr);
  });
  AwaitBlockedWaits(&a, 2);
  AwaitBlockedWaits(&c, 1);
  const std::uint64_t before = WaitWakeUps();
  // Objects nobody waits on: no blocked wait may be stirred.
  for (int i = 0; i < 100; ++i) {
    KeSetEvent(&b, IO_NO_INCREMENT, FALSE);
    KeResetEvent(&b);
    KeReleaseSemaphore(&semaphore, 0, 1, FALSE);
    LARGE_INTEGER zero{};
    KeWaitForSingleObject(&semaphore, Executive, KernelMode, FALSE, &zero);
  }
  EXPECT_EQ(WaitWakeUps(), before);
  // The second object of a wait-any wakes that wait alone.
  KeSetEvent(&c, IO_NO_INCREMENT, FALSE);
  waitAny.join();
  EXPECT_EQ(onAny, STATUS_WAIT_0 + 1);
  EXPECT_EQ(WaitWakeUps(), before + 1);
  EXPECT_EQ(WaitsBlockedOn(&a), 1u);  // the finished wait is named nowhere
  EXPECT_EQ(WaitsBlockedOn(&c), 0u);
  KeSetEvent(&a, IO_NO_INCREMENT, FALSE);
  waitA.join();
  EXPECT_EQ(onA, STATUS_SUCCESS);
  EXPECT_EQ(WaitWakeUps(), before + 2);
  EXPECT_EQ(WaitsBlockedOn(&a), 0u);
}

TEST_F(SyncTest, TimedWaitTimesOutAndTimeScaleShortensIt) {
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  SetTimeScale(100.0);
  auto start = std::chrono::steady_clock::now();
  LARGE_INTEGER second = Relative(1000);
  EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &second), STATUS_TIMEOUT);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}

TEST_F(SyncTest, MutexIsRecursiveForItsOwnerAndRefusesOtherReleasers) {
  KMUTEX mutex;
  KeInitializeMutex(&mutex, 1);
  ASSERT_EQ(KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
  ASSERT_EQ(KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
  std::string otherFault;
  std::thread([&] {
    LARGE_INTEGER zero{};
    EXPECT_EQ(KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, &zero), STATUS_TIMEOUT);
    try {
      KeReleaseMutex(&mutex, FALSE);
    } catch (const KernelFault& fault) {
      otherFault = fault.what();
    }
  }).join();
  EXPECT_NE(otherFault.find("does not own"), std::string::npos) << otherFault;
  KeReleaseMutex(&mutex, FALSE);
  EXPECT_EQ(KeReadStateMutex(&mutex), 0);
  KeReleaseMutex(&mutex, FALSE);
  EXPECT_EQ(KeReadStateMutex(&mutex), 1);
}

TEST_F(SyncTest, SemaphoreCountsAndFaultsPastItsLimit) {
  KSEMAPHORE semaphore;
  KeInitializeSemaphore(&semaphore, 0, 2);
  LARGE_INTEGER zero{};
  EXPECT_EQ(KeWaitForSingleObject(&semaphore, Executive, KernelMode, FALSE, &zero), STATUS_TIMEOUT);
  KeReleaseSemaphore(&semaphore, 0, 2, FALSE);
  EXPECT_EQ(KeWaitForSingleObject(&semaphore, Executive, KernelMode, FALSE, &zero), STATUS_SUCCESS);
  EXPECT_EQ(KeReadStateSemaphore(&semaphore), 1);
  EXPECT_TRUE(FaultOf([&] { KeReleaseSemaphore(&semaphore, 0, 2, FALSE); }, "past its limit"));
}

TEST_F(SyncTest, WaitOnAnUninitialisedObjectIsLoud) {
  KEVENT event;
  std::memset(&event, 0xA5, sizeof event);
  EXPECT_TRUE(FaultOf([&] { KeSetEvent(&event, 0, FALSE); }, "never initialised"));
}

struct ThreadContext {
  KEVENT go;
  KMUTEX mutex;
  std::atomic<KPRIORITY> priority{0};
  bool holdMutex = false;
};

void ThreadBody(PVOID context) {
  auto* c = static_cast<ThreadContext*>(context);
  KeSetPriorityThread(KeGetCurrentThread(), LOW_REALTIME_PRIORITY);
  c->priority = KeQueryPriorityThread(KeGetCurrentThread());
  KeWaitForSingleObject(&c->go, Executive, KernelMode, FALSE, nullptr);
  if (c->holdMutex) {
    KeWaitForSingleObject(&c->mutex, Executive, KernelMode, FALSE, nullptr);
    return;  // ends holding it
  }
  PsTerminateSystemThread(STATUS_SUCCESS);
}

TEST_F(SyncTest, SystemThreadIsWaitableThroughItsReferencedObject) {
  ThreadContext context;
  KeInitializeEvent(&context.go, NotificationEvent, FALSE);
  KeInitializeMutex(&context.mutex, 1);
  HANDLE handle;
  ASSERT_EQ(PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, ThreadBody,
                                 &context),
            STATUS_SUCCESS);
  PVOID thread;
  EXPECT_EQ(ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, *IoFileObjectType, KernelMode,
                                      &thread, nullptr),
            STATUS_OBJECT_TYPE_MISMATCH);
  ASSERT_EQ(ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, *PsThreadType, KernelMode, &thread,
                                      nullptr),
            STATUS_SUCCESS);
  ZwClose(handle);
  LARGE_INTEGER zero{};
  EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, &zero), STATUS_TIMEOUT);
  KeSetEvent(&context.go, 0, FALSE);
  EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
  EXPECT_EQ(context.priority.load(), LOW_REALTIME_PRIORITY);
  ObDereferenceObject(thread);
  EXPECT_TRUE(Eventually([] { return LeakReport().empty(); }));
}

TEST_F(SyncTest, SystemThreadEndingWithAMutexHeldIsReported) {
  ThreadContext context;
  context.holdMutex = true;
  KeInitializeEvent(&context.go, NotificationEvent, TRUE);
  KeInitializeMutex(&context.mutex, 1);
  HANDLE handle;
  ASSERT_EQ(PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, ThreadBody,
                                 &context),
            STATUS_SUCCESS);
  PVOID thread;
  ASSERT_EQ(ObReferenceObjectByHandle(handle, 0, *PsThreadType, KernelMode, &thread, nullptr),
            STATUS_SUCCESS);
  ZwClose(handle);
  KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr);
  ObDereferenceObject(thread);
  std::vector<std::string> faults;
  EXPECT_TRUE(Eventually([&] {
    auto more = TakeThreadFaults();
    faults.insert(faults.end(), more.begin(), more.end());
    return !faults.empty();
  }));
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_NE(faults[0].find("holding 1 mutex"), std::string::npos) << faults[0];
}

}  // namespace
}  // namespace hk::testing

namespace hk::testing {
namespace {

#if GTEST_HAS_DEATH_TEST && !defined(_WIN32)
TEST(KernelFaultDeathTest, DefaultHandlerStopsTheProgramWithTheMessage) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_DEATH(
      {
        ResetKernel();
        SetFaultHandler(nullptr);
        KEVENT event;
        KeInitializeEvent(&event, NotificationEvent, FALSE);
        KIRQL old;
        KeRaiseIrql(DISPATCH_LEVEL, &old);
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
      },
      "KERNEL FAULT: KeWaitForSingleObject may block at IRQL 2");
}
#endif

TEST_F(SyncTest, LastFileReferenceDroppedAtDispatchClosesOnAWorker) {
  PDRIVER_OBJECT driver = CreateTestDriver(u"\\Driver\\Files");
  static std::atomic<int> closes{0};
  closes = 0;
  for (auto& routine : driver->MajorFunction) {
    routine = [](PDEVICE_OBJECT, PIRP irp) -> NTSTATUS {
      if (IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_CLOSE) {
        EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
        ++closes;
      }
      irp->IoStatus.Status = STATUS_SUCCESS;
      IoCompleteRequest(irp, IO_NO_INCREMENT);
      return STATUS_SUCCESS;
    };
  }
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, u"\\Device\\Files");
  PDEVICE_OBJECT device;
  ASSERT_EQ(IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device),
            STATUS_SUCCESS);
  device->Flags &= ~static_cast<ULONG>(DO_DEVICE_INITIALIZING);
  PFILE_OBJECT file;
  PDEVICE_OBJECT top;
  ASSERT_EQ(IoGetDeviceObjectPointer(&name, 0, &file, &top), STATUS_SUCCESS);
  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  ObDereferenceObject(file);
  KeLowerIrql(old);
  EXPECT_TRUE(Eventually([&] {
    return closes.load() == 1 && device->ReferenceCount == 0 &&
           LeakReport().find("deferred") == std::string::npos;
  }));
  IoDeleteDevice(device);
}

}  // namespace
}  // namespace hk::testing
