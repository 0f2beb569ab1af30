// Captures everything written to the standard error descriptor (fd 2) while alive, so tests
// can assert the exact console lines of code that prints with fprintf(stderr) or std::cerr.
#pragma once

#include <string>

namespace ztr::test {

class ConsoleCapture {
 public:
  ConsoleCapture();
  // Gives the descriptor back when finish() was not called.
  ~ConsoleCapture();
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;

  // Everything written so far; the capture goes on.
  std::string text() const;
  // Stops capturing, returns everything written and releases every descriptor it took.
  std::string finish();

 private:
  void restore();
  int file_ = -1;
  int saved_ = -1;
};

}  // namespace ztr::test
