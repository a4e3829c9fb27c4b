// The show played live through a real sound server, set against what that server played: a
// PulseAudio server of the test's own with a null sink (which takes samples at a sound card's
// pace) and a recording of the sink's monitor. The music's own samples tell which moment of the
// music was being played at each instant of the recording, and the program's trace tells which
// moment of the show each frame showed and when: the two must agree through stalls (the program
// stopped for a second) and a busy machine, within what one frame of the run itself lasts.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/audio/decoder.h"
#include "tests/support/process.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int Rate = 44100;

double NowMs() { return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count(); }

// A folder of the test's own in the temporary folder, removed with everything in it.
struct Scratch {
  fs::path Path;
  explicit Scratch(const std::string& Name) : Path(fs::path(testing::TempDir()) / (Name + "_" + std::to_string(getpid()))) {
    fs::remove_all(Path);
    fs::create_directories(Path);
  }
  ~Scratch() {
    std::error_code Ec;
    fs::remove_all(Path, Ec);
  }
  std::string File(const std::string& Name) const { return (Path / Name).string(); }
};

// Where a program lies on the search path; empty when it is not there.
std::string Which(const std::string& Program) {
  const char* Path = std::getenv("PATH");
  std::stringstream Dirs(Path ? Path : "/usr/bin:/bin");
  for (std::string Dir; std::getline(Dirs, Dir, ':');)
    if (!Dir.empty() && access((Dir + "/" + Program).c_str(), X_OK) == 0) return Dir + "/" + Program;
  return "";
}

