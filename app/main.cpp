#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <cstdio>
#include <string>
#include <vector>

#include "app/Entry.h"
#include "app/Options.h"
#include "app/OutputFile.h"
#include "platform/os/system.h"
#include "show/Show.h"

namespace {

// Help and version go to standard output; one that cannot take them (a full disk) fails the run.
int Print(const std::string& Text) {
  const bool Written = std::fputs(Text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
  if (Written) return 0;
  std::perror("Quorvanteplidusk: standard output");
  return 1;
}

// Files the show opens at once: the archive, the music, the outputs, the libraries it loads and
// whatever the graphics and sound drivers open (a few with Mesa's software renderer, more with
// a GPU's), with room to spare. Short of that, a driver that cannot load its library ends the
// process (abort) instead of failing in a way the show could report.
constexpr unsigned long long FilesNeeded = 32;

// Raises the limit on open files to what the show needs when the hard limit allows; false with
// Error when it does not.
bool EnoughFiles(std::string& Error) {
#ifdef _WIN32
  (void)Error;
  return true;
#else
  rlimit Limit{};
  if (getrlimit(RLIMIT_NOFILE, &Limit) != 0 || Limit.rlim_cur == RLIM_INFINITY || Limit.rlim_cur >= FilesNeeded)
    return true;
  if (Limit.rlim_max == RLIM_INFINITY || Limit.rlim_max >= FilesNeeded) {
    Limit.rlim_cur = FilesNeeded;
    if (setrlimit(RLIMIT_NOFILE, &Limit) == 0) return true;
  }
  Error = "only " + std::to_string(Limit.rlim_cur) + " files may be open at once (ulimit -n); the show needs " +
          std::to_string(FilesNeeded);
  return false;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  os::CatchStopRequests();
  NoteStandardStreams();
  const std::vector<std::string> Args(argv + 1, argv + argc);
  TOptions Options;
  std::string Error;
  // An output may not replace the show's own files, nor another output of the same run.
  std::vector<TProtectedFile> ShowFiles(3);
  ShowFiles[0] = {"the show's archive", ArchiveFileName};
  ShowFiles[1] = {"the show's music", MusicFileName};
  // The name the program was started under, as well as the file it runs from.
  ShowFiles[2] = {"the program itself", argc > 0 && std::string(argv[0]).find('/') != std::string::npos ? argv[0] : ""};
  if (!ParseOptions(Args, Options, Error) || !CheckOutputNames(Options, ShowFiles, Error)) {
    std::fprintf(stderr, "Quorvanteplidusk: %s\nTry 'Quorvanteplidusk --help' for the switches and options.\n",
                 Error.c_str());
    return 2;
  }
  if (Options.Help) return Print(HelpText());
  if (Options.Version) return Print(VersionText());
  const std::string Unknown = UnknownSwitchWarning(Options.Switches);
  if (!Unknown.empty()) std::fprintf(stderr, "Quorvanteplidusk: warning: %s\n", Unknown.c_str());
  if (!EnoughFiles(Error)) {
    std::fprintf(stderr, "Quorvanteplidusk: %s\n", Error.c_str());
    return 1;
  }
  os::SetProgramName(ShowTitle);
  InstallShow();
  return RunDemo(Options);
}
