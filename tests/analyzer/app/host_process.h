// Runs the host stand-in (ztrhost) as a child process for a test: its own client number,
// commands on its standard input, a deadline on every wait, and a kill when the test ends
// early, so no host or board outlives the test.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

inline bool ztr_board_exists(const std::string& name) {
  struct stat info {};
  return ::stat(("/dev/shm/" + name).c_str(), &info) == 0;
}

inline std::string ztr_board_name(const char* base, int client) {
  char name[64];
  std::snprintf(name, sizeof name, "%s(%04d)", base, client);
  return name;
}

// A client number no other test process uses at the same time.
inline int unique_client_number() {
  static int offset = 0;
  return 3000 + static_cast<int>(::getpid() % 6000) + 7 * (offset++);
}

inline std::string read_whole_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

class HostProcess {
 public:
  // Starts `ztrhost serve --client N --input FILE --output DIR --stay` and waits until its
  // request board exists.
  HostProcess(const std::string& program, int client, const std::string& input,
              const std::string& output, const std::string& log)
      : client_(client) {
    int in[2];
    if (::pipe(in) != 0) return;
    const std::string client_text = std::to_string(client);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::close(in[0]);
      ::close(in[1]);
      int log_fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (log_fd >= 0) {
        ::dup2(log_fd, 1);
        ::dup2(log_fd, 2);
        ::close(log_fd);
      }
      ::execl(program.c_str(), program.c_str(), "serve", "--client", client_text.c_str(),
              "--input", input.c_str(), "--output", output.c_str(), "--stay",
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(in[0]);
    stdin_ = in[1];
    for (int i = 0; i < 1000 && !ready(); ++i) pause_ms(10);
  }

  ~HostProcess() {
    if (pid_ > 0 && !finished_) {
      send("quit");
      if (!wait_for_exit(10)) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status_, 0);
      }
    }
    if (stdin_ >= 0) ::close(stdin_);
  }
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  bool ready() const { return ztr_board_exists(ztr_board_name("ZTR_IPC_RB", client_)); }
  int client() const { return client_; }

  void send(const std::string& line) {
    if (stdin_ < 0) return;
    const std::string text = line + "\n";
    if (::write(stdin_, text.data(), text.size()) < 0) return;
  }

  // "quit", then waits up to `seconds` for the host to write its output and end.
  bool quit(int seconds = 20) {
    send("quit");
    return wait_for_exit(seconds);
  }
  int exit_status() const { return status_; }

 private:
  static void pause_ms(int ms) {
    const timespec pause{0, ms * 1000000L};
    nanosleep(&pause, nullptr);
  }
  bool wait_for_exit(int seconds) {
    if (finished_) return true;
    for (int i = 0; i < seconds * 100; ++i) {
      if (::waitpid(pid_, &status_, WNOHANG) == pid_) {
        finished_ = true;
        return true;
      }
      pause_ms(10);
    }
    return false;
  }

  int client_;
  pid_t pid_ = -1;
  int stdin_ = -1;
  int status_ = -1;
  bool finished_ = false;
};
