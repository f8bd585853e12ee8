// Basic Windows kernel types with the platform's own widths, for building
// kernel-mode code as an ordinary user-mode program. LONG and ULONG are 32
// bits on every host (never the host's long); WCHAR is 16 bits.
#pragma once

#include <cstddef>
#include <cstdint>

#define NTAPI
#define NTKERNELAPI
#define FASTCALL
#define IN
#define OUT
#define OPTIONAL
#define UNREFERENCED_PARAMETER(p) ((void)(p))
#define FORCEINLINE inline

using VOID = void;
using CHAR = char;
using UCHAR = std::uint8_t;
using CSHORT = std::int16_t;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using LONG64 = std::int64_t;
using ULONG64 = std::uint64_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using BOOLEAN = std::uint8_t;
using WCHAR = char16_t;
using KIRQL = std::uint8_t;
using NTSTATUS = std::int32_t;
using ULONG_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using SIZE_T = std::size_t;
using ACCESS_MASK = ULONG;
using KPRIORITY = LONG;
using CCHAR = char;
using PVOID = void*;
using HANDLE = void*;
using PHANDLE = HANDLE*;
using PCHAR = CHAR*;
using PUCHAR = UCHAR*;
using PUSHORT = USHORT*;
using PLONG = LONG*;
using PULONG = ULONG*;
using PULONG_PTR = ULONG_PTR*;
using PSIZE_T = SIZE_T*;
using PWCHAR = WCHAR*;
using PWSTR = WCHAR*;
using PCWSTR = const WCHAR*;
using PCSTR = const char*;
using PBOOLEAN = BOOLEAN*;
using PKIRQL = KIRQL*;

#define TRUE 1
#define FALSE 0

union LARGE_INTEGER {
  struct {
    ULONG LowPart;
    LONG HighPart;
  } u;
  struct {
    ULONG LowPart;
    LONG HighPart;
  };
  LONGLONG QuadPart;
};
using PLARGE_INTEGER = LARGE_INTEGER*;
static_assert(sizeof(LARGE_INTEGER) == 8, "LARGE_INTEGER is 8 bytes");

union ULARGE_INTEGER {
  struct {
    ULONG LowPart;
    ULONG HighPart;
  };
  ULONGLONG QuadPart;
};

struct GUID {
  ULONG Data1;
  USHORT Data2;
  USHORT Data3;
  UCHAR Data4[8];
};

struct LIST_ENTRY {
  LIST_ENTRY* Flink;
  LIST_ENTRY* Blink;
};
using PLIST_ENTRY = LIST_ENTRY*;

struct SINGLE_LIST_ENTRY {
  SINGLE_LIST_ENTRY* Next;
};

struct UNICODE_STRING {
  USHORT Length;         // bytes, no terminator counted
  USHORT MaximumLength;  // bytes
  PWSTR Buffer;
};
using PUNICODE_STRING = UNICODE_STRING*;
using PCUNICODE_STRING = const UNICODE_STRING*;

struct STRING {
  USHORT Length;
  USHORT MaximumLength;
  PCHAR Buffer;
};
using ANSI_STRING = STRING;

#define FIELD_OFFSET(type, field) ((LONG)offsetof(type, field))
#define CONTAINING_RECORD(address, type, field) \
  ((type*)((PUCHAR)(address) - (ULONG_PTR)offsetof(type, field)))
#define ARRAYSIZE(a) (sizeof(a) / sizeof((a)[0]))

// Doubly linked lists, as the kernel's inline routines behave.
inline void InitializeListHead(PLIST_ENTRY head) { head->Flink = head->Blink = head; }
inline BOOLEAN IsListEmpty(const LIST_ENTRY* head) { return head->Flink == head; }
inline BOOLEAN RemoveEntryList(PLIST_ENTRY entry) {
  PLIST_ENTRY next = entry->Flink;
  PLIST_ENTRY prev = entry->Blink;
  prev->Flink = next;
  next->Blink = prev;
  return next == prev;
}
inline PLIST_ENTRY RemoveHeadList(PLIST_ENTRY head) {
  PLIST_ENTRY entry = head->Flink;
  RemoveEntryList(entry);
  return entry;
}
inline PLIST_ENTRY RemoveTailList(PLIST_ENTRY head) {
  PLIST_ENTRY entry = head->Blink;
  RemoveEntryList(entry);
  return entry;
}
inline void InsertTailList(PLIST_ENTRY head, PLIST_ENTRY entry) {
  PLIST_ENTRY last = head->Blink;
  entry->Flink = head;
  entry->Blink = last;
  last->Flink = entry;
  head->Blink = entry;
}
inline void InsertHeadList(PLIST_ENTRY head, PLIST_ENTRY entry) {
  PLIST_ENTRY first = head->Flink;
  entry->Flink = first;
  entry->Blink = head;
  first->Blink = entry;
  head->Flink = entry;
}

// Interlocked arithmetic on 32-bit LONGs and pointers.
inline LONG InterlockedIncrement(LONG volatile* v) {
  return __atomic_add_fetch(v, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(LONG volatile* v) {
  return __atomic_sub_fetch(v, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchange(LONG volatile* v, LONG x) {
  return __atomic_exchange_n(v, x, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchangeAdd(LONG volatile* v, LONG x) {
  return __atomic_fetch_add(v, x, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedCompareExchange(LONG volatile* v, LONG exchange, LONG comparand) {
  __atomic_compare_exchange_n(v, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return comparand;
}
inline PVOID InterlockedExchangePointer(PVOID volatile* v, PVOID x) {
  return __atomic_exchange_n(v, x, __ATOMIC_SEQ_CST);
}
inline PVOID InterlockedCompareExchangePointer(PVOID volatile* v, PVOID exchange, PVOID comparand) {
  __atomic_compare_exchange_n(v, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return comparand;
}

// Memory routines.
#include <cstring>
#define RtlZeroMemory(d, n) std::memset((d), 0, (n))
#define RtlFillMemory(d, n, c) std::memset((d), (c), (n))
#define RtlCopyMemory(d, s, n) std::memcpy((d), (s), (n))
#define RtlMoveMemory(d, s, n) std::memmove((d), (s), (n))
SIZE_T RtlCompareMemory(const void* a, const void* b, SIZE_T length);
#define RtlEqualMemory(a, b, n) (std::memcmp((a), (b), (n)) == 0)
