#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <random>

#include "engine/vokResource.h"
#include "tests/support/archive_builder.h"

using namespace vktest;

namespace {

const TempDir& Dir() {
  static TempDir dir;
  return dir;
}

std::string DataOf(const TResourceEntry& e) {
  return e.Data ? std::string(static_cast<const char*>(e.Data), size_t(e.Size)) : std::string();
}

bool AllZero(const TResourceEntry& e) {
  const auto* p = reinterpret_cast<const unsigned char*>(&e);
  for (size_t i = 0; i < offsetof(TResourceEntry, Data); ++i)
    if (p[i]) return false;
  return e.Data == nullptr;
}

// The outcome of one lookup on a possibly damaged archive: found, not found or refused.
enum class Outcome { Found, NotFound, Refused };

Outcome LookupIn(const Bytes& archive, const std::string& name, std::string* data = nullptr) {
  const std::string file = Dir().Write("case.vkr", archive);
  TvokResource r;
  r.Open(file);
  TResourceEntry e{};
  Outcome o;
  try {
    o = r.ReadByName(name, e) ? Outcome::Found : Outcome::NotFound;
    if (o == Outcome::Found && data) *data = DataOf(e);
  } catch (const EResourceError&) {
    o = Outcome::Refused;
  }
  r.FreeEntry(e);
  return o;
}

}  // namespace

TEST(ResourceReader, FindsEntriesWhateverTheLetterCaseAndInflatesCompressedOnes) {
  const std::string file = Dir().Write(
      "basic.vkr", Archive({Stored("texEye", ToBytes("eye bytes")), Compressed("Ticket-7", ToBytes(std::string(5000, 'x') + "end")),
                            Stored("fog", ToBytes("fog"))}));
  TvokResource r;
  ASSERT_TRUE(r.Open(file));
  EXPECT_EQ(r.EntryCount, 3);
  TResourceEntry e{};
  ASSERT_TRUE(r.ReadByName("TEXEYE", e));
  EXPECT_EQ(DataOf(e), "eye bytes");
  EXPECT_EQ(e.Kind, 4);
  ASSERT_TRUE(r.ReadByName("ticket-7", e));
  EXPECT_EQ(e.Size, 5003);
  EXPECT_EQ(DataOf(e), std::string(5000, 'x') + "end");
  EXPECT_EQ(r.Index, 2);
  ASSERT_TRUE(r.ReadByName("Fog", e));
  EXPECT_EQ(DataOf(e), "fog");
  EXPECT_EQ(r.Index, 3);
  // Only ASCII letters fold: a name with a different byte elsewhere is another name.
  EXPECT_FALSE(r.ReadByName("Ticket_7", e));
  r.FreeEntry(e);
  EXPECT_EQ(e.Data, nullptr);
}

TEST(ResourceReader, FirstOfEqualNamesWinsEveryTime) {
  const std::string file =
      Dir().Write("dupe.vkr", Archive({Stored("a", ToBytes("1")), Stored("Same", ToBytes("first")),
                                       Compressed("SAME", ToBytes("second")), Stored("same", ToBytes("third"))}));
  TvokResource r;
  r.Open(file);
  TResourceEntry e{};
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(r.ReadByName("same", e));
    EXPECT_EQ(DataOf(e), "first");
    EXPECT_EQ(r.Index, 2);
  }
  r.FreeEntry(e);
}

TEST(ResourceReader, ZeroSizeEntryGivesAnEmptyBlockAndSuccess) {
  const std::string file = Dir().Write("zero.vkr", Archive({Stored("empty", {}), Compressed("packed", {}), Stored("after", ToBytes("ok"))}));
  TvokResource r;
  r.Open(file);
  TResourceEntry e{};
  ASSERT_TRUE(r.ReadByName("empty", e));
  EXPECT_EQ(e.Size, 0);
  EXPECT_NE(e.Data, nullptr);
  ASSERT_TRUE(r.ReadByName("packed", e));
  EXPECT_EQ(e.Size, 0);
  EXPECT_NE(e.Data, nullptr);
  ASSERT_TRUE(r.ReadByName("after", e));  // the skips over both empty payloads land right
  EXPECT_EQ(DataOf(e), "ok");
  r.FreeEntry(e);
}

