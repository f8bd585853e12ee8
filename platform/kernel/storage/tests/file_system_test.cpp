// The file-system model: the boot sector the engine parses, the volume
// bitmap and retrieval pointers answered with NT's bytes and statuses, and
// allocation kept apart from data.
#include "vh/storage/file_system.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "scratch_file.h"
#include "vh/storage/byte_order.h"

namespace vh::storage {
namespace {

constexpr uint32_t kEngineWindowBytes = 4112;  // what the engine sends: 32,768 bits
constexpr uint64_t kWindowBits = 32768;

struct Formatted {
  std::unique_ptr<Disk> disk;
  std::unique_ptr<Volume> volume;
  std::unique_ptr<FileSystemModel> fs;
};

Formatted MakeVolume(const std::string& path, uint64_t volumeSectors, const FormatOptions& format) {
  Formatted f;
  DiskOptions options;
  options.sectorCount = 2048 + volumeSectors;
  options.partitions = {{2048, volumeSectors, 0x07, true}};
  EXPECT_EQ(kStatusSuccess, Disk::Create(path, options, &f.disk));
  if (!f.disk) return f;
  f.volume = std::make_unique<Volume>(*f.disk, f.disk->Partitions()[0]);
  EXPECT_EQ(kStatusSuccess, FileSystemModel::Format(*f.volume, format, &f.fs));
  return f;
}

std::vector<uint8_t> ReadBoot(Volume& volume) {
  std::vector<uint8_t> boot(512);
  EXPECT_EQ(kStatusSuccess, volume.Read(0, 512, boot.data()).status);
  return boot;
}

IoAnswer QueryBitmap(const FileSystemModel& fs, int64_t start, std::vector<uint8_t>* out) {
  uint8_t in[8];
  PutLe64(in, static_cast<uint64_t>(start));
  return fs.GetVolumeBitmap(in, sizeof in, out->data(), static_cast<uint32_t>(out->size()));
}

IoAnswer QueryPointers(const FileSystemModel& fs, const FileRecord& file, int64_t vcn,
                       std::vector<uint8_t>* out) {
  uint8_t in[8];
  PutLe64(in, static_cast<uint64_t>(vcn));
  return fs.GetRetrievalPointers(file, in, sizeof in, out->data(),
                                 static_cast<uint32_t>(out->size()));
}

TEST(BootSector, CarriesTheGeometryTheEngineReadsFromIt) {
  struct Case {
    FileSystemKind kind;
    uint32_t spc;
  };
  const Case cases[] = {{FileSystemKind::kNtfs, 8},
                        {FileSystemKind::kNtfs, 1},
                        {FileSystemKind::kFat32, 8},
                        {FileSystemKind::kFat32, 64}};
  testing::ScratchFile scratch("fs");
  for (const auto& c : cases) {
    FormatOptions format;
    format.kind = c.kind;
    format.sectorsPerCluster = c.spc;
    auto f = MakeVolume(scratch.Path(), 600000, format);
    ASSERT_TRUE(f.fs);
    const Geometry& g = f.fs->GetGeometry();
    const auto boot = ReadBoot(*f.volume);
    EXPECT_EQ(512, GetLe16(&boot[0x0B]));
    EXPECT_EQ(c.spc, boot[0x0D]);
    EXPECT_EQ(0xAA55, GetLe16(&boot[510]));
    if (c.kind == FileSystemKind::kNtfs) {
      EXPECT_EQ(0, std::memcmp(&boot[3], "NTFS", 4));
      EXPECT_EQ(0u, g.dataStartSector);
      EXPECT_EQ(600000u - 1, GetLe64(&boot[0x28]));
      EXPECT_LE(g.clusterCount * c.spc, 600000u - 1);
    } else {
      EXPECT_NE(0, std::memcmp(&boot[3], "NTFS", 4));
      EXPECT_EQ(0, std::memcmp(&boot[0x52], "FAT32", 5));
      // Data start = reserved + FAT count x sectors per FAT, as the engine sums it.
      const uint64_t dataStart = GetLe16(&boot[0x0E]) + uint64_t{boot[0x10]} * GetLe32(&boot[0x24]);
      EXPECT_EQ(dataStart, g.dataStartSector);
      EXPECT_EQ(600000u, GetLe16(&boot[0x13]) + uint64_t{GetLe32(&boot[0x20])});
      // Each FAT holds an entry for every cluster, the two reserved ones included.
      EXPECT_GE(uint64_t{GetLe32(&boot[0x24])} * 512 / 4, g.clusterCount + 2);
      EXPECT_LE(g.dataStartSector + g.clusterCount * c.spc, 600000u);
    }
  }
}

TEST(BootSector, CanClaimAnotherSectorSizeForRefusalTests) {
  testing::ScratchFile scratch("fs");
  FormatOptions format;
  format.bootSectorBytesPerSector = 4096;
  auto f = MakeVolume(scratch.Path(), 100000, format);
  ASSERT_TRUE(f.fs);
  EXPECT_EQ(4096, GetLe16(&ReadBoot(*f.volume)[0x0B]));
}

class BitmapTest : public ::testing::Test {
 protected:
  // NTFS with one sector per cluster: clusters = volume sectors - 1.
  void Format(uint64_t clusters) {
    FormatOptions format;
    format.sectorsPerCluster = 1;
    f_ = MakeVolume(scratch_.Path(), clusters + 1, format);
    ASSERT_TRUE(f_.fs);
    ASSERT_EQ(clusters, f_.fs->GetGeometry().clusterCount);
  }

