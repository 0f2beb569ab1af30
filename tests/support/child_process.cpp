// Children are started with posix_spawn and polled with WNOHANG, so a test thread never
// blocks in waitpid on a program that hangs.
#include "tests/support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace ztr::test {

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& log_prefix,
                           bool pipe_stdin)
    : out_path_(log_prefix + ".out"), err_path_(log_prefix + ".err") {
  if (argv.empty()) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int pipe_fds[2] = {-1, -1};
  if (pipe_stdin && ::pipe2(pipe_fds, O_CLOEXEC) == 0) {
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[0], 0);
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

ChildProcess::~ChildProcess() {
  close_stdin();
  if (!running()) return;
  ::kill(pid_, SIGTERM);
  int status;
  if (!wait(std::chrono::seconds(5), &status)) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
  }
}

bool ChildProcess::wait(std::chrono::milliseconds deadline, int* status) {
  if (reaped_) {
    *status = status_;
    return true;
  }
  if (pid_ <= 0) return false;
  const auto end = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    if (::waitpid(pid_, &status_, WNOHANG) == pid_) {
      reaped_ = true;
      *status = status_;
      return true;
    }
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int ChildProcess::exit_code(std::chrono::milliseconds deadline) {
  int status;
  if (!wait(deadline, &status) || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

void ChildProcess::write_stdin(const std::string& text) {
  if (stdin_fd_ < 0) return;
  const ssize_t written = ::write(stdin_fd_, text.data(), text.size());
  (void)written;  // a child that already left shows in its exit status, not here
}

void ChildProcess::close_stdin() {
  if (stdin_fd_ >= 0) ::close(stdin_fd_);
  stdin_fd_ = -1;
}

void ChildProcess::signal(int sig) const {
  if (running()) ::kill(pid_, sig);
}

std::string ChildProcess::out() const { return read_file(out_path_); }
std::string ChildProcess::err() const { return read_file(err_path_); }

RunResult run_program(const std::vector<std::string>& argv, const std::string& log_prefix,
                      std::chrono::milliseconds deadline) {
  RunResult result;
  {
    ChildProcess child(argv, log_prefix);
    result.finished = child.wait(deadline, &result.status);
    if (result.finished && WIFEXITED(result.status)) result.exit_code = WEXITSTATUS(result.status);
    // Leaving the block kills a child that outlived the deadline before its output is read.
  }
  result.out = read_file(log_prefix + ".out");
  result.err = read_file(log_prefix + ".err");
  return result;
}

}  // namespace ztr::test