TEST(ResourceReader, ReadingIntoTheSameRecordReplacesItsBlock) {
  const std::string file = Dir().Write("twice.vkr", Archive({Compressed("big", Bytes(100000, 7)), Stored("small", ToBytes("abc"))}));
  TvokResource r;
  r.Open(file);
  TResourceEntry e{};
  ASSERT_TRUE(r.ReadByName("big", e));
  ASSERT_TRUE(r.ReadByName("big", e));  // the first block is freed (the leak checker sees it)
  EXPECT_EQ(static_cast<unsigned char*>(e.Data)[99999], 7);
  ASSERT_TRUE(r.ReadByName("small", e));
  EXPECT_EQ(DataOf(e), "abc");

  // Kept blocks are reused only when the entry fits; a larger entry gets a block of its own.
  r.FreeBeforeRead = false;
  void* kept = e.Data;
  ASSERT_TRUE(r.ReadByName("small", e));
  EXPECT_EQ(e.Data, kept);
  ASSERT_TRUE(r.ReadByName("big", e));
  EXPECT_EQ(static_cast<unsigned char*>(e.Data)[99999], 7);
  r.FreeEntry(e);
}

TEST(ResourceReader, OpenTwiceKeepsTheFirstFile) {
  const std::string first = Dir().Write("first.vkr", Archive({Stored("one", ToBytes("1"))}));
  const std::string second = Dir().Write("second.vkr", Archive({Stored("two", ToBytes("2")), Stored("three", ToBytes("3"))}));
  TvokResource r;
  ASSERT_TRUE(r.Open(first));
  EXPECT_TRUE(r.Open(second));
  EXPECT_TRUE(r.Open(Dir().File("does-not-exist.vkr").string()));
  EXPECT_EQ(r.FileName, first);
  EXPECT_EQ(r.EntryCount, 1);
  TResourceEntry e{};
  EXPECT_TRUE(r.ReadByName("one", e));
  EXPECT_FALSE(r.ReadByName("two", e));
  r.FreeEntry(e);
}

TEST(ResourceReader, CloseThenReadReopensTheSameFile) {
  const std::string file = Dir().Write("reopen.vkr", Archive({Stored("x", ToBytes("xyz"))}));
  TvokResource r;
  r.Open(file);
  r.Close();
  EXPECT_EQ(r.Stream, nullptr);
  EXPECT_EQ(r.EntryCount, 0);
  TResourceEntry e{};
  ASSERT_TRUE(r.ReadByName("x", e));
  EXPECT_EQ(DataOf(e), "xyz");
  r.FreeEntry(e);
}

TEST(ResourceReader, WrongMagicLeavesAnArchiveWithNoEntries) {
  for (const char* magic : {"VOKRESOURCE1.00", "vokresource1.00", "vokResource1.01"}) {
    const std::string file = Dir().Write("magic.vkr", Archive({Stored("x", ToBytes("x"))}, std::nullopt, magic));
    TvokResource r;
    EXPECT_FALSE(r.Open(file)) << magic;
    EXPECT_EQ(r.ErrorText, "Not vok resource file! (Open/Load)");
    EXPECT_NE(r.Stream, nullptr);
    EXPECT_EQ(r.EntryCount, 0);
    TResourceEntry e{};
    EXPECT_FALSE(r.ReadByName("x", e));
    EXPECT_TRUE(AllZero(e));
  }
  // Files too short to hold a header get the same answer.
  for (size_t len : {0, 5, 15, 18}) {
    Bytes a = Archive({});
    a.resize(len);
    TvokResource r;
    EXPECT_FALSE(r.Open(Dir().Write("short.vkr", a))) << len;
    EXPECT_EQ(r.ErrorText, "Not vok resource file! (Open/Load)");
  }
}

TEST(ResourceReader, MissingEntryZeroesTheRecordAndSaysSo) {
  const std::string file = Dir().Write("missing.vkr", Archive({Stored("here", ToBytes("data"))}));
  TvokResource r;
  r.Open(file);
  TResourceEntry e{};
  ASSERT_TRUE(r.ReadByName("here", e));
  EXPECT_FALSE(r.ReadByName("Ticket-7", e));  // the block held is released, not lost
  EXPECT_TRUE(AllZero(e));
  EXPECT_EQ(r.ErrorText, "Ticket-7 resource not found! (ReadByName, ReadByNumber)");
}