// A sound server of the test's own: its runtime folder, its socket and its null sink "vk" at the
// music's format, so nothing is converted between the program and the recording.
class SoundServer {
 public:
  explicit SoundServer(const Scratch& Dir) : Dir(Dir) {
    std::ofstream(Dir.File("server.pa")) << "load-module module-null-sink sink_name=vk rate=44100 format=s16le channels=2\n"
                                         << "load-module module-native-protocol-unix socket=" << Dir.File("native")
                                         << " auth-anonymous=1\n"
                                         << "set-default-sink vk\n";
    Server = std::make_unique<vktest::Process>(
        Which("pulseaudio"),
        std::vector<std::string>{"-n", "-F", Dir.File("server.pa"), "--daemonize=no", "--exit-idle-time=-1",
                                 "--disable-shm=yes", "--use-pid-file=no", "--log-target=stderr"},
        vktest::ProcessOptions{Dir.Path.string(), Env()});
    for (int I = 0; I < 200 && !fs::exists(Dir.File("native")); ++I) Server->Drain(50);
  }
  ~SoundServer() {
    if (Server && Server->Running()) {
      Server->Signal(SIGTERM);
      Server->Wait(10000);
    }
  }
  bool Ready() { return Server->Running() && fs::exists(Dir.File("native")); }
  std::string Printed() { return Server->Printed(); }
  // What a client of this server needs, and nothing of any other sound server on the machine.
  std::vector<std::string> Env() const {
    return {"HOME=" + Dir.Path.string(), "XDG_RUNTIME_DIR=" + Dir.Path.string(), "PULSE_RUNTIME_PATH=" + Dir.Path.string(),
            "PULSE_SERVER=unix:" + Dir.File("native"), "DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "PIPEWIRE_RUNTIME_DIR"};
  }

 private:
  const Scratch& Dir;
  std::unique_ptr<vktest::Process> Server;
};

// The sink's monitor recorded as it comes: the samples and, for each piece read, when it arrived.
// A piece can only arrive after it was played, so the earliest arrival (less the length recorded
// by then) places the whole recording on the monotonic clock.
class Recorder {
 public:
  explicit Recorder(const std::vector<std::string>& Env) {
    int Pipe[2];
    if (pipe2(Pipe, O_CLOEXEC) != 0) return;
    Pid = fork();
    if (Pid == 0) {
      dup2(Pipe[1], 1);
      const int Null = open("/dev/null", O_RDWR);
      dup2(Null, 0);
      for (const std::string& E : Env) {
        const auto Eq = E.find('=');
        if (Eq == std::string::npos)
          unsetenv(E.c_str());
        else
          setenv(E.substr(0, Eq).c_str(), E.substr(Eq + 1).c_str(), 1);
      }
      execlp("parec", "parec", "--raw", "--format=s16le", "--rate=44100", "--channels=2", "--device=vk.monitor",
             "--latency-msec=5", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(Pipe[1]);
    Fd = Pipe[0];
    Reader = std::thread([this] { Read(); });
  }
  ~Recorder() { Stop(); }
  void Stop() {
    if (Pid > 0) {
      kill(Pid, SIGTERM);
      waitpid(Pid, nullptr, 0);
      Pid = -1;
    }
    if (Reader.joinable()) Reader.join();
    if (Fd >= 0) close(Fd);
    Fd = -1;
  }
  // Frames recorded so far.
  size_t Frames() {
    std::lock_guard<std::mutex> L(Mutex);
    return Samples.size() / 2;
  }
  const std::vector<int16_t>& Recorded() const { return Samples; }
  // The monotonic time (ms) at which recorded frame 0 was played.
  double FirstFrameAt() const { return Start; }
  // Whether any sound has been recorded yet (the show's music has begun).
  bool HeardSound() { return Sound.load(); }

 private:
  void Read() {
    std::vector<char> Buffer(1 << 16);
    std::string Odd;
    uint64_t Bytes = 0;
    for (;;) {
      const ssize_t N = read(Fd, Buffer.data(), Buffer.size());
      if (N <= 0) break;
      const double At = NowMs();
      Bytes += static_cast<uint64_t>(N);
      Odd.append(Buffer.data(), static_cast<size_t>(N));
      const size_t Whole = Odd.size() / 4 * 4;
      std::lock_guard<std::mutex> L(Mutex);
      const size_t Old = Samples.size();
      Samples.resize(Old + Whole / 2);
      std::memcpy(Samples.data() + Old, Odd.data(), Whole);
      Odd.erase(0, Whole);
      Start = std::min(Start, At - static_cast<double>(Bytes / 4) * 1000.0 / Rate);
      for (size_t I = Old; I < Samples.size() && !Sound.load(); ++I)
        if (std::abs(int(Samples[I])) > 64) Sound.store(true);
    }
  }
  pid_t Pid = -1;
  int Fd = -1;
  std::thread Reader;
  std::mutex Mutex;
  std::vector<int16_t> Samples;
  double Start = 1e300;
  std::atomic<bool> Sound{false};
};

// The music as the program's own decoder gives it, and where in it any short run of samples lies.
class Music {
 public:
  explicit Music(const std::string& File) {
    auto Decoder = audio::OpenStreamDecoder(File, Rate);
    if (!Decoder) return;
    std::vector<int16_t> Chunk(2 * 4096);
    for (;;) {
      const size_t N = Decoder->Read(Chunk.data(), 4096);
      if (N == 0) break;
      Samples.insert(Samples.end(), Chunk.begin(), Chunk.begin() + 2 * N);
    }
    for (size_t F = 0; F + Window < Frames(); F += Stride)
      if (Loud(Samples.data() + 2 * F)) Index.emplace(Key(Samples.data() + 2 * F), static_cast<uint32_t>(F));
  }
  size_t Frames() const { return Samples.size() / 2; }
  // The music's frame that recorded frame `At` (with `Count` frames after it) holds, or -1 when
  // the recording there is not a piece of the music (silence, another sound).
  long Locate(const std::vector<int16_t>& Recorded, size_t At) const {
    for (size_t F = At; F < At + Stride && 2 * (F + Verify) <= Recorded.size(); ++F) {
      const int16_t* R = Recorded.data() + 2 * F;
      if (!Loud(R)) continue;
      const auto Hit = Index.find(Key(R));
      if (Hit == Index.end()) continue;
      const long Song = static_cast<long>(Hit->second) - static_cast<long>(F - At);
      if (Song < 0 || static_cast<size_t>(Song) + (F - At) + Verify > Frames()) continue;
      if (std::equal(R, R + 2 * Verify, Samples.data() + 2 * (Hit->second))) return Song;
    }
    return -1;
  }

 private:
  static constexpr size_t Window = 8, Stride = 64, Verify = 256;
  static bool Loud(const int16_t* S) {
    int Peak = 0;
    for (size_t I = 0; I < 2 * Window; ++I) Peak = std::max(Peak, std::abs(int(S[I])));
    return Peak > 64;
  }
  static uint64_t Key(const int16_t* S) {
    uint64_t H = 1469598103934665603ull;
    for (size_t I = 0; I < 2 * Window; ++I) H = (H ^ static_cast<uint16_t>(S[I])) * 1099511628211ull;
    return H;
  }
  std::vector<int16_t> Samples;
  std::unordered_multimap<uint64_t, uint32_t> Index;
};

double Field(const std::string& Line, const std::string& Key) {
  const auto At = Line.find("\"" + Key + "\":");
  return At == std::string::npos ? NAN : std::strtod(Line.c_str() + At + Key.size() + 3, nullptr);
}

struct Frame {
  double At;     // monotonic ms when it was shown
  double Shown;  // the show's clock in it
  double Gap = 0;  // ms since the frame before it was shown
  double Estimated = NAN;  // what the program took to be heard
  double Heard = NAN;  // the show's moment being played then (from the recording)
  double Offset() const { return Shown - Heard; }
};

double Percentile(std::vector<double> V, double P) {
  if (V.empty()) return NAN;
  std::sort(V.begin(), V.end());
  return V[std::min(V.size() - 1, static_cast<size_t>(P * static_cast<double>(V.size() - 1) + 0.5))];
}

// Something to keep a core busy until it is killed.
void Spin() {
  volatile uint64_t X = 0;
  for (;;) X = X + 1;
}

struct LiveRun {
  std::vector<Frame> Frames;
  double Period = 0;                // the median time between frames, ms
  // Monotonic ms at which each disturbance began and ended.
  std::vector<std::pair<double, double>> Disturbed;
  std::string Log;
};

// Plays the show live to show time UntilMs with the program stopped for a second at each of
// `Stops` (s after the music is first heard) and two busy processes beside it from Busy.first to Busy.second.
LiveRun PlayLive(const std::vector<std::string>& Extra, double UntilMs, std::vector<double> Stops,
             std::pair<double, double> Busy) {
  LiveRun Result;
  Scratch Dir("heard_sync");
  SoundServer Server(Dir);
  if (!Server.Ready()) {
    ADD_FAILURE() << "the sound server did not start:\n" << Server.Printed();
    return Result;
  }
  Recorder Recording(Server.Env());
  std::vector<std::string> Env = Server.Env();
  Env.push_back("SDL_AUDIODRIVER=pulseaudio");
  std::vector<std::string> Args = {"DEBUG", "--headless", "--size", "192x108", "--seed", "1",
                                   "--until", std::to_string(static_cast<int>(UntilMs)), "--trace", Dir.File("trace.jsonl")};
  Args.insert(Args.end(), Extra.begin(), Extra.end());
  vktest::Process Show("./Quorvanteplidusk", Args, vktest::ProcessOptions{VK_RUN_DIR, Env});
  // The disturbances are timed from the moment the music is first heard, however long loading took.
  while (Show.Running() && !Recording.HeardSound()) Show.Drain(20);
  const double Began = NowMs();
  std::vector<std::unique_ptr<vktest::Process>> Busy2;
  size_t NextStop = 0;
  double BusyFrom = 0;
  while (Show.Running()) {
    const double T = (NowMs() - Began) / 1000.0;
    if (NextStop < Stops.size() && T >= Stops[NextStop]) {
      const double From = NowMs();
      Show.Signal(SIGSTOP);
      std::this_thread::sleep_for(std::chrono::seconds(1));
      Show.Signal(SIGCONT);
      Result.Disturbed.emplace_back(From, NowMs());
      ++NextStop;
    }
    if (Busy2.empty() && T >= Busy.first && T < Busy.second) {
      for (int I = 0; I < 2; ++I) Busy2.push_back(std::make_unique<vktest::Process>(Spin));
      BusyFrom = NowMs();
    }
    if (!Busy2.empty() && T >= Busy.second) {
      Busy2.clear();
      Result.Disturbed.emplace_back(BusyFrom, NowMs());
    }
    Show.Drain(50);
  }
  Busy2.clear();
  const int Status = Show.Wait(60000);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the last sound reaches the sink
  Recording.Stop();
  Result.Log = "exit status " + std::to_string(Status) + "\n" + Show.Printed();
  EXPECT_EQ(Status, 0) << Result.Log;

  const Music Song(VK_RUN_DIR "/Quorvanteplidusk.ogg");
  const std::vector<int16_t>& Rec = Recording.Recorded();
  // The recording, every 10 ms, placed in the music.
  constexpr size_t Probe = Rate / 100;
  std::vector<long> Placed;
  for (size_t F = 0; 2 * (F + Probe) <= Rec.size(); F += Probe) Placed.push_back(Song.Locate(Rec, F));
  const double Zero = Recording.FirstFrameAt();

  std::ifstream In(Dir.File("trace.jsonl"));
  std::vector<double> Gaps;
  for (std::string Line; std::getline(In, Line);) {
    Frame F{Field(Line, "clock_ms"), Field(Line, "time")};
    F.Estimated = Field(Line, "heard_ms");
    if (std::isnan(F.At)) continue;
    if (!Result.Frames.empty()) Gaps.push_back(F.Gap = F.At - Result.Frames.back().At);
    // The recorded frame played at that instant, and the music's frame in it.
    const double Recorded = (F.At - Zero) * Rate / 1000.0;
    if (Recorded >= 0) {
      const size_t P = static_cast<size_t>(Recorded) / Probe;
      if (P < Placed.size() && Placed[P] >= 0)
        F.Heard = (static_cast<double>(Placed[P]) + (Recorded - static_cast<double>(P * Probe))) * 1000.0 / Rate;
    }
    Result.Frames.push_back(F);
  }
  Result.Period = Percentile(Gaps, 0.5);
  std::sort(Result.Disturbed.begin(), Result.Disturbed.end());
  return Result;
}

std::string Describe(const LiveRun& R, double From, double To) {
  std::vector<double> Offsets;
  for (const Frame& F : R.Frames)
    if (F.At >= From && F.At < To && !std::isnan(F.Heard)) Offsets.push_back(F.Offset());
  std::vector<double> Abs = Offsets;
  for (double& A : Abs) A = std::fabs(A);
  std::ostringstream S;
  S << Offsets.size() << " frames: median offset " << Percentile(Offsets, 0.5) << " ms, 99th percentile |offset| "
    << Percentile(Abs, 0.99) << " ms, worst " << Percentile(Abs, 1.0) << " ms (one frame " << R.Period << " ms)";
  return S.str();
}


// The frames shown from From to To (monotonic ms) that the recording places in the music.
std::vector<Frame> Placed(const LiveRun& R, double From, double To) {
  std::vector<Frame> V;
  for (const Frame& F : R.Frames)
    if (F.At >= From && F.At < To && !std::isnan(F.Heard)) V.push_back(F);
  return V;
}
std::vector<double> Offsets(const LiveRun& R, double From, double To) {
  std::vector<double> V;
  for (const Frame& F : Placed(R, From, To)) V.push_back(F.Offset());
  return V;
}

// How far each frame is from what was heard beyond its own lateness: a frame that came more than
// a frame after the one before it is shown that much after its clock step, whatever the clock.
std::vector<double> Beyond(const std::vector<Frame>& Frames, double FrameMs) {
  std::vector<double> V;
  for (const Frame& F : Frames) V.push_back(std::fabs(F.Offset()) - std::max(0.0, F.Gap - FrameMs));
  return V;
}

// One frame of the run: the median time between its frames, but no less than one block of the
// sound output (1024 frames, 23.2 ms), below which the sound's own position cannot be told apart.
double OneFrame(const LiveRun& R) { return std::max(R.Period, 1024.0 * 1000.0 / Rate); }

}  // namespace

// Two one-second stops and five seconds of two busy processes: from one second after each
// disturbance to the next one, and over the whole run, the frames show what is heard to within a
// frame (the median) and the 99th percentile within two.
TEST(HeardSync, ThePictureFollowsTheMusicThroughStallsAndLoad) {
  if (Which("pulseaudio").empty() || Which("parec").empty()) GTEST_SKIP() << "needs pulseaudio and parec (scripts/deps.sh)";
  const LiveRun R = PlayLive({}, 22000, {5.0, 17.0}, {10.0, 15.0});
  ASSERT_GT(R.Frames.size(), 100u) << R.Log;
  ASSERT_EQ(R.Disturbed.size(), 3u) << R.Log;
  const double FrameMs = OneFrame(R);
  const std::vector<double> All = Offsets(R, 0, 1e300);
  ASSERT_GT(All.size(), R.Frames.size() / 2) << "the recording places too few frames in the music\n" << R.Log;
  std::printf("whole run: %s\n", Describe(R, 0, 1e300).c_str());
  if (std::getenv("VK_LIVE_DUMP"))
    for (const Frame& F : R.Frames)
      std::printf("%.1f %.0f %.1f %.1f %.1f\n", F.At - R.Frames.front().At, F.Shown, F.Heard, F.Gap, F.Estimated);
  if (std::getenv("VK_LIVE_DUMP"))
    for (const auto& D : R.Disturbed) std::printf("disturbed %.0f-%.0f\n", D.first - R.Frames.front().At, D.second - R.Frames.front().At);
  EXPECT_LE(std::fabs(Percentile(All, 0.5)), FrameMs) << Describe(R, 0, 1e300);
  EXPECT_LE(Percentile(Beyond(Placed(R, 0, 1e300), FrameMs), 0.99), 2 * FrameMs) << Describe(R, 0, 1e300);
  for (size_t I = 0; I < R.Disturbed.size(); ++I) {
    const double From = R.Disturbed[I].second + 1000;
    const double To = I + 1 < R.Disturbed.size() ? R.Disturbed[I + 1].first : From + 3000;
    std::printf("from 1 s after disturbance %zu: %s\n", I + 1, Describe(R, From, To).c_str());
    const std::vector<Frame> After = Placed(R, From, To);
    EXPECT_GT(After.size(), 10u) << "disturbance " << I + 1;
    EXPECT_LE(std::fabs(Percentile(Offsets(R, From, To), 0.5)), FrameMs) << "disturbance " << I + 1 << ": " << Describe(R, From, To);
    // The 99th percentile within two frames (the sound server's latency moves a little after a
    // client ran dry), a frame that came late counting its own lateness.
    EXPECT_LE(Percentile(Beyond(After, FrameMs), 0.99), 2 * FrameMs) << "disturbance " << I + 1 << ": " << Describe(R, From, To);
  }
}

// The same measurement tells a picture that does not follow the music: on the real clock alone a
// one-second stop leaves the picture ahead of the music to the end.
TEST(HeardSync, OnTheWallClockAStallLeavesThePictureAhead) {
  if (Which("pulseaudio").empty() || Which("parec").empty()) GTEST_SKIP() << "needs pulseaudio and parec (scripts/deps.sh)";
  const LiveRun R = PlayLive({"--wall-clock"}, 9000, {3.0}, {1e9, 1e9});
  ASSERT_EQ(R.Disturbed.size(), 1u) << R.Log;
  const double From = R.Disturbed[0].second + 1000;
  std::printf("after the stop, on the wall clock: %s\n", Describe(R, From, 1e300).c_str());
  const std::vector<double> After = Offsets(R, From, 1e300);
  ASSERT_GT(After.size(), 10u) << R.Log;
  EXPECT_GT(Percentile(After, 0.5), 500) << Describe(R, From, 1e300);
}
