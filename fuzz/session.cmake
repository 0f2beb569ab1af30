# Work session file: the staged reader of the whole file.
ztr_add_fuzzer(fuzz_session_file_reader SOURCES ${CMAKE_CURRENT_LIST_DIR}/session_file_reader.cpp LIBS ztr_app)
