// The show with parts of its archive missing: every loader leaves its object without the missing
// piece and the show still runs from start to end.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>

#include "tests/support/archive_builder.h"
#include "tests/support/show_harness.h"

namespace vktest {
namespace {

// A copy of the real archive without the named entries (compared as stored, exact case).
std::string ArchiveWithout(TempDir& Temp, const std::set<std::string>& Skip) {
  std::ifstream In(std::string(VK_RUN_DIR) + "/Quorvanteplidusk.vkr", std::ios::binary);
  const Bytes All((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  if (All.size() < 19) return {};
  int32_t Count = 0;
  std::memcpy(&Count, All.data() + 15, 4);
  Bytes Out(All.begin(), All.begin() + 19);
  int32_t Kept = 0;
  size_t At = 19;
  for (int32_t i = 0; i < Count && At + 68 <= All.size(); ++i) {
    const std::string Name(reinterpret_cast<const char*>(All.data() + At + 1), All[At]);
    int32_t Size = 0, Stored = 0;
    std::memcpy(&Size, All.data() + At + 48, 4);
    std::memcpy(&Stored, All.data() + At + 52, 4);
    const size_t Payload = All[At + 64] ? size_t(Stored) : size_t(Size);
    const size_t End = At + 68 + Payload;
    if (!Skip.count(Name)) {
      Out.insert(Out.end(), All.begin() + At, All.begin() + End);
      ++Kept;
    }
    At = End;
  }
  std::memcpy(Out.data() + 15, &Kept, 4);
  return Temp.Write("partial.vkr", Out);
}

TEST(ShowWithMissingEntries, RunsToTheEndWithoutThem) {
  TempDir Temp;
  const std::string Path =
      ArchiveWithout(Temp, {"Ticket-7", "WaterFX", "WaterCube", "Floor", "EndPic", "fog", "pshBlur", "texShowDown"});
  ASSERT_FALSE(Path.empty());
  WholeShow Show(gx::BackendKind::Recording, Path);
  Show.Load();
  ASSERT_TRUE(Show.Error.empty()) << Show.Error;
  EXPECT_EQ(TexTickets[7], nullptr);
  EXPECT_NE(TexTickets[6], nullptr);
  EXPECT_EQ(TexFloor, nullptr);
  EXPECT_EQ(TexEndPic, nullptr);
  EXPECT_EQ(BlurPS, nullptr);
  EXPECT_NE(DreamPS, nullptr);
  Engine->Run();
  EXPECT_TRUE(Engine->Terminated);
  ASSERT_FALSE(Show.Frames.empty());
  EXPECT_EQ(Show.Frames.back().Scene, 5);
  EXPECT_EQ(Show.Frames.back().Fade, 255);
  Show.Release();
}

// The program refuses such a file before loading (see the bad-input tests); the loaders and scenes
// on their own still cope with an archive in which nothing is found.
TEST(ShowWithMissingEntries, WithNoEntryFoundAtAllTheScenesStillRunToTheEnd) {
  TempDir Temp;
  Bytes Bad = ToBytes("vokresource1.00");
  Bad.resize(19, 0);
  WholeShow Show(gx::BackendKind::Recording, Temp.Write("bad.vkr", Bad));
  Show.Run();
  ASSERT_TRUE(Show.Error.empty()) << Show.Error;
  EXPECT_TRUE(Show.Terminated);
  EXPECT_EQ(Show.Frames.back().Scene, 5);
}

}  // namespace
}  // namespace vktest
