// Pool memory with tags, lookaside lists and interlocked list helpers.
#pragma once

#include "hostkernel/nt_ke.h"

enum POOL_TYPE {
  NonPagedPool = 0,
  PagedPool = 1,
  NonPagedPoolMustSucceed = 2,
  NonPagedPoolCacheAligned = 4,
  PagedPoolCacheAligned = 5,
  NonPagedPoolNx = 512,
};

// The allocation site is recorded, so a leak report names the caller.
PVOID hk_ExAllocatePoolWithTag(POOL_TYPE type, SIZE_T bytes, ULONG tag, const char* file, int line);
void hk_ExFreePoolWithTag(PVOID block, ULONG tag, bool checkTag);
#define ExAllocatePoolWithTag(type, bytes, tag) \
  hk_ExAllocatePoolWithTag((type), (bytes), (tag), __FILE__, __LINE__)
#define ExAllocatePool(type, bytes) \
  hk_ExAllocatePoolWithTag((type), (bytes), 0x656E6F4E /* 'None' */, __FILE__, __LINE__)
#define ExFreePoolWithTag(block, tag) hk_ExFreePoolWithTag((block), (tag), true)
#define ExFreePool(block) hk_ExFreePoolWithTag((block), 0, false)

using PALLOCATE_FUNCTION = PVOID (*)(POOL_TYPE, SIZE_T, ULONG);
using PFREE_FUNCTION = void (*)(PVOID);

// The head carries a 16-byte interlocked header on 64-bit Windows, hence
// the alignment; the layer keeps its free entries in a list of its own.
struct alignas(16) NPAGED_LOOKASIDE_LIST {
  ULONG HostMagic;
  ULONG Tag;
  ULONG Size;
  USHORT Depth;
  USHORT FreeCount;
  POOL_TYPE Type;
  KSPIN_LOCK Lock;
  SINGLE_LIST_ENTRY FreeList;
  ULONG TotalAllocates;
  ULONG AllocateMisses;
};
using PNPAGED_LOOKASIDE_LIST = NPAGED_LOOKASIDE_LIST*;

void ExInitializeNPagedLookasideList(PNPAGED_LOOKASIDE_LIST list, PALLOCATE_FUNCTION allocate,
                                     PFREE_FUNCTION free, ULONG flags, SIZE_T size, ULONG tag,
                                     USHORT depth);
void ExDeleteNPagedLookasideList(PNPAGED_LOOKASIDE_LIST list);
PVOID ExAllocateFromNPagedLookasideList(PNPAGED_LOOKASIDE_LIST list);
void ExFreeToNPagedLookasideList(PNPAGED_LOOKASIDE_LIST list, PVOID entry);

PLIST_ENTRY ExInterlockedInsertTailList(PLIST_ENTRY head, PLIST_ENTRY entry, PKSPIN_LOCK lock);
PLIST_ENTRY ExInterlockedInsertHeadList(PLIST_ENTRY head, PLIST_ENTRY entry, PKSPIN_LOCK lock);
PLIST_ENTRY ExInterlockedRemoveHeadList(PLIST_ENTRY head, PKSPIN_LOCK lock);
