#include "tests/support/png_file.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

#include <unistd.h>

#include "app/Entry.h"
#include "app/Options.h"
#include "app/OutputFile.h"
#include "show/Show.h"
#include "show/Trace.h"
#include "tests/engine/engine_fixture.h"
#include "tests/support/fake_show.h"

namespace {

// A scratch file of this process: the same tests of another build or checkout may run beside it.
std::string Scratch(const std::string& name) {
  return testing::TempDir() + "entry_" + std::to_string(getpid()) + "_" + name;
}

TOptions Parse(const std::vector<std::string>& args) {
  TOptions options;
  std::string error;
  EXPECT_TRUE(ParseOptions(args, options, error)) << error;
  return options;
}

std::string ParseError(const std::vector<std::string>& args) {
  TOptions options;
  std::string error;
  EXPECT_FALSE(ParseOptions(args, options, error));
  return error;
}

TEST(EntrySwitches, HasSwitchIsACaseInsensitivePrefixTestOfTheBareWords) {
  os::SetParams(Parse({"showfps", "DEBUG2", "--screenshot", "100", "novsync.png"}).Switches);
  EXPECT_TRUE(HasSwitch("SHOWFPS"));
  EXPECT_TRUE(HasSwitch("DEBUG"));  // continues with more characters
  // An option's value is not a switch, even when it spells one.
  EXPECT_FALSE(HasSwitch("NOVSYNC"));
  os::SetParams(Parse({"-DEBUG", "/SHOWFPS", "DEB"}).Switches);
  EXPECT_FALSE(HasSwitch("DEBUG"));
  EXPECT_FALSE(HasSwitch("SHOWFPS"));
  os::SetParams({});
}

TEST(EntryOptions, ValuesAreParsedAndCheckedStrictly) {
  const TOptions o = Parse({"DEBUG", "--headless", "--size", "320x180", "--until=2000", "--fixed-step", "20",
                            "--screenshot", "0", "a.png", "--screenshot", "1000", "b.png", "--trace", "t.jsonl",
                            "--seed", "4294967295", "--backend", "recording", "--gfx-debug", "--", "--not-an-option"});
  EXPECT_TRUE(o.Headless);
  EXPECT_TRUE(o.GfxDebug);
  EXPECT_EQ(o.Width, 320);
  EXPECT_EQ(o.Height, 180);
  EXPECT_TRUE(o.HasUntil);
  EXPECT_EQ(o.Until, 2000u);
  EXPECT_EQ(o.FixedStep, 20u);
  ASSERT_EQ(o.Screenshots.size(), 2u);
  EXPECT_EQ(o.Screenshots[1].Time, 1000u);
  EXPECT_EQ(o.Screenshots[1].File, "b.png");
  EXPECT_EQ(o.TraceFile, "t.jsonl");
  EXPECT_EQ(o.Seed, 4294967295u);
  EXPECT_EQ(o.Backend, "recording");
  EXPECT_EQ(o.Switches, (std::vector<std::string>{"DEBUG", "--not-an-option"}));

  EXPECT_NE(ParseError({"--frobnicate"}).find("unknown option --frobnicate"), std::string::npos);
  EXPECT_NE(ParseError({"--until"}).find("--until"), std::string::npos);
  ParseError({"--until", "-5"});
  ParseError({"--until", "4294967296"});
  ParseError({"--size", "320"});
  ParseError({"--size", "0x100"});
  ParseError({"--size", "320x180x2"});
  ParseError({"--fixed-step", "0"});
  ParseError({"--screenshot", "100"});
  ParseError({"--backend", "vulkan"});
  ParseError({"--headless=yes"});
  ParseError({"--seed", ""});
  EXPECT_NE(HelpText().find("--screenshot MS FILE"), std::string::npos);
  EXPECT_NE(HelpText().find("SHOWFPS"), std::string::npos);
}

TEST(EntryOptions, FullScreenTakesNoValueAndGoesWithTheSize) {
  EXPECT_FALSE(Parse({"--size", "1024x768"}).FullScreen);
  const TOptions o = Parse({"--fullscreen", "--size", "1024x768", "NOVSYNC"});
  EXPECT_TRUE(o.FullScreen);
  EXPECT_EQ(o.Width, 1024);
  EXPECT_EQ(o.Height, 768);
  EXPECT_EQ(o.Switches, (std::vector<std::string>{"NOVSYNC"}));
  EXPECT_NE(ParseError({"--fullscreen=yes"}).find("takes no value"), std::string::npos);
  EXPECT_NE(HelpText().find("--fullscreen"), std::string::npos);
}

TEST(EntryOptions, PostScaleIsOneUnlessAskedForAFractionFromAQuarterToOne) {
  EXPECT_EQ(Parse({"DEBUG"}).PostScale, 1.0f);
  EXPECT_EQ(Parse({"--post-scale", "0.5"}).PostScale, 0.5f);
  EXPECT_EQ(Parse({"--post-scale=.25"}).PostScale, 0.25f);
  EXPECT_EQ(Parse({"--post-scale", "1.000"}).PostScale, 1.0f);
  EXPECT_EQ(Parse({"--post-scale", "0.667"}).PostScale, 0.667f);
  for (const char* Bad : {"0.2", "1.5", "0", "2", "half", "0.5x", "5e-1", ".", "0.1234", "-0.5", ""})
    EXPECT_NE(ParseError({"--post-scale", Bad}).find("--post-scale"), std::string::npos) << Bad;
}

TEST(EntryOptions, MultisampleIsOffUnlessAskedForTwoFourOrEightSamples) {
  EXPECT_EQ(Parse({"DEBUG"}).MultiSample, 0);
  EXPECT_EQ(Parse({"--multisample", "4"}).MultiSample, 4);
  EXPECT_EQ(Parse({"--multisample=8"}).MultiSample, 8);
  EXPECT_EQ(Parse({"--multisample", "0"}).MultiSample, 0);
  EXPECT_NE(ParseError({"--multisample", "3"}).find("--multisample"), std::string::npos);
  ParseError({"--multisample", "16"});
  ParseError({"--multisample"});
  EXPECT_NE(HelpText().find("--multisample N"), std::string::npos);
}

void AppendScene(std::string& json) {
  TraceInt(json, "scene", 3);
  TraceVec3(json, "cam_pos", 1.5f, -2.0f, NAN);
  TraceString(json, "note", "a \"b\"\n\x01");
}

TEST(EntryTrace, FieldsAreValidJsonWithTheShowsAdditions) {
  ClearTraceAppenders();
  AddTraceAppender(AppendScene);
  AddTraceAppender(AppendScene);  // registered once
  const std::string line = TraceFrameFields(7, 280, 40, 25) + "}";
  EXPECT_EQ(line,
            "{\"frame\":7,\"time\":280,\"delta\":40,\"fps\":25,\"scene\":3,\"cam_pos\":[1.5,-2,null],"
            "\"note\":\"a \\\"b\\\"\\n\\u0001\"}");
  ClearTraceAppenders();
  std::string json;
  TraceNumber(json, "x", 0.1f);
  EXPECT_EQ(json, ",\"x\":0.100000001");  // enough digits to read back the same single
}

bool ReadPng(const std::string& file, unsigned& w, unsigned& h, std::vector<uint8_t>& rgba) {
  return vktest::ReadPngFile(file, w, h, rgba);
}

TEST(EntryPng, WrittenPicturesReadBackTheSame) {
  std::vector<uint8_t> rgba(3 * 2 * 4);
  for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<uint8_t>(i * 9);
  const std::string file = Scratch("entry_png_test.png");
  std::string error;
  ASSERT_TRUE(WritePng(file, rgba, 3, 2, error)) << error;
  unsigned w = 0, h = 0;
  std::vector<uint8_t> back;
  ASSERT_TRUE(ReadPng(file, w, h, back));
  EXPECT_EQ(w, 3u);
  EXPECT_EQ(h, 2u);
  EXPECT_EQ(back, rgba);
  std::remove(file.c_str());

  EXPECT_FALSE(WritePng(testing::TempDir() + "no/such/dir/x.png", rgba, 3, 2, error));
  EXPECT_NE(error.find("no/such/dir/x.png"), std::string::npos);
  EXPECT_FALSE(WritePng(file, rgba, 4, 4, error));  // too few pixels for the size
}

// ---------------------------------------------------------------------------------------------
// The main sequence around a stand-in show that records every call.

std::vector<std::string> g_boxes;
int FakeBox(const std::string& text, const std::string& caption, unsigned) {
  g_boxes.push_back(caption + "|" + text);
  return os::IDOK;
}

class RunDemoTest : public enginetest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    g_boxes.clear();
    os::SetMessageBoxHook(FakeBox);
  }
  void TearDown() override {
    os::SetMessageBoxHook(nullptr);
    EngineTest::TearDown();
  }
  TOptions Options(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"--headless", "--backend", "recording", "--size", "160x90", "--fixed-step", "40"};
    args.insert(args.end(), extra.begin(), extra.end());
    return Parse(args);
  }
  vktest::FakeShow show;
};

