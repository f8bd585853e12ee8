// The engine header's readers over an installed machine: the "Parameter"
// record from the registry, the boot-sector geometry, the header validator
// and the search of the header locations, the space bitmap and the block
// bitmaps, all through the emulated device stack (disk image, volume device,
// the engine's filter on top).
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine.h"
#include "engine_header.h"
#include "engine_io.h"
#include "engine_state.h"
#include "kernel_test.h"
#include "vh/storage/installed_machine.h"

namespace vh::test {
namespace {

using storage::Installation;
using storage::InstalledMachine;
using storage::MachineOptions;

constexpr NTSTATUS kInvalid = STATUS_INVALID_PARAMETER;

std::vector<std::string> ErrorLines() {
  std::vector<std::string> out;
  for (const std::string& line : hk::DbgLines()) {
    if (line.rfind("ERROR:QVR (", 0) == 0) out.push_back(line);
  }
  return out;
}

template <class Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& param) {
  return param.param.name;
}

bool LogHas(const std::string& text) {
  for (const std::string& line : ErrorLines()) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

// The engine's driver object and extension, an installed machine, and one
// volume filter of the engine attached to the protected volume.
class HeaderTest : public hk::testing::KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    driver_ = hk::CreateTestDriver(u"\\Driver\\Varnholt");
    for (auto& routine : driver_->MajorFunction) routine = EngineDispatchPassThrough;
    EngineDriverObject = driver_;
    PVOID extension = nullptr;
    ASSERT_EQ(
        IoAllocateDriverObjectExtension(driver_, driver_, sizeof(DriverExtension), &extension),
        STATUS_SUCCESS);
    driverExtension_ = static_cast<DriverExtension*>(extension);
    KeInitializeMutex(&driverExtension_->EngineLock, 1);
  }

  void TearDown() override {
    if (filter_ != nullptr) {
      FreeVolumeEngineState(volume_);
      IoDetachDevice(volume_->LowerDevice);
      IoDeleteDevice(filter_);
    }
    machine_.reset();
    ResetEngineGlobals();
    KernelTest::TearDown();
  }

  // Installs, reads "Parameter" as the driver does at start, and attaches a
  // filter to the protected volume.
  void Boot(const MachineOptions& options = {}) {
    ASSERT_EQ(InstalledMachine::Build(options, &machine_), STATUS_SUCCESS);
    UNICODE_STRING key;
    RtlInitUnicodeString(&key, machine_->ServiceKey().c_str());
    ASSERT_EQ(ReadRegistryValue(&key, &driverExtension_->EngineParameters), STATUS_SUCCESS);
    ASSERT_EQ(IoCreateDevice(driver_, sizeof(VolumeFilterExtension), nullptr, FILE_DEVICE_DISK, 0,
                             FALSE, &filter_),
              STATUS_SUCCESS);
    volume_ = static_cast<PVolumeFilterExtension>(filter_->DeviceExtension);
    volume_->Kind = KindPrimaryVolume;
    volume_->TargetDevice = machine_->ProtectedVolume();
    volume_->LowerDevice = IoAttachDeviceToDeviceStack(filter_, machine_->ProtectedVolume());
    filter_->Flags |= DO_DIRECT_IO;
    filter_->Flags &= ~static_cast<ULONG>(DO_DEVICE_INITIALIZING);
  }

  Installation& Installed() { return machine_->Installed(); }

  // Rewrites the header on the image at engine sector 0.
  void WriteHeader(const EngineHeader& header) {
    ASSERT_EQ(Installed().WriteEngineSectors(0, kEngineHeaderSectors, &header),
              storage::kStatusSuccess);
  }

  void WriteEngineSectors(uint64_t first, const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(bytes.size() % kSectorBytes, 0u);
    ASSERT_EQ(Installed().WriteEngineSectors(first, bytes.size() / kSectorBytes, bytes.data()),
              storage::kStatusSuccess);
  }

  // The installed header with one snapshot recorded, as the engine would
  // find it after its first snapshot.
  EngineHeader WithOneSnapshot() {
    EngineHeader header = *Installed().header;
    header.SnapshotCount = 1;
    header.CountCopy = 1;
    return header;
  }

