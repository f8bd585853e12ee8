// The hosted engine answers its control device with the bytes user mode
// would see, and gives everything back when it stops.
#include "vh/enginehost/engine_host.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace vh::enginehost {
namespace {

VolumeRequest DriveRequest(char16_t letter) {
  VolumeRequest request;
  std::memset(&request, 0, sizeof request);
  request.VolumeNameKind = kVolumeNameIsDriveLetter;
  request.VolumeName[0] = letter;
  return request;
}

TEST(EngineHost, BootsTheInstalledMachineAndAnswersTheStatusRequest) {
  std::unique_ptr<EngineHost> host;
  ASSERT_EQ(EngineHost::Start(&host), STATUS_SUCCESS);
  VolumeRequest request = DriveRequest(u'C');
  EngineStatus status;
  std::memset(&status, 0xCC, sizeof status);
  hk::UserIoResult result =
      host->Control(IOCTL_ENGINE_QUERY_STATUS, &request, sizeof request, &status, sizeof status);
  ASSERT_EQ(result.status, STATUS_SUCCESS);
  EXPECT_EQ(status.InterfaceVersion, kStatusInterfaceVersion);
  EXPECT_EQ(status.PnpState, 1u);
  EXPECT_EQ(status.DriveLetter, u'C');
  EXPECT_EQ(host->Stop(), "");
}

TEST(EngineHost, TheImageHoldsTheInstalledHeader) {
  std::unique_ptr<EngineHost> host;
  ASSERT_EQ(EngineHost::Start(&host), STATUS_SUCCESS);
  auto header = std::make_unique<EngineHeader>();
  ASSERT_EQ(host->ReadHeaderOnImage(header.get()), STATUS_SUCCESS);
  EXPECT_EQ(header->Magic, kEngineMagic);
  EXPECT_EQ(header->VolumeId, host->Installed().header->VolumeId);
  EXPECT_EQ(header->Signature, kRecordSignature);
}

TEST(EngineHost, AnUnknownDeviceNameIsNotFoundAndNothingLeaks) {
  std::unique_ptr<EngineHost> host;
  ASSERT_EQ(EngineHost::Start(&host), STATUS_SUCCESS);
  VolumeRequest request = DriveRequest(u'C');
  hk::UserIoResult result = host->Control(IOCTL_ENGINE_QUERY_STATUS, &request, sizeof request,
                                          nullptr, 0, u"\\\\.\\NoSuchDevice");
  EXPECT_EQ(result.status, STATUS_OBJECT_NAME_NOT_FOUND);
  EXPECT_EQ(result.bytesReturned, 0u);
  EXPECT_EQ(host->Stop(), "");
}

TEST(EngineHost, StartsAgainAfterAnEarlierHostIsGone) {
  for (int round = 0; round < 2; ++round) {
    std::unique_ptr<EngineHost> host;
    ASSERT_EQ(EngineHost::Start(&host), STATUS_SUCCESS) << "round " << round;
    EXPECT_EQ(host->Stop(), "") << "round " << round;
  }
}

}  // namespace
}  // namespace vh::enginehost
