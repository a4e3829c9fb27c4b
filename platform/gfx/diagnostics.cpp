// Messages of the layer, printed while debug output is on and always kept.

#include "platform/gfx/diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "platform/gfx/backend.h"

namespace gx {
namespace {

// Debug builds speak by default; release builds when asked.
bool DefaultDebugOutput() {
  if (const char* v = std::getenv("GX_GFX_DEBUG")) return v[0] && v[0] != '0';
#ifdef NDEBUG
  return false;
#else
  return true;
#endif
}

struct Diagnostics {
  std::mutex mutex;
  bool output = DefaultDebugOutput();
  std::vector<std::string> messages;
  std::unordered_set<std::string> said;
};

Diagnostics& The() {
  static Diagnostics d;
  return d;
}

constexpr size_t kKeptMessages = 1000;  // a flood of one kind cannot grow without end

void Say(Diagnostics& d, const std::string& message) {
  if (d.messages.size() < kKeptMessages) d.messages.push_back(message);
  if (d.output) std::fprintf(stderr, "graphics: %s\n", message.c_str());
}

}  // namespace

void Report(const std::string& message) {
  auto& d = The();
  std::lock_guard<std::mutex> lock(d.mutex);
  Say(d, message);
}

void ReportOnce(const std::string& message) {
  auto& d = The();
  std::lock_guard<std::mutex> lock(d.mutex);
  if (!d.said.insert(message).second) return;
  Say(d, message);
}

static const char* ErrorName(HRESULT e) {
  switch (e) {
    case D3DERR_INVALIDCALL: return "D3DERR_INVALIDCALL";
    case D3DERR_NOTAVAILABLE: return "D3DERR_NOTAVAILABLE";
    case D3DERR_DEVICELOST: return "D3DERR_DEVICELOST";
    case D3DERR_DEVICENOTRESET: return "D3DERR_DEVICENOTRESET";
    case D3DERR_NOTFOUND: return "D3DERR_NOTFOUND";
    case D3DERR_OUTOFVIDEOMEMORY: return "D3DERR_OUTOFVIDEOMEMORY";
    default: return "an error";
  }
}

HRESULT Refused(HRESULT error, const char* call, const std::string& why) {
  ReportOnce(std::string("IDirect3DDevice9::") + call + " refused (" + ErrorName(error) + "): " + why);
  return error;
}

std::string Why(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

void SetDebugOutput(bool on) {
  auto& d = The();
  std::lock_guard<std::mutex> lock(d.mutex);
  d.output = on;
}

bool DebugOutput() { return The().output; }

std::vector<std::string> GxReportedMessages() {
  auto& d = The();
  std::lock_guard<std::mutex> lock(d.mutex);
  return d.messages;
}

void GxClearReportedMessages() {
  auto& d = The();
  std::lock_guard<std::mutex> lock(d.mutex);
  d.messages.clear();
  d.said.clear();
}

}  // namespace gx
