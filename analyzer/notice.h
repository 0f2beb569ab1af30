// How analyzer code below the user interface shows a Notice. The application hands in its
// dialogs; tests hand in a recorder. Without a sink the text goes to standard error.
#pragma once

#include <cstdio>
#include <string>

struct NoticeSink {
  virtual ~NoticeSink() = default;
  // Shows a modal Notice with the given title, preceded by one system beep.
  virtual void notice(const std::string& title, const std::string& text) = 0;
};

inline void ztr_show_notice(NoticeSink* sink, const std::string& title, const std::string& text) {
  if (sink) {
    sink->notice(title, text);
  } else {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
  }
}
