#include "vh/storage/installer.h"

#include <algorithm>
#include <cstring>

#include "vh/checked.h"

namespace vh::storage {

namespace {

constexpr uint64_t kRegionAlignSectors = 64;  // regions start on block boundaries
constexpr uint64_t kFirstRegionsSectors = kEngineHeaderSectors + 3 * kBootImageSectors;
constexpr uint32_t kGapClusters = 17;  // between pieces: an odd size keeps pieces off block lines
constexpr size_t kPinnedPath1Max = 59;
constexpr size_t kPinnedPath2Max = 27;
constexpr size_t kHeaderFileNameMax = 59;  // leaves room for a digit and the terminator

uint64_t AlignUp(uint64_t value, uint64_t unit) { return (value + unit - 1) / unit * unit; }

char16_t Upcase(char16_t c) { return (c >= u'a' && c <= u'z') ? c - (u'a' - u'A') : c; }

// "X:\path" with the protected letter, as the engine prefixes it with "\??\".
bool ValidPinnedPath(const std::u16string& path, char16_t letter, size_t maxChars) {
  return path.empty() || (path.size() <= maxChars && path.size() >= 3 && path[0] == letter &&
                          path[1] == u':' && path[2] == u'\\');
}

template <size_t N>
void CopyWide(RecordWChar (&dst)[N], const std::u16string& src) {
  for (size_t i = 0; i < src.size() && i + 1 < N; ++i) dst[i] = static_cast<RecordWChar>(src[i]);
}

Status CheckOptions(const InstallOptions& o, char16_t letter) {
  if (o.imagePath.empty() || o.areaPieces < 1 || o.areaPieces > kAreaExtentCount ||
      o.volumeId == 0 || letter < u'A' || letter > u'Z' || o.maxSnapshots > 32 ||
      o.maxSnapshots == 0 || o.spaceSectors % kBlockSectors != 0 ||
      o.volumeSectors > 0xFFFFFFFFull || o.extraVolumes.size() > kMaxPrimaryPartitions - 1) {
    return kStatusInvalidParameter;
  }
  const uint64_t bitmapBytes = SpaceBitmapBytes(0, o.spaceSectors - 1);
  if (o.spaceSectors == 0 || bitmapBytes < kSpaceBitmapMinBytes ||
      bitmapBytes > kSpaceBitmapMaxBytes) {
    return kStatusInvalidParameter;
  }
  if (o.headerFileName.empty() || o.headerFileName.size() > kHeaderFileNameMax ||
      o.headerFileName[0] == u'\\' || !ValidPinnedPath(o.pinnedPath1, letter, kPinnedPath1Max) ||
      !ValidPinnedPath(o.pinnedPath2, letter, kPinnedPath2Max)) {
    return kStatusInvalidParameter;
  }
  return kStatusSuccess;
}

// Regions in engine sectors: header, boot image, backup, loader, then the
// bitmap, the live map, 31 saved maps, the release list and the space, each
// of the tables starting on a block boundary.
AreaLayout PlanArea(const InstallOptions& o, EngineHeader* h) {
  AreaLayout l;
  h->HeaderSector = 0;
  h->HeaderLastSector = kEngineHeaderSectors - 1;
  h->BootImageSector = kEngineHeaderSectors;
  h->BootImageLastSector = h->BootImageSector + kBootImageSectors - 1;
  h->BootBackupSector = h->BootImageLastSector + 1;
  h->BootBackupLastSector = h->BootBackupSector + kBootImageSectors - 1;
  h->LoaderImageSector = h->BootBackupLastSector + 1;
  h->LoaderImageLastSector = h->LoaderImageSector + kBootImageSectors - 1;

  l.bitmapSectors = SpaceBitmapBytes(0, o.spaceSectors - 1) / kSectorBytes;
  h->SpaceBitmapSector = AlignUp(kFirstRegionsSectors, kRegionAlignSectors);
  h->SpaceBitmapLastSector = h->SpaceBitmapSector + l.bitmapSectors - 1;

  const uint64_t volumeBlocks = (o.volumeSectors + kBlockSectors - 1) / kBlockSectors;
  l.mapPages = (volumeBlocks + kMapPageEntries - 1) / kMapPageEntries;
  l.mapSectors = l.mapPages * kMapPageSectors;
  uint64_t next = AlignUp(h->SpaceBitmapLastSector + 1, kRegionAlignSectors);
  h->BlockMapFirst = next;
  h->BlockMapLast = next + l.mapSectors - 1;
  next += l.mapSectors;
  for (uint32_t i = 0; i < kSlotCount; ++i) {
    l.slotMapFirst[i] = next;
    next += l.mapSectors;
  }
  l.releaseListFirst = next;
  next += l.mapSectors;
  h->SpaceFirst = next;
  h->SpaceLast = next + o.spaceSectors - 1;
  l.areaSectors = h->SpaceLast + 1;
  return l;
}

void FillHeader(const InstallOptions& o, const Geometry& g, const AreaLayout& l, EngineHeader* h) {
  h->Magic = kEngineMagic;
  h->Version = kEngineVersion;
  h->VolumeId = o.volumeId;
  h->VolumeBytes = o.volumeSectors * kSectorBytes;
  h->VolumeSectors = static_cast<uint32_t>(o.volumeSectors);
  h->SectorsPerCluster = g.sectorsPerCluster;
  h->DataStartSector = g.dataStartSector;
  h->LowWaterSectors = o.lowWaterSectors;
  h->MaxSnapshots = o.maxSnapshots;
  h->OldestNumber = 1;
  h->Signature = kRecordSignature;
  h->NewestSnapshot.SavedMapSector = h->BlockMapFirst;
  h->NewestSnapshot.SavedMapLastSector = h->BlockMapLast;
  for (uint32_t i = 0; i < kSlotCount; ++i) {
    SnapshotSlot& slot = h->Slots[i];
    slot.Number = kFreedSlotNumber;
    slot.SavedMapSector = l.slotMapFirst[i];
    slot.SavedMapLastSector = l.slotMapFirst[i] + l.mapSectors - 1;
  }
  h->ReleaseListSector = l.releaseListFirst;
}

// Places the area's clusters: one run, or `pieces` runs separated by gaps
// that belong to another file. Returns the runs in engine order.
Status PlaceArea(FileSystemModel& fs, uint64_t areaClusters, uint32_t pieces,
                 std::vector<ClusterRun>* runs) {
  const uint64_t gaps = pieces - 1;
  const uint64_t needed = areaClusters + gaps * kGapClusters;
  // Start a quarter into the volume, as an installer running on a used
  // system would find its space, not at the front.
  uint64_t lcn = 0;
  Status status = fs.FindFreeRun(needed, fs.GetGeometry().clusterCount / 4, &lcn);
  if (!IsSuccess(status)) status = fs.FindFreeRun(needed, 0, &lcn);
  if (!IsSuccess(status)) return status;
  const uint64_t minFirst = (kFirstRegionsSectors + fs.GetGeometry().sectorsPerCluster - 1) /
                            fs.GetGeometry().sectorsPerCluster;
  const uint64_t share = areaClusters / pieces;
  if (share < minFirst) return kStatusInvalidParameter;  // the loader must lie in the first piece
  std::vector<ClusterRun> gapRuns;
  for (uint32_t i = 0; i < pieces; ++i) {
    const uint64_t clusters = (i + 1 == pieces) ? areaClusters - share * i : share;
    runs->push_back({static_cast<int64_t>(lcn), clusters});
    lcn += clusters;
    if (i + 1 < pieces) {
      gapRuns.push_back({static_cast<int64_t>(lcn), kGapClusters});
      lcn += kGapClusters;
    }
  }
  if (gapRuns.empty()) return kStatusSuccess;
  const uint64_t gapBytes =
      gapRuns.size() * kGapClusters * fs.GetGeometry().sectorsPerCluster * uint64_t{kSectorBytes};
  return fs.CreateFile(u"\\Windows\\System32\\config\\SOFTWARE", gapBytes, gapRuns);
}

// The runs of engine clusters [first, first + count) within the area's runs.
std::vector<ClusterRun> SliceRuns(const std::vector<ClusterRun>& area, uint64_t first,
                                  uint64_t count) {
  std::vector<ClusterRun> out;
  uint64_t runFirst = 0;
  for (const auto& run : area) {
    const uint64_t from = std::max(first, runFirst);
    const uint64_t to = std::min(first + count, runFirst + run.clusters);
    if (from < to) out.push_back({run.lcn + static_cast<int64_t>(from - runFirst), to - from});
    runFirst += run.clusters;
  }
  return out;
}

Status CreateSpaceFiles(FileSystemModel& fs, const InstallOptions& o,
                        const std::vector<ClusterRun>& area, uint64_t areaClusters) {
  constexpr uint64_t kFiles = 5;
  const uint64_t clusterBytes = uint64_t{fs.GetGeometry().sectorsPerCluster} * kSectorBytes;
  const uint64_t share = areaClusters / kFiles;
  for (uint64_t i = 0; i < kFiles; ++i) {
    const uint64_t first = share * i;
    const uint64_t count = (i + 1 == kFiles) ? areaClusters - first : share;
    std::u16string name = u"\\" + o.headerFileName;
    if (i > 0) name += static_cast<char16_t>(u'0' + i);
    const Status status = fs.CreateFile(name, count * clusterBytes, SliceRuns(area, first, count));
    if (!IsSuccess(status)) return status;
  }
  return kStatusSuccess;
}

Status CreateSystemFiles(FileSystemModel& fs, const InstallOptions& o) {
  Status status = fs.CreateDirectory(u"\\Windows");
  if (IsSuccess(status)) status = fs.CreateDirectory(u"\\Windows\\System32");
  if (IsSuccess(status)) status = fs.CreateDirectory(u"\\Windows\\System32\\config");
  if (!IsSuccess(status) || !o.createPinnedFiles) return status;
  struct Pinned {
    const std::u16string& path;
    uint64_t bytes;
  };
  const Pinned pinned[] = {{o.pinnedPath1, 256 * 1024}, {o.pinnedPath2, 8 * 1024 * 1024}};
  for (const auto& p : pinned) {
    if (p.path.empty()) continue;
    const std::u16string onVolume = p.path.substr(2);  // drop "X:"
    const size_t slash = onVolume.rfind(u'\\');
    if (slash > 0 && fs.Find(onVolume.substr(0, slash)) == nullptr) {
      status = fs.CreateDirectory(onVolume.substr(0, slash));
      if (!IsSuccess(status)) return status;
    }
    status = fs.CreateContiguousFile(onVolume, p.bytes, nullptr);
    if (!IsSuccess(status)) return status;
  }
  return kStatusSuccess;
}

}  // namespace

std::vector<uint8_t> PreBootImagePattern(uint8_t seed) {
  std::vector<uint8_t> image(kBootImageBytes);
  for (size_t i = 0; i < image.size(); ++i) {
    image[i] = static_cast<uint8_t>((i * (29 + 2 * seed) + seed * 0x35 + (i >> 8)) & 0xFF);
  }
  image[510] = 0x55;  // a boot sector's mark, as the first stage replaces sector 0
  image[511] = 0xAA;
  return image;
}

std::vector<uint8_t> Installation::ParameterBytes() const {
  std::vector<uint8_t> bytes(sizeof parameters);
  std::memcpy(bytes.data(), &parameters, sizeof parameters);
  return bytes;
}

Status Installation::EngineToVolumeSector(uint64_t engineSector, uint64_t* volumeSector) const {
  uint64_t before = 0;
  for (const auto& piece : pieces) {
    if (engineSector < before + piece.SectorCount) {
      *volumeSector = piece.StartSector + (engineSector - before);
      return kStatusSuccess;
    }
    before += piece.SectorCount;
  }
  return kStatusInvalidParameter;
}

Status Installation::TransferEngineSectors(bool write, uint64_t first, uint64_t count,
                                           uint8_t* buffer) const {
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t sector = 0;
    Status status = EngineToVolumeSector(first + i, &sector);
    if (IsSuccess(status))
      status = volume->Transfer(write, sector * kSectorBytes, kSectorBytes, buffer).status;
    if (!IsSuccess(status)) return status;
    buffer += kSectorBytes;
  }
  return kStatusSuccess;
}

