// Bad inputs given to the built program as a user would give them: each must end with a word that
// names the problem and the right exit status, never a silent show with status 0, never a hang,
// and must leave nothing behind in the folder it ran in.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/support/archive_builder.h"
#include "tests/support/process.h"

namespace {

namespace fs = std::filesystem;
using vktest::Bytes;
using vktest::RawEntry;

const std::string Program = VK_RUN_DIR "/Quorvanteplidusk";
const std::string GoodArchive = VK_RUN_DIR "/Quorvanteplidusk.vkr";
const std::string GoodMusic = VK_RUN_DIR "/Quorvanteplidusk.ogg";

using Outcome = vktest::Finished;

// The good archive's entries, headers as stored, so a case can damage one and pack the rest.
std::vector<RawEntry> GoodEntries() {
  const Bytes a = vktest::ReadFileBytes(GoodArchive);
  int32_t count = 0;
  std::memcpy(&count, a.data() + 15, 4);
  std::vector<RawEntry> out;
  size_t at = 19;
  for (int i = 0; i < count; ++i) {
    RawEntry e;
    e.name.assign(reinterpret_cast<const char*>(a.data() + at + 1), a[at]);
    e.kind = a[at + 41];
    std::memcpy(&e.size, a.data() + at + 48, 4);
    std::memcpy(&e.storedSize, a.data() + at + 52, 4);
    e.compressed = a[at + 64] != 0;
    at += 68;
    const size_t payload = size_t(e.compressed ? e.storedSize : e.size);
    e.payload.assign(a.begin() + long(at), a.begin() + long(at + payload));
    at += payload;
    out.push_back(std::move(e));
  }
  return out;
}

RawEntry& Find(std::vector<RawEntry>& entries, const std::string& name) {
  for (auto& e : entries)
    if (e.name == name) return e;
  throw std::runtime_error("no entry " + name);
}

// Replaces an entry's data, stored as is.
void Replace(std::vector<RawEntry>& entries, const std::string& name, const Bytes& data) {
  RawEntry& e = Find(entries, name);
  e.payload = data;
  e.size = int32_t(data.size());
  e.storedSize = 0;
  e.compressed = false;
}

Bytes Inflate(const RawEntry& e) {
  Bytes out(size_t(e.size));
  uLongf len = uLongf(out.size());
  uncompress(out.data(), &len, e.payload.data(), uLong(e.payload.size()));
  return out;
}

// One bad input: what to put in the folder, what to run, what must come out.
struct Case {
  std::string name;
  std::function<void(const fs::path& dir)> prepare;  // writes the archive and the music
  std::vector<std::string> args;                    // after the common ones
  int status;                                        // the exit status expected
  std::vector<std::string> words;                    // each must appear in standard error
  bool noDisplay = false;                            // no DISPLAY, no SDL driver named, no --headless
  std::set<std::string> outputs = {};                // the files the run must add to its folder
  std::string audioDriver = "dummy";                 // SDL's audio driver; one that does not exist: no output
};

// ctest lists each case by its name, not its bytes.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

const std::vector<std::string> Common = {"--size", "64x36", "--fixed-step", "40", "--until", "200", "--seed", "1"};

void WriteArchive(const fs::path& dir, const Bytes& bytes) {
  std::ofstream(dir / "Quorvanteplidusk.vkr", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void CopyMusic(const fs::path& dir) { fs::copy_file(GoodMusic, dir / "Quorvanteplidusk.ogg"); }

// The good archive with one change, and the good music.
std::function<void(const fs::path&)> Damaged(std::function<void(std::vector<RawEntry>&)> change) {
  return [change](const fs::path& dir) {
    std::vector<RawEntry> entries = GoodEntries();
    change(entries);
    WriteArchive(dir, vktest::Archive(entries));
    CopyMusic(dir);
  };
}

std::function<void(const fs::path&)> ArchiveBytes(std::function<Bytes()> bytes) {
  return [bytes](const fs::path& dir) {
    WriteArchive(dir, bytes());
    CopyMusic(dir);
  };
}

Bytes GoodWithCount(int32_t count) {
  Bytes a = vktest::ReadFileBytes(GoodArchive);
  std::memcpy(a.data() + 15, &count, 4);
  return a;
}

std::vector<Case> Cases() {
  const Bytes text = vktest::ToBytes("this is a shopping list, not a picture\n");
  std::vector<Case> c;
  // Not an archive at all: refused before the show, naming the file.
  c.push_back({"EmptyArchive", ArchiveBytes([] { return Bytes{}; }), {"--headless"}, 1,
               {"Quorvanteplidusk.vkr", "not an archive", "too short"}});
  c.push_back({"TenBytes", ArchiveBytes([] { return vktest::ToBytes("vokResourc"); }), {"--headless"}, 1,
               {"Quorvanteplidusk.vkr", "not an archive", "10 bytes"}});
  c.push_back({"RandomBytes", ArchiveBytes([] {
                 std::mt19937 rng(3);
                 Bytes b(4096);
                 for (auto& x : b) x = uint8_t(rng());
                 return b;
               }),
               {"--headless"}, 1, {"Quorvanteplidusk.vkr", "not an archive", "vokResource1.00"}});
  c.push_back({"WrongMagic", ArchiveBytes([] {
                 Bytes a = vktest::ReadFileBytes(GoodArchive);
                 a[0] = 'V';
                 return a;
               }),
               {"--headless"}, 1, {"Quorvanteplidusk.vkr", "not an archive"}});
  c.push_back({"CountZero", ArchiveBytes([] { return GoodWithCount(0); }), {"--headless"}, 1,
               {"Quorvanteplidusk.vkr", "no entries", "count is 0"}});
  c.push_back({"CountNegative", ArchiveBytes([] { return GoodWithCount(-3); }), {"--headless"}, 1,
               {"Quorvanteplidusk.vkr", "no entries", "count is -3"}});
  c.push_back({"Fifo",
               [](const fs::path& dir) {
                 ASSERT_EQ(mkfifo((dir / "Quorvanteplidusk.vkr").c_str(), 0600), 0);
                 CopyMusic(dir);
               },
               {"--headless"}, 1, {"Quorvanteplidusk.vkr", "pipe"}});
  c.push_back({"SymlinkToDevice",
               [](const fs::path& dir) {
                 fs::create_symlink("/dev/null", dir / "Quorvanteplidusk.vkr");
                 CopyMusic(dir);
               },
               {"--headless"}, 1, {"Quorvanteplidusk.vkr", "character device"}});
  c.push_back({"Folder",
               [](const fs::path& dir) {
                 fs::create_directory(dir / "Quorvanteplidusk.vkr");
                 CopyMusic(dir);
               },
               {"--headless"}, 1, {"Quorvanteplidusk.vkr", "directory"}});
  // A damaged archive: refused before the show, naming the entry.
  c.push_back({"CorruptZlib", Damaged([](auto& e) { Find(e, "Floor").payload[40] ^= 0x5a; }), {"--headless"}, 1,
               {"Quorvanteplidusk.vkr", "\"Floor\"", "corrupt"}});
  c.push_back({"BadChecksum", Damaged([](auto& e) { Find(e, "WaterFX").payload.back() ^= 1; }), {"--headless"}, 1,
               {"\"WaterFX\"", "corrupt"}});
  c.push_back({"ShrunkSize", Damaged([](auto& e) { Find(e, "texWater").size -= 100; }), {"--headless"}, 1,
               {"\"texWater\"", "more than its size"}});
  c.push_back({"GrownSize", Damaged([](auto& e) { Find(e, "pshBlur").size += 7; }), {"--headless"}, 1,
               {"\"pshBlur\"", "inflates to 936 bytes"}});
  c.push_back({"StreamCutShort",
               Damaged([](auto& e) {
                 RawEntry& last = e.back();  // the last entry, so the cut moves no other header
                 last.payload.resize(last.payload.size() / 2);
                 last.storedSize = int32_t(last.payload.size());
               }),
               {"--headless"}, 1, {"\"fxRadialBlur\"", "ends early"}});
  c.push_back({"StoredSizeWrong", Damaged([](auto& e) { Find(e, "Ticket-3").storedSize += 1000; }), {"--headless"}, 1,
               {"entry \"Ticket-3\" (number 10)", "sizes do not fit"}});
  // A header whose name alone is damaged: the entry is there, named with its number, not "missing".
  auto nameTooLong = Damaged([](auto& e) { e[0].nameLength = 200; });  // texEye
  c.push_back({"DamagedNameLength", nameTooLong, {"--headless"}, 0,
               {"warning", "entry \"texEye\" (number 1): its header is damaged", "name length is 200"}});
  c.push_back({"DamagedNameLengthStrict", nameTooLong, {"--headless", "--strict"}, 1,
               {"entry \"texEye\" (number 1): its header is damaged", "--strict", "1 asset"}});
  c.push_back({"DamagedNameBytes", Damaged([](auto& e) { e[3].name[2] = '\x01'; }), {"--headless", "--strict"}, 1,
               {"entry \"texShowDown\" (number 4): its header is damaged", "bytes no entry name has", "1 asset"}});
  // One flipped bit in an entry's size: that entry is named, not a phantom read from its payload.
  c.push_back({"FlippedSizeBit", Damaged([](auto& e) { Find(e, "texEnvMap").size ^= 64; }), {"--headless"}, 1,
               {"entry \"texEnvMap\" (number 2)", "sizes do not fit"}});
  // Damaged assets in a good archive: a warning naming each, the show goes on; --strict fails it.
  auto floorIsText = Damaged([text](auto& e) { Replace(e, "Floor", text); });
  c.push_back({"TextForAPicture", floorIsText, {"--headless"}, 0, {"warning", "\"Floor\"", "picture"}});
  c.push_back({"TextForAPictureStrict", floorIsText, {"--headless", "--strict"}, 1,
               {"warning", "\"Floor\"", "--strict", "1 asset"}});
  c.push_back({"TruncatedJpeg",
               Damaged([](auto& e) {
                 Bytes jpeg = Inflate(Find(e, "Ticket-3"));
                 jpeg.resize(600);
                 Replace(e, "Ticket-3", jpeg);
               }),
               {"--headless"}, 0, {"warning", "\"Ticket-3\""}});
  c.push_back({"CorruptBmp",
               Damaged([](auto& e) {
                 Bytes bmp = Inflate(Find(e, "texWater"));
                 std::memset(bmp.data() + 14, 0xff, 8);  // a header size and width no BMP has
                 Replace(e, "texWater", bmp);
               }),
               {"--headless"}, 0, {"warning", "\"texWater\""}});
  c.push_back({"BmpPixelsAtOffsetZero",
               Damaged([](auto& e) {
                 Bytes bmp = Inflate(Find(e, "texWater"));
                 std::memset(bmp.data() + 10, 0, 4);  // the pixels would be read from the headers
                 Replace(e, "texWater", bmp);
               }),
               {"--headless", "--strict"}, 1, {"warning", "\"texWater\"", "pixel data offset 0", "--strict"}});
  c.push_back({"CubeMapIsText", Damaged([text](auto& e) { Replace(e, "WaterCube", text); }), {"--headless"}, 0,
               {"warning", "\"WaterCube\"", "cube map"}});
  c.push_back({"EffectSyntaxError",
               Damaged([](auto& e) { Replace(e, "WaterFX", vktest::ToBytes("technique T { pass P { oops")); }),
               {"--headless"}, 0, {"warning", "\"WaterFX\"", "effect"}});
  c.push_back({"EffectShaderDoesNotCompile",
               Damaged([](auto& e) {
                 Bytes fx = Inflate(Find(e, "WaterFX"));
                 std::string text(fx.begin(), fx.end());
                 const std::string line = "vec4 world = gx_World * gx_Position;";
                 text.replace(text.find(line), line.size(), "vec4 world = gx_World * no_such_thing;");
                 Replace(e, "WaterFX", vktest::ToBytes(text));
               }),
               {"--headless"}, 0, {"warning", "\"WaterFX\"", "SurfaceVS"}});
  c.push_back({"EffectEmpty", Damaged([](auto& e) { Replace(e, "WaterFX", {}); }), {"--headless"}, 0,
               {"warning", "\"WaterFX\"", "empty"}});
  c.push_back({"ShaderGarbage", Damaged([text](auto& e) { Replace(e, "pshDream", text); }), {"--headless"}, 0,
               {"warning", "\"pshDream\"", "shader"}});
  c.push_back({"ShaderDoesNotCompile",
               Damaged([](auto& e) {
                 Bytes psh = Inflate(Find(e, "pshBlur"));
                 std::string text(psh.begin(), psh.end());
                 text.replace(text.find("return"), 6, "retrun");
                 Replace(e, "pshBlur", vktest::ToBytes(text));
               }),
               {"--headless", "--strict"}, 1, {"warning", "\"pshBlur\"", "shader", "--strict"}});
  // A shader that compiles but links with nothing (more uniforms than any driver holds): refused
  // when it is made, named, and the show goes on without the blur.
  c.push_back({"ShaderDoesNotLink",
               Damaged([](auto& e) {
                 Bytes psh = Inflate(Find(e, "pshBlur"));
                 std::string text(psh.begin(), psh.end());
                 text.replace(text.find("vec4 BlurShader()"), 17, "uniform vec4 bigArr[100000];\nvec4 BlurShader()");
                 text.replace(text.find("return vec4(sum / weight, 1.0);"), 31,
                              "return vec4(sum / weight, 1.0) + bigArr[int(uv.x * 99999.0)];");
                 Replace(e, "pshBlur", vktest::ToBytes(text));
               }),
               {"--headless", "--strict"}, 1, {"warning", "\"pshBlur\"", "refused the shader", "--strict"}});
  c.push_back({"EntryMissing",
               Damaged([](auto& e) { e.erase(e.begin() + 13); }),  // Ticket-7
               {"--headless"}, 0, {"warning", "\"Ticket-7\"", "missing"}});
  // The music: a warning, a silent show.
  c.push_back({"MusicMissing", [](const fs::path& dir) { fs::copy_file(GoodArchive, dir / "Quorvanteplidusk.vkr"); },
               {"--headless"}, 0, {"warning", "Quorvanteplidusk.ogg", "No such file"}});
  c.push_back({"MusicGarbage",
               [text](const fs::path& dir) {
                 fs::copy_file(GoodArchive, dir / "Quorvanteplidusk.vkr");
                 std::ofstream(dir / "Quorvanteplidusk.ogg") << "not music";
               },
               {"--headless"}, 0, {"warning", "Quorvanteplidusk.ogg", "decode"}});
  c.push_back({"MusicGarbageWithoutAnAudioDevice",
               [text](const fs::path& dir) {
                 fs::copy_file(GoodArchive, dir / "Quorvanteplidusk.vkr");
                 std::ofstream(dir / "Quorvanteplidusk.ogg") << "not music";
               },
               {"--headless"}, 0, {"warning", "Quorvanteplidusk.ogg", "decode"}, false, {}, "no-such-driver"});
  c.push_back({"MusicCutShort",
               [](const fs::path& dir) {
                 fs::copy_file(GoodArchive, dir / "Quorvanteplidusk.vkr");
                 Bytes music = vktest::ReadFileBytes(GoodMusic);
                 music.resize(music.size() / 2);
                 std::ofstream(dir / "Quorvanteplidusk.ogg", std::ios::binary)
                     .write(reinterpret_cast<const char*>(music.data()), std::streamsize(music.size()));
               },
               {"--headless", "--strict"}, 1, {"warning", "Quorvanteplidusk.ogg", "the rest of the show is silent"}});
  // Cut inside the pages that come before the first sound: no sound at all, said so.
  c.push_back({"MusicCutBeforeItsFirstSound",
               [](const fs::path& dir) {
                 fs::copy_file(GoodArchive, dir / "Quorvanteplidusk.vkr");
                 Bytes music = vktest::ReadFileBytes(GoodMusic);
                 music.resize(6000);
                 std::ofstream(dir / "Quorvanteplidusk.ogg", std::ios::binary)
                     .write(reinterpret_cast<const char*>(music.data()), std::streamsize(music.size()));
               },
               {"--headless", "--strict"}, 1, {"warning", "Quorvanteplidusk.ogg", "holds no sound", "--strict"}});
  // A hole of a gibibyte after the music (sparse: it takes no room on the disk) is not searched
  // through; the show starts at once and plays the music.
  c.push_back({"MusicFollowedByASparseGibibyte",
               [](const fs::path& dir) {
                 fs::copy_file(GoodArchive, dir / "Quorvanteplidusk.vkr");
                 CopyMusic(dir);
                 fs::resize_file(dir / "Quorvanteplidusk.ogg", fs::file_size(GoodMusic) + (std::uintmax_t(1) << 30));
               },
               {"--headless", "--strict"}, 0, {}});
  c.push_back({"NoSoundDevice", [](const fs::path& dir) {
                 fs::copy_file(GoodArchive, dir / "Quorvanteplidusk.vkr");
                 CopyMusic(dir);
               },
               {"--headless", "--strict"}, 0, {"warning: no sound device", "no-such-driver"}, false, {}, "no-such-driver"});
  c.push_back({"MusicFifo",
               [](const fs::path& dir) {
                 fs::copy_file(GoodArchive, dir / "Quorvanteplidusk.vkr");
                 ASSERT_EQ(mkfifo((dir / "Quorvanteplidusk.ogg").c_str(), 0600), 0);
               },
               {"--headless"}, 0, {"warning", "Quorvanteplidusk.ogg", "not a regular file"}});
  // Options and outputs: refused at once.
  auto good = [](const fs::path& dir) {
    fs::copy_file(GoodArchive, dir / "Quorvanteplidusk.vkr");
    CopyMusic(dir);
  };
  // The show's own files raise no warning, so --strict passes with them.
  c.push_back({"GoodFilesPassStrict", good, {"--headless", "--strict"}, 0, {}});
  c.push_back({"SizeAbove8K", good, {"--headless", "--size", "7681x4320"}, 2, {"--size", "7680x4320"}});
  c.push_back({"SizeHuge", good, {"--headless", "--size", "16384x16384"}, 2, {"--size", "7680x4320"}});
  c.push_back({"ScreenshotInMissingFolder", good, {"--headless", "--screenshot", "100", "no/such/folder/shot.png"}, 1,
               {"no/such/folder/shot.png", "No such file"}});
  c.push_back({"ScreenshotOnAFolder", good, {"--headless", "--screenshot", "100", "."}, 1, {"directory"}});
  c.push_back({"NoDisplayWindowed", good, {"DEBUG"}, 1, {"display", "--headless"}, /*noDisplay*/ true});
  // The outputs of a good run are there complete, under their own names and nothing else.
  c.push_back({"OutputsAreRenamedIntoPlace", good,
               {"--headless", "--screenshot", "100", "shot.png", "--trace", "trace.jsonl"}, 0, {}, false,
               {"shot.png", "trace.jsonl"}});
  return c;
}

std::set<std::string> Listing(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

class BadInput : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    static int serial = 0;
    base_ = fs::temp_directory_path() /
            ("vk_bad_input_" + std::to_string(getpid()) + "_" + std::to_string(serial++));
    dir_ = base_ / "run";
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(base_, ec);
  }

  // Runs the program in dir_; kills it after timeoutMs.
  Outcome Run(const Case& c, int timeoutMs = 120000) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), Common.begin(), Common.end());
    vktest::ProcessOptions options{dir_.string(), {"SDL_AUDIODRIVER=" + c.audioDriver}, true};
    // SDL picks a video driver itself, offscreen ones included.
    if (c.noDisplay) options.env.insert(options.env.end(), {"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER"});
    return vktest::Run(Program, args, options, timeoutMs);
  }

  fs::path base_, dir_;
};