TEST_F(RunDemoTest, LoadsRunsAndReleasesInTheFixedOrder) {
  EXPECT_EQ(RunDemo(Options({"--until", "200", "--seed", "77"})), 0);
  // The show's own order inside Load and Free is the scene table's (tests/scenes).
  const std::vector<std::string> expected{"Reset 77", "Load Quorvanteplidusk.vkr",
                                          "LoadMusic window Quorvanteplidusk.ogg", "PlayMusic", "Free",
                                          "FreeMusic"};
  EXPECT_EQ(show.Calls, expected);
  EXPECT_EQ(show.Frames, 5);  // 40, 80, ... 200: quits at the first frame at or after 200 ms
  EXPECT_EQ(enginetest::SleptMs(), 1000u);  // the pause with the wait cursor
  EXPECT_EQ(ScreenWidth, 160);
  EXPECT_EQ(ScreenHeight, 90);
  EXPECT_FALSE(FullScreenMode);
  EXPECT_FALSE(VSyncMode);
  EXPECT_EQ(Engine, nullptr);
  EXPECT_TRUE(g_boxes.empty());
}

TEST_F(RunDemoTest, MissingArchiveEndsWithCleanupAndAFailureStatus) {
  show.ArchiveMissing = true;
  EXPECT_EQ(RunDemo(Options({"--until", "200", "--seed", "1"})), 1);
  // No music is loaded; what was made is released, the engine before the player.
  const std::vector<std::string> expected{"Reset 1", "Load Quorvanteplidusk.vkr", "Free", "FreeMusic"};
  EXPECT_EQ(show.Calls, expected);
  EXPECT_EQ(show.Frames, 0);
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0], "Error|Quorvanteplidusk.vkr: file not found");
  EXPECT_EQ(os::CurrentCursor(), os::Cursor::Arrow);  // the wait cursor did not stay
}

