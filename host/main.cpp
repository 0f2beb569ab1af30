// ztrhost: a stand-in for the imaging host. It serves one plug-in over the boards, takes
// commands on standard input and leaves the session's results in an output folder.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "host/host_output.h"
#include "host/host_server.h"
#include "host/volume_input.h"
#include "sdk/ipc/ipc_client.h"

namespace {

using namespace ztr::host;
using Clock = std::chrono::steady_clock;

volatile sig_atomic_t g_signal = 0;
void on_signal(int sig) { g_signal = sig; }

constexpr const char* kUsage =
    "usage: ztrhost serve [--client N] [--input FILE] [--cursor X,Y,Z] [--box OX,OY,OZ,SX,SY,SZ]\n"
    "                     [--output DIR] [--stay] [-- PROGRAM [ARG]]\n"
    "  Serves PROGRAM (started as \"PROGRAM N [ARG]\") until it exits; with --stay until the\n"
    "  command quit. Commands on standard input: cursor X Y Z | box OX OY OZ SX SY SZ |\n"
    "  volume FILE | save DIR | quit\n";

struct ServeOptions {
  int32_t client = 1;
  std::string input;
  bool has_cursor = false, has_box = false;
  float cursor[3] = {0, 0, 0};
  int32_t box[6] = {0, 0, 0, 1, 1, 1};
  std::string output;
  bool stay = false;
  std::string program;
  std::string argument;
  bool has_argument = false;
};

template <class T>
bool parse_list(const std::string& text, T* values, int n) {
  std::string normalised = text;
  for (char& c : normalised) {
    if (c == ',') c = ' ';
  }
  std::istringstream in(normalised);
  for (int i = 0; i < n; ++i) {
    if (!(in >> values[i])) return false;
  }
  std::string rest;
  return !(in >> rest);
}

bool parse_serve(int argc, char** argv, ServeOptions* o, std::string* error) {
  int i = 2;
  for (; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--") {
      ++i;
      break;
    } else if (a == "--stay") {
      o->stay = true;
    } else if (a == "--client") {
      char* end = nullptr;
      if (!value(&v)) return *error = "--client needs a number", false;
      const long n = std::strtol(v.c_str(), &end, 10);
      if (*end != '\0' || n < 0 || n > 99999999) return *error = "bad client number " + v, false;
      o->client = int32_t(n);
    } else if (a == "--input") {
      if (!value(&o->input)) return *error = "--input needs a file", false;
    } else if (a == "--output") {
      if (!value(&o->output)) return *error = "--output needs a folder", false;
    } else if (a == "--cursor") {
      if (!value(&v) || !parse_list(v, o->cursor, 3)) return *error = "--cursor needs X,Y,Z", false;
      o->has_cursor = true;
    } else if (a == "--box") {
      if (!value(&v) || !parse_list(v, o->box, 6)) return *error = "--box needs OX,OY,OZ,SX,SY,SZ", false;
      o->has_box = true;
    } else {
      return *error = "unknown option " + a, false;
    }
  }
  if (i < argc) o->program = argv[i++];
  if (i < argc) {
    o->argument = argv[i++];
    o->has_argument = true;
  }
  if (i < argc) return *error = "only one argument can follow the program", false;
  if (o->program.empty() && !o->stay) return *error = "no program to serve (or --stay)", false;
  return true;
}

// Lines from standard input without blocking.
class CommandReader {
 public:
  bool next(std::string* line) {
    if (!eof_) fill();
    const size_t end = buffer_.find('\n');
    if (end == std::string::npos) {
      if (eof_ && !buffer_.empty()) {
        *line = std::move(buffer_);
        buffer_.clear();
        return true;
      }
      return false;
    }
    *line = buffer_.substr(0, end);
    buffer_.erase(0, end + 1);
    return true;
  }

 private:
  void fill() {
    pollfd p{0, POLLIN, 0};
    while (::poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP))) {
      char chunk[4096];
      const ssize_t n = ::read(0, chunk, sizeof chunk);
      if (n <= 0) {
        eof_ = true;
        return;
      }
      buffer_.append(chunk, size_t(n));
      if (buffer_.size() > (1u << 20)) buffer_.clear();  // a runaway line
    }
  }
  std::string buffer_;
  bool eof_ = false;
};

std::string describe_exit(int status) {
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "unknown";
}

void stop_plugin(pid_t pid, int* status) {
  if (pid <= 0) return;
  ::kill(-pid, SIGTERM);
  for (int i = 0; i < 200; ++i) {
    if (::waitpid(pid, status, WNOHANG) == pid) return;
    ::usleep(10000);
  }
  ::kill(-pid, SIGKILL);
  ::waitpid(pid, status, 0);
}