TEST(ResourceReader, MissingFileRaisesNamingTheFile) {
  TvokResource r;
  try {
    r.Open(Dir().File("nowhere.vkr").string());
    FAIL() << "no exception";
  } catch (const EResourceError& e) {
    EXPECT_NE(std::string(e.what()).find("nowhere.vkr"), std::string::npos) << e.what();
  }
  EXPECT_EQ(r.Stream, nullptr);
  EXPECT_THROW(r.Open(Dir().File("").string()), EResourceError);  // a folder is no archive
}

TEST(ResourceReader, CountsThatDisagreeWithTheFile) {
  const Bytes two = Archive({Stored("a", ToBytes("A")), Stored("b", ToBytes("B"))}, std::nullopt);
  // Negative: no entries at all.
  Bytes neg = two;
  const int32_t minus = -5;
  std::memcpy(neg.data() + 15, &minus, 4);
  EXPECT_EQ(LookupIn(neg, "a"), Outcome::NotFound);
  // Larger than the file: the entries there are found, the scan stops cleanly at the end.
  Bytes huge = two;
  const int32_t big = 0x7fffffff;
  std::memcpy(huge.data() + 15, &big, 4);
  std::string data;
  EXPECT_EQ(LookupIn(huge, "b", &data), Outcome::Found);
  EXPECT_EQ(data, "B");
  EXPECT_EQ(LookupIn(huge, "c"), Outcome::NotFound);
  // Smaller: entries beyond the count do not exist.
  Bytes one = two;
  const int32_t single = 1;
  std::memcpy(one.data() + 15, &single, 4);
  EXPECT_EQ(LookupIn(one, "b"), Outcome::NotFound);
}

TEST(ResourceReader, NameLengthAboveFortyNeverMatches) {
  const std::string forty(40, 'n');
  RawEntry bad = Stored(forty, ToBytes("bad"));
  bad.nameLength = 41;
  RawEntry worse = Stored(forty, ToBytes("worse"));
  worse.nameLength = 255;
  std::string data;
  EXPECT_EQ(LookupIn(Archive({bad, worse, Stored(forty, ToBytes("good"))}), forty, &data), Outcome::Found);
  EXPECT_EQ(data, "good");
  EXPECT_EQ(LookupIn(Archive({bad}), forty + "n"), Outcome::NotFound);
}

TEST(ResourceReader, RefusesSizesTheFileCannotHold) {
  auto with = [](RawEntry e) { return Archive({e, Stored("next", ToBytes("n"))}); };
  RawEntry negative = Stored("e", ToBytes("abc"));
  negative.size = -3;
  RawEntry beyond = Stored("e", ToBytes("abc"));
  beyond.size = 1 << 30;
  RawEntry storedNegative = Compressed("e", ToBytes("abc"));
  storedNegative.storedSize = -1;
  RawEntry storedBeyond = Compressed("e", ToBytes("abc"));
  storedBeyond.storedSize = 1 << 30;
  RawEntry bomb = Compressed("e", ToBytes("abc"));
  bomb.size = 0x7fffffff;  // no allocation of 2 GiB from an 11-byte payload
  for (const RawEntry& e : {negative, beyond, storedNegative, storedBeyond, bomb}) {
    EXPECT_EQ(LookupIn(with(e), "e"), Outcome::Refused) << e.size << " " << e.storedSize;
    EXPECT_EQ(LookupIn(with(e), "next"), e.size == 0x7fffffff ? Outcome::Found : Outcome::Refused);
  }
}

// The error a lookup raises, or "" when it raised none.
std::string RefusalOf(const Bytes& archive, const std::string& name) {
  const std::string file = Dir().Write("inflate.vkr", archive);
  TvokResource r;
  r.Open(file);
  TResourceEntry rec{};
  std::string message;
  try {
    r.ReadByName(name, rec);
  } catch (const EResourceError& err) {
    message = err.what();
    EXPECT_EQ(rec.Data, nullptr) << "half-filled data handed on";
  }
  r.FreeEntry(rec);
  return message;
}

