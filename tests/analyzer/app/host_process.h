// The host stand-in (ztrhost) for the analyzer tests: a claimed client number, commands on
// its standard input, and a bounded shutdown, so no host or board outlives the test.
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/client_number.h"

inline bool ztr_board_exists(const std::string& name) {
  struct stat info {};
  return ::stat(("/dev/shm/" + name).c_str(), &info) == 0;
}

inline std::string ztr_board_name(const char* base, int client) {
  char name[64];
  std::snprintf(name, sizeof name, "%s(%04d)", base, client);
  return name;
}

inline std::string read_whole_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

class HostProcess {
 public:
  // Starts `ztrhost serve --client N --input FILE --output DIR --stay` on a freshly claimed
  // number, its output in `log_prefix`.out / .err, and waits up to 10 s for its request board.
  HostProcess(const std::string& program, const std::string& input, const std::string& output,
              const std::string& log_prefix)
      : claim_(ztr::test::reserve_client_number()),
        child_({program, "serve", "--client", claim_.text(), "--input", input, "--output", output,
                "--stay"},
               log_prefix, /*pipe_stdin=*/true) {
    for (int i = 0; i < 1000 && child_.running() && !ready(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ~HostProcess() {
    if (child_.running()) quit(10);
  }
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  bool ready() const { return ztr_board_exists(ztr_board_name("ZTR_IPC_RB", client())); }
  int client() const { return claim_.value(); }
  std::string log() const { return child_.out() + child_.err(); }

  void send(const std::string& line) { child_.write_stdin(line + "\n"); }

  // "quit", then waits up to `seconds` for the host to write its output and end.
  bool quit(int seconds = 20) {
    send("quit");
    int status = 0;
    if (!child_.wait(std::chrono::seconds(seconds), &status)) return false;
    status_ = status;
    return true;
  }
  int exit_status() const { return status_; }

 private:
  ztr::test::ClientNumber claim_;
  ztr::test::ChildProcess child_;
  int status_ = -1;
};
