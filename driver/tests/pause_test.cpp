// The engine lock and the pause handshake with a volume worker, under real
// threads. The worker here follows the volume worker's loop: a wake event
// with a one-second tick, and a pause check before each request.
#include <atomic>
#include <thread>

#include "engine_fixture.h"
#include "engine_lock.h"
#include "engine_state.h"

namespace vh::test {
namespace {

struct WorkerWorld {
  PVolumeFilterExtension volume = nullptr;
  KEVENT wake;
  std::atomic<int> queued{0};
  std::atomic<int> served{0};
};

void PauseCheck(PVolumeFilterExtension volume) {
  if (ReadShared(volume->PauseFlag) && !ReadShared(volume->StopFlag)) {
    KeSetEvent(&volume->PausedEvent, IO_NO_INCREMENT, FALSE);
    KeWaitForSingleObject(&volume->ResumeEvent, Executive, KernelMode, FALSE, nullptr);
    KeClearEvent(&volume->ResumeEvent);
  }
}

void Worker(PVOID context) {
  auto* world = static_cast<WorkerWorld*>(context);
  KeSetPriorityThread(KeGetCurrentThread(), LOW_REALTIME_PRIORITY);
  for (;;) {
    LARGE_INTEGER second;
    second.QuadPart = -10000000;
    NTSTATUS status = KeWaitForSingleObject(&world->wake, Executive, KernelMode, FALSE, &second);
    PauseCheck(world->volume);
    if (status != STATUS_TIMEOUT) {
      while (world->queued > 0) {
        PauseCheck(world->volume);
        --world->queued;
        ++world->served;
      }
    }
    if (ReadShared(world->volume->StopFlag)) return;
  }
}

class PauseTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    hk::SetTimeScale(20.0);  // the one-second tick every 50 ms
    world.volume = AddFilter(disk->device(), KindPrimaryVolume, u"\\DEVICE\\V", u"\\??\\C:");
    KeInitializeEvent(&world.wake, SynchronizationEvent, FALSE);
    // A pause also wakes the engine's worker; this model parks at its tick.
    KeInitializeEvent(&world.volume->WakeEvent, SynchronizationEvent, FALSE);
    HANDLE handle;
    ASSERT_EQ(
        PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, Worker, &world),
        STATUS_SUCCESS);
    PVOID thread;
    ASSERT_EQ(ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, *PsThreadType, KernelMode,
                                        &thread, nullptr),
              STATUS_SUCCESS);
    ZwClose(handle);
    world.volume->WorkerThread = static_cast<PKTHREAD>(thread);
  }
  void TearDown() override {
    StopWorker();
    EngineTest::TearDown();
  }
  void StopWorker() {
    if (world.volume->WorkerThread == nullptr) return;
    WriteShared(world.volume->StopFlag, static_cast<UCHAR>(1));
    KeSetEvent(&world.wake, IO_NO_INCREMENT, FALSE);
    KeWaitForSingleObject(world.volume->WorkerThread, Executive, KernelMode, FALSE, nullptr);
    ObDereferenceObject(world.volume->WorkerThread);
    world.volume->WorkerThread = nullptr;
  }
  void Queue(int n) {
    world.queued += n;
    KeSetEvent(&world.wake, IO_NO_INCREMENT, FALSE);
  }
  WorkerWorld world;
};

TEST_F(PauseTest, PausedWorkerServesNothingUntilResumed) {
  EngineLock();
  ASSERT_EQ(PauseVolumeWorker(world.volume, 1), STATUS_SUCCESS);
  EXPECT_EQ(KeReadStateEvent(&world.volume->PausedEvent), 0)
      << "the pauser clears the paused event";
  Queue(5);
  std::this_thread::sleep_for(std::chrono::milliseconds(120));  // two worker ticks
  EXPECT_EQ(world.served.load(), 0);
  EXPECT_EQ(PauseVolumeWorker(world.volume, 0), STATUS_SUCCESS);
  EngineUnlock();
  EXPECT_TRUE(hk::testing::Eventually([&] { return world.served.load() == 5; }));
}

TEST_F(PauseTest, RepeatedPausesWhileAnotherThreadQueuesWorkNeverOverlapTheWorker) {
  std::atomic<bool> done{false};
  std::thread producer([&] {
    while (!done) {
      Queue(1);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  for (int round = 0; round < 40; ++round) {
    EngineLock();
    ASSERT_EQ(PauseVolumeWorker(world.volume, 1), STATUS_SUCCESS);
    int before = world.served.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(world.served.load(), before) << "round " << round;
    PauseVolumeWorker(world.volume, 0);
    EngineUnlock();
  }
  done = true;
  producer.join();
  EXPECT_GT(world.served.load(), 0);
}

TEST_F(PauseTest, PausingAWorkerThatHasEndedDoesNotWaitForEver) {
  PKTHREAD thread = world.volume->WorkerThread;
  ObReferenceObject(thread);
  StopWorker();
  world.volume->WorkerThread = thread;
  world.volume->StopFlag = 0;
  EXPECT_EQ(PauseVolumeWorker(world.volume, 1), STATUS_WAIT_1);
  PauseVolumeWorker(world.volume, 0);
  ObDereferenceObject(thread);
  world.volume->WorkerThread = nullptr;
}

TEST_F(PauseTest, EngineLockExcludesOtherControlThreads) {
  EngineLock();
  std::atomic<bool> entered{false};
  std::thread other([&] {
    EngineLock();
    entered = true;
    EngineUnlock();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(entered.load());
  EngineUnlock();
  other.join();
  EXPECT_TRUE(entered.load());
}

TEST_F(PauseTest, EngineLockWithoutDriverExtensionLogsAndTakesNothing) {
  EngineDriverObject = nullptr;
  hk::ClearDbgLog();
  EngineLock();
  EngineUnlock();  // nothing to release: must not fault as a release by a non-owner
  EXPECT_EQ(ErrorLines().size(), 1u);
  EngineDriverObject = driver;
  EXPECT_EQ(KeReadStateMutex(&driverExtension->EngineLock), 1) << "the mutex stays free";
}

}  // namespace
}  // namespace vh::test
