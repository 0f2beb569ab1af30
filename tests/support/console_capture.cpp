// The capture goes to an unlinked temporary file: a pipe would block a chatty test once full.
#include "tests/support/console_capture.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace ztr::test {

ConsoleCapture::ConsoleCapture() {
  std::cerr.flush();
  std::fflush(stderr);
  char name[] = "/tmp/ztr_console_XXXXXX";
  file_ = ::mkstemp(name);
  if (file_ < 0) return;
  ::unlink(name);
  saved_ = ::dup(2);
  ::dup2(file_, 2);
}

ConsoleCapture::~ConsoleCapture() {
  restore();
  if (file_ >= 0) ::close(file_);
}

std::string ConsoleCapture::text() const {
  std::cerr.flush();
  std::fflush(stderr);
  std::string out;
  if (file_ < 0) return out;
  char buffer[4096];
  off_t offset = 0;
  for (;;) {
    const ssize_t n = ::pread(file_, buffer, sizeof buffer, offset);
    if (n <= 0) break;
    out.append(buffer, static_cast<size_t>(n));
    offset += n;
  }
  return out;
}

std::string ConsoleCapture::finish() {
  std::string out = text();
  restore();
  // Tests that count open descriptors run between captures.
  if (file_ >= 0) ::close(file_);
  file_ = -1;
  return out;
}

void ConsoleCapture::restore() {
  if (saved_ < 0) return;
  std::cerr.flush();
  std::fflush(stderr);
  ::dup2(saved_, 2);
  ::close(saved_);
  saved_ = -1;
}

}  // namespace ztr::test