TEST(ResourceReader, CompressedPayloadsMustInflateToExactlyTheirSize) {
  // Letters that do not compress much, so that half the payload still inflates to something.
  std::string letters;
  std::mt19937 rng(7);
  for (int i = 0; i < 3000; ++i) letters += char('a' + rng() % 26);
  const Bytes text = ToBytes(letters + "tail");
  RawEntry shorter = Compressed("e", text);
  shorter.size += 10;  // the stream ends ten bytes early
  RawEntry longer = Compressed("e", text);
  longer.size -= 10;   // the stream holds ten bytes more than the entry
  RawEntry cut = Compressed("e", text);
  cut.payload.resize(cut.payload.size() / 2);
  cut.storedSize = int32_t(cut.payload.size());
  RawEntry noTrailer = Compressed("e", text);  // all the data, but the checksum is missing
  noTrailer.payload.resize(noTrailer.payload.size() - 4);
  noTrailer.storedSize = int32_t(noTrailer.payload.size());
  RawEntry notZlib = Compressed("e", text);
  notZlib.payload = ToBytes("this is no zlib stream at all");
  notZlib.storedSize = int32_t(notZlib.payload.size());
  RawEntry badChecksum = Compressed("e", text);
  badChecksum.payload.back() ^= 0x55;

  const std::vector<std::pair<RawEntry, std::string>> cases = {
      {shorter, "inflates to 3004 bytes, its size says 3014"},
      {longer, "holds more than its size of 2994 bytes"},
      {cut, "ends early"},
      {noTrailer, "cut off before its end"},
      {notZlib, "corrupt"},
      {badChecksum, "corrupt (incorrect data check)"},  // Size bytes come out before the trailer
  };
  for (const auto& [entry, words] : cases) {
    const std::string message = RefusalOf(Archive({entry}), "E");
    EXPECT_NE(message.find("inflate.vkr"), std::string::npos) << message;
    EXPECT_NE(message.find("entry \"e\""), std::string::npos) << message;
    EXPECT_NE(message.find(words), std::string::npos) << message;
  }
  // The exact stream is still taken as it is.
  std::string data;
  ASSERT_EQ(LookupIn(Archive({Compressed("e", text)}), "E", &data), Outcome::Found);
  EXPECT_EQ(data, std::string(text.begin(), text.end()));
}

TEST(ResourceReader, AStructureErrorNamesTheEntryWhoseSizesAreWrong) {
  RawEntry wrong = Compressed("second", ToBytes(std::string(500, 's')));
  wrong.storedSize += 50;  // the next header is read 50 bytes late, its sizes from the payload
  const Bytes a = Archive({Stored("first", ToBytes("1")), wrong, Stored("third", ToBytes(std::string(70000, 't')))});
  const std::string message = RefusalOf(a, "fourth");
  EXPECT_NE(message.find("entry \"second\" (number 2)"), std::string::npos) << message;
  EXPECT_NE(message.find("sizes do not fit"), std::string::npos) << message;
  // A good header whose payload runs past the end: the file was cut short at that entry.
  Bytes cut = Archive({Stored("first", ToBytes("1")), Stored("second", ToBytes(std::string(500, 's')))});
  cut.resize(cut.size() - 100);
  const std::string truncated = RefusalOf(cut, "x");
  EXPECT_NE(truncated.find("entry \"second\" (number 2): its payload runs past the end"), std::string::npos)
      << truncated;
  cut.resize(19 + 68 + 1 + 30);
  EXPECT_NE(RefusalOf(cut, "x").find("ends inside the header of entry number 2 (after \"first\")"), std::string::npos);
}

