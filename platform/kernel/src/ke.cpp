// Interrupt levels, dispatcher objects, waits, spin locks and system threads.
#include <chrono>
#include <map>
#include <optional>
#include <thread>

#include "internal.h"

namespace hk::detail {
namespace {
constexpr ULONG kDispatcherMagic = 0x4B4F424A;
enum : UCHAR { kNotificationEvent = 1, kSynchronizationEvent, kMutex, kSemaphore, kThread };
std::atomic<double> g_timeScale{1.0};
std::atomic<int> g_runningThreads{0};
}  // namespace

std::mutex& DispatcherLock() {
  static std::mutex lock;
  return lock;
}
// Object -> the waits blocked on it, under the dispatcher lock. A signal
// wakes only these, so one busy event does not stir every sleeping thread.
std::unordered_multimap<const DISPATCHER_HEADER*, WaitBlock*>& Waiters() {
  static std::unordered_multimap<const DISPATCHER_HEADER*, WaitBlock*> waiters;
  return waiters;
}
namespace {
std::atomic<std::uint64_t> g_wakeUps{0};
}  // namespace

void SignalObject(const DISPATCHER_HEADER* object) {
  auto range = Waiters().equal_range(object);
  for (auto it = range.first; it != range.second; ++it) {
    ++g_wakeUps;
    it->second->wake.notify_one();
  }
}
double TimeScale() { return g_timeScale.load(); }

}  // namespace hk::detail

// The layer's thread object: waitable, signalled when the thread ends.
struct KTHREAD {
  DISPATCHER_HEADER Header;
  KPRIORITY Priority;
  bool System;
  PKSTART_ROUTINE Routine;
  PVOID Context;
};

namespace hk::detail {
namespace {
void DestroyThread(void*) {}

// Threads the layer did not create (the test's own) get an object on first
// use. It is never released: thread-local destructors are not dependable on
// every run-time this builds for, and the object is small and not reported.
thread_local ThreadState t_state;

// Thrown by PsTerminateSystemThread to leave the thread's routine.
struct ThreadExit {};

void CheckObject(const DISPATCHER_HEADER* header, const char* what) {
  if (header == nullptr || header->HostMagic != kDispatcherMagic) {
    hk::Fault("%s on an object that was never initialised (%p)", what,
              static_cast<const void*>(header));
  }
}
}  // namespace

ThreadState& CurrentThreadState() {
  if (t_state.self == nullptr) {
    auto* thread =
        static_cast<KTHREAD*>(ObAllocate(ObKind::Thread, sizeof(KTHREAD), DestroyThread));
    HeaderOf(thread)->ignoreAtTeardown = true;
    thread->Header.Type = kThread;
    thread->Header.HostMagic = kDispatcherMagic;
    thread->Priority = 8;
    t_state.self = thread;
  }
  return t_state;
}

std::string ThreadReport() {
  int running = g_runningThreads.load();
  return running ? "system threads still running: " + std::to_string(running) + "\n" : "";
}

void ResetKe() {}

}  // namespace hk::detail

using namespace hk::detail;

namespace hk {
void SetTimeScale(double factor) { g_timeScale = factor > 0 ? factor : 1.0; }
std::size_t WaitsBlockedOn(const void* object) {
  std::lock_guard<std::mutex> guard(DispatcherLock());
  return Waiters().count(static_cast<const DISPATCHER_HEADER*>(object));
}
std::uint64_t WaitWakeUps() { return g_wakeUps.load(); }
}  // namespace hk

KIRQL KeGetCurrentIrql() { return CurrentThreadState().irql; }

void KeRaiseIrql(KIRQL newIrql, PKIRQL oldIrql) {
  ThreadState& state = CurrentThreadState();
  if (newIrql < state.irql)
    hk::Fault("KeRaiseIrql to %u below the current IRQL %u", newIrql, state.irql);
  *oldIrql = state.irql;
  state.irql = newIrql;
}

void KeLowerIrql(KIRQL newIrql) {
  ThreadState& state = CurrentThreadState();
  if (newIrql > state.irql)
    hk::Fault("KeLowerIrql to %u above the current IRQL %u", newIrql, state.irql);
  if (newIrql < DISPATCH_LEVEL && state.spinLocksHeld > 0) {
    hk::Fault("IRQL lowered to %u while %d spin lock(s) are held", newIrql, state.spinLocksHeld);
  }
  state.irql = newIrql;
}

KIRQL KeRaiseIrqlToDpcLevel() {
  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  return old;
}

void KeInitializeEvent(PRKEVENT event, EVENT_TYPE type, BOOLEAN state) {
  std::lock_guard<std::mutex> guard(DispatcherLock());
  event->Header = {};
  event->Header.Type = type == NotificationEvent ? kNotificationEvent : kSynchronizationEvent;
  event->Header.SignalState = state ? 1 : 0;
  event->Header.HostMagic = kDispatcherMagic;
}