  PDRIVER_OBJECT driver_ = nullptr;
  DriverExtension* driverExtension_ = nullptr;
  std::unique_ptr<InstalledMachine> machine_;
  PDEVICE_OBJECT filter_ = nullptr;
  PVolumeFilterExtension volume_ = nullptr;
};

// ------------------------------------------------------------ installed image

struct Form {
  const char* name;
  uint32_t pieces;
  storage::FileSystemKind kind;
};

class InstalledImage : public HeaderTest, public ::testing::WithParamInterface<Form> {};

TEST_P(InstalledImage, LoadsAndValidatesThroughTheDeviceStack) {
  MachineOptions options;
  options.install.areaPieces = GetParam().pieces;
  options.install.format.kind = GetParam().kind;
  Boot(options);

  ASSERT_EQ(ReadBootSectorGeometry(filter_), STATUS_SUCCESS);
  const storage::Geometry& geometry = Installed().fs->GetGeometry();
  EXPECT_EQ(volume_->FileSystemKind, static_cast<ULONG>(GetParam().kind));
  EXPECT_EQ(volume_->BytesPerSector, 512u);
  EXPECT_EQ(volume_->SectorsPerCluster, geometry.sectorsPerCluster);
  EXPECT_EQ(volume_->DataStartSector, geometry.dataStartSector);

  ASSERT_EQ(LoadEngineHeader(filter_), STATUS_SUCCESS);
  ASSERT_NE(volume_->Header, nullptr);
  EXPECT_EQ(std::memcmp(volume_->Header, Installed().header.get(), sizeof(EngineHeader)), 0);
  EXPECT_EQ(volume_->Header->SectorsPerCluster, volume_->SectorsPerCluster);
  EXPECT_EQ(volume_->Header->DataStartSector, volume_->DataStartSector);
  EXPECT_EQ(volume_->Header->AreaBaseSector != 0, GetParam().pieces == 1);

  ASSERT_EQ(LoadSpaceBitmap(filter_), STATUS_SUCCESS);
  EXPECT_EQ(volume_->SpaceBitmapBytes, 1024u);
  EXPECT_EQ(volume_->TotalSectors, 524288u);
  EXPECT_EQ(volume_->FreeSectors, volume_->TotalSectors);

  ASSERT_EQ(BuildRedirectBitmaps(filter_), STATUS_SUCCESS);
  const ULONGLONG mapSectors = volume_->Header->BlockMapLast - volume_->Header->BlockMapFirst + 1;
  EXPECT_EQ(volume_->MarkedBlocksBytes, mapSectors * 16);
  EXPECT_EQ(volume_->SavedBlocksBytes, mapSectors * 16);
  EXPECT_EQ(RtlNumberOfClearBits(&volume_->MarkedBlocks), mapSectors * 128);
  EXPECT_EQ(RtlNumberOfClearBits(&volume_->SavedBlocks), mapSectors * 128);
  EXPECT_TRUE(ErrorLines().empty());
}