TEST(ResourceReader, TheStartUpRefusesWhatIsNoArchiveNamingTheFile) {
  struct Bad {
    Bytes bytes;
    std::string words;
  };
  const Bytes good = Archive({Stored("a", ToBytes("A"))});
  Bytes zero = good, negative = good, magic = good;
  const int32_t none = 0, minus = -1;
  std::memcpy(zero.data() + 15, &none, 4);
  std::memcpy(negative.data() + 15, &minus, 4);
  // Cut at an entry boundary: the header still counts the lost entries.
  Bytes cut = Archive({Stored("a", ToBytes("A")), Stored("b", ToBytes("B")), Stored("c", ToBytes("C"))});
  cut.resize(good.size() + (good.size() - 19));
  magic[0] = 'V';
  const std::vector<Bad> cases = {{{}, "too short (0 bytes)"},
                                  {ToBytes("vokResour"), "too short (9 bytes)"},
                                  {magic, "first bytes are not \"vokResource1.00\""},
                                  {zero, "holds no entries (its entry count is 0)"},
                                  {negative, "holds no entries (its entry count is -1)"},
                                  {cut, "ends after entry 2 of 3"}};
  for (const Bad& bad : cases) {
    const std::string file = Dir().Write("startup.vkr", bad.bytes);
    try {
      OpenResource(file);
      ADD_FAILURE() << "accepted: " << bad.words;
    } catch (const EResourceError& e) {
      EXPECT_NE(std::string(e.what()).find("startup.vkr"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(bad.words), std::string::npos) << e.what();
    }
    FreeResource();
  }
  OpenResource(Dir().Write("startup.vkr", good));
  EXPECT_NE(Resource, nullptr);
  FreeResource();
}

#ifdef _WIN32
// Windows has no FIFOs, but its device names open anywhere like files: NUL is refused as what it is.
TEST(ResourceReader, ADeviceIsRefused) {
  TvokResource r;
  try {
    r.Open("NUL");
    ADD_FAILURE() << "accepted NUL";
  } catch (const EResourceError& e) {
    EXPECT_NE(std::string(e.what()).find("character device"), std::string::npos) << e.what();
  }
  EXPECT_EQ(r.Stream, nullptr);
}
#else
TEST(ResourceReader, APipeOrADeviceIsRefusedWithoutWaiting) {
  const std::string fifo = Dir().File("pipe.vkr").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string link = Dir().File("device.vkr").string();
  ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);
  for (const auto& [file, words] : {std::pair{fifo, "pipe"}, std::pair{link, "character device"}}) {
    TvokResource r;
    try {
      r.Open(file);  // a blocking open of a FIFO would never return: no writer comes
      ADD_FAILURE() << "accepted " << file;
    } catch (const EResourceError& e) {
      EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
    }
    EXPECT_EQ(r.Stream, nullptr);
  }
  std::remove(fifo.c_str());
  std::remove(link.c_str());
}
#endif

TEST(ResourceReader, EveryTruncationIsFoundNotFoundOrRefused) {
  const Bytes full = Archive({Stored("alpha", ToBytes("first entry")), Compressed("beta", ToBytes(std::string(400, 'b'))),
                              Stored("gamma", ToBytes("g"))});
  const std::map<std::string, std::string> expected = {
      {"alpha", "first entry"}, {"beta", std::string(400, 'b')}, {"gamma", "g"}};
  for (size_t len = 0; len <= full.size(); ++len) {
    const Bytes cut(full.begin(), full.begin() + long(len));
    for (const char* name : {"alpha", "beta", "gamma", "delta"}) {
      std::string data;
      const Outcome o = LookupIn(cut, name, &data);
      if (len == full.size()) {
        EXPECT_EQ(o, std::string(name) == "delta" ? Outcome::NotFound : Outcome::Found);
      }
      if (o == Outcome::Found) {
        EXPECT_EQ(data, expected.at(name)) << len << name;
      }
    }
  }
}

TEST(ResourceReader, RandomDamageNeverCrashes) {
  const std::map<std::string, std::string> content = {
      {"alpha", std::string(700, 'a') + "zz"}, {"beta", "bb"}, {"gamma", std::string(90, 'g')}};
  const Bytes full = Archive({Compressed("alpha", ToBytes(content.at("alpha"))), Stored("beta", ToBytes("bb")),
                              Compressed("gamma", ToBytes(content.at("gamma")))});
  std::mt19937 rng(12345);
  int refused = 0, found = 0;
  for (int round = 0; round < 200; ++round) {
    Bytes b = full;
    const int flips = 1 + int(rng() % 4);
    for (int i = 0; i < flips; ++i) b[rng() % b.size()] ^= uint8_t(1u << (rng() % 8));
    for (const char* name : {"alpha", "beta", "gamma"}) {
      std::string data;
      const Outcome o = LookupIn(b, name, &data);
      refused += o == Outcome::Refused;
      found += o == Outcome::Found;
      // A compressed entry carries its own check: damage is refused, never handed out as content.
      if (o == Outcome::Found && std::string(name) != "beta") {
        EXPECT_EQ(data, content.at(name)) << "round " << round << ": " << name << " found with damaged content";
      }
    }
  }
  // Damage is noticed, and damage elsewhere in the file does not cost the entries it missed.
  EXPECT_GT(refused, 0);
  EXPECT_GT(found, 200);
}