LONG KeSetEvent(PRKEVENT event, KPRIORITY, BOOLEAN) {
  RequireIrqlAtMost(DISPATCH_LEVEL, "KeSetEvent");
  std::lock_guard<std::mutex> guard(DispatcherLock());
  CheckObject(&event->Header, "KeSetEvent");
  LONG previous = event->Header.SignalState;
  event->Header.SignalState = 1;
  SignalObject(&event->Header);
  return previous;
}

LONG KeResetEvent(PRKEVENT event) {
  std::lock_guard<std::mutex> guard(DispatcherLock());
  CheckObject(&event->Header, "KeResetEvent");
  LONG previous = event->Header.SignalState;
  event->Header.SignalState = 0;
  return previous;
}

void KeClearEvent(PRKEVENT event) { KeResetEvent(event); }

LONG KeReadStateEvent(PRKEVENT event) {
  std::lock_guard<std::mutex> guard(DispatcherLock());
  CheckObject(&event->Header, "KeReadStateEvent");
  return event->Header.SignalState;
}

void KeInitializeMutex(PRKMUTEX mutex, ULONG level) {
  std::lock_guard<std::mutex> guard(DispatcherLock());
  mutex->Header = {};
  mutex->Header.Type = kMutex;
  mutex->Header.SignalState = 1;
  mutex->Header.HostMagic = kDispatcherMagic;
  mutex->Level = level;
}

LONG KeReleaseMutex(PRKMUTEX mutex, BOOLEAN) {
  ThreadState& state = CurrentThreadState();
  std::lock_guard<std::mutex> guard(DispatcherLock());
  CheckObject(&mutex->Header, "KeReleaseMutex");
  if (mutex->Header.Owner != state.self) {
    hk::Fault("KeReleaseMutex by a thread that does not own the mutex (%p)",
              static_cast<void*>(mutex));
  }
  LONG previous = mutex->Header.SignalState;
  if (++mutex->Header.SignalState == 1) {
    mutex->Header.Owner = nullptr;
    --state.mutexesOwned;
    SignalObject(&mutex->Header);
  }
  return previous;
}

LONG KeReadStateMutex(PRKMUTEX mutex) {
  std::lock_guard<std::mutex> guard(DispatcherLock());
  CheckObject(&mutex->Header, "KeReadStateMutex");
  return mutex->Header.SignalState;
}

void KeInitializeSemaphore(PRKSEMAPHORE semaphore, LONG count, LONG limit) {
  std::lock_guard<std::mutex> guard(DispatcherLock());
  semaphore->Header = {};
  semaphore->Header.Type = kSemaphore;
  semaphore->Header.SignalState = count;
  semaphore->Header.Limit = limit;
  semaphore->Header.HostMagic = kDispatcherMagic;
  semaphore->Limit = limit;
}

LONG KeReleaseSemaphore(PRKSEMAPHORE semaphore, KPRIORITY, LONG adjustment, BOOLEAN) {
  RequireIrqlAtMost(DISPATCH_LEVEL, "KeReleaseSemaphore");
  std::lock_guard<std::mutex> guard(DispatcherLock());
  CheckObject(&semaphore->Header, "KeReleaseSemaphore");
  LONG previous = semaphore->Header.SignalState;
  if (adjustment <= 0 || previous > semaphore->Header.Limit - adjustment) {
    // The kernel raises STATUS_SEMAPHORE_LIMIT_EXCEEDED here.
    hk::Fault("KeReleaseSemaphore past its limit (%d + %d > %d)", previous, adjustment,
              semaphore->Header.Limit);
  }
  semaphore->Header.SignalState = previous + adjustment;
  SignalObject(&semaphore->Header);
  return previous;
}

LONG KeReadStateSemaphore(PRKSEMAPHORE semaphore) {
  std::lock_guard<std::mutex> guard(DispatcherLock());
  return semaphore->Header.SignalState;
}

