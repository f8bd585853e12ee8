// The system's control device on a PC without the engine (Wine has none):
// opening fails as the program must report it, and requests on the invalid
// handle fail with the system's own error.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <functional>
#include <memory>

#include "classlib/sysutils.h"
#include "link/engine_client.h"
#include "link/system_helpers.h"
#include "raised_by.h"

namespace kelm::link {
namespace {

using test::RaisedBy;

TEST(SystemEngineDevice, OpeningWithoutTheEngineRaisesTheConnectTextAndTheInstallAdvice) {
  // What the system answers for a device name nobody registered.
  HANDLE probe = CreateFileW(L"\\\\.\\QuorvelVH", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_EQ(probe, INVALID_HANDLE_VALUE);
  const DWORD error = GetLastError();
  const std::u16string expected =
      u"Connect Error:" + SystemMessageText(error) + u"\r\n" +
      u"If you did not install the product, please install it and restart your "
      u"system first!";
  EXPECT_EQ(RaisedBy([] { OpenEngineDevice(); }), expected);
}

TEST(SystemEngineDevice, RequestsOnTheInvalidHandleRaiseTheInvalidHandleText) {
  // The handle a failed open leaves is the system's invalid-handle value.
  const std::u16string invalid = SystemMessageText(ERROR_INVALID_HANDLE);
  EngineStatus status;
  EXPECT_EQ(RaisedBy([&] { QueryEngineStatus(InvalidEngineHandle(), u'C', status); }),
            u"Fail to get the version :" + invalid);
  auto header = std::make_unique<EngineHeader>();
  std::memset(header.get(), 0, sizeof *header);
  EXPECT_EQ(RaisedBy([&] { WriteEngineHeader(InvalidEngineHandle(), u'C', *header); }),
            u"Write Error:" + invalid);
  EXPECT_EQ(RaisedBy([] { DeleteSnapshot(InvalidEngineHandle(), u'C', 1); }),
            u"Delete Error:" + invalid);
}

TEST(FlushVolume, ALetterThatDoesNotExistAnswersFalseAndRaisesNothing) {
  bool flushed = true;
  EXPECT_NO_THROW(flushed = FlushVolume(u'Q'));
  EXPECT_FALSE(flushed);
}

}  // namespace
}  // namespace kelm::link
