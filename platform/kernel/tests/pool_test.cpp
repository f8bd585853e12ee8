// Pool: tags, fill pattern, accounting, injected failures and the loud
// misuses; lookaside lists on top of it.
#include "kernel_test.h"

namespace hk::testing {
namespace {

constexpr ULONG kTag = 0x6C727671;  // 'qvrl'

using PoolTest = KernelTest;

TEST_F(PoolTest, NewMemoryIsNotZeroedAndALeakIsReportedWithItsSite) {
  auto* block = static_cast<unsigned char*>(ExAllocatePoolWithTag(NonPagedPool, 64, kTag));
  ASSERT_NE(block, nullptr);
  EXPECT_NE(block[0], 0) << "pool memory must not come zeroed";
  std::string report = LeakReport();
  EXPECT_NE(report.find("'qvrl' of 64 bytes"), std::string::npos) << report;
  EXPECT_NE(report.find("pool_test.cpp"), std::string::npos) << report;
  EXPECT_EQ(LivePoolBytes(kTag), 64u);
  ExFreePoolWithTag(block, kTag);
  EXPECT_EQ(LeakReport(), "");
}

TEST_F(PoolTest, MisusedFreesAreLoud) {
  void* block = ExAllocatePoolWithTag(NonPagedPool, 32, kTag);
  EXPECT_TRUE(FaultOf([&] { ExFreePoolWithTag(block, 0x656E6F4E); }, "freed with tag 'None'"));
  static_cast<unsigned char*>(block)[32] = 0;  // one past the end
  EXPECT_TRUE(FaultOf([&] { ExFreePoolWithTag(block, kTag); }, "written past its end"));
  static_cast<unsigned char*>(block)[32] = 0xFD;
  ExFreePool(block);  // the untagged free skips the tag check
  unsigned char local[64] = {};
  EXPECT_TRUE(FaultOf([&] { ExFreePool(local + 48); }, "no pool block"));
}

TEST_F(PoolTest, PagedPoolAboveApcLevelIsLoudNonPagedIsAllowedAtDispatch) {
  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  void* large = ExAllocatePoolWithTag(NonPagedPool, 2400 * 1024, kTag);
  EXPECT_NE(large, nullptr);
  EXPECT_TRUE(FaultOf([] { ExAllocatePoolWithTag(PagedPool, 8, kTag); }, "paged pool allocation"));
  ExFreePoolWithTag(large, kTag);
  KeLowerIrql(old);
}

TEST_F(PoolTest, InjectedFailuresHitTheChosenAllocations) {
  FailPoolAllocation(2);
  void* first = ExAllocatePoolWithTag(NonPagedPool, 8, kTag);
  void* second = ExAllocatePoolWithTag(NonPagedPool, 8, kTag);
  void* third = ExAllocatePoolWithTag(NonPagedPool, 8, kTag);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  EXPECT_NE(third, nullptr);
  FailPoolAllocationsOfSize(4112);
  EXPECT_EQ(ExAllocatePoolWithTag(NonPagedPool, 4112, kTag), nullptr);
  void* other = ExAllocatePoolWithTag(NonPagedPool, 4096, kTag);
  EXPECT_NE(other, nullptr);
  FailPoolAllocationsAtDispatch(true);
  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  EXPECT_EQ(ExAllocatePoolWithTag(NonPagedPool, 8, kTag), nullptr);
  KeLowerIrql(old);
  ClearInjectedFailures();
  for (void* p : {first, third, other}) ExFreePoolWithTag(p, kTag);
}

struct alignas(16) DriverState {
  char pad[8];
  NPAGED_LOOKASIDE_LIST list;
};

TEST_F(PoolTest, LookasideReusesEntriesAndCanFail) {
  auto* state = new DriverState;
  ExInitializeNPagedLookasideList(&state->list, nullptr, nullptr, 0, 16384, kTag, 0);
  void* a = ExAllocateFromNPagedLookasideList(&state->list);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(LivePoolBytes(kTag), 16384u);
  ExFreeToNPagedLookasideList(&state->list, a);
  void* b = ExAllocateFromNPagedLookasideList(&state->list);
  EXPECT_EQ(a, b) << "a freed entry is handed out again";
  FailLookasideAllocations(true);
  EXPECT_EQ(ExAllocateFromNPagedLookasideList(&state->list), nullptr);
  FailLookasideAllocations(false);
  ExFreeToNPagedLookasideList(&state->list, b);
  ExDeleteNPagedLookasideList(&state->list);
  EXPECT_EQ(LivePoolBytes(kTag), 0u);
  delete state;
}

TEST_F(PoolTest, MisalignedLookasideListIsLoud) {
  alignas(16) unsigned char storage[sizeof(NPAGED_LOOKASIDE_LIST) + 16];
  // Half the head's alignment: 8 bytes off on 64-bit, 4 on 32-bit.
  auto* list = reinterpret_cast<PNPAGED_LOOKASIDE_LIST>(storage + sizeof(void*));
  EXPECT_TRUE(
      FaultOf([&] { ExInitializeNPagedLookasideList(list, nullptr, nullptr, 0, 64, kTag, 0); },
              sizeof(void*) == 8 ? "not 16-byte aligned" : "not 8-byte aligned"));
}

}  // namespace
}  // namespace hk::testing

namespace hk::testing {
namespace {

struct Item {
  int value;
  LIST_ENTRY link;
};

TEST_F(PoolTest, InterlockedListsKeepOrderAndAnswerThePreviousEnd) {
  LIST_ENTRY head;
  InitializeListHead(&head);
  KSPIN_LOCK lock;
  KeInitializeSpinLock(&lock);
  Item a{1, {}}, b{2, {}}, c{3, {}};
  EXPECT_EQ(ExInterlockedInsertTailList(&head, &a.link, &lock), nullptr);
  EXPECT_EQ(ExInterlockedInsertTailList(&head, &b.link, &lock), &a.link);
  EXPECT_EQ(ExInterlockedInsertHeadList(&head, &c.link, &lock), &a.link);
  std::vector<int> order;
  while (PLIST_ENTRY e = ExInterlockedRemoveHeadList(&head, &lock))
    order.push_back(CONTAINING_RECORD(e, Item, link)->value);
  EXPECT_EQ(order, (std::vector<int>{3, 1, 2}));
  EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

}  // namespace
}  // namespace hk::testing
