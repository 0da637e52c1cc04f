#include "tests/support/run_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#ifndef AVRISP_BINARY_DIR
#define AVRISP_BINARY_DIR "."
#endif

std::string builtProgram(const std::string& relativePath) {
  return std::string(AVRISP_BINARY_DIR) + "/" + relativePath;
}

namespace {

void setNonBlocking(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace

void keepUserFoldersHere() {
  char here[4096];
  if (getcwd(here, sizeof here) == nullptr) return;
  setenv("XDG_CACHE_HOME", (std::string(here) + "/.cache").c_str(), 1);
  setenv("XDG_STATE_HOME", (std::string(here) + "/.local/state").c_str(), 1);
}

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const ProcessOptions& options) {
  ProcessResult result;
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return result;
  pid_t child = fork();
  if (child == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    if (options.closeStandardInput) close(STDIN_FILENO);
    setpgid(0, 0);
    if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0)
      _exit(127);
    keepUserFoldersHere();
    for (const auto& [name, value] : options.environment) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  setNonBlocking(in[1]);
  setNonBlocking(out[0]);
  setNonBlocking(err[0]);
  signal(SIGPIPE, SIG_IGN);

  size_t written = 0;
  if (options.standardInput.empty() && !options.holdStandardInputOpen) {
    close(in[1]);
    in[1] = -1;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeLimitSeconds);
  bool outOpen = true, errOpen = true;
  while (outOpen || errOpen) {
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      result.timedOut = true;
      kill(-child, SIGKILL);
      kill(child, SIGKILL);
      break;
    }
    struct pollfd fds[3];
    int count = 0;
    if (outOpen) fds[count++] = {out[0], POLLIN, 0};
    if (errOpen) fds[count++] = {err[0], POLLIN, 0};
    if (in[1] >= 0 && written < options.standardInput.size()) fds[count++] = {in[1], POLLOUT, 0};
    int waitMs = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count());
    if (poll(fds, static_cast<nfds_t>(count), waitMs > 200 ? 200 : waitMs) < 0 && errno != EINTR)
      break;
    char buffer[65536];
    for (int i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == in[1]) {
        ssize_t n = write(in[1], options.standardInput.data() + written,
                          options.standardInput.size() - written);
        if (n > 0) written += static_cast<size_t>(n);
        if (n < 0 && errno != EAGAIN) written = options.standardInput.size();
        if (written >= options.standardInput.size() && !options.holdStandardInputOpen) {
          close(in[1]);
          in[1] = -1;
        }
        continue;
      }
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (fds[i].fd == out[0] ? result.output : result.errorOutput)
            .append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        if (fds[i].fd == out[0])
          outOpen = false;
        else
          errOpen = false;
      }
    }
  }
  if (in[1] >= 0) close(in[1]);
  close(out[0]);
  close(err[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!result.timedOut && WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  return result;
}
