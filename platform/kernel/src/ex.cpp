// Pool memory: tagged, pattern-filled, guarded, accounted per tag and call
// site, with injected failures; lookaside lists on top of it.
#include <map>
#include <new>
#include <vector>

#include "internal.h"

namespace hk::detail {
namespace {
constexpr std::uint32_t kPoolMagic = 0x4C4F4F50;
constexpr std::uint32_t kFreedMagic = 0x45455246;
constexpr std::size_t kGuardBytes = 16;
constexpr unsigned char kFillByte = 0xA5;  // new memory is not zeroed, as in the kernel
constexpr unsigned char kGuardByte = 0xFD;
constexpr unsigned char kPoisonByte = 0xDD;

struct alignas(16) PoolHeader {
  std::uint32_t magic;
  ULONG tag;
  POOL_TYPE type;
  std::size_t bytes;
  const char* file;
  int line;
};

std::mutex g_poolLock;
// Never destroyed, so what it holds stays reachable to the leak checker
// after static destruction.
std::map<PoolHeader*, bool>& g_live = *new std::map<PoolHeader*, bool>;
unsigned g_failCountdown = 0;
std::size_t g_failSize = 0;
bool g_failAtDispatch = false;
bool g_failLookaside = false;
bool g_failMapping = false;

bool IsPaged(POOL_TYPE type) { return (static_cast<int>(type) & 1) != 0; }

std::string TagText(ULONG tag) {
  std::string text;
  for (int i = 0; i < 4; ++i) text += static_cast<char>((tag >> (8 * i)) & 0xFF);
  return text;
}
}  // namespace

bool MdlMappingFails() {
  std::lock_guard<std::mutex> guard(g_poolLock);
  return g_failMapping;
}

void ResetPool() {
  std::lock_guard<std::mutex> guard(g_poolLock);
  // Blocks still live stay allocated and reachable (the test may hold
  // them); they are only no longer reported.
  static std::vector<PoolHeader*>& abandoned = *new std::vector<PoolHeader*>;
  for (auto& entry : g_live) abandoned.push_back(entry.first);
  g_live.clear();
}

}  // namespace hk::detail

using namespace hk::detail;

PVOID hk_ExAllocatePoolWithTag(POOL_TYPE type, SIZE_T bytes, ULONG tag, const char* file,
                               int line) {
  KIRQL irql = KeGetCurrentIrql();
  if (IsPaged(type) && irql > APC_LEVEL) {
    hk::Fault("paged pool allocation ('%s', %zu bytes) at IRQL %u from %s:%d", TagText(tag).c_str(),
              bytes, irql, file, line);
  }
  if (irql > DISPATCH_LEVEL) hk::Fault("pool allocation at IRQL %u from %s:%d", irql, file, line);
  {
    std::lock_guard<std::mutex> guard(g_poolLock);
    bool fail = false;
    if (g_failCountdown != 0 && --g_failCountdown == 0) fail = true;
    if (g_failSize != 0 && bytes == g_failSize) fail = true;
    if (g_failAtDispatch && irql >= DISPATCH_LEVEL) fail = true;
    if (fail) return nullptr;
  }
  if (bytes > (std::size_t{1} << 31)) return nullptr;
  auto* raw = static_cast<unsigned char*>(
      ::operator new(sizeof(PoolHeader) + bytes + kGuardBytes, std::align_val_t(16), std::nothrow));
  if (raw == nullptr) return nullptr;
  auto* header = new (raw) PoolHeader{kPoolMagic, tag, type, bytes, file, line};
  unsigned char* body = raw + sizeof(PoolHeader);
  std::memset(body, kFillByte, bytes);
  std::memset(body + bytes, kGuardByte, kGuardBytes);
  std::lock_guard<std::mutex> guard(g_poolLock);
  g_live[header] = true;
  return body;
}