// Returns false when the session is to end.
bool run_command(const std::string& line, HostServer& server, const SessionInfo& info) {
  std::istringstream in(line);
  std::string word;
  if (!(in >> word)) return true;
  HostState& state = server.state();
  if (word == "quit") return false;
  if (word == "cursor") {
    float c[3];
    if (in >> c[0] >> c[1] >> c[2]) {
      std::memcpy(state.cursor, c, sizeof c);
      server.publish();
    } else {
      std::fprintf(stderr, "ztrhost: usage: cursor X Y Z\n");
    }
  } else if (word == "box") {
    int32_t b[6];
    if (in >> b[0] >> b[1] >> b[2] >> b[3] >> b[4] >> b[5]) {
      std::memcpy(state.box_origin, b, 12);
      std::memcpy(state.box_size, b + 3, 12);
      server.publish();
    } else {
      std::fprintf(stderr, "ztrhost: usage: box OX OY OZ SX SY SZ\n");
    }
  } else if (word == "volume") {
    std::string path;
    std::getline(in >> std::ws, path);
    float voxel_size = 1.0f;
    std::string error;
    VolumePtr volume = load_host_volume(path, &voxel_size, &error);
    if (volume) {
      server.replace_volume(std::move(volume));
      state.voxel_size = voxel_size;
      server.publish();
    } else {
      std::fprintf(stderr, "ztrhost: %s (volume kept)\n", error.c_str());
    }
  } else if (word == "save") {
    std::string dir;
    std::getline(in >> std::ws, dir);
    std::string error;
    if (dir.empty() || write_outputs(dir, state, info, &error) != 0) {
      std::fprintf(stderr, "ztrhost: save failed: %s\n", dir.empty() ? "no folder" : error.c_str());
    }
  } else {
    std::fprintf(stderr, "ztrhost: unknown command: %s\n", word.c_str());
  }
  return true;
}

int serve(int argc, char** argv) {
  ServeOptions options;
  std::string error;
  if (!parse_serve(argc, argv, &options, &error)) {
    std::fprintf(stderr, "ztrhost: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  HostState state;
  if (!options.input.empty()) {
    state.volume = load_host_volume(options.input, &state.voxel_size, &error);
    if (!state.volume) {
      std::fprintf(stderr, "ztrhost: %s\n", error.c_str());
      return 2;
    }
  } else {
    state.volume = make_default_volume();
  }
  const VolumeHeader& h = *state.volume->header;
  if (options.has_cursor) {
    std::memcpy(state.cursor, options.cursor, sizeof state.cursor);
  } else {
    state.cursor[0] = float(h.x / 2);
    state.cursor[1] = float(h.y / 2);
    state.cursor[2] = float(h.z / 2);
  }
  if (options.has_box) {
    std::memcpy(state.box_origin, options.box, 12);
    std::memcpy(state.box_size, options.box + 3, 12);
  } else {
    state.box_size[0] = h.x;
    state.box_size[1] = h.y;
    state.box_size[2] = h.z;
  }

  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  // Boards of a number another live host serves are that host's; taking them over would
  // break both sessions without a word.
  HostLock lock = HostLock::acquire(options.client, &error);
  if (!lock.held()) {
    std::fprintf(stderr, "ztrhost: %s\n", error.c_str());
    return 2;
  }
  HostServer server(options.client, std::move(state));
  if (!server.valid()) {
    std::fprintf(stderr, "ztrhost: cannot create the boards of client %d: %s\n", options.client,
                 server.error().c_str());
    return 2;
  }
  SessionInfo info;
  info.client_number = options.client;
  info.program = options.program;
  info.plugin_exit = "none";

  pid_t pid = -1;
  if (!options.program.empty()) {
    if (ZTRipc_LaunchPlugin(options.program.c_str(), options.client,
                            options.has_argument ? options.argument.c_str() : nullptr, &pid) != 0) {
      std::fprintf(stderr, "ztrhost: cannot start %s\n", options.program.c_str());
      return 2;
    }
    info.plugin_exit = "running";
  }

  CommandReader commands;
  bool running = true;
  int plugin_status = 0;
  bool plugin_done = pid < 0;
  auto last_activity = Clock::now();
  auto last_check = Clock::time_point{};
  while (running && g_signal == 0) {
    const auto now = Clock::now();
    if (server.poll()) last_activity = now;
    if (now - last_check > std::chrono::milliseconds(5)) {
      last_check = now;
      if (!plugin_done && ::waitpid(pid, &plugin_status, WNOHANG) == pid) {
        plugin_done = true;
        info.plugin_exit = describe_exit(plugin_status);
        if (!options.stay) running = false;
      }
      std::string line;
      while (running && commands.next(&line)) running = run_command(line, server, info);
    }
    const bool busy = now - last_activity < std::chrono::milliseconds(200);
    const timespec pause{0, busy ? 20000 : 1000000};
    nanosleep(&pause, nullptr);
  }

  const bool stopped_by_host = !plugin_done;
  if (!plugin_done) {
    stop_plugin(pid, &plugin_status);
    info.plugin_exit = describe_exit(plugin_status) + " (stopped by the host)";
  }
  server.remove_boards();
  if (!options.output.empty() && write_outputs(options.output, server.state(), info, &error) != 0) {
    std::fprintf(stderr, "ztrhost: %s\n", error.c_str());
  }
  if (g_signal != 0) return 128 + g_signal;
  if (pid > 0 && !stopped_by_host && !(WIFEXITED(plugin_status) && WEXITSTATUS(plugin_status) == 0)) return 1;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string command = argv[1];
  if (command == "serve") return serve(argc, argv);
  if (command == "--help" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  std::fprintf(stderr, "ztrhost: unknown command %s\n%s", command.c_str(), kUsage);
  return 2;
}
