// Runs a fuzz target over files instead of under libFuzzer: every file named, and every file in
// every folder named, once. The test suite replays the seed corpora this way with any compiler,
// so an input that once crashed a decoder keeps being tried.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int RunFile(const std::filesystem::path& file, size_t maxLength) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", file.c_str());
    return 1;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (maxLength > 0 && bytes.size() > maxLength) bytes.resize(maxLength);
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  size_t maxLength = 0;
  int files = 0, failures = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    // As libFuzzer: inputs longer than this are cut, so replay sees what fuzzing saw.
    if (arg.rfind("-max_len=", 0) == 0) {
      maxLength = std::stoul(arg.substr(9));
      continue;
    }
    const std::filesystem::path path(arg);
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
      std::vector<std::filesystem::path> entries;
      for (const auto& e : std::filesystem::directory_iterator(path))
        if (e.is_regular_file()) entries.push_back(e.path());
      std::sort(entries.begin(), entries.end());
      for (const auto& e : entries) {
        failures += RunFile(e, maxLength);
        ++files;
      }
    } else {
      failures += RunFile(path, maxLength);
      ++files;
    }
  }
  std::printf("%d inputs replayed\n", files);
  if (files == 0) {
    std::fprintf(stderr, "no inputs found\n");
    return 1;
  }
  return failures == 0 ? 0 : 1;
}