  testing::ScratchFile scratch_{"bitmap"};
  Formatted f_;
};

TEST_F(BitmapTest, StartIsRoundedDownToAByteAndTheSizeCountsFromThere) {
  Format(100000);
  ASSERT_EQ(kStatusSuccess, f_.fs->CreateFile(u"\\a", 0, {{2100, 3}, {2109, 1}}));
  std::vector<uint8_t> out(kEngineWindowBytes, 0xCC);
  const IoAnswer a = QueryBitmap(*f_.fs, 2103, &out);
  EXPECT_EQ(kStatusBufferOverflow, a.status);  // 100,000 - 2,096 bits do not fit in 4,096 bytes
  EXPECT_EQ(kEngineWindowBytes, a.information);
  EXPECT_EQ(2096u, GetLe64(&out[0]));
  EXPECT_EQ(100000u - 2096, GetLe64(&out[8]));
  // Clusters 2100-2102 are bits 4-6 of byte 0; cluster 2109 is bit 5 of byte 1.
  EXPECT_EQ(0x70, out[16]);
  EXPECT_EQ(0x20, out[17]);
  EXPECT_EQ(0x00, out[18]);
}

TEST_F(BitmapTest, RefusesBadRequestsWithNtStatuses) {
  Format(1000);
  std::vector<uint8_t> out(64);
  struct Case {
    const char* what;
    int64_t start;
    uint32_t outLength;
    Status status;
    uint32_t information;
  };
  const Case cases[] = {
      {"start at the end", 1000, 64, kStatusInvalidParameter, 0},
      {"start past the end", 5000, 64, kStatusInvalidParameter, 0},
      {"negative start", -8, 64, kStatusInvalidParameter, 0},
      {"no room for the head", 0, 15, kStatusBufferTooSmall, 0},
      {"room for the head only", 0, 16, kStatusBufferOverflow, 16},
      {"last byte, partly past the end", 999, 64, kStatusSuccess, 17},
  };
  for (const auto& c : cases) {
    uint8_t in[8];
    PutLe64(in, static_cast<uint64_t>(c.start));
    const IoAnswer a = f_.fs->GetVolumeBitmap(in, 8, out.data(), c.outLength);
    EXPECT_EQ(c.status, a.status) << c.what;
    EXPECT_EQ(c.information, a.information) << c.what;
  }
  uint8_t in[8] = {};
  EXPECT_EQ(kStatusInvalidParameter, f_.fs->GetVolumeBitmap(in, 7, out.data(), 64).status);
}

// The engine walks the bitmap in 32,768-bit windows and continues only on
// STATUS_BUFFER_OVERFLOW; at exact multiples a false "more" or a missing one
// would lose or invent clusters.
TEST_F(BitmapTest, WindowWalkCoversEveryClusterOnceAtWindowMultiples) {
  for (const uint64_t clusters : {2 * kWindowBits - 1, 2 * kWindowBits, 2 * kWindowBits + 1}) {
    SCOPED_TRACE(clusters);
    Format(clusters);
    // A run that straddles the first window boundary and the very last cluster.
    ASSERT_EQ(kStatusSuccess,
              f_.fs->CreateFile(u"\\straddle", 0,
                                {{int64_t(kWindowBits) - 3, 6}, {int64_t(clusters) - 1, 1}}));
    std::vector<bool> seen;
    uint64_t start = 0;
    int windows = 0;
    std::vector<uint8_t> out(kEngineWindowBytes);
    for (;;) {
      const IoAnswer a = QueryBitmap(*f_.fs, static_cast<int64_t>(start), &out);
      ASSERT_TRUE(a.status == kStatusSuccess || a.status == kStatusBufferOverflow);
      ++windows;
      const uint64_t size = GetLe64(&out[8]);
      const uint64_t n = std::min(size, kWindowBits);
      for (uint64_t i = 0; i < n; ++i) seen.push_back((out[16 + i / 8] >> (i % 8) & 1) != 0);
      if (a.status != kStatusBufferOverflow) break;
      start = GetLe64(&out[0]) + n;
      ASSERT_LT(windows, 10);
    }
    EXPECT_EQ((clusters + kWindowBits - 1) / kWindowBits, uint64_t(windows));
    ASSERT_EQ(clusters, seen.size());
    for (uint64_t lcn = 0; lcn < clusters; ++lcn) {
      ASSERT_EQ(f_.fs->IsAllocated(lcn), seen[lcn]) << "cluster " << lcn;
    }
  }
}

class PointersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    f_ = MakeVolume(scratch_.Path(), 200000, FormatOptions{});
    ASSERT_TRUE(f_.fs);
    // Runs: 10 clusters at 5000, a 4-cluster hole, 6 at 9000, 2 at 300.
    ASSERT_EQ(kStatusSuccess, f_.fs->CreateFile(u"\\data\\File.bin", 22 * 4096,
                                                {{5000, 10}, {-1, 4}, {9000, 6}, {300, 2}},
                                                kFileAttributeArchive | kFileAttributeSparse));
    file_ = f_.fs->Find(u"\\DATA\\file.BIN");
    ASSERT_NE(nullptr, file_);
  }

