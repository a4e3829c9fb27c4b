// The shared texture set, loaded through the recording backend (no GPU): the image decoders run,
// the device only records.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "engine/vokD3D.h"
#include "engine/vokEngine.h"
#include "engine/vokResource.h"
#include "platform/gfx/backend.h"
#include "platform/os/window.h"
#include "show/Textures.h"
#include "tests/support/archive_builder.h"

using namespace vktest;

namespace {

void NoFrame(int) {}

// A tiny 24-bit bitmap, one colour per picture so a test can tell them apart if it must.
Bytes Bitmap(uint8_t shade) {
  const int w = 4, h = 4, row = 12;
  Bytes b = {'B', 'M'};
  auto put32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i))); };
  auto put16 = [&](uint16_t v) { b.push_back(uint8_t(v)); b.push_back(uint8_t(v >> 8)); };
  put32(54 + row * h); put32(0); put32(54);
  put32(40); put32(w); put32(h); put16(1); put16(24); put32(0); put32(row * h); put32(2835); put32(2835); put32(0); put32(0);
  for (int i = 0; i < w * h; ++i) { b.push_back(shade); b.push_back(uint8_t(255 - shade)); b.push_back(128); }
  return b;
}

std::vector<std::string> SetNames() {
  std::vector<std::string> n = {"texEye", "texEnvMap", "texInvSpot", "texShowDown", "texWater", "EndPic", "fog"};
  for (int i = 1; i <= 11; ++i) n.push_back("Ticket-" + std::to_string(i));
  n.push_back("Floor");
  n.push_back("particle");
  return n;
}

class TextureSet : public ::testing::Test {
 protected:
  void SetUp() override {
    os::SetHeadless(true);
    gx::ClearFaults();
    gx::SetBackendKind(gx::BackendKind::Recording);
    Engine = new TvokEngine(nullptr, 64, 48, 0, true, "textures", NoFrame, NoFrame, false, true, true, false, false,
                            true, D3DMULTISAMPLE_NONE, 0);
    ASSERT_TRUE(Engine->Ok) << Engine->ErrorText;
  }

  void TearDown() override {
    FreeTextures();
    TexParticle = nullptr;
    CloseResource();
    FreeResource();
    delete Engine;
    Engine = nullptr;
  }

  // An archive of the whole set, minus the names in Skip, with Replace's bytes for some entries.
  void OpenSet(const std::vector<std::string>& Skip, const std::map<std::string, Bytes>& Replace = {}) {
    std::vector<RawEntry> entries;
    uint8_t shade = 10;
    for (const auto& n : SetNames()) {
      shade += 10;
      if (std::find(Skip.begin(), Skip.end(), n) != Skip.end()) continue;
      const auto r = Replace.find(n);
      entries.push_back(Compressed(n, r != Replace.end() ? r->second : Bitmap(shade)));
    }
    OpenResource(Temp.Write("set.vkr", Archive(entries)));
  }

  DWORD Sampler0(D3DSAMPLERSTATETYPE type) {
    DWORD v = 0;
    Engine->D3D->Device->GetSamplerState(0, type, &v);
    return v;
  }

  TempDir Temp;
};

}  // namespace

TEST_F(TextureSet, WithoutTheSeventhTicketTheOtherTenLoad) {
  OpenSet({"Ticket-7"});
  LoadTextures();
  for (int i = 1; i <= 11; ++i) EXPECT_EQ(TexTickets[i] == nullptr, i == 7) << i;
  EXPECT_EQ(TexTickets[0], nullptr);
  for (auto* t : {&TexEye, &TexEnvMap, &TexInvSpot, &TexShowDown, &TexWater, &TexEndPic, &TexFog, &TexFloor, &TexParticle})
    EXPECT_NE(*t, nullptr);
  EXPECT_TRUE(Engine->D3D->Ok);  // a missing entry is not an error
  EXPECT_EQ(Sampler0(D3DSAMP_MINFILTER), DWORD(D3DTEXF_LINEAR));
  EXPECT_EQ(Sampler0(D3DSAMP_MAGFILTER), DWORD(D3DTEXF_LINEAR));
  EXPECT_EQ(ResourceData.Data, nullptr);  // every read is released again
}

