#pragma once
// The window system started headless with an empty message queue, and shut down after the test.

#include <gtest/gtest.h>

#include "platform/os/messages.h"
#include "platform/os/system.h"
#include "platform/os/window.h"

namespace vktest {

class HeadlessOsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    os::SetHeadless(true);
    ASSERT_TRUE(os::Init());
    os::ClearMessageQueue();
  }
  void TearDown() override { os::Shutdown(); }
};

}  // namespace vktest
