# Fuzz target for the RTNN data-file reader.
ztr_add_fuzzer(fuzz_rtnn_data_reader SOURCES ${CMAKE_CURRENT_LIST_DIR}/rtnn_data_reader.cpp LIBS ztr_rtnn)