TEST_P(InstalledImage, SavedStateIsReadThroughTheAreasAddressing) {
  MachineOptions options;
  options.install.areaPieces = GetParam().pieces;
  options.install.format.kind = GetParam().kind;
  Boot(options);
  const EngineHeader header = WithOneSnapshot();
  WriteHeader(header);
  // Space blocks 0..9 and 100 in use.
  std::vector<uint8_t> bitmap(1024, 0);
  bitmap[0] = 0xFF;
  bitmap[1] = 0x03;
  bitmap[12] = 0x10;
  WriteEngineSectors(header.SpaceBitmapSector, bitmap);
  // Live map: page 0 marks block 3 free-at-snapshot and blocks 5 and 8200
  // (page 1) saved; page 1 ends in an invalid entry after block 8200.
  std::vector<uint8_t> pages(2 * kBlockBytes, 0);
  auto put = [&](uint32_t block, uint32_t value) { std::memcpy(&pages[block * 4], &value, 4); };
  put(3, kMapEntryFree);
  put(5, 64);
  put(8200, 128);
  put(8201, 32);   // not a multiple of a block: ends the scan
  put(8202, 192);  // never seen
  WriteEngineSectors(header.BlockMapFirst, pages);

  ASSERT_EQ(LoadEngineHeader(filter_), STATUS_SUCCESS);
  ASSERT_EQ(LoadSpaceBitmap(filter_), STATUS_SUCCESS);
  EXPECT_EQ(volume_->TotalSectors, 524288u);
  EXPECT_EQ(volume_->FreeSectors, (8192u - 11u) * 64u);

  ASSERT_EQ(BuildRedirectBitmaps(filter_), STATUS_SUCCESS);
  EXPECT_TRUE(RtlTestBit(&volume_->MarkedBlocks, 3));
  EXPECT_EQ(RtlNumberOfSetBits(&volume_->MarkedBlocks), 1u);
  EXPECT_TRUE(RtlTestBit(&volume_->SavedBlocks, 5));
  EXPECT_TRUE(RtlTestBit(&volume_->SavedBlocks, 8200));
  EXPECT_FALSE(RtlTestBit(&volume_->SavedBlocks, 8202)) << "the scan ends at the invalid entry";
  EXPECT_EQ(RtlNumberOfSetBits(&volume_->SavedBlocks), 2u);
  EXPECT_TRUE(LogHas("SNAP 00000020"));
}

const Form kForms[] = {
    {"NtfsContiguous", 1, storage::FileSystemKind::kNtfs},
    {"NtfsThreePieces", 3, storage::FileSystemKind::kNtfs},
    {"NtfsEightPieces", 8, storage::FileSystemKind::kNtfs},
    {"Fat32TwoPieces", 2, storage::FileSystemKind::kFat32},
};
INSTANTIATE_TEST_SUITE_P(Forms, InstalledImage, ::testing::ValuesIn(kForms), CaseName<Form>);

// The loaders wait correctly however the volume completes their reads.
class EveryCompletion : public HeaderTest,
                        public ::testing::WithParamInterface<storage::StorageCompletion> {};

TEST_P(EveryCompletion, LoadersSeeTheSameState) {
  MachineOptions options;
  options.install.areaPieces = 2;
  Boot(options);
  machine_->Storage().Knobs(1).completion = GetParam();
  const EngineHeader header = WithOneSnapshot();
  WriteHeader(header);
  std::vector<uint8_t> bitmap(1024, 0);
  bitmap[1] = 0x81;
  WriteEngineSectors(header.SpaceBitmapSector, bitmap);
  std::vector<uint8_t> page(kBlockBytes, 0);
  const uint32_t saved = 64;
  std::memcpy(&page[77 * 4], &saved, 4);
  WriteEngineSectors(header.BlockMapFirst, page);

  ASSERT_EQ(ReadBootSectorGeometry(filter_), STATUS_SUCCESS);
  ASSERT_EQ(LoadEngineHeader(filter_), STATUS_SUCCESS);
  ASSERT_EQ(LoadSpaceBitmap(filter_), STATUS_SUCCESS);
  EXPECT_EQ(volume_->FreeSectors, (8192u - 2u) * 64u);
  ASSERT_EQ(BuildRedirectBitmaps(filter_), STATUS_SUCCESS);
  EXPECT_TRUE(RtlTestBit(&volume_->SavedBlocks, 77));
  EXPECT_EQ(RtlNumberOfSetBits(&volume_->SavedBlocks), 1u);
  EXPECT_TRUE(hk::TakeThreadFaults().empty());
}

INSTANTIATE_TEST_SUITE_P(Modes, EveryCompletion,
                         ::testing::Values(storage::StorageCompletion::kInline,
                                           storage::StorageCompletion::kPendingInline,
                                           storage::StorageCompletion::kOtherThread,
                                           storage::StorageCompletion::kOtherThreadAtDispatch));

// ------------------------------------------------------------ the validator

struct Breakage {
  const char* name;
  void (*apply)(EngineHeader& h);
  bool matchesLocation;  // else the search passes it by before validating
};

void Swap(uint64_t& first, uint64_t& last) {
  last = first;
  first = first + 1;
}