TEST(ResourceReader, GlobalsStartEmpty) {
  EXPECT_EQ(Resource, nullptr);
  EXPECT_TRUE(AllZero(ResourceData));
  TvokResource r;
  EXPECT_TRUE(r.FreeBeforeRead);
  EXPECT_EQ(r.EntryCount, 0);
  EXPECT_EQ(r.Index, 0);
  EXPECT_EQ(r.Stream, nullptr);
}

// ---- Damaged headers ----------------------------------------------------------------------------

TEST(ResourceReader, AnEntryWhoseNameAloneIsDamagedIsNotedWithItsNumberAndNeverFound) {
  RawEntry tooLong = Stored("texEye", ToBytes("eye"));
  tooLong.nameLength = 200;
  const std::string file = Dir().Write(
      "names.vkr", Archive({tooLong, Stored("fog", ToBytes("fog")), Stored(std::string("tex\x01ye"), ToBytes("ctl")),
                            Stored("a b", ToBytes("space")), Stored(std::string("n\xc3\xa4me"), ToBytes("high"))}));
  TvokResource r;
  ASSERT_TRUE(r.Open(file));
  r.Verify();
  const auto& damaged = r.DamagedEntries();
  ASSERT_EQ(damaged.size(), 4u);
  EXPECT_EQ(damaged[0].Number, 1);
  EXPECT_EQ(damaged[0].Guess, "texEye");
  EXPECT_NE(damaged[0].Damage.find("name length is 200"), std::string::npos) << damaged[0].Damage;
  EXPECT_EQ(damaged[1].Number, 3);
  EXPECT_EQ(damaged[1].Guess, "tex?ye");
  EXPECT_NE(damaged[1].Damage.find("bytes no entry name has"), std::string::npos) << damaged[1].Damage;
  EXPECT_EQ(damaged[2].Guess, "a b");
  EXPECT_EQ(damaged[3].Number, 5);
  TResourceEntry e{};
  EXPECT_TRUE(r.ReadByName("fog", e));
  EXPECT_EQ(DataOf(e), "fog");
  EXPECT_FALSE(r.ReadByName("texEye", e));
  EXPECT_FALSE(r.ReadByName("a b", e));
  r.FreeEntry(e);
}

// Every single bit flipped in the size that leads from one header to the next, in every entry of
// the show's own archive: the start-up refuses the file naming that entry and its number, never
// one read from the wrong place, and never takes the file as good.
TEST(ResourceReader, AFlippedSizeBitBlamesTheEntryWhoseSizeItIs) {
  const Bytes good = ReadFileBytes(VK_RUN_DIR "/Quorvanteplidusk.vkr");
  int32_t count = 0;
  std::memcpy(&count, good.data() + 15, 4);
  size_t at = 19;
  for (int32_t number = 1; number <= count; ++number) {
    const std::string name(reinterpret_cast<const char*>(good.data() + at + 1), good[at]);
    const bool compressed = good[at + 64] != 0;
    const size_t field = at + (compressed ? 52 : 48);
    int32_t size = 0;
    std::memcpy(&size, good.data() + field, 4);
    for (int bit = 0; bit < 32; ++bit) {
      Bytes damaged = good;
      damaged[field + size_t(bit / 8)] ^= uint8_t(1u << (bit % 8));
      const std::string file = Dir().Write("flipped.vkr", damaged);
      std::string message;
      try {
        OpenResource(file);
      } catch (const EResourceError& err) {
        message = err.what();
      }
      FreeResource();
      const std::string blamed = "entry \"" + name + "\" (number " + std::to_string(number) + ")";
      EXPECT_NE(message.find(blamed), std::string::npos) << "bit " << bit << " of " << blamed << ": " << message;
    }
    at += 68 + size_t(size);
  }
}