namespace {
bool Satisfiable(const DISPATCHER_HEADER* h, const KTHREAD* self) {
  if (h->Type == kMutex) return h->SignalState > 0 || h->Owner == self;
  return h->SignalState > 0;
}

void Consume(DISPATCHER_HEADER* h, KTHREAD* self, ThreadState& state) {
  switch (h->Type) {
    case kSynchronizationEvent:
      h->SignalState = 0;
      break;
    case kSemaphore:
      --h->SignalState;
      break;
    case kMutex:
      if (h->Owner != self) {
        h->Owner = self;
        ++state.mutexesOwned;
      }
      --h->SignalState;
      break;
    default:
      break;  // notification events and threads stay signalled
  }
}

NTSTATUS WaitFor(ULONG count, DISPATCHER_HEADER* const* objects, bool waitAll,
                 PLARGE_INTEGER timeout, const char* what) {
  ThreadState& state = CurrentThreadState();
  bool mayBlock = timeout == nullptr || timeout->QuadPart != 0;
  if (mayBlock && state.irql >= DISPATCH_LEVEL) {
    hk::Fault("%s may block at IRQL %u (spin locks held: %d)", what, state.irql,
              state.spinLocksHeld);
  }
  using Clock = std::chrono::steady_clock;
  Clock::time_point deadline = Clock::time_point::max();
  if (timeout != nullptr) {
    LONGLONG units = timeout->QuadPart;
    if (units > 0) {
      LARGE_INTEGER now;
      KeQuerySystemTime(&now);
      units = now.QuadPart - units;  // absolute: the distance from now, as a relative time
      if (units > 0) units = 0;
    }
    double scaled = static_cast<double>(-units) * 100.0 / TimeScale();
    deadline = Clock::now() + std::chrono::nanoseconds(static_cast<long long>(scaled));
  }
  std::unique_lock<std::mutex> lock(DispatcherLock());
  for (ULONG i = 0; i < count; ++i) CheckObject(objects[i], what);
  WaitBlock block;
  // Named under its objects only while it sleeps; every return below
  // passes through here first.
  struct Registration {
    WaitBlock* block;
    ULONG count;
    DISPATCHER_HEADER* const* objects;
    bool active = false;
    void Add() {
      if (active) return;
      for (ULONG i = 0; i < count; ++i) Waiters().emplace(objects[i], block);
      active = true;
    }
    ~Registration() {
      if (!active) return;
      for (ULONG i = 0; i < count; ++i) {
        auto range = Waiters().equal_range(objects[i]);
        for (auto it = range.first; it != range.second; ++it) {
          if (it->second == block) {
            Waiters().erase(it);
            break;
          }
        }
      }
    }
  } registration{&block, count, objects};
  for (;;) {
    if (waitAll) {
      bool all = true;
      for (ULONG i = 0; i < count; ++i) all = all && Satisfiable(objects[i], state.self);
      if (all) {
        for (ULONG i = 0; i < count; ++i) Consume(objects[i], state.self, state);
        return STATUS_WAIT_0;
      }
    } else {
      for (ULONG i = 0; i < count; ++i) {
        if (Satisfiable(objects[i], state.self)) {
          Consume(objects[i], state.self, state);
          return STATUS_WAIT_0 + static_cast<NTSTATUS>(i);
        }
      }
    }
    registration.Add();
    if (deadline == Clock::time_point::max()) {
      block.wake.wait(lock);
    } else if (block.wake.wait_until(lock, deadline) == std::cv_status::timeout &&
               Clock::now() >= deadline) {
      // One last look: a signal may have raced the time-out.
      bool ready = false;
      for (ULONG i = 0; i < count && !ready; ++i) ready = Satisfiable(objects[i], state.self);
      if (!ready || waitAll) return STATUS_TIMEOUT;
    }
  }
}
}  // namespace

NTSTATUS KeWaitForSingleObject(PVOID object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN,
                               PLARGE_INTEGER timeout) {
  auto* header = static_cast<DISPATCHER_HEADER*>(object);
  return WaitFor(1, &header, false, timeout, "KeWaitForSingleObject");
}

NTSTATUS KeWaitForMultipleObjects(ULONG count, PVOID objects[], WAIT_TYPE waitType, KWAIT_REASON,
                                  KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER timeout, PVOID) {
  DISPATCHER_HEADER* headers[64];
  if (count == 0 || count > 64) hk::Fault("KeWaitForMultipleObjects with %u objects", count);
  for (ULONG i = 0; i < count; ++i) headers[i] = static_cast<DISPATCHER_HEADER*>(objects[i]);
  return WaitFor(count, headers, waitType == WaitAll, timeout, "KeWaitForMultipleObjects");
}

NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER interval) {
  RequireIrqlAtMost(APC_LEVEL, "KeDelayExecutionThread");
  LONGLONG units = interval->QuadPart < 0 ? -interval->QuadPart : 0;
  std::this_thread::sleep_for(std::chrono::nanoseconds(
      static_cast<long long>(static_cast<double>(units) * 100.0 / TimeScale())));
  return STATUS_SUCCESS;
}

void KeQuerySystemTime(PLARGE_INTEGER time) {
  // 100 ns units since 1601, as the system clock counts.
  constexpr LONGLONG kEpochDelta = 116444736000000000LL;
  auto since1970 = std::chrono::system_clock::now().time_since_epoch();
  time->QuadPart =
      kEpochDelta + std::chrono::duration_cast<std::chrono::nanoseconds>(since1970).count() / 100;
}

