#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace vktest {

namespace {

using Clock = std::chrono::steady_clock;

void ApplyEnvironment(const std::vector<std::string>& env) {
  for (const auto& e : env) {
    const auto eq = e.find('=');
    if (eq == std::string::npos)
      unsetenv(e.c_str());
    else
      setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
  }
}

}  // namespace

Process::Process(const std::string& program, const std::vector<std::string>& args, const ProcessOptions& options) {
  Start(
      [&] {
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        std::fprintf(stderr, "cannot run %s: %s\n", program.c_str(), std::strerror(errno));
        _exit(127);
      },
      options);
}

Process::Process(const std::function<void()>& body, const ProcessOptions& options) {
  Start(
      [&] {
        body();
        std::fflush(nullptr);
        _exit(0);
      },
      options);
}

void Process::Start(const std::function<void()>& child, const ProcessOptions& options) {
  // Close-on-exec: a program another test starts meanwhile must not hold this one's output open.
  int out[2] = {-1, -1}, err[2] = {-1, -1};
  if (pipe2(out, O_CLOEXEC) != 0) return;
  if (options.apart && pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    return;
  }
  // What the test program has buffered would otherwise be written a second time by the copy.
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(options.apart ? err[1] : out[1], STDERR_FILENO);
    const int null = open("/dev/null", O_RDONLY);
    if (null >= 0) dup2(null, STDIN_FILENO);
    if (!options.dir.empty() && chdir(options.dir.c_str()) != 0) {
      std::fprintf(stderr, "cannot change to %s\n", options.dir.c_str());
      _exit(126);
    }
    ApplyEnvironment(options.env);
    child();
    _exit(127);
  }
  close(out[1]);
  if (options.apart) close(err[1]);
  if (pid < 0) {
    close(out[0]);
    if (options.apart) close(err[0]);
    return;
  }
  pid_ = pid;
  outFd_ = out[0];
  errFd_ = err[0];
  for (int fd : {outFd_, errFd_})
    if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

Process::~Process() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (int fd : {outFd_, errFd_})
    if (fd >= 0) close(fd);
}

bool Process::ReadFrom(int& fd, std::string& into) {
  bool got = false;
  char buffer[4096];
  while (fd >= 0) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      into.append(buffer, size_t(n));
      got = true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;  // nothing more for now
    close(fd);                            // the end of its output
    fd = -1;
  }
  return got;
}

void Process::Drain(int ms) {
  pollfd fds[2];
  nfds_t count = 0;
  for (int fd : {outFd_, errFd_})
    if (fd >= 0) fds[count++] = pollfd{fd, POLLIN, 0};
  if (count == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return;
  }
  if (poll(fds, count, ms) <= 0) return;
  ReadFrom(outFd_, out_);
  ReadFrom(errFd_, err_);
}

bool Process::Running() {
  if (pid_ <= 0 || reaped_) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
  reaped_ = true;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
  return false;
}

int Process::Wait(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  // Reading all along: a chatty program must never block on a full pipe.
  while (Running()) {
    if (Clock::now() >= deadline) return -1;
    Drain(20);
  }
  // The rest of its output, up to the end unless something it started still holds the pipe.
  while ((outFd_ >= 0 || errFd_ >= 0) && Clock::now() < deadline) Drain(100);
  Output();
  Errors();
  return status_;
}

Finished Process::Finish(int timeoutMs) {
  Finished f;
  f.status = Wait(timeoutMs);
  f.out = out_;
  f.err = err_;
  return f;
}

bool Process::Signal(int signal) { return Running() && kill(pid_, signal) == 0; }

const std::string& Process::Output() {
  ReadFrom(outFd_, out_);
  return out_;
}

const std::string& Process::Errors() {
  ReadFrom(errFd_, err_);
  return err_;
}

std::string Process::Printed() {
  const std::string all = Output() + Errors();
  if (all.empty()) return "\n--- the program printed nothing";
  return "\n--- the program printed:\n" + all + "---";
}

Finished Run(const std::string& program, const std::vector<std::string>& args, const ProcessOptions& options,
             int timeoutMs) {
  return Process(program, args, options).Finish(timeoutMs);
}

}  // namespace vktest
