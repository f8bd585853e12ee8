// The pass-through range list, the extents of files (pinned and excluded),
// the header file read and written whole, and the volume flush.
#include <cstring>
#include <string>
#include <vector>

#include "boot_fixture.h"
#include "passthrough.h"
#include "run_table.h"

namespace vh::test {
namespace {

constexpr uint32_t kProtected = 1;
constexpr uint32_t kOther = 2;

// ------------------------------------------------------------ the range list

class RangeListTest : public hk::testing::KernelTest {
 protected:
  void TearDown() override {
    FreePassThroughList(&list_);
    KernelTest::TearDown();
  }
  PassThroughChunk* list_ = nullptr;
};

TEST_F(RangeListTest, MergesOnlyRangesThatTouchEndToEnd) {
  struct Step {
    ULONG first, last;
    NTSTATUS result;
  };
  const Step steps[] = {
      {100, 199, 0},  // appended
      {200, 299, 1},  // touches the end: merged
      {150, 250, 0},  // overlaps: appended as it is
      {50, 99, 1},    // touches the start of {100, 299}
      {0, 0, 0},      // the first sector: no wrap-around on "first - 1"
      {0xFFFFFFF0u, 0xFFFFFFFFu, 0},
      {1, 1, 1},  // touches {0, 0}
  };
  for (const Step& step : steps)
    EXPECT_EQ(AddPassThroughRange(&list_, step.first, step.last), step.result);
  ASSERT_NE(list_, nullptr);
  ASSERT_EQ(list_->Count, 4u);
  const ULONG first[] = {50, 150, 0, 0xFFFFFFF0u};
  const ULONG last[] = {299, 250, 1, 0xFFFFFFFFu};
  for (ULONG i = 0; i < 4; ++i) {
    EXPECT_EQ(list_->First[i], first[i]) << i;
    EXPECT_EQ(list_->Last[i], last[i]) << i;
  }
}

TEST_F(RangeListTest, TheRangeAfterAFullChunkStartsANewOne) {
  for (ULONG i = 0; i < PassThroughChunkRanges; ++i) {
    ASSERT_EQ(AddPassThroughRange(&list_, i * 10, i * 10 + 1), 0);
  }
  EXPECT_EQ(list_->Next, nullptr);
  EXPECT_EQ(AddPassThroughRange(&list_, 100000, 100001), 0);
  ASSERT_NE(list_->Next, nullptr);
  EXPECT_EQ(list_->Next->Count, 1u);
  EXPECT_EQ(list_->Next->First[0], 100000u);
  // A range touching one of the first chunk still merges there.
  EXPECT_EQ(AddPassThroughRange(&list_, 2, 3), 1);
  EXPECT_EQ(list_->Last[0], 3u);
}

TEST_F(RangeListTest, AChunkThatCannotBeAllocatedIsReported) {
  hk::FailPoolAllocation(1);
  EXPECT_EQ(AddPassThroughRange(&list_, 1, 2), STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_EQ(list_, nullptr);
}

// ------------------------------------------------------------ files on a booted machine

class FileExtentsTest : public BootTest {
 protected:
  void SetUp() override {
    BootTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(Boot());
  }
  static UNICODE_STRING Name(const char16_t* text) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, text);
    return name;
  }
};

// A file of two runs with a hole between them.
struct Fragmented {
  uint64_t a = 0, b = 0;
};

Fragmented MakeFragmented(storage::FileSystemModel& fs, const std::u16string& path) {
  Fragmented f;
  EXPECT_EQ(fs.FindFreeRun(4, 100000, &f.a), storage::kStatusSuccess);
  EXPECT_EQ(fs.FindFreeRun(2, f.a + 10, &f.b), storage::kStatusSuccess);
  const uint64_t clusterBytes = uint64_t{fs.GetGeometry().sectorsPerCluster} * 512;
  std::vector<storage::ClusterRun> runs = {
      {static_cast<int64_t>(f.a), 4}, {-1, 4}, {static_cast<int64_t>(f.b), 2}};
  EXPECT_EQ(fs.CreateFile(path, 10 * clusterBytes, runs), storage::kStatusSuccess);
  return f;
}

TEST_F(FileExtentsTest, ExcludedFileAddsItsAllocatedRunsOnly) {
  storage::FileSystemModel& fs = *Installed().fs;
  const Fragmented f = MakeFragmented(fs, u"\\Windows\\excluded.dat");
  PDEVICE_OBJECT filter = Filter(kProtected);
  PVolumeFilterExtension c = Volume(kProtected);
  const Ranges before = PassThroughRanges(c);

  UNICODE_STRING path = Name(u"\\??\\C:\\Windows\\excluded.dat");
  hk::ClearDbgLog();
  ASSERT_EQ(AddExcludedFile(filter, &path), STATUS_SUCCESS);
  ASSERT_NE(c->ExcludedRuns, nullptr);
  ASSERT_EQ(c->ExcludedRuns->Used, 2u);
  EXPECT_EQ(c->ExcludedRuns->ChunkCount, 1u);
  EXPECT_EQ(static_cast<uint64_t>(c->ExcludedRuns->Runs[0].FirstCluster), f.a);
  EXPECT_EQ(static_cast<uint32_t>(c->ExcludedRuns->Runs[0].ClusterCount), 4u);
  EXPECT_EQ(static_cast<uint64_t>(c->ExcludedRuns->Runs[1].FirstCluster), f.b);
  EXPECT_EQ(static_cast<uint32_t>(c->ExcludedRuns->Runs[1].ClusterCount), 2u);
  EXPECT_TRUE(LogHasLineEnding("): UIL"));  // the hole

  // A second exclusion while the table is held is refused.
  EXPECT_EQ(AddExcludedFile(filter, &path), STATUS_INVALID_PARAMETER);

  ASSERT_EQ(AppendPassThroughRuns(filter, c->ExcludedRuns), STATUS_SUCCESS);
  ASSERT_EQ(FreeRunTable(&c->ExcludedRuns), STATUS_SUCCESS);
  EXPECT_EQ(c->ExcludedRuns, nullptr);
  Ranges expected = before;
  Ranges file = FileRanges(fs, u"\\Windows\\excluded.dat");
  expected.insert(expected.end(), file.begin(), file.end());
  EXPECT_EQ(Normalised(PassThroughRanges(c)), Normalised(expected));
}

TEST_F(FileExtentsTest, PathsOnAnotherVolumeAreRefusedBeforeAnyOpen) {
  PVolumeFilterExtension c = Volume(kProtected);
  const unsigned creates = machine_->Storage().Records(kProtected).creates;
  UNICODE_STRING onD = Name(u"\\??\\D:\\file.dat");
  PassThroughChunk* list = nullptr;
  EXPECT_EQ(GetFileExtents(c, &list, &onD), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(GetPagingFileExtents(c, &list, &onD), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(AddExcludedFile(Filter(kProtected), &onD), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(c->ExcludedRuns, nullptr);
  EXPECT_EQ(machine_->Storage().Records(kProtected).creates, creates);
  EXPECT_EQ(machine_->Storage().Records(kOther).creates, 0u);
}

TEST_F(FileExtentsTest, MissingFileIsReportedAndAddsNothing) {
  PVolumeFilterExtension c = Volume(kProtected);
  UNICODE_STRING missing = Name(u"\\??\\C:\\nothing.here");
  PassThroughChunk* list = nullptr;
  EXPECT_FALSE(NT_SUCCESS(GetFileExtents(c, &list, &missing)));
  EXPECT_EQ(GetPagingFileExtents(c, &list, &missing), STATUS_UNSUCCESSFUL);
  EXPECT_FALSE(NT_SUCCESS(AddExcludedFile(Filter(kProtected), &missing)));
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(c->ExcludedRuns, nullptr);
}

TEST_F(FileExtentsTest, WriteInsideAPassThroughBlockIsNotTrackedAndTheListKeepsItsSectors) {
  PDEVICE_OBJECT filter = Filter(kProtected);
  PVolumeFilterExtension c = Volume(kProtected);
  PassThroughChunk* saved = c->PassThroughList;
  c->PassThroughList = nullptr;
  ASSERT_EQ(AddPassThroughRange(&c->PassThroughList, 1000, 1100), 0);
  struct Case {
    ULONGLONG sector;
    ULONG sectors;
    bool passesThrough;
  };
  const Case cases[] = {
      {960, 1, true},     // same block as sector 1000
      {1000, 101, true},  // the range itself
      {1087, 65, true},   // up to the end of the range's last block
      {1088, 65, false},  // one past it
      {959, 2, false},    // starts in the block before
  };
  for (const Case& t : cases) {
    PIRP irp = IoAllocateIrp(1, FALSE);
    ASSERT_NE(irp, nullptr);
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MajorFunction = IRP_MJ_WRITE;
    stack->Parameters.Write.ByteOffset.QuadPart = static_cast<LONGLONG>(t.sector * 512);
    stack->Parameters.Write.Length = t.sectors * 512;
    IoSetNextIrpStackLocation(irp);
    EXPECT_EQ(IsPassThroughWrite(filter, irp), t.passesThrough) << t.sector;
    IoFreeIrp(irp);
  }
  EXPECT_EQ(c->PassThroughList->First[0], 1000u);
  EXPECT_EQ(c->PassThroughList->Last[0], 1100u);
  FreePassThroughList(&c->PassThroughList);
  c->PassThroughList = saved;
}

TEST_F(FileExtentsTest, HeaderFileIsReadAndWrittenWhole) {
  UNICODE_STRING path = Name(u"\\??\\C:\\qvspace.sys");
  auto* buffer = static_cast<EngineHeader*>(
      ExAllocatePoolWithTag(NonPagedPool, kEngineHeaderBytes, EnginePoolTag));
  ASSERT_NE(buffer, nullptr);
  ASSERT_EQ(ReadWholeFile(&path, buffer), STATUS_SUCCESS);
  EXPECT_EQ(std::memcmp(buffer, Installed().header.get(), kEngineHeaderBytes), 0);

  buffer->HourlySchedule = 1;
  buffer->Preserved[100] = 0x77;
  ASSERT_EQ(WriteWholeFile(&path, buffer), STATUS_SUCCESS);
  EngineHeader onDisk;
  ASSERT_EQ(Installed().ReadEngineSectors(0, kEngineHeaderSectors, &onDisk),
            storage::kStatusSuccess);
  EXPECT_EQ(std::memcmp(&onDisk, buffer, kEngineHeaderBytes), 0);

  // A file shorter than a header gives no header.
  ASSERT_EQ(Installed().fs->CreateContiguousFile(u"\\short.sys", 4096, nullptr),
            storage::kStatusSuccess);
  UNICODE_STRING shortPath = Name(u"\\??\\C:\\short.sys");
  EXPECT_FALSE(NT_SUCCESS(ReadWholeFile(&shortPath, buffer)));
  UNICODE_STRING missing = Name(u"\\??\\C:\\none.sys");
  EXPECT_FALSE(NT_SUCCESS(ReadWholeFile(&missing, buffer)));
  EXPECT_FALSE(NT_SUCCESS(WriteWholeFile(&missing, buffer)));
  ExFreePoolWithTag(buffer, EnginePoolTag);
}

TEST_F(FileExtentsTest, FlushReachesTheFileSystemWithAFileObject) {
  EXPECT_EQ(FlushVolumeBuffers(Volume(kProtected)), STATUS_SUCCESS);
  EXPECT_EQ(machine_->Storage().Records(kProtected).flushesWithoutFileObject, 0u);
}

TEST_F(FileExtentsTest, SpaceFileMarkNeedsAVolumeOfItsOwn) {
  ASSERT_EQ(Installed().fs->CreateContiguousFile(u"\\mark.sys", 65536, nullptr),
            storage::kStatusSuccess);
  UNICODE_STRING path = Name(u"\\??\\C:\\mark.sys");
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr,
                             nullptr);
  IO_STATUS_BLOCK ioStatus;
  HANDLE file = nullptr;
  ASSERT_EQ(ZwCreateFile(&file, GENERIC_READ | SYNCHRONIZE, &attributes, &ioStatus, nullptr,
                         FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                         FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0),
            STATUS_SUCCESS);
  // Marked through a volume handle of C:, the file is pinned; D:'s filter
  // opens D:, which the file system does not take for the file's volume.
  EXPECT_FALSE(NT_SUCCESS(MarkSpaceFileHandle(Filter(kOther), file)));
  EXPECT_FALSE(Installed().fs->Find(u"\\mark.sys")->pinned);
  EXPECT_EQ(MarkSpaceFileHandle(Filter(kProtected), file), STATUS_SUCCESS);
  EXPECT_TRUE(Installed().fs->Find(u"\\mark.sys")->pinned);
  ZwClose(file);
}

}  // namespace
}  // namespace vh::test
