// --controls in a real X display (a private Xvfb): Space pauses, Right and Left jump 5 s, Home
// restarts, and the window title shows the show time. Skipped when Xvfb or xdotool is missing.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string Program = VK_RUN_DIR "/Quorvanteplidusk";

bool OnPath(const char* Tool) {
  return std::system((std::string("command -v ") + Tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Output(const std::string& Command) {
  std::string Out;
  if (FILE* P = popen(Command.c_str(), "r")) {
    char Buffer[512];
    while (fgets(Buffer, sizeof Buffer, P)) Out += Buffer;
    pclose(P);
  }
  return Out;
}

pid_t Spawn(const std::vector<std::string>& Args, const std::string& Display, const std::string& Dir = "") {
  const pid_t Pid = fork();
  if (Pid == 0) {
    if (!Dir.empty() && chdir(Dir.c_str()) != 0) _exit(126);
    setenv("DISPLAY", Display.c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    const char* Asan = getenv("ASAN_OPTIONS");
    const std::string Options = std::string(Asan ? Asan : "") + (Asan && *Asan ? ":" : "") + "detect_leaks=0";
    setenv("ASAN_OPTIONS", Options.c_str(), 1);
    if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(126);
    std::vector<char*> Argv;
    for (const auto& A : Args) Argv.push_back(const_cast<char*>(A.c_str()));
    Argv.push_back(nullptr);
    execvp(Argv[0], Argv.data());
    _exit(127);
  }
  return Pid;
}

int WaitFor(pid_t Pid, int TimeoutMs) {
  for (int Waited = 0; Waited <= TimeoutMs; Waited += 20) {
    int Status = 0;
    if (waitpid(Pid, &Status, WNOHANG) == Pid) return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

class Controls : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!OnPath("Xvfb") || !OnPath("xdotool")) GTEST_SKIP() << "Xvfb or xdotool missing";
    for (int N = 140; N < 199 && Display.empty(); ++N) {
      struct stat St;
      if (stat(("/tmp/.X" + std::to_string(N) + "-lock").c_str(), &St) != 0 &&
          stat(("/tmp/.X11-unix/X" + std::to_string(N)).c_str(), &St) != 0)
        Display = ":" + std::to_string(N);
    }
    ASSERT_FALSE(Display.empty());
    Server = Spawn({"Xvfb", Display, "-screen", "0", "1280x720x24", "-nolisten", "tcp"}, Display);
    const std::string Socket = "/tmp/.X11-unix/X" + Display.substr(1);
    struct stat St;
    for (int I = 0; I < 250 && stat(Socket.c_str(), &St) != 0; ++I)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(stat(Socket.c_str(), &St), 0) << "Xvfb did not start";
  }

  void TearDown() override {
    if (Show > 0 && WaitFor(Show, 0) < 0) {
      kill(Show, SIGKILL);
      waitpid(Show, nullptr, 0);
    }
    if (Server > 0) {
      kill(Server, SIGTERM);
      waitpid(Server, nullptr, 0);
    }
  }

  std::string X(const std::string& Command) { return Output("DISPLAY=" + Display + " " + Command + " 2>/dev/null"); }

  // The show time the title shows ("Quorvanteplidusk  12.3 s"), in ms; -1 without one.
  int TitleTime(bool* Paused = nullptr) {
    const std::string Name = X("xdotool getwindowname " + Window);
    if (Paused) *Paused = Name.find("(paused)") != std::string::npos;
    const auto At = Name.find("  ");
    if (At == std::string::npos) return -1;
    return static_cast<int>(std::strtod(Name.c_str() + At + 2, nullptr) * 1000 + 0.5);
  }

  void Key(const std::string& Name) { X("xdotool key --window " + Window + " " + Name); }

  // Waits (up to 20 s: a busy machine renders slowly) until the title satisfies Ok.
  template <typename Predicate>
  bool WaitTitle(Predicate Ok) {
    for (int Waited = 0; Waited < 20000; Waited += 50) {
      bool Paused = false;
      const int T = TitleTime(&Paused);
      if (T >= 0 && Ok(T, Paused)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  std::string Display, Window;
  pid_t Server = -1;
  pid_t Show = -1;
};

TEST_F(Controls, SpacePausesRightAndLeftJumpHomeRestarts) {
  Show = Spawn({Program, "debug", "--controls", "--size", "320x180", "--seed", "2"}, Display, VK_RUN_DIR);
  for (int Waited = 0; Waited < 30000 && Window.empty(); Waited += 100) {
    const std::string Id = X("xdotool search --onlyvisible --name '^Quorvanteplidusk'");
    if (!Id.empty()) Window = Id.substr(0, Id.find('\n'));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_FALSE(Window.empty()) << "no window appeared";
  int T = -1;
  for (int Waited = 0; Waited < 20000 && T < 0; Waited += 100) {
    T = TitleTime();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_GE(T, 0) << "the title shows no show time";

  bool Paused = false;
  Key("space");
  ASSERT_TRUE(WaitTitle([](int, bool P) { return P; })) << "Space did not pause";
  const int PausedAt = TitleTime(&Paused);
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  EXPECT_EQ(TitleTime(), PausedAt) << "the clock ran on while paused";

  Key("Right");  // while paused: jumps, stays paused
  EXPECT_TRUE(WaitTitle([&](int T, bool) { return T >= PausedAt + 4900; })) << "Right did not jump";
  const int Jumped = TitleTime(&Paused);
  EXPECT_TRUE(Paused);
  EXPECT_LE(Jumped, PausedAt + 5100);

  Key("Left");
  EXPECT_TRUE(WaitTitle([&](int T, bool) { return T <= PausedAt + 100; })) << "Left did not jump back";
  const int Back = TitleTime();
  EXPECT_GE(Back, PausedAt - 100);

  Key("space");  // resume
  EXPECT_TRUE(WaitTitle([&](int T, bool P) { return !P && T > Back; })) << "Space did not resume";

  Key("Right");
  EXPECT_TRUE(WaitTitle([&](int T, bool) { return T >= Back + 5000; }));
  Key("Home");
  EXPECT_TRUE(WaitTitle([&](int T, bool) { return T < 3000; })) << "Home did not restart the show";

  X("xdotool key --window " + Window + " Escape");
  EXPECT_EQ(WaitFor(Show, 15000), 0);
  Show = -1;
}

}  // namespace