TEST_F(TextureSet, ACorruptPictureIsRecordedAndLoadingGoesOn) {
  OpenSet({}, {{"Ticket-3", ToBytes("this is not a picture")}, {"fog", Bitmap(1)}});
  TexTickets[3] = nullptr;
  LoadTextures();
  EXPECT_EQ(TexTickets[3], nullptr);
  EXPECT_NE(TexTickets[4], nullptr);
  EXPECT_NE(TexParticle, nullptr);
  EXPECT_FALSE(Engine->D3D->Ok);
  EXPECT_EQ(Engine->D3D->ErrorText, "Error during load texture Ticket-3");
}

TEST_F(TextureSet, AMissingEntryLeavesTheVariableAsItWas) {
  OpenSet({"fog"});
  LoadTexture("EndPic", TexFog, 0);
  const LPDIRECT3DTEXTURE9 before = TexFog;
  ASSERT_NE(before, nullptr);
  LoadTexture("fog", TexFog, 0);
  EXPECT_EQ(TexFog, before);
  // Without any archive at all nothing changes either.
  CloseResource();
  FreeResource();
  LoadTexture("EndPic", TexFog, 0);
  EXPECT_EQ(TexFog, before);
}

TEST_F(TextureSet, NoSuccessfulLoadLeavesTheSamplerAlone) {
  const DWORD minBefore = Sampler0(D3DSAMP_MINFILTER), magBefore = Sampler0(D3DSAMP_MAGFILTER);
  OpenSet({}, {{"texEye", ToBytes("junk")}});
  LoadTexture("texEye", TexEye, 0);
  LoadTexture("nothing", TexEye, 0);
  EXPECT_EQ(Sampler0(D3DSAMP_MINFILTER), minBefore);
  EXPECT_EQ(Sampler0(D3DSAMP_MAGFILTER), magBefore);
  LoadTexture("Floor", TexFloor, 2);  // the sampler named is the one set
  EXPECT_EQ(Sampler0(D3DSAMP_MINFILTER), minBefore);
  DWORD v = 0;
  Engine->D3D->Device->GetSamplerState(2, D3DSAMP_MAGFILTER, &v);
  EXPECT_EQ(v, DWORD(D3DTEXF_LINEAR));
}

TEST_F(TextureSet, FreeTexturesKeepsOnlyTheParticle) {
  OpenSet({});
  LoadTextures();
  FreeTextures();
  for (auto* t : {&TexEye, &TexEnvMap, &TexInvSpot, &TexShowDown, &TexWater, &TexEndPic, &TexFog, &TexFloor})
    EXPECT_EQ(*t, nullptr);
  for (int i = 1; i <= 11; ++i) EXPECT_EQ(TexTickets[i], nullptr);
  EXPECT_NE(TexParticle, nullptr);
}

// The archive the build makes: every picture decodes and gets its full mip chain.
TEST_F(TextureSet, TheShowsArchiveLoadsCompletely) {
  OpenResource(std::string(VK_RUN_DIR) + "/Quorvanteplidusk.vkr");
  LoadTextures();
  EXPECT_TRUE(Engine->D3D->Ok) << Engine->D3D->ErrorText;
  for (int i = 1; i <= 11; ++i) {
    ASSERT_NE(TexTickets[i], nullptr) << i;
    D3DSURFACE_DESC d{};
    TexTickets[i]->GetLevelDesc(0, &d);
    EXPECT_EQ(d.Width, 256u);
    EXPECT_EQ(d.Height, 512u);
    EXPECT_EQ(TexTickets[i]->GetLevelCount(), 10u);
  }
  ASSERT_NE(TexFog, nullptr);
  D3DSURFACE_DESC fog{};
  TexFog->GetLevelDesc(0, &fog);
  EXPECT_EQ(fog.Format, D3DFMT_A8R8G8B8);  // the fog keeps its alpha
  ASSERT_NE(TexEndPic, nullptr);
  ASSERT_NE(TexParticle, nullptr);

  // The cube map the water reads decodes too.
  TResourceEntry cube{};
  ASSERT_TRUE(Resource->ReadByName("WaterCube", cube));
  LPDIRECT3DCUBETEXTURE9 sky;
  EXPECT_EQ(D3DXCreateCubeTextureFromFileInMemory(Engine->D3D->Device, cube.Data, UINT(cube.Size), sky), D3D_OK);
  ASSERT_NE(sky, nullptr);
  D3DSURFACE_DESC face{};
  sky->GetLevelDesc(0, &face);
  EXPECT_EQ(face.Width, 512u);
  Resource->FreeEntry(cube);
}
