#include <cstdio>
#include <string>
#include <vector>

#include "app/Entry.h"
#include "app/Options.h"
#include "show/Show.h"

int main(int argc, char** argv) {
  const std::vector<std::string> Args(argv + 1, argv + argc);
  TOptions Options;
  std::string Error;
  if (!ParseOptions(Args, Options, Error)) {
    std::fprintf(stderr, "Quorvanteplidusk: %s\nTry 'Quorvanteplidusk --help' for the switches and options.\n",
                 Error.c_str());
    return 2;
  }
  if (Options.Help) {
    std::fputs(HelpText().c_str(), stdout);
    return 0;
  }
  if (Options.Version) {
    std::fputs(VersionText().c_str(), stdout);
    return 0;
  }
  InstallShow();
  return RunDemo(Options);
}