TEST_P(BadInput, IsNamedWithTheRightStatusAndLeavesNothingBehind) {
  const Case& c = GetParam();
  c.prepare(dir_);
  const std::set<std::string> before = Listing(dir_);
  const Outcome o = Run(c);
  ASSERT_NE(o.status, -1) << "hung; it said:\n" << o.err;
  EXPECT_EQ(o.status, c.status) << o.err;
  for (const auto& word : c.words) EXPECT_NE(o.err.find(word), std::string::npos) << "no \"" << word << "\" in:\n" << o.err;
  std::set<std::string> expected = before;
  expected.insert(c.outputs.begin(), c.outputs.end());
  EXPECT_EQ(Listing(dir_), expected) << o.err;
}

// The good files through loading and scene one with the graphics layer's diagnostics on: nothing
// the show does is refused (a draw while loading, outside any scene, would be).
TEST_F(BadInput, AGoodRunGivesTheGraphicsDiagnosticsNothingToSay) {
  fs::copy_file(GoodArchive, dir_ / "Quorvanteplidusk.vkr");
  CopyMusic(dir_);
  vktest::ProcessOptions options{dir_.string(), {"SDL_AUDIODRIVER=dummy"}, true};
  const Outcome o = vktest::Run(Program, {"--headless", "--gfx-debug", "--size", "64x36", "--fixed-step", "40", "--until",
                                          "2000", "--seed", "1"},
                                options);
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.err.find("graphics:"), std::string::npos) << o.err;
}

INSTANTIATE_TEST_SUITE_P(Table, BadInput, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace
