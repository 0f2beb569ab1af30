# ROI objects: the ROI object file reader.
ztr_add_fuzzer(fuzz_roi_file_reader SOURCES ${CMAKE_CURRENT_LIST_DIR}/roi_file_reader.cpp LIBS ztr_objects)
