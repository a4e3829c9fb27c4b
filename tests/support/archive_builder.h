#pragma once
// Builds archive files byte by byte for the tests, independently of the packer, so that the
// tests can also forge every kind of damaged header.

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <algorithm>
#include <string>
#include <unistd.h>
#include <vector>

namespace vktest {

using Bytes = std::vector<uint8_t>;

inline Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline Bytes Zlib(const Bytes& data, int level = 6) {
  uLongf len = compressBound(uLong(data.size()));
  Bytes out(len);
  compress2(out.data(), &len, data.data(), uLong(data.size()), level);
  out.resize(len);
  return out;
}

struct RawEntry {
  std::string name;
  uint8_t kind = 4;
  Bytes payload;         // bytes that follow the header
  int32_t size = 0;
  int32_t storedSize = 0;
  bool compressed = false;
  int nameLength = -1;   // -1: the name's length
};

inline RawEntry Stored(const std::string& name, const Bytes& data) {
  RawEntry e;
  e.name = name;
  e.payload = data;
  e.size = int32_t(data.size());
  return e;
}

inline RawEntry Compressed(const std::string& name, const Bytes& data) {
  RawEntry e;
  e.name = name;
  e.payload = Zlib(data);
  e.size = int32_t(data.size());
  e.storedSize = int32_t(e.payload.size());
  e.compressed = true;
  return e;
}

inline Bytes Archive(const std::vector<RawEntry>& entries, std::optional<int32_t> count = std::nullopt,
                     const char* magic = "vokResource1.00") {
  Bytes a(magic, magic + 15);
  const int32_t n = count ? *count : int32_t(entries.size());
  a.resize(19);
  std::memcpy(a.data() + 15, &n, 4);
  for (const auto& e : entries) {
    uint8_t h[68] = {};
    h[0] = uint8_t(e.nameLength >= 0 ? e.nameLength : int(e.name.size()));
    std::memcpy(h + 1, e.name.data(), std::min<size_t>(e.name.size(), 40));
    h[41] = e.kind;
    std::memcpy(h + 48, &e.size, 4);
    std::memcpy(h + 52, &e.storedSize, 4);
    h[64] = e.compressed ? 1 : 0;
    a.insert(a.end(), h, h + 68);
    a.insert(a.end(), e.payload.begin(), e.payload.end());
  }
  return a;
}

// A scratch folder, removed with the object.
class TempDir {
 public:
  TempDir() {
    static int serial = 0;  // each instance its own folder: one's clean-up never takes another's files
    path_ = std::filesystem::temp_directory_path() /
            ("vk_resource_" + std::to_string(::getpid()) + "_" + std::to_string(serial++));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::filesystem::path File(const std::string& name) const { return path_ / name; }
  std::string Write(const std::string& name, const Bytes& bytes) const {
    const auto p = File(name);
    std::ofstream o(p, std::ios::binary | std::ios::trunc);
    o.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return p.string();
  }

 private:
  std::filesystem::path path_;
};

inline Bytes ReadFileBytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace vktest
