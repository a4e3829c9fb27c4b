#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "engine/vokWater.h"

// Surfaces of the pool's size, without a device, for the simulation and mesh tests.
class WaterFixture : public ::testing::Test {
 protected:
  TWater& MakeWater(float size = 100.0f) {
    waters_.push_back(std::make_unique<TWater>(nullptr));
    EXPECT_EQ(waters_.back()->Init(size), S_OK);
    return *waters_.back();
  }

 private:
  std::vector<std::unique_ptr<TWater>> waters_;
};