  testing::ScratchFile scratch_{"pointers"};
  Formatted f_;
  const FileRecord* file_ = nullptr;
};

TEST_F(PointersTest, AnswerStartsAtTheExtentHoldingTheVcn) {
  std::vector<uint8_t> out(kEngineWindowBytes);
  IoAnswer a = QueryPointers(*f_.fs, *file_, 0, &out);
  EXPECT_EQ(kStatusSuccess, a.status);
  EXPECT_EQ(16u + 4 * 16, a.information);
  EXPECT_EQ(4u, GetLe32(&out[0]));
  EXPECT_EQ(0u, GetLe64(&out[8]));
  const uint64_t expected[4][2] = {{10, 5000}, {14, ~0ull}, {20, 9000}, {22, 300}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(expected[i][0], GetLe64(&out[16 + 16 * i])) << i;
    EXPECT_EQ(expected[i][1], GetLe64(&out[24 + 16 * i])) << i;
  }

  a = QueryPointers(*f_.fs, *file_, 17, &out);  // inside the run at 9000
  EXPECT_EQ(kStatusSuccess, a.status);
  EXPECT_EQ(2u, GetLe32(&out[0]));
  EXPECT_EQ(14u, GetLe64(&out[8]));
  EXPECT_EQ(20u, GetLe64(&out[16]));
  EXPECT_EQ(9000u, GetLe64(&out[24]));
}

