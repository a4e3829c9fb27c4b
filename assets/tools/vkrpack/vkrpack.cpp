// vkrpack: the archive packer of the show.
//
//   vkrpack build OUT MANIFEST [-I DIR]...   build an archive from a manifest
//   vkrpack list ARCHIVE                     one line per entry
//   vkrpack extract ARCHIVE DIR [NAME]...    write entries (all, or the named ones) into DIR
//
// Manifest: one entry per line, "NAME KIND stored|compressed FILE"; '#' starts a comment.
// KIND is 1 (Windows bitmap), 2 (JPEG), 3 or 4 (other data). FILE is looked up in the -I
// folders in the order given, then next to the manifest. Entries are written in manifest
// order with every byte the reader does not interpret set to zero, so the same inputs always
// give the same archive.

#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr char kMagic[] = "vokResource1.00";
constexpr size_t kMagicLength = 15;
constexpr size_t kHeaderSize = 19;
constexpr size_t kEntryHeaderSize = 68;
constexpr size_t kMaxName = 40;
constexpr int64_t kMaxEntry = 256 * 1024 * 1024;  // the reader refuses anything larger

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct ManifestEntry {
  std::string name;
  int kind = 0;
  bool compressed = false;
  fs::path file;
  int line = 0;
};

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return s;
}

std::vector<unsigned char> ReadWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Failure("cannot read \"" + path.string() + "\": " + std::strerror(errno));
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw Failure("read error on \"" + path.string() + "\"");
  return bytes;
}

void PutLE32(unsigned char* p, int32_t v) {
  const uint32_t u = uint32_t(v);
  p[0] = u & 0xff;
  p[1] = (u >> 8) & 0xff;
  p[2] = (u >> 16) & 0xff;
  p[3] = (u >> 24) & 0xff;
}

