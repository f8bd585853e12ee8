// Interrupt levels, dispatcher objects (events, mutexes, semaphores, threads),
// waits, spin locks and system threads.
#pragma once

#include "hostkernel/nt_status.h"

#define PASSIVE_LEVEL 0
#define LOW_LEVEL 0
#define APC_LEVEL 1
#define DISPATCH_LEVEL 2
#define HIGH_LEVEL 15

#define IO_NO_INCREMENT 0
#define IO_DISK_INCREMENT 1
#define EVENT_INCREMENT 1
#define SEMAPHORE_INCREMENT 1

#define LOW_REALTIME_PRIORITY 16
#define MAXLONG 0x7FFFFFFF

KIRQL KeGetCurrentIrql();
void KeRaiseIrql(KIRQL newIrql, PKIRQL oldIrql);
void KeLowerIrql(KIRQL newIrql);
KIRQL KeRaiseIrqlToDpcLevel();

enum KPROCESSOR_MODE_VALUES { KernelMode = 0, UserMode = 1 };
using KPROCESSOR_MODE = CCHAR;
enum KWAIT_REASON {
  Executive = 0,
  FreePage,
  PageIn,
  PoolAllocation,
  DelayExecution,
  Suspended,
  UserRequest
};
enum EVENT_TYPE { NotificationEvent = 0, SynchronizationEvent = 1 };
enum WAIT_TYPE { WaitAll = 0, WaitAny = 1 };

// The header every waitable object starts with. HostMagic marks an object
// that went through its initialiser, so a wait on garbage is caught.
struct DISPATCHER_HEADER {
  UCHAR Type;
  UCHAR Reserved[3];
  LONG SignalState;
  ULONG HostMagic;
  LONG Limit;            // semaphores
  void* volatile Owner;  // mutexes: owning thread
};

struct KEVENT {
  DISPATCHER_HEADER Header;
};
using PKEVENT = KEVENT*;
using PRKEVENT = KEVENT*;

struct KMUTEX {
  DISPATCHER_HEADER Header;
  ULONG Level;  // recorded, not enforced (the kernel ignores it too)
};
using PKMUTEX = KMUTEX*;
using PRKMUTEX = KMUTEX*;

struct KSEMAPHORE {
  DISPATCHER_HEADER Header;
  LONG Limit;
};
using PKSEMAPHORE = KSEMAPHORE*;
using PRKSEMAPHORE = KSEMAPHORE*;

struct KTHREAD;  // the layer's own; reached through pointers only
using PKTHREAD = KTHREAD*;
using PETHREAD = KTHREAD*;
using PRKTHREAD = KTHREAD*;
struct KPROCESS;
using PEPROCESS = KPROCESS*;

void KeInitializeEvent(PRKEVENT event, EVENT_TYPE type, BOOLEAN state);
LONG KeSetEvent(PRKEVENT event, KPRIORITY increment, BOOLEAN wait);
LONG KeResetEvent(PRKEVENT event);
void KeClearEvent(PRKEVENT event);
LONG KeReadStateEvent(PRKEVENT event);

void KeInitializeMutex(PRKMUTEX mutex, ULONG level);
LONG KeReleaseMutex(PRKMUTEX mutex, BOOLEAN wait);
LONG KeReadStateMutex(PRKMUTEX mutex);

void KeInitializeSemaphore(PRKSEMAPHORE semaphore, LONG count, LONG limit);
LONG KeReleaseSemaphore(PRKSEMAPHORE semaphore, KPRIORITY increment, LONG adjustment, BOOLEAN wait);
LONG KeReadStateSemaphore(PRKSEMAPHORE semaphore);

// Timeouts are in 100 ns units; negative means relative.
NTSTATUS KeWaitForSingleObject(PVOID object, KWAIT_REASON reason, KPROCESSOR_MODE mode,
                               BOOLEAN alertable, PLARGE_INTEGER timeout);
NTSTATUS KeWaitForMultipleObjects(ULONG count, PVOID objects[], WAIT_TYPE waitType,
                                  KWAIT_REASON reason, KPROCESSOR_MODE mode, BOOLEAN alertable,
                                  PLARGE_INTEGER timeout, PVOID waitBlockArray);
#define KeWaitForMutexObject KeWaitForSingleObject
NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE mode, BOOLEAN alertable, PLARGE_INTEGER interval);
void KeQuerySystemTime(PLARGE_INTEGER time);

// Spin locks raise to DISPATCH_LEVEL; the lock word holds the owner.
using KSPIN_LOCK = ULONG_PTR;
using PKSPIN_LOCK = KSPIN_LOCK*;
void KeInitializeSpinLock(PKSPIN_LOCK lock);
void KeAcquireSpinLock(PKSPIN_LOCK lock, PKIRQL oldIrql);
void KeReleaseSpinLock(PKSPIN_LOCK lock, KIRQL newIrql);
void KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK lock);
void KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK lock);

// Threads.
using KSTART_ROUTINE = void(PVOID context);
using PKSTART_ROUTINE = KSTART_ROUTINE*;
struct OBJECT_ATTRIBUTES;
struct CLIENT_ID {
  HANDLE UniqueProcess;
  HANDLE UniqueThread;
};
PKTHREAD KeGetCurrentThread();
PETHREAD PsGetCurrentThread();
KPRIORITY KeSetPriorityThread(PKTHREAD thread, KPRIORITY priority);
KPRIORITY KeQueryPriorityThread(PKTHREAD thread);
NTSTATUS PsCreateSystemThread(PHANDLE threadHandle, ULONG desiredAccess,
                              OBJECT_ATTRIBUTES* objectAttributes, HANDLE processHandle,
                              CLIENT_ID* clientId, PKSTART_ROUTINE startRoutine, PVOID context);
[[noreturn]] NTSTATUS PsTerminateSystemThread(NTSTATUS exitStatus);

#define PAGED_CODE() ((void)0)
