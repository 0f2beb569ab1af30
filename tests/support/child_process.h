// A program started for a test: its output kept in files, every wait bounded by a deadline,
// and the process always gone (SIGTERM, then SIGKILL) when the object is destroyed.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace ztr::test {

class ChildProcess {
 public:
  // Starts argv[0] with standard output and error in `log_prefix`.out / .err. With
  // `pipe_stdin` the test writes the child's standard input; otherwise it reads /dev/null.
  ChildProcess(const std::vector<std::string>& argv, const std::string& log_prefix,
               bool pipe_stdin = false);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  bool running() const { return pid_ > 0 && !reaped_; }

  // Waits until the child ends or the deadline passes. True, with its wait status, when it ended.
  bool wait(std::chrono::milliseconds deadline, int* status);
  // The exit code, or -1 when the child did not end normally within the deadline.
  int exit_code(std::chrono::milliseconds deadline);

  void write_stdin(const std::string& text);
  void close_stdin();
  void signal(int sig) const;

  std::string out() const;
  std::string err() const;

 private:
  pid_t pid_ = -1;
  int stdin_fd_ = -1;
  bool reaped_ = false;
  int status_ = 0;
  std::string out_path_, err_path_;
};

// What run_program saw: whether the program ended in time, its exit code (-1 when it was
// killed or did not end normally) and its output.
struct RunResult {
  bool finished = false;
  int status = -1;
  int exit_code = -1;
  std::string out, err;
};

// Runs a program to its end with its output kept in `log_prefix`.out / .err; kills it and
// returns finished == false when it outlives the deadline.
RunResult run_program(const std::vector<std::string>& argv, const std::string& log_prefix,
                      std::chrono::milliseconds deadline);

}  // namespace ztr::test