void hk_ExFreePoolWithTag(PVOID block, ULONG tag, bool checkTag) {
  if (block == nullptr) hk::Fault("pool free of a NULL pointer");
  RequireIrqlAtMost(DISPATCH_LEVEL, "ExFreePool");
  auto* header =
      reinterpret_cast<PoolHeader*>(static_cast<unsigned char*>(block) - sizeof(PoolHeader));
  {
    std::lock_guard<std::mutex> guard(g_poolLock);
    if (header->magic != kPoolMagic) {
      hk::Fault(header->magic == kFreedMagic ? "pool block %p freed twice"
                                             : "pool free of %p, which is no pool block",
                block);
    }
    if (checkTag && header->tag != tag) {
      hk::Fault("pool block %p of tag '%s' freed with tag '%s'", block,
                TagText(header->tag).c_str(), TagText(tag).c_str());
    }
    if (IsPaged(header->type) && KeGetCurrentIrql() > APC_LEVEL) {
      hk::Fault("paged pool freed at IRQL %u", KeGetCurrentIrql());
    }
    auto* body = static_cast<unsigned char*>(block);
    for (std::size_t i = 0; i < kGuardBytes; ++i) {
      if (body[header->bytes + i] != kGuardByte) {
        hk::Fault("pool block '%s' of %zu bytes from %s:%d was written past its end",
                  TagText(header->tag).c_str(), header->bytes, header->file, header->line);
      }
    }
    g_live.erase(header);
    header->magic = kFreedMagic;
    std::memset(body, kPoisonByte, header->bytes);
  }
  ::operator delete(header, std::align_val_t(16));
}

namespace hk {
std::vector<PoolBlockInfo> LivePoolBlocks() {
  std::lock_guard<std::mutex> guard(g_poolLock);
  std::vector<PoolBlockInfo> blocks;
  for (const auto& entry : g_live) {
    const PoolHeader* h = entry.first;
    blocks.push_back({h->tag, h->bytes, std::string(h->file) + ":" + std::to_string(h->line)});
  }
  return blocks;
}

std::size_t LivePoolBytes(ULONG tag) {
  std::size_t total = 0;
  for (const PoolBlockInfo& block : LivePoolBlocks()) {
    if (block.tag == tag) total += block.bytes;
  }
  return total;
}

void FailPoolAllocation(unsigned nth) {
  std::lock_guard<std::mutex> guard(g_poolLock);
  g_failCountdown = nth;
}
bool PoolAllocationFailurePending() {
  std::lock_guard<std::mutex> guard(g_poolLock);
  return g_failCountdown != 0;
}
void FailPoolAllocationsOfSize(std::size_t bytes) {
  std::lock_guard<std::mutex> guard(g_poolLock);
  g_failSize = bytes;
}
void FailPoolAllocationsAtDispatch(bool fail) {
  std::lock_guard<std::mutex> guard(g_poolLock);
  g_failAtDispatch = fail;
}
void FailLookasideAllocations(bool fail) {
  std::lock_guard<std::mutex> guard(g_poolLock);
  g_failLookaside = fail;
}
void FailMdlMapping(bool fail) {
  std::lock_guard<std::mutex> guard(g_poolLock);
  g_failMapping = fail;
}
void ClearInjectedFailures() {
  std::lock_guard<std::mutex> guard(g_poolLock);
  g_failCountdown = 0;
  g_failSize = 0;
  g_failAtDispatch = false;
  g_failLookaside = false;
  g_failMapping = false;
}
}  // namespace hk

namespace {
constexpr ULONG kLookasideMagic = 0x4B4F4F4C;
constexpr USHORT kLookasideKeep = 4;

void CheckLookaside(PNPAGED_LOOKASIDE_LIST list, const char* what) {
  if (list->HostMagic != kLookasideMagic) hk::Fault("%s on an uninitialised lookaside list", what);
}
}  // namespace

void ExInitializeNPagedLookasideList(PNPAGED_LOOKASIDE_LIST list, PALLOCATE_FUNCTION allocate,
                                     PFREE_FUNCTION free, ULONG, SIZE_T size, ULONG tag,
                                     USHORT depth) {
  // The list head is an interlocked pair of pointers: 16-byte alignment on
  // 64-bit Windows, 8 on 32-bit.
  constexpr ULONG_PTR kHeadAlignment = 2 * sizeof(void*);
  if (reinterpret_cast<ULONG_PTR>(list) % kHeadAlignment != 0) {
    hk::Fault("lookaside list %p is not %u-byte aligned", static_cast<void*>(list),
              static_cast<unsigned>(kHeadAlignment));
  }
  if (allocate != nullptr || free != nullptr)
    hk::Fault("custom lookaside allocators are not supported");
  std::memset(list, 0, sizeof *list);
  list->HostMagic = kLookasideMagic;
  list->Tag = tag;
  list->Size =
      static_cast<ULONG>(size < sizeof(SINGLE_LIST_ENTRY) ? sizeof(SINGLE_LIST_ENTRY) : size);
  list->Depth = depth;
  list->Type = NonPagedPool;
  KeInitializeSpinLock(&list->Lock);
}

