# Fuzz target for the study object file reader.
ztr_add_fuzzer(fuzz_study_file_reader SOURCES ${CMAKE_CURRENT_LIST_DIR}/study_file_reader.cpp
  LIBS ztr_studies)
