// The built program in a real X display (a private Xvfb): the window's client area and position,
// and Escape ending the show. Skipped when Xvfb or xdotool is missing.

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

bool OnPath(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Capture(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[512];
    while (fgets(buffer, sizeof buffer, p)) out += buffer;
    pclose(p);
  }
  return out;
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& display, const std::string& dir = "") {
  const pid_t pid = fork();
  if (pid == 0) {
    if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
    if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    // A sanitized show in a real window "leaks" blocks of the GL driver that SDL unloads at exit,
    // where no suppression can name them; our own leaks are covered by the headless runs.
    const char* asan = getenv("ASAN_OPTIONS");
    const std::string options = std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "detect_leaks=0";
    setenv("ASAN_OPTIONS", options.c_str(), 1);
    if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(126);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// Waits for the child; its exit status, or -1 when it is still running after the timeout.
int WaitFor(pid_t pid, int timeoutMs) {
  for (int waited = 0; waited <= timeoutMs; waited += 20) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

class X11Display : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!OnPath("Xvfb") || !OnPath("xdotool") || !OnPath("xwininfo")) GTEST_SKIP() << "Xvfb, xdotool or xwininfo missing";
    // A display number nobody uses.
    for (int n = 71; n < 99 && display.empty(); ++n) {
      struct stat st;
      if (stat(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), &st) != 0 &&
          stat(("/tmp/.X11-unix/X" + std::to_string(n)).c_str(), &st) != 0)
        display = ":" + std::to_string(n);
    }
    ASSERT_FALSE(display.empty());
    server = Spawn({"Xvfb", display, "-screen", "0", "1920x1080x24", "-nolisten", "tcp"}, "");
    const std::string socket = "/tmp/.X11-unix/X" + display.substr(1);
    struct stat st;
    for (int i = 0; i < 250 && stat(socket.c_str(), &st) != 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(stat(socket.c_str(), &st), 0) << "Xvfb did not start";
  }

  void TearDown() override {
    if (show > 0 && WaitFor(show, 0) < 0) {
      kill(show, SIGKILL);
      waitpid(show, nullptr, 0);
    }
    if (server > 0) {
      kill(server, SIGTERM);
      waitpid(server, nullptr, 0);
    }
  }

  std::string X(const std::string& command) { return Capture("DISPLAY=" + display + " " + command + " 2>/dev/null"); }

  std::string FindWindow(int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 100) {
      const std::string id = X("xdotool search --onlyvisible --name '^Quorvanteplidusk$'");
      if (!id.empty()) return id.substr(0, id.find('\n'));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return "";
  }

  std::string display;
  pid_t server = -1;
  pid_t show = -1;
};

int Field(const std::string& info, const std::string& name) {
  const auto at = info.find(name);
  return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + name.size());
}

TEST_F(X11Display, DebugWindowHasAnExact1280x720ClientAreaAtTheCornerAndEscapeEndsTheShow) {
  // Lower case on purpose: switches ignore letter case.
  show = Spawn({Program, "showfps", "debug"}, display, VK_RUN_DIR);
  const std::string window = FindWindow(20000);
  ASSERT_FALSE(window.empty()) << "no window appeared";
  const std::string info = X("xwininfo -id " + window);
  EXPECT_EQ(Field(info, "Width: "), 1280) << info;
  EXPECT_EQ(Field(info, "Height: "), 720) << info;
  EXPECT_EQ(Field(info, "Absolute upper-left X: "), 0) << info;
  EXPECT_EQ(Field(info, "Absolute upper-left Y: "), 0) << info;
  // Give the show a moment to be in its loop, then press Escape.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  X("xdotool key --window " + window + " Escape");
  EXPECT_EQ(WaitFor(show, 15000), 0);
  show = -1;
}

}  // namespace
