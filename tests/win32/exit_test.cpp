// How our programs end on Windows (platform/os/exit_win32.cpp): with the status given to exit,
// after the program's own atexit handlers and static destructors, with its streams flushed.
// Each case runs in a child process of its own (a death test), which must end by itself.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

extern "C" int vk_os_exit;

namespace {

TEST(ProgramExit, TheEndingStepIsPartOfEveryTestProgram) { EXPECT_EQ(vk_os_exit, 1); }

struct SaysWhenDestroyed {
  ~SaysWhenDestroyed() { std::fputs(" destructor", stderr); }
};

TEST(ProgramExitDeathTest, TheStatusGivenAfterTheProgramsOwnEndingWithNothingLeftInTheBuffers) {
  // Fully buffered, so nothing of the child's reaches the parent unless the end flushes it.
  EXPECT_EXIT(
      {
        std::setvbuf(stderr, nullptr, _IOFBF, 4096);
        static SaysWhenDestroyed object;
        std::atexit([] { std::fputs(" handler", stderr); });
        std::fputs("buffered", stderr);
        std::exit(3);
      },
      ::testing::ExitedWithCode(3), "buffered handler destructor");
  EXPECT_EXIT(std::exit(0), ::testing::ExitedWithCode(0), "");
  // Windows' status is 32 bits wide; Wine passes its low byte on to the host.
  EXPECT_EXIT(std::exit(201), ::testing::ExitedWithCode(201), "");
}

}  // namespace