TEST_F(RunDemoTest, DeviceFailureShowsTheErrorBoxAndLoadsNothing) {
  gx::InjectedFaults().failCreateDevice = 2;
  EXPECT_EQ(RunDemo(Options()), 1);
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0], "Error|D3D device create error.");
  EXPECT_EQ(std::count(show.Calls.begin(), show.Calls.end(), "Free without device"), 1);
  for (const std::string& call : show.Calls) EXPECT_NE(call.rfind("Load", 0), 0u) << call;
}

TEST_F(RunDemoTest, CapabilityCheckWarnsOnlyWhenCapsCannotBeRead) {
  StartupMessage.clear();
  gx::InjectedFaults().failGetDeviceCaps = true;
  CheckPixelShader();
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0], "Quorvanteplidusk|Error during GetDeviceCaps!\r Demo will be run with lower details.");
  gx::ClearFaults();
  g_boxes.clear();
  StartupMessage.clear();
  CheckPixelShader();
  EXPECT_TRUE(g_boxes.empty());
  EXPECT_TRUE(PostEffectsAvailable);  // the recording device offers pixel shader 2.0
}

TEST_F(RunDemoTest, TraceHasOneLinePerFrameAndAMissedScreenshotFailsTheRun) {
  const std::string trace = Scratch("run_demo_trace.jsonl");
  const std::string shot = Scratch("run_demo_shot.png");
  const std::string late = Scratch("run_demo_late.png");
  std::remove(shot.c_str());
  // A screenshot after the end cannot be taken: the run reports it.
  EXPECT_EQ(RunDemo(Options({"--until", "120", "--trace", trace, "--screenshot", "80", shot,
                             "--screenshot", "5000", late})),
            1);
  std::ifstream in(trace);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "{\"frame\":1,\"time\":40,\"delta\":40,\"fps\":0}");
  EXPECT_EQ(lines[2].rfind("{\"frame\":3,\"time\":120,", 0), 0u);
  std::remove(trace.c_str());
  std::FILE* f = std::fopen(shot.c_str(), "rb");
  if (f) {
    std::fclose(f);
    std::remove(shot.c_str());
  }
}

}  // namespace