const Breakage kBreakages[] = {
    {"Version", [](EngineHeader& h) { h.Version = 0x20000; }, true},
    {"Magic", [](EngineHeader& h) { h.Magic = 0x4D4C454B; }, false},
    {"VolumeIdZero", [](EngineHeader& h) { h.VolumeId = 0; }, false},
    {"Signature", [](EngineHeader& h) { h.Signature = 0x55AA; }, false},
    {"MoreSnapshotsThanMaximum",
     [](EngineHeader& h) { h.SnapshotCount = h.CountCopy = h.MaxSnapshots + 1; }, true},
    {"BootBackupPair", [](EngineHeader& h) { Swap(h.BootBackupSector, h.BootBackupLastSector); },
     true},
    {"BootImagePair", [](EngineHeader& h) { Swap(h.BootImageSector, h.BootImageLastSector); },
     true},
    {"SpaceBitmapPair", [](EngineHeader& h) { Swap(h.SpaceBitmapSector, h.SpaceBitmapLastSector); },
     true},
    {"SpacePair", [](EngineHeader& h) { Swap(h.SpaceFirst, h.SpaceLast); }, true},
    {"AreaPair", [](EngineHeader& h) { h.AreaLastSector = h.AreaBaseSector - 1; }, true},
    {"LoaderImagePair", [](EngineHeader& h) { Swap(h.LoaderImageSector, h.LoaderImageLastSector); },
     true},
    {"HeaderPair", [](EngineHeader& h) { Swap(h.HeaderSector, h.HeaderLastSector); }, true},
    {"BlockMapPair", [](EngineHeader& h) { Swap(h.BlockMapFirst, h.BlockMapLast); }, true},
    {"OldestAboveMaximum", [](EngineHeader& h) { h.OldestNumber = h.MaxSnapshots + 1; }, true},
    {"CountCopyAboveCount", [](EngineHeader& h) { h.CountCopy = h.SnapshotCount + 1; }, true},
};

class BrokenHeader : public HeaderTest, public ::testing::WithParamInterface<Breakage> {};

TEST_P(BrokenHeader, IsRefusedAndNeverLoaded) {
  Boot();
  EngineHeader header = *Installed().header;
  GetParam().apply(header);
  EXPECT_FALSE(ValidateEngineHeader(&header));
  EXPECT_TRUE(LogHas("Error 00000000"));

  hk::ClearDbgLog();
  WriteHeader(header);
  EXPECT_EQ(LoadEngineHeader(filter_), kInvalid);
  EXPECT_EQ(volume_->Header, nullptr);
  // A header the search cannot match is refused as well, before validation.
  EXPECT_EQ(LogHas("Error 00000000"), GetParam().matchesLocation);
}

INSTANTIATE_TEST_SUITE_P(EachRule, BrokenHeader, ::testing::ValuesIn(kBreakages),
                         CaseName<Breakage>);

TEST_F(HeaderTest, ValidatorAcceptsTheInstalledHeaderAndACountCopyBelowTheCount) {
  Boot();
  EngineHeader header = *Installed().header;
  EXPECT_TRUE(ValidateEngineHeader(&header));
  header.SnapshotCount = 3;
  header.CountCopy = 2;
  EXPECT_TRUE(ValidateEngineHeader(&header));
  header.SnapshotCount = header.MaxSnapshots;
  header.CountCopy = header.MaxSnapshots;
  header.OldestNumber = header.MaxSnapshots;
  EXPECT_TRUE(ValidateEngineHeader(&header)) << "equal to the maximum is allowed";
  EXPECT_TRUE(ErrorLines().empty());
}

// ------------------------------------------------------------ header locations

TEST_F(HeaderTest, LocationWithAnotherVolumeIdIsSkippedAndTheFourthMayMatch) {
  MachineOptions options;
  options.adjust = [](Installation& installed, void*) {
    HeaderLocation real = installed.parameters.HeaderLocations[0];
    // Location 0 holds a header of another volume, 1 lies past the volume's
    // end, 2 is an unwritten sector; 3 is the real one.
    installed.parameters.HeaderLocations[0] = {real.Sector, 1, real.VolumeId + 1};
    installed.parameters.HeaderLocations[1] = {installed.volume->SectorCount() + 10, 1,
                                               real.VolumeId};
    installed.parameters.HeaderLocations[2] = {4096, 1, real.VolumeId};
    installed.parameters.HeaderLocations[3] = real;
  };
  Boot(options);
  ASSERT_EQ(LoadEngineHeader(filter_), STATUS_SUCCESS);
  ASSERT_NE(volume_->Header, nullptr);
  EXPECT_EQ(volume_->Header->VolumeId, Installed().header->VolumeId);
  EXPECT_EQ(ErrorLines().size(), 1u) << "only the failed read of location 1 is logged";
}

