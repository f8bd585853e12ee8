#include "kernel_test.h"

#include <chrono>
#include <thread>

namespace hk::testing {

void KernelTest::SetUp() {
  ResetKernel();
  ThrowFaults();
}

void KernelTest::TearDown() {
  std::string report = LeakReport();
  EXPECT_EQ(report, "") << "the kernel is not clean at teardown";
  ResetKernel();
  SetFaultHandler(nullptr);
}

::testing::AssertionResult FaultOf(const std::function<void()>& fn, const std::string& expected) {
  try {
    fn();
  } catch (const KernelFault& fault) {
    std::string message = fault.what();
    if (message.find(expected) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "fault \"" << message << "\" does not mention \"" << expected << "\"";
  }
  return ::testing::AssertionFailure()
         << "no kernel fault (expected one about \"" << expected << "\")";
}

bool Eventually(const std::function<bool()>& predicate) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!predicate()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace hk::testing