int32_t GetLE32(const unsigned char* p) {
  return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

std::vector<ManifestEntry> ParseManifest(const fs::path& manifest, const std::vector<fs::path>& dirs) {
  std::ifstream in(manifest);
  if (!in) throw Failure("cannot read manifest \"" + manifest.string() + "\"");
  std::vector<ManifestEntry> entries;
  std::map<std::string, int> seen;  // upper-cased name -> line: the reader ignores case
  std::string text;
  std::vector<std::string> errors;
  for (int line = 1; std::getline(in, text); ++line) {
    const auto hash = text.find('#');
    if (hash != std::string::npos) text.erase(hash);
    std::istringstream words(text);
    std::vector<std::string> w;
    for (std::string s; words >> s;) w.push_back(s);
    if (w.empty()) continue;
    const std::string where = manifest.filename().string() + ":" + std::to_string(line) + ": ";
    if (w.size() != 4) {
      errors.push_back(where + "expected NAME KIND stored|compressed FILE");
      continue;
    }
    ManifestEntry e;
    e.name = w[0];
    e.line = line;
    if (e.name.size() > kMaxName)
      errors.push_back(where + "entry name \"" + e.name + "\" is " + std::to_string(e.name.size()) +
                       " bytes; at most 40 fit");
    // The reader takes a name with any other byte for a damaged header.
    for (unsigned char c : e.name)
      if (c <= 0x20 || c >= 0x7f) {
        errors.push_back(where + "entry name \"" + e.name + "\" holds a byte that is not printable ASCII");
        break;
      }
    if (w[1].size() != 1 || w[1][0] < '1' || w[1][0] > '4')
      errors.push_back(where + "kind \"" + w[1] + "\" is not 1, 2, 3 or 4");
    else
      e.kind = w[1][0] - '0';
    if (w[2] == "stored")
      e.compressed = false;
    else if (w[2] == "compressed")
      e.compressed = true;
    else
      errors.push_back(where + "\"" + w[2] + "\" is neither stored nor compressed");
    auto [it, fresh] = seen.emplace(Upper(e.name), line);
    if (!fresh)
      errors.push_back(where + "duplicate entry name \"" + e.name + "\" (first on line " +
                       std::to_string(it->second) + "; names are compared without case)");
    bool found = false;
    std::vector<fs::path> candidates;
    for (const auto& d : dirs) candidates.push_back(d / w[3]);
    candidates.push_back(manifest.parent_path() / w[3]);
    for (const auto& c : candidates) {
      std::error_code ec;
      if (fs::is_regular_file(c, ec)) {
        e.file = c;
        found = true;
        break;
      }
    }
    if (!found) errors.push_back(where + "file \"" + w[3] + "\" of entry \"" + e.name + "\" not found");
    entries.push_back(e);
  }
  if (!errors.empty()) {
    std::string all;
    for (const auto& e : errors) all += e + "\n";
    all.pop_back();
    throw Failure(all);
  }
  return entries;
}

std::vector<unsigned char> Deflate(const std::vector<unsigned char>& data) {
  uLongf length = compressBound(uLong(data.size()));
  std::vector<unsigned char> out(length);
  if (compress2(out.data(), &length, data.data(), uLong(data.size()), Z_BEST_COMPRESSION) != Z_OK)
    throw Failure("zlib compression failed");
  out.resize(length);
  return out;
}

int Build(const fs::path& out, const fs::path& manifest, const std::vector<fs::path>& dirs) {
  const auto entries = ParseManifest(manifest, dirs);
  std::vector<unsigned char> archive(kHeaderSize);
  std::memcpy(archive.data(), kMagic, kMagicLength);
  PutLE32(archive.data() + kMagicLength, int32_t(entries.size()));
  for (const auto& e : entries) {
    const auto data = ReadWholeFile(e.file);
    if (int64_t(data.size()) > kMaxEntry)
      throw Failure("file \"" + e.file.string() + "\" is larger than an entry may be");
    const auto payload = e.compressed ? Deflate(data) : data;
    unsigned char h[kEntryHeaderSize] = {};
    h[0] = uint8_t(e.name.size());
    std::memcpy(h + 1, e.name.data(), e.name.size());
    h[41] = uint8_t(e.kind);
    PutLE32(h + 48, int32_t(data.size()));
    PutLE32(h + 52, e.compressed ? int32_t(payload.size()) : 0);
    h[64] = e.compressed ? 1 : 0;
    archive.insert(archive.end(), h, h + kEntryHeaderSize);
    archive.insert(archive.end(), payload.begin(), payload.end());
  }
  // Written beside the target and renamed, so a failed build never leaves half an archive.
  const fs::path tmp = out.string() + ".part";
  {
    std::ofstream o(tmp, std::ios::binary | std::ios::trunc);
    if (!o) throw Failure("cannot write \"" + tmp.string() + "\"");
    o.write(reinterpret_cast<const char*>(archive.data()), std::streamsize(archive.size()));
    if (!o) throw Failure("write error on \"" + tmp.string() + "\"");
  }
  fs::rename(tmp, out);
  return 0;
}

struct ArchiveEntry {
  std::string name;
  int kind;
  int32_t size, storedSize;
  bool compressed;
  size_t payloadOffset, payloadSize;
};

// Walks an archive with every size checked against the bytes actually there.
std::vector<ArchiveEntry> Scan(const std::vector<unsigned char>& a, const std::string& file) {
  if (a.size() < kHeaderSize || std::memcmp(a.data(), kMagic, kMagicLength) != 0)
    throw Failure("\"" + file + "\" is not a vok resource file");
  const int32_t count = GetLE32(a.data() + kMagicLength);
  std::vector<ArchiveEntry> entries;
  size_t pos = kHeaderSize;
  for (int32_t i = 0; i < count && pos < a.size(); ++i) {
    if (a.size() - pos < kEntryHeaderSize)
      throw Failure("entry " + std::to_string(i + 1) + ": truncated entry header");
    const unsigned char* h = a.data() + pos;
    ArchiveEntry e;
    const size_t len = h[0] > kMaxName ? kMaxName : h[0];
    e.name.assign(reinterpret_cast<const char*>(h + 1), len);
    e.kind = h[41];
    e.size = GetLE32(h + 48);
    e.storedSize = GetLE32(h + 52);
    e.compressed = h[64] != 0;
    pos += kEntryHeaderSize;
    const int64_t payload = e.compressed ? e.storedSize : e.size;
    if (payload < 0 || uint64_t(payload) > a.size() - pos)
      throw Failure("entry " + std::to_string(i + 1) + " (\"" + e.name + "\"): payload runs past the end");
    e.payloadOffset = pos;
    e.payloadSize = size_t(payload);
    pos += e.payloadSize;
    entries.push_back(e);
  }
  return entries;
}

std::vector<unsigned char> Contents(const std::vector<unsigned char>& a, const ArchiveEntry& e) {
  const unsigned char* p = a.data() + e.payloadOffset;
  if (!e.compressed) return std::vector<unsigned char>(p, p + e.payloadSize);
  if (e.size < 0 || e.size > kMaxEntry) throw Failure("entry \"" + e.name + "\": implausible size");
  std::vector<unsigned char> out(size_t(e.size) + 1);
  uLongf length = uLongf(out.size());
  const int ret = uncompress(out.data(), &length, p, uLong(e.payloadSize));
  if (ret != Z_OK || length != uLongf(e.size))
    throw Failure("entry \"" + e.name + "\": compressed data does not inflate to its size");
  out.resize(length);
  return out;
}

int List(const fs::path& file) {
  const auto a = ReadWholeFile(file);
  const auto entries = Scan(a, file.string());
  std::printf("%-5s %-40s %4s %10s %10s\n", "#", "name", "kind", "size", "stored");
  int n = 0;
  for (const auto& e : entries)
    std::printf("%-5d %-40s %4d %10d %10s\n", ++n, e.name.c_str(), e.kind, e.size,
                e.compressed ? std::to_string(e.storedSize).c_str() : "-");
  return 0;
}

// Entry names become file names: anything that could leave the folder is replaced.
std::string SafeFileName(const std::string& name) {
  std::string s;
  for (unsigned char c : name) s += (c < 0x20 || c >= 0x7f || c == '/' || c == '\\') ? '_' : char(c);
  if (s.empty() || s == "." || s == "..") s = "_" + s;
  return s;
}

int Extract(const fs::path& file, const fs::path& dir, const std::vector<std::string>& names) {
  const auto a = ReadWholeFile(file);
  const auto entries = Scan(a, file.string());
  fs::create_directories(dir);
  std::map<std::string, bool> wanted;
  for (const auto& n : names) wanted[Upper(n)] = false;
  std::map<std::string, bool> written;
  for (const auto& e : entries) {
    const std::string key = Upper(e.name);
    if (!wanted.empty() && !wanted.count(key)) continue;
    if (written.count(key)) continue;  // the reader only ever sees the first of equal names
    written[key] = true;
    if (wanted.count(key)) wanted[key] = true;
    const auto data = Contents(a, e);
    std::ofstream o(dir / SafeFileName(e.name), std::ios::binary | std::ios::trunc);
    o.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    if (!o) throw Failure("cannot write entry \"" + e.name + "\"");
  }
  int missing = 0;
  for (const auto& [n, found] : wanted)
    if (!found) {
      std::fprintf(stderr, "vkrpack: no entry named \"%s\"\n", n.c_str());
      ++missing;
    }
  return missing ? 1 : 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: vkrpack build OUT MANIFEST [-I DIR]...\n"
               "       vkrpack list ARCHIVE\n"
               "       vkrpack extract ARCHIVE DIR [NAME]...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage();
  try {
    const std::string cmd = args[0];
    if (cmd == "build") {
      if (args.size() < 3) return Usage();
      std::vector<fs::path> dirs;
      for (size_t i = 3; i < args.size(); ++i) {
        if (args[i] == "-I" && i + 1 < args.size())
          dirs.push_back(args[++i]);
        else if (args[i].rfind("-I", 0) == 0 && args[i].size() > 2)
          dirs.push_back(args[i].substr(2));
        else
          return Usage();
      }
      return Build(args[1], args[2], dirs);
    }
    if (cmd == "list" && args.size() == 2) return List(args[1]);
    if (cmd == "extract" && args.size() >= 3)
      return Extract(args[1], args[2], std::vector<std::string>(args.begin() + 3, args.end()));
    return Usage();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vkrpack: %s\n", e.what());
    return 1;
  }
}
