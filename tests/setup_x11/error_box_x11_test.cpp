// The error box in a real X display (a private Xvfb): a stop request while it is shown closes it
// and ends the program with the error status, leaving no box behind.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/xvfb.h"

namespace {

namespace fs = std::filesystem;

const std::string Program = VK_RUN_DIR "/Quorvanteplidusk";

class ErrorBox : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    if (std::system("command -v Xvfb >/dev/null 2>&1") != 0) GTEST_SKIP() << "Xvfb missing";
    dir_ = fs::temp_directory_path() / ("vk_error_box_" + std::to_string(getpid()) + "_" + std::to_string(GetParam()));
    fs::create_directories(dir_);
    // An archive that is not one: the show stops with its error box right after opening the window.
    std::ofstream(dir_ / "Quorvanteplidusk.vkr") << "not an archive";
    errFile_ = (dir_.parent_path() / (dir_.filename().string() + ".stderr")).string();
  }
  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    std::error_code ec;
    fs::remove_all(dir_, ec);
    fs::remove(errFile_, ec);
  }

  void Start(const xtest::Xvfb& server) {
    pid_ = fork();
    if (pid_ == 0) {
      if (chdir(dir_.c_str()) != 0) _exit(126);
      if (!freopen("/dev/null", "w", stdout) || !freopen(errFile_.c_str(), "w", stderr)) _exit(126);
      setenv("DISPLAY", server.Display().c_str(), 1);
      unsetenv("WAYLAND_DISPLAY");
      unsetenv("SDL_VIDEODRIVER");
      setenv("SDL_AUDIODRIVER", "dummy", 1);
      execl(Program.c_str(), Program.c_str(), "DEBUG", "--size", "160x90", static_cast<char*>(nullptr));
      _exit(127);
    }
  }

  // The exit status, 128 + signal, or -1 when the program still runs after timeoutMs.
  int Wait(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (std::chrono::steady_clock::now() > deadline) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  std::string Said() const {
    std::ifstream in(errFile_);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  fs::path dir_;
  std::string errFile_;
  pid_t pid_ = -1;
};

TEST_P(ErrorBox, AStopRequestClosesTheBoxAndEndsWithTheErrorStatus) {
  xtest::Xvfb server;
  ASSERT_TRUE(server.Ok()) << server.Error();
  Start(server);
  ASSERT_NE(server.WaitForWindow("Error", 60000, /*exact*/ true), 0ul) << "no error box appeared:\n" << Said();

  kill(pid_, GetParam());
  const int status = Wait(30000);
  ASSERT_NE(status, -1) << "still running after the stop request:\n" << Said();
  EXPECT_EQ(status, 1) << Said();
  EXPECT_NE(Said().find("not an archive"), std::string::npos) << Said();

  // The box belonged to a child of the program: it must have gone with it. The server notices a
  // closed connection on its own time, so the windows are looked at until they are gone.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!server.Windows("Error", true).empty() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(server.Windows("Error", true).empty()) << "the error box was left open";
}

INSTANTIATE_TEST_SUITE_P(Signals, ErrorBox, ::testing::Values(SIGTERM, SIGINT),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param == SIGTERM ? "SIGTERM" : "SIGINT");
                         });

}  // namespace
