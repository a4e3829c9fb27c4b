// A picture larger than the OpenGL implementation renders is refused when the device is made,
// instead of being drawn clipped or not at all.

#include <gtest/gtest.h>

#include "tests/support/gfx_device.h"

namespace {

TEST(OversizeDevice, ABackBufferBeyondTheImplementationsLimitIsRefused) {
  ASSERT_NE(gfxtest::MakeDevice(gx::BackendKind::Gl, 64, 64), nullptr);
  // One row, so the refusal is tested without the memory a real picture of that width would take.
  EXPECT_EQ(gfxtest::MakeDevice(gx::BackendKind::Gl, 1u << 20, 1, false), nullptr);
  EXPECT_EQ(gfxtest::MakeDevice(gx::BackendKind::Gl, 1, 1u << 20, false), nullptr);
}

}  // namespace