TEST_F(PointersTest, EndOfAllocationAndShortBuffersAnswerAsNtDoes) {
  std::vector<uint8_t> out(kEngineWindowBytes);
  EXPECT_EQ(kStatusEndOfFile, QueryPointers(*f_.fs, *file_, 22, &out).status);
  EXPECT_EQ(kStatusEndOfFile, QueryPointers(*f_.fs, *file_, 1000, &out).status);
  EXPECT_EQ(kStatusInvalidParameter, QueryPointers(*f_.fs, *file_, -1, &out).status);
  std::vector<uint8_t> small(31);
  EXPECT_EQ(kStatusBufferTooSmall, QueryPointers(*f_.fs, *file_, 0, &small).status);
  std::vector<uint8_t> one(32);
  const IoAnswer a = QueryPointers(*f_.fs, *file_, 0, &one);
  EXPECT_EQ(kStatusBufferOverflow, a.status);
  EXPECT_EQ(32u, a.information);
  EXPECT_EQ(1u, GetLe32(&one[0]));
  // A file without clusters (resident data) has nothing to describe.
  ASSERT_EQ(kStatusSuccess, f_.fs->CreateFile(u"\\tiny.txt", 0, {}));
  EXPECT_EQ(kStatusEndOfFile, QueryPointers(*f_.fs, *f_.fs->Find(u"\\tiny.txt"), 0, &out).status);
}

// The engine's walk: continue from the last NextVcn and stop only on an
// error; it must end and see each extent once, even two extents per answer.
TEST_F(PointersTest, TheEnginesWalkEndsOnEndOfFile) {
  std::vector<uint8_t> out(16 + 2 * 16);
  std::vector<int64_t> lcns;
  int64_t vcn = 0;
  Status status = kStatusSuccess;
  for (int calls = 0; calls < 10; ++calls) {
    status = QueryPointers(*f_.fs, *file_, vcn, &out).status;
    if (IsError(status)) break;
    const uint32_t count = GetLe32(&out[0]);
    for (uint32_t i = 0; i < count; ++i)
      lcns.push_back(static_cast<int64_t>(GetLe64(&out[24 + 16 * i])));
    vcn = static_cast<int64_t>(GetLe64(&out[16 + 16 * (count - 1)]));
  }
  EXPECT_EQ(kStatusEndOfFile, status);
  EXPECT_EQ((std::vector<int64_t>{5000, -1, 9000, 300}), lcns);
}

TEST(Allocation, FreeingLeavesTheDataAndReusingDoesNotWrite) {
  testing::ScratchFile scratch("alloc");
  auto f = MakeVolume(scratch.Path(), 100000, FormatOptions{});
  ASSERT_TRUE(f.fs);
  const uint64_t freeBefore = f.fs->FreeClusters();
  uint64_t lcn = 0;
  ASSERT_EQ(kStatusSuccess, f.fs->CreateContiguousFile(u"\\old.dat", 3 * 4096, &lcn));
  EXPECT_EQ(freeBefore - 3, f.fs->FreeClusters());
  std::vector<uint8_t> data(3 * 4096, 0x5A);
  ASSERT_EQ(kStatusSuccess,
            f.fs->WriteFileData(*f.fs->Find(u"\\old.dat"), 0, data.data(), data.size()));

  ASSERT_EQ(kStatusSuccess, f.fs->DeleteFile(u"\\OLD.DAT"));
  EXPECT_EQ(freeBefore, f.fs->FreeClusters());
  EXPECT_FALSE(f.fs->IsAllocated(lcn));
  ASSERT_EQ(kStatusSuccess, f.fs->CreateFile(u"\\new.dat", 4096, {{int64_t(lcn) + 1, 1}}));
  std::vector<uint8_t> sector(512);
  ASSERT_EQ(kStatusSuccess,
            f.volume->Read(f.fs->ClusterToSector(lcn + 1) * 512, 512, sector.data()).status);
  EXPECT_EQ(std::vector<uint8_t>(512, 0x5A), sector);  // allocated, not yet written

  // Clusters cannot belong to two files, nor lie past the volume's end.
  EXPECT_EQ(kStatusAccessDenied, f.fs->CreateFile(u"\\clash", 0, {{int64_t(lcn) + 1, 1}}));
  EXPECT_EQ(nullptr, f.fs->Find(u"\\clash"));
  EXPECT_EQ(kStatusInvalidParameter,
            f.fs->CreateFile(u"\\far", 0, {{int64_t(f.fs->GetGeometry().clusterCount), 1}}));
  EXPECT_EQ(kStatusObjectNameCollision, f.fs->CreateFile(u"\\NEW.dat", 0, {}));
  // A failed creation gives back what it had taken.
  const uint64_t freeNow = f.fs->FreeClusters();
  EXPECT_EQ(kStatusAccessDenied,
            f.fs->CreateFile(u"\\half", 0, {{6000, 2}, {int64_t(lcn) + 1, 1}}));
  EXPECT_EQ(freeNow, f.fs->FreeClusters());
}

