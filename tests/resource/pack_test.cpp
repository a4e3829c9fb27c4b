// The packer and the archive the build makes.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "engine/vokResource.h"
#include "platform/gfx/d3dx/image.h"
#include "tests/support/archive_builder.h"

using namespace vktest;
namespace fs = std::filesystem;

namespace {

const std::string kTools = std::string(VK_BINARY_DIR) + "/tools/";
const std::string kArchive = std::string(VK_RUN_DIR) + "/Quorvanteplidusk.vkr";

const TempDir& Dir() {
  static TempDir dir;
  return dir;
}

struct ToolRun {
  int status;
  std::string output;
};

ToolRun Execute(const std::string& command) {
  ToolRun r{-1, {}};
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buf[512];
  while (size_t n = fread(buf, 1, sizeof buf, p)) r.output.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

std::string WriteManifest(const std::string& name, const std::string& text) {
  const auto p = Dir().File(name);
  std::ofstream(p) << text;
  return p.string();
}

std::string ReadEntry(TvokResource& r, const std::string& name) {
  TResourceEntry e{};
  if (!r.ReadByName(name, e)) return "<missing>";
  std::string s(static_cast<const char*>(e.Data), size_t(e.Size));
  r.FreeEntry(e);
  return s;
}

}  // namespace

TEST(Packer, BuildsWhatTheReaderReads) {
  Dir().Write("one.txt", ToBytes("stored text"));
  Dir().Write("two.bin", ToBytes(std::string(10000, 'z')));
  const std::string manifest = WriteManifest("ok.txt",
                                             "# comment\n"
                                             "first 4 stored one.txt\n"
                                             "\n"
                                             "Second 1 compressed two.bin   # trailing comment\n");
  const std::string out = Dir().File("ok.vkr").string();
  const ToolRun run = Execute(kTools + "vkrpack build " + out + " " + manifest);
  ASSERT_EQ(run.status, 0) << run.output;
  TvokResource r;
  ASSERT_TRUE(r.Open(out));
  EXPECT_EQ(r.EntryCount, 2);
  EXPECT_EQ(ReadEntry(r, "FIRST"), "stored text");
  TResourceEntry e{};
  ASSERT_TRUE(r.ReadByName("second", e));
  EXPECT_EQ(e.Kind, 1);
  EXPECT_TRUE(e.Compressed);
  EXPECT_LT(e.StoredSize, 200);
  r.FreeEntry(e);

  const ToolRun list = Execute(kTools + "vkrpack list " + out);
  EXPECT_EQ(list.status, 0);
  EXPECT_NE(list.output.find("Second"), std::string::npos) << list.output;

  const fs::path x = Dir().File("extracted");
  ASSERT_EQ(Execute(kTools + "vkrpack extract " + out + " " + x.string() + " second").status, 0);
  EXPECT_EQ(ReadFileBytes(x / "Second"), ToBytes(std::string(10000, 'z')));
  EXPECT_FALSE(fs::exists(x / "first"));
  EXPECT_NE(Execute(kTools + "vkrpack extract " + out + " " + x.string() + " third").status, 0);
}

TEST(Packer, RefusesBadManifestsWithoutWritingAnArchive) {
  Dir().Write("data.txt", ToBytes("d"));
  const struct {
    const char* manifest;
    const char* message;
  } cases[] = {
      {"n12345678901234567890123456789012345678901 4 stored data.txt\n", "at most 40"},
      {"same 4 stored data.txt\nSAME 4 stored data.txt\n", "duplicate entry name"},
      {"gone 4 stored no-such-file.txt\n", "not found"},
      {"kind 7 stored data.txt\n", "kind"},
      {"store 4 squashed data.txt\n", "neither stored nor compressed"},
      {"short 4 stored\n", "expected NAME KIND"},
      {"n\xc3\xa4me 4 stored data.txt\n", "not printable ASCII"},  // the reader would take it for damage
  };
  for (const auto& c : cases) {
    const std::string manifest = WriteManifest("bad.txt", c.manifest);
    const std::string out = Dir().File("bad.vkr").string();
    fs::remove(out);
    const ToolRun run = Execute(kTools + "vkrpack build " + out + " " + manifest);
    EXPECT_NE(run.status, 0) << c.manifest;
    EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("bad.txt:"), std::string::npos) << run.output;  // names the line
    EXPECT_FALSE(fs::exists(out));
  }
  // Exactly 40 bytes is fine.
  const std::string manifest = WriteManifest("forty.txt", std::string(40, 'n') + " 4 stored data.txt\n");
  EXPECT_EQ(Execute(kTools + "vkrpack build " + Dir().File("forty.vkr").string() + " " + manifest).status, 0);
}

