#include "tests/support/xvfb.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <fcntl.h>
#include <png.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

namespace xtest {

namespace {

bool OnPath(const char* program) {
  const char* path = std::getenv("PATH");
  std::string p = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= p.size()) {
    size_t end = p.find(':', start);
    if (end == std::string::npos) end = p.size();
    std::string file = p.substr(start, end - start) + "/" + program;
    if (access(file.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

struct DisplayCloser {
  void operator()(::Display* d) const {
    if (d) XCloseDisplay(d);
  }
};
using DisplayPtr = std::unique_ptr<::Display, DisplayCloser>;

// Windows come and go under the tests' feet; a request on a vanished one must fail the
// test, not end the test program (Xlib's default handler exits).
int IgnoreXError(::Display*, XErrorEvent*) { return 0; }

DisplayPtr Open(const std::string& name) {
  XSetErrorHandler(IgnoreXError);
  return DisplayPtr(XOpenDisplay(name.c_str()));
}

std::string NameOf(::Display* d, Window w) {
  Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
  Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::string name;
  if (XGetWindowProperty(d, w, netName, 0, 1024, False, utf8, &type, &format, &count, &after,
                         &data) == Success &&
      data) {
    name.assign(reinterpret_cast<char*>(data), count);
    XFree(data);
    if (!name.empty()) return name;
  }
  char* old = nullptr;
  if (XFetchName(d, w, &old) && old) {
    name = old;
    XFree(old);
  }
  return name;
}

// Calls `visit` with each mapped top-level window of the display and its name.
template <typename Visit>
void EachMappedWindow(const std::string& display, Visit visit) {
  DisplayPtr d = Open(display);
  if (!d) return;
  Window root = DefaultRootWindow(d.get()), parent = 0, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(d.get(), root, &root, &parent, &children, &count)) return;
  for (unsigned i = 0; i < count; ++i) {
    XWindowAttributes a;
    if (XGetWindowAttributes(d.get(), children[i], &a) && a.map_state == IsViewable)
      visit(children[i], NameOf(d.get(), children[i]));
  }
  if (children) XFree(children);
}

// Reads everything a child wrote into `fd` until it closes it or `timeoutMs` passes.
std::string ReadAll(int fd, int timeoutMs) {
  std::string out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buf[256];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

}  // namespace

Xvfb::Xvfb(int dpi, const std::string& size) {
  if (!OnPath("Xvfb")) {
    error_ = "Xvfb is not installed (package xvfb)";
    return;
  }
  // What the server prints goes to a file of its own: read when it fails to start, and never a
  // pipe that nobody drains while the tests run.
  char logName[] = "/tmp/vk_xvfb_log_XXXXXX";
  const int logFd = mkstemp(logName);
  if (logFd >= 0) unlink(logName);
  int fds[2];
  if (pipe(fds) != 0) {
    error_ = "pipe failed";
    if (logFd >= 0) close(logFd);
    return;
  }
  pid_t pid = fork();
  if (pid < 0) {
    error_ = "fork failed";
    close(fds[0]);
    close(fds[1]);
    if (logFd >= 0) close(logFd);
    return;
  }
  if (pid == 0) {
    close(fds[0]);
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) dup2(null, 0);
    const int log = logFd >= 0 ? logFd : null;
    if (log >= 0) {
      dup2(log, 1);
      dup2(log, 2);
    }
    // A fresh process group, so a failing test never leaves the server behind its back.
    setpgid(0, 0);
    std::string fd = std::to_string(fds[1]);
    std::string dots = std::to_string(dpi);
    std::string screen = size + "x24";
    // -displayfd: the server takes the first free display number itself (binding its socket
    // is the test, so two servers never share a number) and writes it once clients can connect.
    // -noreset: the server neither resets when its last client leaves (a program connecting in
    // that moment would be turned away) nor forgets the modes xrandr added.
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-noreset", "-nolisten", "tcp", "-screen", "0",
           screen.c_str(), "-dpi", dots.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  // Generous: a loaded machine may take a while to start a process.
  std::string number = ReadAll(fds[0], 60000);
  close(fds[0]);
  while (!number.empty() && (number.back() == '\n' || number.back() == ' ')) number.pop_back();
  if (number.empty()) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    error_ = "Xvfb did not start";
    if (logFd >= 0) {
      lseek(logFd, 0, SEEK_SET);
      const std::string log = ReadAll(logFd, 1000);
      if (!log.empty()) error_ += "; it printed:\n" + log;
    }
  } else {
    pid_ = pid;
    display_ = ":" + number;
  }
  if (logFd >= 0) close(logFd);
}

Xvfb::~Xvfb() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

std::string Xvfb::Lacks(const std::vector<std::string>& tools) const {
  if (!Ok()) return "needs Xvfb: " + error_;
  for (const auto& tool : tools)
    if (!OnPath(tool.c_str())) return "needs " + tool;
  return "";
}

int Xvfb::Run(const std::string& command, std::string* out) const {
  std::string full = "DISPLAY=" + display_ + " " + command;
  if (!out) full += " >/dev/null";
  FILE* p = popen(full.c_str(), "r");
  if (!p) return -1;
  char buf[256];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0)
    if (out) out->append(buf, n);
  int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Xvfb::AddMode(int width, int height, int refresh) {
  // Timings with a whole number of hertz, so the refresh rate reads back exactly.
  const int hTotal = width + 280, vTotal = height + 45;
  char line[512];
  const std::string name = std::to_string(width) + "x" + std::to_string(height) + "_" +
                           std::to_string(refresh);
  std::snprintf(line, sizeof line, "xrandr --newmode %s %.6f %d %d %d %d %d %d %d %d +hsync +vsync",
                name.c_str(), double(hTotal) * vTotal * refresh / 1e6, width, width + 88,
                width + 132, hTotal, height, height + 4, height + 9, vTotal);
  if (Run(std::string(line) + " 2>/dev/null") != 0) return false;
  return Run("xrandr --addmode screen " + name + " 2>/dev/null") == 0;
}

std::vector<std::string> Xvfb::WindowNames() const {
  std::vector<std::string> names;
  EachMappedWindow(display_, [&](unsigned long, const std::string& name) { names.push_back(name); });
  return names;
}

std::vector<unsigned long> Xvfb::Windows(const std::string& prefix, bool exact) const {
  std::vector<unsigned long> found;
  EachMappedWindow(display_, [&](unsigned long window, const std::string& name) {
    if (exact ? name == prefix : name.rfind(prefix, 0) == 0) found.push_back(window);
  });
  return found;
}

unsigned long Xvfb::WaitForWindow(const std::string& prefix, int timeoutMs, bool exact) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  do {
    auto w = Windows(prefix, exact);
    if (!w.empty()) {
      // Give the client a moment to draw and settle its focus.
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      return w.front();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } while (std::chrono::steady_clock::now() < deadline);
  return 0;
}

bool Xvfb::GetGeometry(unsigned long window, Geometry& g) const {
  DisplayPtr d = Open(display_);
  if (!d) return false;
  XWindowAttributes a;
  if (!XGetWindowAttributes(d.get(), window, &a)) return false;
  Window child;
  XTranslateCoordinates(d.get(), window, DefaultRootWindow(d.get()), 0, 0, &g.x, &g.y, &child);
  g.width = a.width;
  g.height = a.height;
  return true;
}

std::string Xvfb::ScreenSize() const {
  DisplayPtr d = Open(display_);
  if (!d) return "";
  // Xlib caches the screen size per connection, so a fresh connection is asked each time.
  Screen* screen = DefaultScreenOfDisplay(d.get());
  return std::to_string(WidthOfScreen(screen)) + "x" + std::to_string(HeightOfScreen(screen));
}

std::string Xvfb::CurrentMode() const {
  std::string out;
  if (Run("xrandr --current 2>/dev/null", &out) != 0) return "";
  // The current mode's line: "   1024x768_60   60.00*+" (the star marks the rate in use).
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(start, end - start);
    start = end + 1;
    const auto star = line.find('*');
    if (star == std::string::npos || line.empty() || line[0] != ' ') continue;
    int w = 0, h = 0;
    if (std::sscanf(line.c_str(), " %dx%d", &w, &h) != 2) continue;
    // The rate is the number just before the star.
    size_t rateStart = line.rfind(' ', star);
    if (rateStart == std::string::npos) continue;
    const double hz = std::atof(line.c_str() + rateStart + 1);
    return std::to_string(w) + "x" + std::to_string(h) + "@" + std::to_string(static_cast<int>(hz + 0.5));
  }
  return "";
}

bool Xvfb::SetMode(const std::string& name) {
  return Run("xrandr --output screen --mode " + name + " 2>/dev/null") == 0;
}

bool Xvfb::SendCloseBox(unsigned long window) const {
  DisplayPtr d = Open(display_);
  if (!d) return false;
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = window;
  e.xclient.message_type = XInternAtom(d.get(), "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = static_cast<long>(XInternAtom(d.get(), "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  XSendEvent(d.get(), window, False, NoEventMask, &e);
  XSync(d.get(), False);
  return true;
}

bool Xvfb::Keys(unsigned long window, const std::string& keys) const {
  const std::string id = std::to_string(window);
  // A bounded wait: --sync would hang for good if the focus never arrives.
  return Run("timeout 20 xdotool windowfocus --sync " + id + " sleep 0.2 key --delay 30 " + keys) == 0;
}

bool Xvfb::Click(unsigned long window, int x, int y) const {
  const std::string id = std::to_string(window);
  // No --sync: it waits for the pointer to move, forever when it already sits there.
  return Run("timeout 20 xdotool mousemove --window " + id + " " + std::to_string(x) + " " +
             std::to_string(y) + " sleep 0.1 click 1") == 0;
}

bool Xvfb::MovePointer(unsigned long window, int x, int y) const {
  const std::string id = std::to_string(window);
  return Run("timeout 20 xdotool mousemove --window " + id + " " + std::to_string(x) + " " + std::to_string(y)) == 0;
}

bool Xvfb::CursorBlank() const {
  DisplayPtr d = Open(display_);
  if (!d) return false;
  int event = 0, error = 0;
  if (!XFixesQueryExtension(d.get(), &event, &error)) return false;
  XFixesCursorImage* image = XFixesGetCursorImage(d.get());
  if (!image) return false;
  bool blank = true;
  // ARGB in the low 32 bits of each element.
  for (size_t i = 0; i < size_t(image->width) * image->height && blank; ++i)
    blank = ((image->pixels[i] >> 24) & 0xFF) == 0;
  XFree(image);
  return blank;
}

bool Xvfb::SavePng(unsigned long window, const std::string& file) const {
  DisplayPtr d = Open(display_);
  if (!d) return false;
  XWindowAttributes a;
  if (!XGetWindowAttributes(d.get(), window, &a)) return false;
  XImage* image = XGetImage(d.get(), window, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
  if (!image) return false;
  std::vector<unsigned char> rgb(static_cast<size_t>(a.width) * a.height * 3);
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x) {
      unsigned long p = XGetPixel(image, x, y);
      unsigned char* o = &rgb[(static_cast<size_t>(y) * a.width + x) * 3];
      o[0] = (p >> 16) & 0xFF;
      o[1] = (p >> 8) & 0xFF;
      o[2] = p & 0xFF;
    }
  XDestroyImage(image);

  FILE* volatile f = std::fopen(file.c_str(), "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  volatile bool ok = false;
  if (png && info && !setjmp(png_jmpbuf(png))) {
    png_init_io(png, f);
    png_set_IHDR(png, info, a.width, a.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < a.height; ++y) png_write_row(png, &rgb[static_cast<size_t>(y) * a.width * 3]);
    png_write_end(png, nullptr);
    ok = true;
  }
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
  return ok;
}

namespace {

vktest::ProcessOptions OnDisplay(const Xvfb& server, const std::string& workingDir,
                                 const std::vector<std::string>& extraEnv) {
  vktest::ProcessOptions options;
  options.dir = workingDir;
  options.env = {"DISPLAY=" + server.Display(), "WAYLAND_DISPLAY", "SDL_AUDIODRIVER=dummy"};
  options.env.insert(options.env.end(), extraEnv.begin(), extraEnv.end());
  return options;
}

}  // namespace

Process::Process(const Xvfb& server, const std::string& program, const std::vector<std::string>& args,
                 const std::string& workingDir, const std::vector<std::string>& extraEnv)
    : vktest::Process(program, args, OnDisplay(server, workingDir, extraEnv)) {}

}  // namespace xtest