namespace {
ULONG_PTR SpinOwnerId() { return reinterpret_cast<ULONG_PTR>(CurrentThreadState().self); }

void AcquireSpin(PKSPIN_LOCK lock) {
  ULONG_PTR self = SpinOwnerId();
  if (__atomic_load_n(lock, __ATOMIC_ACQUIRE) == self) {
    hk::Fault("spin lock %p acquired recursively", static_cast<void*>(lock));
  }
  ULONG_PTR expected = 0;
  while (!__atomic_compare_exchange_n(lock, &expected, self, false, __ATOMIC_ACQUIRE,
                                      __ATOMIC_RELAXED)) {
    expected = 0;
    std::this_thread::yield();
  }
  ++CurrentThreadState().spinLocksHeld;
}

void ReleaseSpin(PKSPIN_LOCK lock) {
  if (__atomic_load_n(lock, __ATOMIC_ACQUIRE) != SpinOwnerId()) {
    hk::Fault("spin lock %p released by a thread that does not hold it", static_cast<void*>(lock));
  }
  --CurrentThreadState().spinLocksHeld;
  __atomic_store_n(lock, ULONG_PTR{0}, __ATOMIC_RELEASE);
}
}  // namespace

void KeInitializeSpinLock(PKSPIN_LOCK lock) { *lock = 0; }

void KeAcquireSpinLock(PKSPIN_LOCK lock, PKIRQL oldIrql) {
  RequireIrqlAtMost(DISPATCH_LEVEL, "KeAcquireSpinLock");
  KeRaiseIrql(DISPATCH_LEVEL, oldIrql);
  AcquireSpin(lock);
}

void KeReleaseSpinLock(PKSPIN_LOCK lock, KIRQL newIrql) {
  ReleaseSpin(lock);
  KeLowerIrql(newIrql);
}

void KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK lock) {
  if (KeGetCurrentIrql() != DISPATCH_LEVEL)
    hk::Fault("KeAcquireSpinLockAtDpcLevel below DISPATCH_LEVEL");
  AcquireSpin(lock);
}

void KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK lock) { ReleaseSpin(lock); }

PKTHREAD KeGetCurrentThread() { return CurrentThreadState().self; }
PETHREAD PsGetCurrentThread() { return CurrentThreadState().self; }

KPRIORITY KeSetPriorityThread(PKTHREAD thread, KPRIORITY priority) {
  // Recorded only: tests must not depend on host scheduling.
  KPRIORITY old = thread->Priority;
  thread->Priority = priority;
  return old;
}

KPRIORITY KeQueryPriorityThread(PKTHREAD thread) { return thread->Priority; }

NTSTATUS PsCreateSystemThread(PHANDLE threadHandle, ULONG, OBJECT_ATTRIBUTES*, HANDLE, CLIENT_ID*,
                              PKSTART_ROUTINE startRoutine, PVOID context) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "PsCreateSystemThread");
  auto* thread = static_cast<KTHREAD*>(ObAllocate(ObKind::Thread, sizeof(KTHREAD), DestroyThread));
  thread->Header.Type = kThread;
  thread->Header.HostMagic = kDispatcherMagic;
  thread->Priority = 8;
  thread->System = true;
  thread->Routine = startRoutine;
  thread->Context = context;
  ObfReferenceObject(thread);  // held by the running thread
  *threadHandle = CreateHandle(thread, ObKind::Thread, true);
  ++g_runningThreads;
  std::thread([thread] {
    ThreadState& state = t_state;
    state.self = thread;
    try {
      thread->Routine(thread->Context);
    } catch (const ThreadExit&) {
    } catch (const hk::KernelFault& fault) {
      RecordThreadFault(fault.what());
    }
    if (state.irql != PASSIVE_LEVEL || state.mutexesOwned != 0) {
      RecordThreadFault("system thread ended at IRQL " + std::to_string(state.irql) + " holding " +
                        std::to_string(state.mutexesOwned) + " mutex(es)");
    }
    state.self = nullptr;
    // Signalled, counted out and released under the dispatcher lock: a
    // waiter that wakes finds the thread fully gone.
    std::lock_guard<std::mutex> guard(DispatcherLock());
    thread->Header.SignalState = 1;
    SignalObject(&thread->Header);
    --g_runningThreads;
    ObfDereferenceObject(thread);
  }).detach();
  return STATUS_SUCCESS;
}

NTSTATUS PsTerminateSystemThread(NTSTATUS) {
  if (!CurrentThreadState().self->System)
    hk::Fault("PsTerminateSystemThread on a thread that is not a system thread");
  throw ThreadExit{};
}

namespace hk {
bool WaitForWaiters(const void* object, unsigned count, unsigned timeoutMs) {
  // Polled: a wait registers under its objects only once it blocks, and
  // nothing signals that; the condition itself is exact.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (WaitsBlockedOn(object) >= count) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}
}  // namespace hk