void ExDeleteNPagedLookasideList(PNPAGED_LOOKASIDE_LIST list) {
  CheckLookaside(list, "ExDeleteNPagedLookasideList");
  while (list->FreeList.Next != nullptr) {
    SINGLE_LIST_ENTRY* entry = list->FreeList.Next;
    list->FreeList.Next = entry->Next;
    ExFreePoolWithTag(entry, list->Tag);
  }
  list->HostMagic = 0;
}

PVOID ExAllocateFromNPagedLookasideList(PNPAGED_LOOKASIDE_LIST list) {
  RequireIrqlAtMost(DISPATCH_LEVEL, "ExAllocateFromNPagedLookasideList");
  CheckLookaside(list, "ExAllocateFromNPagedLookasideList");
  {
    std::lock_guard<std::mutex> guard(g_poolLock);
    if (g_failLookaside) return nullptr;
  }
  KIRQL old;
  KeAcquireSpinLock(&list->Lock, &old);
  SINGLE_LIST_ENTRY* entry = list->FreeList.Next;
  if (entry != nullptr) {
    list->FreeList.Next = entry->Next;
    --list->FreeCount;
  }
  ++list->TotalAllocates;
  KeReleaseSpinLock(&list->Lock, old);
  if (entry != nullptr) return entry;
  ++list->AllocateMisses;
  return ExAllocatePoolWithTag(list->Type, list->Size, list->Tag);
}

void ExFreeToNPagedLookasideList(PNPAGED_LOOKASIDE_LIST list, PVOID entry) {
  RequireIrqlAtMost(DISPATCH_LEVEL, "ExFreeToNPagedLookasideList");
  CheckLookaside(list, "ExFreeToNPagedLookasideList");
  KIRQL old;
  KeAcquireSpinLock(&list->Lock, &old);
  if (list->FreeCount < kLookasideKeep) {
    auto* e = static_cast<SINGLE_LIST_ENTRY*>(entry);
    e->Next = list->FreeList.Next;
    list->FreeList.Next = e;
    ++list->FreeCount;
    entry = nullptr;
  }
  KeReleaseSpinLock(&list->Lock, old);
  if (entry != nullptr) ExFreePoolWithTag(entry, list->Tag);
}

namespace {
// Inserts under the lock and answers the entry that was at that end before
// (NULL for an empty list), as the kernel's interlocked routines do.
PLIST_ENTRY InterlockedInsert(PLIST_ENTRY head, PLIST_ENTRY entry, PKSPIN_LOCK lock, bool atHead) {
  KIRQL old;
  KeAcquireSpinLock(lock, &old);
  PLIST_ENTRY previous = IsListEmpty(head) ? nullptr : (atHead ? head->Flink : head->Blink);
  if (atHead) {
    InsertHeadList(head, entry);
  } else {
    InsertTailList(head, entry);
  }
  KeReleaseSpinLock(lock, old);
  return previous;
}
}  // namespace

PLIST_ENTRY ExInterlockedInsertTailList(PLIST_ENTRY head, PLIST_ENTRY entry, PKSPIN_LOCK lock) {
  return InterlockedInsert(head, entry, lock, false);
}

PLIST_ENTRY ExInterlockedInsertHeadList(PLIST_ENTRY head, PLIST_ENTRY entry, PKSPIN_LOCK lock) {
  return InterlockedInsert(head, entry, lock, true);
}

PLIST_ENTRY ExInterlockedRemoveHeadList(PLIST_ENTRY head, PKSPIN_LOCK lock) {
  KIRQL old;
  KeAcquireSpinLock(lock, &old);
  PLIST_ENTRY entry = IsListEmpty(head) ? nullptr : RemoveHeadList(head);
  KeReleaseSpinLock(lock, old);
  return entry;
}