TEST_F(HeaderTest, NoMatchingLocationLeavesTheVolumeWithoutHeader) {
  MachineOptions options;
  options.adjust = [](Installation& installed, void*) {
    for (HeaderLocation& location : installed.parameters.HeaderLocations)
      location = {2048, 1, 0x1234};
  };
  Boot(options);
  EXPECT_EQ(LoadEngineHeader(filter_), kInvalid);
  EXPECT_EQ(volume_->Header, nullptr);
}

TEST_F(HeaderTest, InvalidParameterRecordIsRefusedBeforeAnyRead) {
  struct Case {
    const char* name;
    void (*apply)(EngineParameters& p);
  };
  const Case cases[] = {
      {"magic", [](EngineParameters& p) { p.Magic = 0; }},
      {"word at 8", [](EngineParameters& p) { p.Word008 = 0; }},
      {"signature", [](EngineParameters& p) { p.Signature = 0; }},
  };
  Boot();
  const EngineParameters good = driverExtension_->EngineParameters;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    driverExtension_->EngineParameters = good;
    c.apply(driverExtension_->EngineParameters);
    const uint64_t transfers = Installed().disk->TransferCount();
    EXPECT_EQ(LoadEngineHeader(filter_), kInvalid);
    EXPECT_EQ(volume_->Header, nullptr);
    EXPECT_EQ(Installed().disk->TransferCount(), transfers);
  }
}

