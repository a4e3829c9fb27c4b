// The error box in a real X display (a private Xvfb): a stop request while it is shown closes it
// and ends the program with the error status, leaving no box behind.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
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
  }
  void TearDown() override {
    program_.reset();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  void Start(const xtest::Xvfb& server) {
    program_ = std::make_unique<xtest::Process>(server, Program, std::vector<std::string>{"DEBUG", "--size", "160x90"},
                                                dir_.string(), std::vector<std::string>{"SDL_VIDEODRIVER"});
  }

  fs::path dir_;
  std::unique_ptr<xtest::Process> program_;
};

TEST_P(ErrorBox, AStopRequestClosesTheBoxAndEndsWithTheErrorStatus) {
  xtest::Xvfb server;
  ASSERT_TRUE(server.Ok()) << server.Error();
  Start(server);
  ASSERT_NE(server.WaitForWindow("Error", 60000, /*exact*/ true), 0ul) << "no error box appeared:\n" << program_->Printed();

  program_->Signal(GetParam());
  const int status = program_->Wait(30000);
  ASSERT_NE(status, -1) << "still running after the stop request:\n" << program_->Printed();
  EXPECT_EQ(status, 1) << program_->Printed();
  EXPECT_NE(program_->Output().find("not an archive"), std::string::npos) << program_->Printed();

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
