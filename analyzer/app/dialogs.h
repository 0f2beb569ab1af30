// What the analyzer's commands need from the user interface: the modal dialogs, the
// system beep and the few window surfaces a command writes (message line, memo, monitor,
// notebook page, main loop). The GTK front end implements it with real windows; tests
// implement it with scripted answers.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "analyzer/notice.h"

// Modal dialog result codes.
inline constexpr int ZTR_DIALOG_OK = 789;        // file selection and value entry
inline constexpr int ZTR_CONFIRMATION_OK = 661;  // confirmation

// Title of every warning Notice.
inline constexpr char ZTR_NOTICE_TITLE[] = "Important Notice";

// Notice texts of the analyzer.
inline constexpr char ZTR_RTNN_NOT_READY_NOTICE[] =
    "RTNN (run-time neural network) is NOT ready.\nTo use it, load from ''File>Import>RTNN "
    "file'' menu.";
inline constexpr char ZTR_RTNN_RELIABILITY_NOTICE[] =
    "Extra parameters by RTNN (run-time neural network)\ncomputed for this dataset might be "
    "unreliable due to \ninadequate Q-space sample density.                     ";
inline constexpr char ZTR_NOT_IMPLEMENTED_NOTICE[] = "Not implemented yet.";
inline constexpr char ZTR_NO_PALETTE_NOTICE[] = "No ROI palette frame is exposed.";
inline constexpr char ZTR_DISCARD_CONFIRMATION[] = "Discard current session data?";
inline constexpr char ZTR_QUIT_CONFIRMATION[] = "Do you REALLY quit the program?";

struct RtnnPreview;

// What a file selection is for: a file to read, a file to write, or a directory (DICOM).
enum class FileSelectionKind { Open, Save, Directory };

class Dialogs : public NoticeSink {
 public:
  ~Dialogs() override = default;

  // ---- modal dialogs (the caller beeps where one is due) ----

  // "File Selection": opens on `path` (or `initial_name` in its folder when given);
  // on OK returns ZTR_DIALOG_OK and writes the chosen path into `path`.
  virtual int file_selection(std::string& path, const char* initial_name,
                             FileSelectionKind kind) = 0;
  // Value entry titled `prompt`, its text entry initialised from `text`; on OK returns
  // ZTR_DIALOG_OK and writes the entry's text into `text`, otherwise leaves it unchanged.
  virtual int value_entry(const std::string& prompt, std::string& text) = 0;
  virtual void show_notice(const std::string& title, const std::string& message, int width,
                           int height) = 0;
  // ZTR_CONFIRMATION_OK when confirmed.
  virtual int confirmation(const std::string& title, const std::string& message, int width,
                           int height) = 0;
  virtual void beep() = 0;
  // "[Preview] Select Parameter-map(s) to Compute": one panel per preview panel with a
  // toggle each. On " Compute " writes the selection into flags (one per panel); returns the
  // number of panels shown. A front end without this dialog shows none and returns 0, so
  // nothing is computed.
  virtual int select_rtnn_maps(const RtnnPreview& preview, std::vector<int>& flags) {
    (void)preview;
    (void)flags;
    return 0;
  }

  // ---- window surfaces ----

  virtual void set_message_line(const std::string& text) = 0;
  // Paints what is pending (the message line above all) while a command is still running.
  virtual void repaint_now() {}
  virtual void set_memo_text(const std::string& text) = 0;
  // The memo as the user sees it now (edits included); nullopt for a front end without one.
  virtual std::optional<std::string> memo_text() { return std::nullopt; }
  virtual void set_monitor_text(const std::string& text) = 0;
  virtual int current_page() = 0;
  virtual void set_current_page(int page) = 0;
  virtual void quit_main_loop() = 0;

  // NoticeSink: a library Notice (240 x 100) preceded by one beep.
  void notice(const std::string& title, const std::string& text) override {
    beep();
    show_notice(title, text, 240, 100);
  }
};

// One beep, then an "Important Notice" of the given size.
inline void show_important_notice(Dialogs& dialogs, const std::string& text, int width,
                                  int height) {
  dialogs.beep();
  dialogs.show_notice(ZTR_NOTICE_TITLE, text, width, height);
}

// One beep, then the confirmation; true when confirmed.
inline bool ask_confirmation(Dialogs& dialogs, const std::string& text) {
  dialogs.beep();
  return dialogs.confirmation(ZTR_NOTICE_TITLE, text, 240, 100) == ZTR_CONFIRMATION_OK;
}

// The notices of the analyzer.
void show_mpg_not_ready_notice(Dialogs& dialogs);
void show_rtnn_not_ready_notice(Dialogs& dialogs);
void show_rtnn_reliability_notice(Dialogs& dialogs);
