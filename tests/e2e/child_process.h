// A child process for end-to-end tests: started with posix_spawn, its output kept in files,
// waited for with a deadline, and always gone when the object is destroyed.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace ztr::e2e {

class ChildProcess {
 public:
  // Starts argv[0] with its output in `log_prefix`.out / .err. With `pipe_stdin` the test can
  // write to the child's standard input; otherwise it reads /dev/null.
  ChildProcess(const std::vector<std::string>& argv, const std::string& log_prefix, bool pipe_stdin = false)
      : out_path_(log_prefix + ".out"), err_path_(log_prefix + ".err") {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int pipe_fds[2] = {-1, -1};
    if (pipe_stdin && ::pipe(pipe_fds) == 0) {
      posix_spawn_file_actions_adddup2(&actions, pipe_fds[0], 0);
      posix_spawn_file_actions_addclose(&actions, pipe_fds[1]);
    } else {
      posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 1, out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (pipe_fds[0] >= 0) {
      ::close(pipe_fds[0]);
      stdin_fd_ = pipe_fds[1];
    }
  }

  ~ChildProcess() {
    close_stdin();
    if (running()) {
      ::kill(pid_, SIGTERM);
      int status;
      if (!wait(std::chrono::seconds(5), &status)) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
      }
    }
  }

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  bool running() const { return pid_ > 0 && !reaped_; }

  // Waits until the child ends or the deadline passes. True with its status when it ended.
  bool wait(std::chrono::milliseconds deadline, int* status) {
    if (reaped_) {
      *status = status_;
      return true;
    }
    if (pid_ <= 0) return false;
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (true) {
      const pid_t r = ::waitpid(pid_, &status_, WNOHANG);
      if (r == pid_) {
        reaped_ = true;
        *status = status_;
        return true;
      }
      if (std::chrono::steady_clock::now() >= end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  // The exit code, or -1 when the child did not end normally within the deadline.
  int exit_code(std::chrono::milliseconds deadline) {
    int status;
    if (!wait(deadline, &status) || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }

  void write_stdin(const std::string& text) {
    if (stdin_fd_ >= 0) {
      const ssize_t written = ::write(stdin_fd_, text.data(), text.size());
      (void)written;
    }
  }
  void close_stdin() {
    if (stdin_fd_ >= 0) ::close(stdin_fd_);
    stdin_fd_ = -1;
  }
  void signal(int sig) const {
    if (running()) ::kill(pid_, sig);
  }

  std::string err() const { return read(err_path_); }
  std::string out() const { return read(out_path_); }

 private:
  static std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  pid_t pid_ = -1;
  int stdin_fd_ = -1;
  bool reaped_ = false;
  int status_ = 0;
  std::string out_path_, err_path_;
};

}  // namespace ztr::e2e
