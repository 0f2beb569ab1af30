// "Save work data" and "Open work data": the whole session to and from one work session file.
#pragma once

#include "analyzer/app/app_state.h"
#include "analyzer/app/dialogs.h"

// Saves the memo as shown, the DTI data and every ROI and study. The file is replaced only
// when complete; a failure leaves an older file as it was and shows a notice saying why.
void save_work_data_command(AppState& state, Dialogs& dialogs);

// After "Discard current session data?" (when DTI data is ready) and the file selection,
// validates the whole file and only then replaces the session with it. A refused file
// leaves the session exactly as it was and shows a notice saying why.
void open_work_data_command(AppState& state, Dialogs& dialogs);
