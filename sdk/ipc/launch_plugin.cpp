// Starts a plug-in the way the host does: program name, client number, optional argument.
#include <spawn.h>
#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sdk/ipc/ipc_client.h"

extern char** environ;

int ZTRipc_LaunchPlugin(const char* program_name, int32_t client_number, const char* argument,
                        pid_t* pid) {
  if (program_name == nullptr || program_name[0] == '\0') return -1;
  const std::string number = std::to_string(client_number);
  std::string line = std::string(program_name) + " " + number;
  if (argument != nullptr) line += std::string(" ") + argument;
  std::fprintf(stderr, "command: %s\n", line.c_str());

  // The words of the line are passed as they are, so names with spaces stay whole.
  std::vector<char*> argv;
  std::string name = program_name;
  std::string arg = argument != nullptr ? argument : "";
  std::string number_arg = number;
  argv.push_back(name.data());
  argv.push_back(number_arg.data());
  if (argument != nullptr) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawnattr_t attributes;
  if (posix_spawnattr_init(&attributes) != 0) return -1;
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);  // a new process group led by the child
  pid_t child = 0;
  const int result = posix_spawnp(&child, name.c_str(), nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (result != 0) return -1;
  if (pid != nullptr) *pid = child;
  return 0;
}
