#pragma once
// The benchmarks include the show harness by this path; it lives in tests/support.
#include "tests/support/show_harness.h"
