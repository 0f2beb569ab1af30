// The application state record: construction and the few operations on its own fields.
#include "analyzer/app/app_state.h"

#include "analyzer/rtnn/rtnn_files.h"

AppState::AppState() : result_buffer(ZTR_RESULT_BUFFER_BYTES) {}

void AppState::set_data_source_text(std::string text) {
  if (text.size() > ZTR_DATA_SOURCE_TEXT_BYTES - 1) text.resize(ZTR_DATA_SOURCE_TEXT_BYTES - 1);
  data_source_text = std::move(text);
}

int AppState::rtnn_count() const { return rtnn_table().count(); }
