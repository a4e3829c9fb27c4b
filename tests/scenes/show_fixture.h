#pragma once
#include <gtest/gtest.h>

#include "tests/scenes/show_harness.h"