TEST_F(HeaderTest, FailedAllocationLeavesNoHeader) {
  Boot();
  hk::FailPoolAllocation(1);
  EXPECT_EQ(LoadEngineHeader(filter_), STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_EQ(volume_->Header, nullptr);
}

TEST_F(HeaderTest, LocationReadFailureIsSkipped) {
  Boot();
  // The first transfer from now (location 0's read) fails; the record names
  // the real header again at location 1.
  driverExtension_->EngineParameters.HeaderLocations[1] =
      driverExtension_->EngineParameters.HeaderLocations[0];
  Installed().disk->FailTransfer(1, storage::kStatusDeviceDataError);
  ASSERT_EQ(LoadEngineHeader(filter_), STATUS_SUCCESS);
  EXPECT_TRUE(LogHas("SNAP c000009c"));
}

// ------------------------------------------------------------ space bitmap

struct SpaceCase {
  const char* name;
  uint64_t spaceSectors;      // SpaceLast - SpaceFirst + 1
  int64_t bitmapRegionDelta;  // added to the installed bitmap region's last sector
  NTSTATUS expected;
  ULONG bytes;
};

class SpaceBitmapSize : public HeaderTest, public ::testing::WithParamInterface<SpaceCase> {};

TEST_P(SpaceBitmapSize, FollowsTheSpaceInWholeUnits) {
  Boot();
  EngineHeader header = *Installed().header;
  header.SpaceLast = header.SpaceFirst + GetParam().spaceSectors - 1;
  header.SpaceBitmapLastSector = static_cast<uint64_t>(
      static_cast<int64_t>(header.SpaceBitmapLastSector) + GetParam().bitmapRegionDelta);
  WriteHeader(header);
  ASSERT_EQ(LoadEngineHeader(filter_), STATUS_SUCCESS);
  EXPECT_EQ(LoadSpaceBitmap(filter_), GetParam().expected);
  EXPECT_EQ(volume_->SpaceBitmapBytes, GetParam().bytes);
  EXPECT_EQ(volume_->TotalSectors, GetParam().bytes * 512);
  EXPECT_EQ(volume_->SpaceBitmapBuffer == nullptr, GetParam().bytes == 0);
}

const SpaceCase kSpaceCases[] = {
    {"TwoUnits", 4096ull * 64 * 2, 0, STATUS_SUCCESS, 1024},
    {"OneSectorLessIsOneUnit", 4096ull * 64 * 2 - 1, 0, kInvalid, 0},
    {"RemainderRoundsDown", 4096ull * 64 * 2 + 63, 0, STATUS_SUCCESS, 1024},
    {"LargestBitmap", 8191ull * 262144, 8189, STATUS_SUCCESS, 4193792},
    {"AboveTheLargest", 8192ull * 262144, 8190, kInvalid, 0},
    {"RegionShorterThanTheBitmap", 4096ull * 64 * 2, -1, kInvalid, 0},
};
INSTANTIATE_TEST_SUITE_P(Sizes, SpaceBitmapSize, ::testing::ValuesIn(kSpaceCases),
                         CaseName<SpaceCase>);

TEST_F(HeaderTest, SpaceBitmapIsNotReadWithoutSnapshots) {
  Boot();
  // Garbage in the bitmap region must not count while no snapshot exists.
  WriteEngineSectors(Installed().header->SpaceBitmapSector, std::vector<uint8_t>(1024, 0xFF));
  ASSERT_EQ(LoadEngineHeader(filter_), STATUS_SUCCESS);
  const uint64_t transfers = Installed().disk->TransferCount();
  ASSERT_EQ(LoadSpaceBitmap(filter_), STATUS_SUCCESS);
  EXPECT_EQ(Installed().disk->TransferCount(), transfers);
  EXPECT_EQ(volume_->FreeSectors, volume_->TotalSectors);
  EXPECT_EQ(RtlNumberOfSetBits(&volume_->SpaceBitmap), 0u);
}

TEST_F(HeaderTest, SpaceBitmapReadFailureFreesTheBuffer) {
  Boot();
  WriteHeader(WithOneSnapshot());
  ASSERT_EQ(LoadEngineHeader(filter_), STATUS_SUCCESS);
  Installed().disk->FailTransfer(1, storage::kStatusDeviceDataError);
  EXPECT_EQ(LoadSpaceBitmap(filter_), static_cast<NTSTATUS>(storage::kStatusDeviceDataError));
  EXPECT_EQ(volume_->SpaceBitmapBuffer, nullptr);
  EXPECT_EQ(volume_->SpaceBitmapBytes, 0u);
}

// ------------------------------------------------------------ block bitmaps

TEST_F(HeaderTest, BlockMapBoundsThatWrapOrOverflowAreRefusedWithoutAllocating) {
  Boot();
  ASSERT_EQ(LoadEngineHeader(filter_), STATUS_SUCCESS);
  const struct {
    uint64_t first;
    uint64_t last;
  } cases[] = {{0, ~0ull}, {1, 0x100000000ull}, {5, 4}};
  for (const auto& c : cases) {
    volume_->Header->BlockMapFirst = c.first;
    volume_->Header->BlockMapLast = c.last;
    EXPECT_EQ(BuildRedirectBitmaps(filter_), kInvalid);
    EXPECT_EQ(volume_->MarkedBlocksBuffer, nullptr);
    EXPECT_EQ(volume_->SavedBlocksBuffer, nullptr);
  }
}

TEST_F(HeaderTest, MapThatEndsInsideAPageIsReadOnlyAsFarAsItGoes) {
  Boot();
  EngineHeader header = WithOneSnapshot();
  header.BlockMapLast = header.BlockMapFirst + 64 + 10 - 1;  // one page and ten sectors
  WriteHeader(header);
  std::vector<uint8_t> pages(2 * kBlockBytes, 0);
  const uint32_t lastEntry = 8192 + 10 * 128 - 1;
  const uint32_t saved = 64;
  std::memcpy(&pages[lastEntry * 4], &saved, 4);
  std::memcpy(&pages[(lastEntry + 1) * 4], &saved, 4);  // past the map: never read
  WriteEngineSectors(header.BlockMapFirst, pages);
  ASSERT_EQ(LoadEngineHeader(filter_), STATUS_SUCCESS);
  ASSERT_EQ(BuildRedirectBitmaps(filter_), STATUS_SUCCESS);
  EXPECT_EQ(volume_->SavedBlocksBytes, 74u * 16);
  EXPECT_EQ(volume_->SavedBlocks.SizeOfBitMap, lastEntry + 1);
  EXPECT_TRUE(RtlTestBit(&volume_->SavedBlocks, lastEntry));
  EXPECT_EQ(RtlNumberOfSetBits(&volume_->SavedBlocks), 1u);
}

TEST_F(HeaderTest, MapReadFailureFreesBothBitmaps) {
  Boot();
  WriteHeader(WithOneSnapshot());
  ASSERT_EQ(LoadEngineHeader(filter_), STATUS_SUCCESS);
  Installed().disk->FailTransfer(2, storage::kStatusDeviceDataError);
  EXPECT_EQ(BuildRedirectBitmaps(filter_), static_cast<NTSTATUS>(storage::kStatusDeviceDataError));
  EXPECT_EQ(volume_->MarkedBlocksBuffer, nullptr);
  EXPECT_EQ(volume_->SavedBlocksBuffer, nullptr);
}

TEST_F(HeaderTest, MapEntriesAreValidOnlyInsideTheSpace) {
  Boot();
  EXPECT_FALSE(IsValidMapEntry(volume_, 0)) << "no header: every entry is invalid";
  ASSERT_EQ(LoadEngineHeader(filter_), STATUS_SUCCESS);
  const uint32_t blocks =
      static_cast<uint32_t>((volume_->Header->SpaceLast - volume_->Header->SpaceFirst + 1) / 64);
  const struct {
    uint32_t entry;
    bool valid;
  } cases[] = {
      {0, true},
      {kMapEntryFree, true},
      {64, true},
      {blocks * 64, true},         // the last space block
      {(blocks + 1) * 64, false},  // one block past the space's end
      {32, false},
      {65, false},
      {kMapEntryFree + 64, false},  // negative as a signed value
      {0xFFFFFFC0u, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsValidMapEntry(volume_, c.entry) != FALSE, c.valid) << std::hex << c.entry;
  }
}

// ------------------------------------------------------------ geometry

TEST_F(HeaderTest, BootSectorWithOtherThan512ByteSectorsIsRefused) {
  MachineOptions options;
  options.install.format.bootSectorBytesPerSector = 4096;
  Boot(options);
  volume_->SectorsPerCluster = 0xDEAD;
  EXPECT_EQ(ReadBootSectorGeometry(filter_), STATUS_NOT_SUPPORTED);
  EXPECT_EQ(volume_->SectorsPerCluster, 0xDEADu) << "nothing is taken from a refused boot sector";
  EXPECT_EQ(volume_->FileSystemKind, 0u);
}

struct BootCase {
  const char* name;
  void (*apply)(uint8_t* boot);
  NTSTATUS expected;
  ULONG kind;
};

class BootSector : public HeaderTest, public ::testing::WithParamInterface<BootCase> {};

TEST_P(BootSector, NamesTheFileSystem) {
  MachineOptions options;
  options.install.format.kind = storage::FileSystemKind::kFat32;
  Boot(options);
  std::vector<uint8_t> boot(512);
  ASSERT_EQ(Installed().volume->Read(0, 512, boot.data()).status, storage::kStatusSuccess);
  GetParam().apply(boot.data());
  ASSERT_EQ(Installed().volume->Write(0, 512, boot.data()).status, storage::kStatusSuccess);
  EXPECT_EQ(ReadBootSectorGeometry(filter_), GetParam().expected);
  EXPECT_EQ(volume_->FileSystemKind, GetParam().kind);
}

const BootCase kBootCases[] = {
    {"Fat32", [](uint8_t*) {}, STATUS_SUCCESS, kFileSystemFat32},
    {"Fat32WithNtfsAtByte3IsNtfs", [](uint8_t* b) { std::memcpy(b + 3, "NTFS", 4); },
     STATUS_SUCCESS, kFileSystemNtfs},
    {"Unknown", [](uint8_t* b) { std::memcpy(b + 0x52, "FAT16", 5); }, STATUS_UNSUCCESSFUL, 0},
    {"NoSectorsPerCluster", [](uint8_t* b) { b[0x0D] = 0; }, STATUS_UNSUCCESSFUL, 0},
};
INSTANTIATE_TEST_SUITE_P(Kinds, BootSector, ::testing::ValuesIn(kBootCases), CaseName<BootCase>);

TEST_F(HeaderTest, Fat32GeometryCountsReservedSectorsAndBothFats) {
  MachineOptions options;
  options.install.format.kind = storage::FileSystemKind::kFat32;
  options.install.format.fatReservedSectors = 38;
  Boot(options);
  ASSERT_EQ(ReadBootSectorGeometry(filter_), STATUS_SUCCESS);
  const storage::Geometry& geometry = Installed().fs->GetGeometry();
  EXPECT_EQ(volume_->DataStartSector, 38u + 2u * geometry.fatSectors);
  EXPECT_EQ(volume_->TotalVolumeSectors, geometry.volumeSectors);
}

// ------------------------------------------------------------ engine sectors

TEST_F(HeaderTest, EngineSectorsWhoseOffsetWouldWrapMoveNothing) {
  Boot();
  ASSERT_EQ(LoadEngineHeader(filter_), STATUS_SUCCESS);
  std::vector<uint8_t> buffer(1024, 0x5A);
  const uint64_t transfers = Installed().disk->TransferCount();
  EXPECT_EQ(ReadEngineSectors(filter_, ~0ull / 512, 1024, buffer.data()), kInvalid);
  EXPECT_EQ(ReadEngineSectors(filter_, ~0ull - 5, 1024, buffer.data()), kInvalid);
  // Inside the byte range but past the volume: the volume refuses it.
  EXPECT_EQ(ReadEngineSectors(filter_, Installed().volume->SectorCount(), 1024, buffer.data()),
            kInvalid);
  EXPECT_EQ(Installed().disk->TransferCount(), transfers);
  EXPECT_EQ(buffer, std::vector<uint8_t>(1024, 0x5A));
}

// ------------------------------------------------------------ the registry

TEST_F(HeaderTest, RegistryRecordIsCopiedUpToItsSize) {
  Boot();
  const std::u16string key = machine_->ServiceKey();
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, key.c_str());
  struct Padded {
    EngineParameters record;
    uint8_t after[64];
  };
  for (std::size_t size : {std::size_t{100}, std::size_t{1024}, std::size_t{1500}}) {
    SCOPED_TRACE(size);
    std::vector<uint8_t> value(size);
    for (std::size_t i = 0; i < size; ++i) value[i] = static_cast<uint8_t>(i * 7 + 1);
    hk::SetRegistryValue(key, u"Parameter", REG_BINARY, value.data(), value.size());
    Padded padded;
    std::memset(&padded, 0xEE, sizeof padded);
    ASSERT_EQ(ReadRegistryValue(&name, &padded.record), STATUS_SUCCESS);
    const std::size_t copied = size < 1024 ? size : 1024;
    EXPECT_EQ(std::memcmp(&padded.record, value.data(), copied), 0);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&padded);
    for (std::size_t i = copied; i < sizeof padded; ++i) ASSERT_EQ(bytes[i], 0xEE) << "byte " << i;
  }
}

TEST_F(HeaderTest, MissingRegistryValueOrKeyAnswersItsStatus) {
  MachineOptions options;
  options.seedParameter = false;
  ASSERT_EQ(InstalledMachine::Build(options, &machine_), STATUS_SUCCESS);
  EngineParameters record{};
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\Nobody");
  EXPECT_EQ(ReadRegistryValue(&name, &record), STATUS_OBJECT_NAME_NOT_FOUND);
  hk::SetRegistryValue(storage::kEngineServiceKey, u"Other", REG_DWORD, "\1\0\0\0", 4);
  RtlInitUnicodeString(&name, storage::kEngineServiceKey);
  EXPECT_EQ(ReadRegistryValue(&name, &record), STATUS_OBJECT_NAME_NOT_FOUND);
  EXPECT_EQ(ErrorLines().size(), 2u);
}

}  // namespace
}  // namespace vh::test