// Everything the show reads from the archive: the texture set, the water and the post shaders.
TEST(ShowArchive, HoldsEveryEntryTheShowReads) {
  TvokResource r;
  ASSERT_TRUE(r.Open(kArchive)) << kArchive;
  std::vector<std::string> names = {"texEye", "texEnvMap", "texInvSpot", "texShowDown", "texWater", "EndPic",
                                    "fog", "Floor", "particle", "WaterCube", "WaterFX", "pshBlur", "pshDream",
                                    "pshDream2", "pshGhostDream", "pshContrastDream", "fxRadialBlur"};
  for (int i = 1; i <= 11; ++i) names.push_back("Ticket-" + std::to_string(i));
  int bitmaps = 0, jpegs = 0, compressed = 0;
  for (const auto& n : names) {
    TResourceEntry e{};
    ASSERT_TRUE(r.ReadByName(n, e)) << n;
    EXPECT_GT(e.Size, 0) << n;
    const auto* d = static_cast<const unsigned char*>(e.Data);
    if (e.Kind == 1) {
      ++bitmaps;
      EXPECT_TRUE(d[0] == 'B' && d[1] == 'M') << n;
    }
    if (e.Kind == 2) {
      ++jpegs;
      EXPECT_TRUE(d[0] == 0xff && d[1] == 0xd8) << n;
    }
    if (n == "WaterCube") {  // the sky: six 512 x 512 faces one below the other
      d3dx::FileKind kind;
      std::uint32_t width = 0, height = 0;
      bool alpha = false;
      std::string error;
      ASSERT_TRUE(d3dx::PeekImage(d, std::size_t(e.Size), kind, width, height, alpha, error)) << error;
      EXPECT_EQ(width, 512u);
      EXPECT_EQ(height, 6u * 512u);
    }
    compressed += e.Compressed != 0;
    r.FreeEntry(e);
  }
  EXPECT_GT(bitmaps, 0);
  EXPECT_GT(jpegs, 0);
  EXPECT_GT(compressed, int(names.size()) / 2);
}

TEST(ShowArchive, IsTheSameByteForByteWhenBuiltAgain) {
  const fs::path pics = Dir().File("pictures");
  fs::create_directories(pics);
  ASSERT_EQ(Execute(kTools + "picgen " + pics.string()).status, 0);
  const std::string again = Dir().File("again.vkr").string();
  const ToolRun run = Execute(kTools + "vkrpack build " + again + " " + VK_SOURCE_DIR + "/assets/manifest.txt -I " +
                          pics.string());
  ASSERT_EQ(run.status, 0) << run.output;
  const Bytes a = ReadFileBytes(kArchive), b = ReadFileBytes(again);
  ASSERT_FALSE(a.empty());
  EXPECT_TRUE(a == b) << "sizes " << a.size() << " and " << b.size();
}

// A missing or damaged archive ends the program with a message naming it, not with a crash.
TEST(ShowArchive, TheProgramStopsCleanlyWithoutAUsableArchive) {
  const std::string program = std::string(VK_RUN_DIR) + "/Quorvanteplidusk";
  const fs::path empty = Dir().File("no-archive");
  fs::create_directories(empty);
  const std::string run = "SDL_AUDIODRIVER=dummy " + program + " --headless --backend recording --size 64x48 --fixed-step 40 --until 100";
  ToolRun missing = Execute("cd " + empty.string() + " && " + run);
  EXPECT_EQ(missing.status, 1) << missing.output;
  EXPECT_NE(missing.output.find("Quorvanteplidusk.vkr"), std::string::npos) << missing.output;

  const fs::path damaged = Dir().File("damaged");
  fs::create_directories(damaged);
  Bytes a = ReadFileBytes(kArchive);
  a.resize(a.size() / 3);
  Dir().Write("damaged/Quorvanteplidusk.vkr", a);
  ToolRun cut = Execute("cd " + damaged.string() + " && " + run);
  EXPECT_EQ(cut.status, 1) << cut.output;
  EXPECT_NE(cut.output.find("entry \""), std::string::npos) << cut.output;
}
