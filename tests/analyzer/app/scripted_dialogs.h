// A front end for tests: answers the analyzer's dialogs from a script and records every
// prompt, notice, beep and window text, so commands and the start-up sequence run without
// a display.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "analyzer/app/app_state.h"
#include "analyzer/app/frontend.h"

struct DialogEvent {
  std::string kind;  // "beep", "notice", "confirmation", "file", "value", "message", "memo",
                     // "monitor", "page", "quit"
  std::string title;
  std::string text;
  int width = 0;
  int height = 0;
};

struct ScriptedAnswer {
  int result;
  std::string text;  // the path or value entered (ignored unless result is OK)
};

class ScriptedDialogs : public Frontend {
 public:
  std::deque<ScriptedAnswer> files;
  std::deque<ScriptedAnswer> values;
  std::deque<int> confirmations;
  std::vector<DialogEvent> events;
  std::vector<FileSelectionKind> file_kinds;
  std::vector<std::string> initial_names;
  int page = 0;
  std::string memo;
  bool quit = false;
  bool visual_ok = true;
  bool window_built = false;
  int timer_period = 0;
  // Runs inside the main loop (the test's user actions); the loop then returns.
  std::function<void(AppState&, ScriptedDialogs&)> main_loop_script;

  int file_selection(std::string& path, const char* initial_name,
                     FileSelectionKind kind) override {
    events.push_back({"file", "File Selection", path});
    file_kinds.push_back(kind);
    initial_names.push_back(initial_name ? initial_name : "");
    if (files.empty()) {
      ADD_FAILURE() << "unexpected file selection";
      return 0;
    }
    ScriptedAnswer answer = files.front();
    files.pop_front();
    if (answer.result == ZTR_DIALOG_OK) path = answer.text;
    return answer.result;
  }

  int value_entry(const std::string& prompt, std::string& text) override {
    events.push_back({"value", prompt, text});
    if (values.empty()) {
      // Ending an endless re-ask would hang the test; fail it and give a value that ends it.
      ADD_FAILURE() << "unexpected value entry: " << prompt;
      text.assign(1, '1');  // assigning the literal trips GCC 12's false -Wrestrict warning
      return ZTR_DIALOG_OK;
    }
    ScriptedAnswer answer = values.front();
    values.pop_front();
    if (answer.result == ZTR_DIALOG_OK) text = answer.text;
    return answer.result;
  }

  void show_notice(const std::string& title, const std::string& message, int width,
                   int height) override {
    events.push_back({"notice", title, message, width, height});
  }

  int confirmation(const std::string& title, const std::string& message, int width,
                   int height) override {
    events.push_back({"confirmation", title, message, width, height});
    if (confirmations.empty()) {
      ADD_FAILURE() << "unexpected confirmation: " << message;
      return 0;
    }
    int result = confirmations.front();
    confirmations.pop_front();
    return result;
  }

  void beep() override { events.push_back({"beep", "", ""}); }
  void set_message_line(const std::string& text) override {
    events.push_back({"message", "", text});
  }
  void set_memo_text(const std::string& text) override {
    events.push_back({"memo", "", text});
    memo = text;
  }
  // What the memo shows; a test edits it as the user would.
  std::optional<std::string> memo_text() override { return memo; }
  void set_monitor_text(const std::string& text) override {
    events.push_back({"monitor", "", text});
  }
  int current_page() override { return page; }
  void set_current_page(int p) override {
    page = p;
    events.push_back({"page", "", std::to_string(p)});
  }
  void quit_main_loop() override {
    quit = true;
    events.push_back({"quit", "", ""});
  }

  bool visual_is_true_color() override { return visual_ok; }
  void build_main_window(AppState&) override { window_built = true; }
  void start_timer(int first_period_ms) override { timer_period = first_period_ms; }
  void create_drawing_context() override {}
  void run_main_loop(AppState& state) override {
    if (main_loop_script) main_loop_script(state, *this);
  }
  void destroy_main_window() override {}

  // ---- queries ----

  std::vector<DialogEvent> of_kind(const std::string& kind) const {
    std::vector<DialogEvent> found;
    for (const DialogEvent& e : events) {
      if (e.kind == kind) found.push_back(e);
    }
    return found;
  }
  int count(const std::string& kind) const { return static_cast<int>(of_kind(kind).size()); }
  // The last message-line text, or "" when none was set.
  std::string message_line() const {
    auto m = of_kind("message");
    return m.empty() ? std::string() : m.back().text;
  }
  // True when every notice and confirmation comes right after its own beep.
  bool every_notice_follows_a_beep() const {
    for (size_t i = 0; i < events.size(); ++i) {
      if (events[i].kind == "notice" || events[i].kind == "confirmation") {
        if (i == 0 || events[i - 1].kind != "beep") return false;
      }
    }
    return true;
  }
  void clear_events() { events.clear(); }
};
