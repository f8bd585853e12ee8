// GoogleTest support for code that runs on the host kernel layer.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "hostkernel/control.h"

namespace hk::testing {

// Every test starts with an empty kernel whose faults throw KernelFault, and
// ends with the leak check: a pool block, object, handle, IRP or MDL left
// over, a running system thread or a fault on one fails the test.
class KernelTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

// Runs fn and expects a kernel fault whose message contains `expected`.
::testing::AssertionResult FaultOf(const std::function<void()>& fn, const std::string& expected);

// Waits (in real time, up to a few seconds) until predicate holds.
bool Eventually(const std::function<bool()>& predicate);

}  // namespace hk::testing
