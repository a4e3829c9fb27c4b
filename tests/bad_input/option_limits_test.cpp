// The limits the command line puts on what a run may ask for, and the switch that makes an
// unusable asset fail the run.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Options.h"

namespace {

bool Accepted(const std::vector<std::string>& args, TOptions* out = nullptr) {
  TOptions options;
  std::string error;
  const bool ok = ParseOptions(args, options, error);
  if (out) *out = options;
  return ok;
}

TEST(OptionLimits, SizesUpTo8KAreAcceptedAndNothingBeyond) {
  TOptions o;
  ASSERT_TRUE(Accepted({"--size", "7680x4320"}, &o));
  EXPECT_EQ(o.Width, 7680);
  EXPECT_EQ(o.Height, 4320);
  EXPECT_TRUE(Accepted({"--size", "1x1"}));
  EXPECT_FALSE(Accepted({"--size", "7681x4320"}));
  EXPECT_FALSE(Accepted({"--size", "7680x4321"}));
  EXPECT_FALSE(Accepted({"--size", "4320x7680"}));  // no portrait 8K: nothing shows it either
  EXPECT_FALSE(Accepted({"--size", "16384x16384"}));
  TOptions refused;
  std::string error;
  ParseOptions({"--size", "9000x9000"}, refused, error);
  EXPECT_NE(error.find("7680x4320"), std::string::npos) << error;
}

TEST(OptionLimits, StrictIsOffUnlessAskedAndTakesNoValue) {
  TOptions o;
  ASSERT_TRUE(Accepted({"--headless"}, &o));
  EXPECT_FALSE(o.Strict);
  ASSERT_TRUE(Accepted({"--strict", "DEBUG"}, &o));
  EXPECT_TRUE(o.Strict);
  EXPECT_EQ(o.Switches, std::vector<std::string>{"DEBUG"});
  EXPECT_FALSE(Accepted({"--strict=yes"}));
  EXPECT_NE(HelpText().find("--strict"), std::string::npos);
}

}  // namespace
