// The toolkit steps of the analyzer's start-up and main loop. The GTK front end builds the
// real window; tests run the same start-up sequence with a scripted front end.
#pragma once

#include "analyzer/app/dialogs.h"

struct AppState;

class Frontend : public Dialogs {
 public:
  // True when the default screen's visual has 24 (or 32) bits per pixel.
  virtual bool visual_is_true_color() = 0;
  // Builds the main window with its menus and notebook pages on `state`.
  virtual void build_main_window(AppState& state) = 0;
  // Starts the timer chain with a first one-shot period in milliseconds.
  virtual void start_timer(int first_period_ms) = 0;
  virtual void create_drawing_context() = 0;
  // Runs the main loop until quit_main_loop or the main window closes.
  virtual void run_main_loop(AppState& state) = 0;
  // Releases the window before the state goes away.
  virtual void destroy_main_window() = 0;
};
