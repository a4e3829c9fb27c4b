#pragma once
// The benchmarks include the device wrapper by this path; it lives in tests/support.
#include "tests/support/device_fixture.h"