Status Installation::ReadEngineSectors(uint64_t first, uint64_t count, void* buffer) const {
  return TransferEngineSectors(false, first, count, static_cast<uint8_t*>(buffer));
}

Status Installation::WriteEngineSectors(uint64_t first, uint64_t count, const void* buffer) const {
  // The transfer only reads the buffer when it writes.
  return TransferEngineSectors(true, first, count,
                               const_cast<uint8_t*>(static_cast<const uint8_t*>(buffer)));
}

Status Install(const InstallOptions& options, Installation* out) {
  const char16_t letter = Upcase(options.driveLetter);
  Status status = CheckOptions(options, letter);
  if (!IsSuccess(status)) return status;

  Installation inst;
  DiskOptions disk;
  auto partitionType = [](const FormatOptions& f) -> uint8_t {
    return f.kind == FileSystemKind::kNtfs ? 0x07 : 0x0C;
  };
  disk.partitions.push_back(
      {options.partitionStartSector, options.volumeSectors, partitionType(options.format), true});
  uint64_t next = AlignUp(options.partitionStartSector + options.volumeSectors, 2048);
  for (const auto& extra : options.extraVolumes) {
    disk.partitions.push_back({next, extra.sectors, partitionType(extra.format), false});
    next = AlignUp(next + extra.sectors, 2048);
  }
  disk.sectorCount = next + options.diskTailSectors;
  status = Disk::Create(options.imagePath, disk, &inst.disk);
  if (!IsSuccess(status)) return status;
  inst.volume = std::make_unique<Volume>(*inst.disk, inst.disk->Partitions()[0]);
  status = FileSystemModel::Format(*inst.volume, options.format, &inst.fs);
  if (IsSuccess(status)) status = CreateSystemFiles(*inst.fs, options);
  for (size_t i = 0; IsSuccess(status) && i < options.extraVolumes.size(); ++i) {
    OtherVolume other;
    other.options = options.extraVolumes[i];
    other.volume = std::make_unique<Volume>(*inst.disk, inst.disk->Partitions()[i + 1]);
    status = FileSystemModel::Format(*other.volume, other.options.format, &other.fs);
    inst.others.push_back(std::move(other));
  }
  if (!IsSuccess(status)) return status;

  inst.header = std::make_unique<EngineHeader>();
  std::memset(inst.header.get(), 0, sizeof(EngineHeader));
  EngineHeader& h = *inst.header;
  inst.layout = PlanArea(options, &h);
  const Geometry& g = inst.fs->GetGeometry();
  FillHeader(options, g, inst.layout, &h);

  const uint64_t areaClusters =
      (inst.layout.areaSectors + g.sectorsPerCluster - 1) / g.sectorsPerCluster;
  std::vector<ClusterRun> area;
  status = PlaceArea(*inst.fs, areaClusters, options.areaPieces, &area);
  if (IsSuccess(status)) status = CreateSpaceFiles(*inst.fs, options, area, areaClusters);
  if (!IsSuccess(status)) return status;
  for (const auto& run : area) {
    const uint64_t sectors = run.clusters * g.sectorsPerCluster;
    if (sectors > 0xFFFFFFFFull) return kStatusInvalidParameter;  // an extent counts in u32
    inst.pieces.push_back(
        {inst.fs->ClusterToSector(static_cast<uint64_t>(run.lcn)), static_cast<uint32_t>(sectors)});
  }
  const uint64_t areaTotalSectors = areaClusters * g.sectorsPerCluster;
  if (options.areaPieces == 1) {
    h.AreaBaseSector = inst.pieces[0].StartSector;
    h.AreaLastSector = h.AreaBaseSector + areaTotalSectors - 1;
  } else {
    // Without a base the area is only its extents; the last sector is then
    // the last engine sector, which the engine only orders against the base.
    h.AreaBaseSector = 0;
    h.AreaLastSector = areaTotalSectors - 1;
    for (size_t i = 0; i < inst.pieces.size(); ++i) h.AreaExtents[i] = inst.pieces[i];
  }

  // The image is new and sparse, so maps, bitmap, backup and release list
  // already read as zeros; only the header and the images are written.
  inst.bootImage = PreBootImagePattern(1);
  inst.loaderImage = PreBootImagePattern(2);
  status = inst.WriteEngineSectors(h.HeaderSector, kEngineHeaderSectors, &h);
  if (IsSuccess(status)) {
    status = inst.WriteEngineSectors(h.BootImageSector, kBootImageSectors, inst.bootImage.data());
  }
  if (IsSuccess(status)) {
    status =
        inst.WriteEngineSectors(h.LoaderImageSector, kBootImageSectors, inst.loaderImage.data());
  }
  if (!IsSuccess(status)) return status;

  EngineParameters& p = inst.parameters;
  p.Magic = kEngineMagic;
  p.Word004 = 1;
  p.Word008 = 1;
  p.ProtectedDrive = static_cast<RecordWChar>(letter);
  CopyWide(p.PinnedPath1, options.pinnedPath1);
  CopyWide(p.HeaderFileName, options.headerFileName);
  CopyWide(p.PinnedPath2, options.pinnedPath2);
  uint64_t headerSector = 0;
  status = inst.EngineToVolumeSector(h.HeaderSector, &headerSector);
  if (!IsSuccess(status)) return status;
  p.HeaderLocations[0] = {headerSector, 1, options.volumeId};
  p.Signature = kRecordSignature;
  *out = std::move(inst);
  return kStatusSuccess;
}

}  // namespace vh::storage