TEST(Fat32, ClusterZeroOfTheBitmapIsTheFirstDataCluster) {
  testing::ScratchFile scratch("fat");
  FormatOptions format;
  format.kind = FileSystemKind::kFat32;
  format.sectorsPerCluster = 4;
  auto f = MakeVolume(scratch.Path(), 300000, format);
  ASSERT_TRUE(f.fs);
  const Geometry& g = f.fs->GetGeometry();
  EXPECT_TRUE(f.fs->IsAllocated(0));  // the root directory, cluster 2
  ASSERT_EQ(kStatusSuccess, f.fs->CreateFile(u"\\x", 2048, {{1, 1}}));
  std::vector<uint8_t> data(2048, 0xA7);
  ASSERT_EQ(kStatusSuccess, f.fs->WriteFileData(*f.fs->Find(u"\\x"), 0, data.data(), data.size()));
  std::vector<uint8_t> sector(512);
  ASSERT_EQ(kStatusSuccess,
            f.volume->Read((g.dataStartSector + 4) * 512, 512, sector.data()).status);
  EXPECT_EQ(std::vector<uint8_t>(512, 0xA7), sector);
}

TEST(VolumeControl, MarkHandleLockAndDismount) {
  testing::ScratchFile scratch("ctl");
  auto ntfs = MakeVolume(scratch.Path(), 100000, FormatOptions{});
  ASSERT_TRUE(ntfs.fs);
  ASSERT_EQ(kStatusSuccess, ntfs.fs->CreateContiguousFile(u"\\space", 65536, nullptr));
  FileRecord& file = *ntfs.fs->Find(u"\\space");
  EXPECT_EQ(kStatusInvalidParameter, ntfs.fs->MarkHandle(file, false, kMarkHandleProtectClusters));
  EXPECT_FALSE(file.pinned);
  EXPECT_EQ(kStatusSuccess, ntfs.fs->MarkHandle(file, true, kMarkHandleProtectClusters));
  EXPECT_TRUE(file.pinned);

  EXPECT_EQ(kStatusSuccess, ntfs.fs->LockVolume());
  EXPECT_EQ(kStatusAccessDenied, ntfs.fs->LockVolume());
  EXPECT_EQ(kStatusSuccess, ntfs.fs->DismountVolume());
  EXPECT_TRUE(ntfs.fs->IsDismounted());
  EXPECT_EQ(kStatusSuccess, ntfs.fs->UnlockVolume());
  EXPECT_FALSE(ntfs.fs->IsLocked());

  testing::ScratchFile scratch2("ctl2");
  FormatOptions format;
  format.kind = FileSystemKind::kFat32;
  auto fat = MakeVolume(scratch2.Path(), 300000, format);
  ASSERT_TRUE(fat.fs);
  ASSERT_EQ(kStatusSuccess, fat.fs->CreateContiguousFile(u"\\space", 65536, nullptr));
  EXPECT_EQ(kStatusInvalidDeviceRequest,
            fat.fs->MarkHandle(*fat.fs->Find(u"\\space"), true, kMarkHandleProtectClusters));
}

}  // namespace
}  // namespace vh::storage
