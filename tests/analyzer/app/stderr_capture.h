// Captures everything written to the standard error descriptor (fd 2) while alive, so
// tests can assert the exact console lines of code that prints with fprintf(stderr).
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

class StderrCapture {
 public:
  StderrCapture() {
    std::fflush(stderr);
    char name[] = "/tmp/ztr_stderr_XXXXXX";
    file_ = mkstemp(name);
    if (file_ >= 0) {
      unlink(name);
      saved_ = dup(2);
      dup2(file_, 2);
    }
  }
  ~StderrCapture() { restore(); if (file_ >= 0) close(file_); }
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  // Everything written so far (the capture goes on).
  std::string text() const {
    std::fflush(stderr);
    std::string out;
    if (file_ < 0) return out;
    char buffer[4096];
    off_t offset = 0;
    for (;;) {
      ssize_t n = pread(file_, buffer, sizeof buffer, offset);
      if (n <= 0) break;
      out.append(buffer, static_cast<size_t>(n));
      offset += n;
    }
    return out;
  }
  // Stops capturing and gives the descriptor back.
  std::string finish() {
    std::string out = text();
    restore();
    return out;
  }

 private:
  void restore() {
    if (saved_ >= 0) {
      std::fflush(stderr);
      dup2(saved_, 2);
      close(saved_);
      saved_ = -1;
    }
  }
  int file_ = -1;
  int saved_ = -1;
};
